#include "tasks/task_journal_saver.h"

#include "base/debug_trace.h"
#include "tasks/task_journal.h"
#include "tasks/task_journal_file.h"
#include "tasks/task_table.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Guards every field of the saver below. Taken after g_taskMutex is released (the table reports
// changes outside its lock) and never held while the table is copied or the file written.
std::mutex g_saverMutex;
std::condition_variable g_saverChanged;
std::thread g_saverThread;
std::wstring g_journalPath;
bool g_dirty = false;
bool g_urgent = false;
bool g_stopping = false;
bool g_running = false;
// Changes are counted so that a worker waiting for its change knows when a save includes it.
unsigned long long g_changesSeen = 0;
unsigned long long g_changesSaved = 0;
std::atomic<unsigned long long> g_saveCount{0};

// Writes the table as it is now. No lock of the saver is held.
void SaveTable(const std::wstring& path) {
    const std::string text = FormatTaskJournal(SnapshotTasks());
    if (WriteTaskJournalFile(path, text)) {
        ++g_saveCount;
    }
}

// Caller holds g_saverMutex through `lock`; releases it while saving.
void SaveUnlocked(std::unique_lock<std::mutex>& lock) {
    const unsigned long long changes = g_changesSeen;
    const std::wstring path = g_journalPath;
    g_dirty = false;
    g_urgent = false;
    lock.unlock();
    try {
        SaveTable(path);
    } catch (const std::exception&) {
        DebugTrace(L"TaskJournalSaver: the journal could not be written");
    }
    lock.lock();
    g_changesSaved = changes;
    g_saverChanged.notify_all();
}

void RunSaver() {
    Clock::time_point lastSave = Clock::now() - std::chrono::milliseconds(kJournalSaveIntervalMs);
    std::unique_lock<std::mutex> lock(g_saverMutex);
    while (!g_stopping) {
        if (!g_dirty) {
            g_saverChanged.wait(lock, [] { return g_dirty || g_stopping; });
            continue;
        }
        const bool urgent = g_urgent;
        const Clock::time_point due =
            lastSave + std::chrono::milliseconds(urgent ? kJournalPromptGapMs : kJournalSaveIntervalMs);
        if (Clock::now() < due) {
            g_saverChanged.wait_until(lock, due, [urgent] { return g_urgent != urgent || g_stopping; });
            continue;
        }
        SaveUnlocked(lock);
        lastSave = Clock::now();
    }
    SaveUnlocked(lock);
}

void OnTaskChange(TaskChange change) {
    std::unique_lock<std::mutex> lock(g_saverMutex);
    if (!g_running || g_stopping) {
        return;
    }
    const unsigned long long mine = ++g_changesSeen;
    g_dirty = true;
    g_urgent = g_urgent || change != TaskChange::Ordinary;
    g_saverChanged.notify_all();
    if (change == TaskChange::Kept) {
        g_saverChanged.wait_for(lock, std::chrono::milliseconds(kJournalKeepWaitMs),
                                [mine] { return g_changesSaved >= mine || g_stopping; });
    }
}

}  // namespace

bool StartTaskJournalSaver(const std::wstring& journalPath, bool dirty) {
    std::lock_guard<std::mutex> lock(g_saverMutex);
    if (g_running) {
        return true;
    }
    g_journalPath = journalPath;
    g_dirty = dirty;
    g_urgent = false;
    g_stopping = false;
    g_changesSeen = 0;
    g_changesSaved = 0;
    try {
        g_saverThread = std::thread([] {
            try {
                RunSaver();
            } catch (...) {
                DebugTrace(L"TaskJournalSaver: stopped by an error");
            }
        });
    } catch (const std::system_error& error) {
        DebugTrace(L"TaskJournalSaver: thread creation failed (%d)", error.code().value());
        return false;
    }
    g_running = true;
    SetTaskChangeListener(OnTaskChange);
    return true;
}

void StopTaskJournalSaver() {
    {
        std::lock_guard<std::mutex> lock(g_saverMutex);
        if (!g_running) {
            return;
        }
        g_stopping = true;
        g_dirty = true;
        g_saverChanged.notify_all();
    }
    SetTaskChangeListener(nullptr);
    g_saverThread.join();
    std::lock_guard<std::mutex> lock(g_saverMutex);
    g_running = false;
}

unsigned long long TaskJournalSaveCount() {
    return g_saveCount.load();
}
