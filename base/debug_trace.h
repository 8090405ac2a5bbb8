// Progress and failure messages from every subsystem go through here into a log the user can send
// with a report: TarnDown.log beside the settings, UTF-8, one line per message with the local time
// to the millisecond and the thread id. Until a log is opened, and when it cannot be written (a
// read-only folder), messages are discarded: tracing never fails the program.
#pragma once

#include <cstdint>
#include <string>

// printf-style with a wide format ("%ls" for wide texts). Never blocks the caller on the disk while
// another thread is writing: the line is queued and that thread writes it.
void DebugTrace(const wchar_t* format, ...);

// Starts logging to `path`, appending to what is there. When the file would grow past
// `maxBytes`, it is renamed to "<path>.1" (replacing an older one) and a new file is started, so
// the log and its one predecessor together stay under twice the limit. False when the file cannot
// be opened; tracing then stays off.
bool OpenTraceLog(const std::wstring& path, std::uint64_t maxBytes);
// Writes what is queued and closes the log; later messages are discarded.
void CloseTraceLog();
