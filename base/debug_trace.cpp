#include "base/debug_trace.h"

#include "base/text_convert.h"
#include "base/unique_handle.h"
#include "base/win32.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

namespace {

// One message's text; a longer one is cut (vswprintf stops at the buffer).
constexpr size_t kMaxMessageChars = 2048;
// Lines waiting for the writer; past this, new lines are counted and dropped, so a disk that hangs
// costs memory only up to here.
constexpr size_t kMaxQueuedBytes = 256 * 1024;

struct TraceLog {
    std::mutex mutex;  // guards every member below; never held while writing to the disk
    std::wstring path;
    std::uint64_t maxBytes = 0;
    UniqueFile file;  // owned by the writing thread while `writing` is set
    std::uint64_t size = 0;
    std::string queued;
    size_t dropped = 0;
    bool writing = false;
    bool open = false;
};

TraceLog& Log() {
    // Never destroyed: workers may still trace while the program ends.
    static TraceLog* log = new TraceLog();
    return *log;
}

UniqueFile OpenForAppend(const std::wstring& path, std::uint64_t* size) {
    UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length = {};
    if (file && GetFileSizeEx(file.get(), &length)) {
        *size = static_cast<std::uint64_t>(length.QuadPart);
    }
    return file;
}

// Called by the writing thread without the lock: the file, path and size are its own meanwhile.
void WriteBatch(TraceLog& log, const std::string& batch) {
    if (log.size > 0 && log.size + batch.size() > log.maxBytes) {
        log.file.reset();
        const std::wstring previous = log.path + L".1";
        MoveFileExW(log.path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING);
        log.size = 0;
        log.file = OpenForAppend(log.path, &log.size);
    }
    DWORD written = 0;
    if (log.file &&
        WriteFile(log.file.get(), batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr)) {
        log.size += written;
    }
}

std::string FormatLine(const wchar_t* message) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentThreadId());
    std::string line = prefix;
    line += WideToUtf8(message);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';  // one message, one line
        }
    }
    line += "\r\n";
    return line;
}

// Queues `line`; the first thread to find nobody writing becomes the writer and drains the queue.
void QueueLine(const std::string& line) {
    TraceLog& log = Log();
    std::unique_lock<std::mutex> lock(log.mutex);
    if (!log.open) {
        return;
    }
    if (log.queued.size() + line.size() > kMaxQueuedBytes) {
        ++log.dropped;
        return;
    }
    log.queued += line;
    if (log.writing) {
        return;
    }
    log.writing = true;
    while (!log.queued.empty()) {
        std::string batch;
        batch.swap(log.queued);
        if (log.dropped > 0) {
            batch += "(" + std::to_string(log.dropped) + " messages dropped while the log was busy)\r\n";
            log.dropped = 0;
        }
        lock.unlock();
        WriteBatch(log, batch);
        lock.lock();
    }
    log.writing = false;
}

}  // namespace

void DebugTrace(const wchar_t* format, ...) {
    if (!format) {
        return;
    }
    try {
        wchar_t message[kMaxMessageChars];
        va_list args;
        va_start(args, format);
        const int length = std::vswprintf(message, kMaxMessageChars, format, args);
        va_end(args);
        if (length < 0) {
            message[kMaxMessageChars - 1] = L'\0';  // cut short: keep what was formatted
        }
        QueueLine(FormatLine(message));
    } catch (...) {
        // Out of memory while tracing: the message is lost, the caller goes on.
    }
}

bool OpenTraceLog(const std::wstring& path, std::uint64_t maxBytes) {
    TraceLog& log = Log();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.open || log.writing) {
        return false;
    }
    std::uint64_t size = 0;
    UniqueFile file = OpenForAppend(path, &size);
    if (!file) {
        return false;
    }
    log.path = path;
    log.maxBytes = maxBytes;
    log.file = std::move(file);
    log.size = size;
    log.open = true;
    return true;
}

void CloseTraceLog() {
    TraceLog& log = Log();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(log.mutex);
            if (!log.writing) {
                if (!log.queued.empty()) {
                    WriteBatch(log, log.queued);  // nobody else writes: the lock keeps it so
                    log.queued.clear();
                }
                log.open = false;
                log.file.reset();
                return;
            }
        }
        Sleep(1);
    }
}
