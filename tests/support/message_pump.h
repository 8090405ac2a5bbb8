// Running the test thread's message queue, so that posted messages reach the windows under test.
#pragma once

#include "base/win32.h"

#include <functional>
#include <string>

// Dispatches every queued message until the queue stays empty for a short while (posted messages
// that post further messages are handled too). A WM_QUIT found on the way is counted and dropped.
void PumpMessages();
// Dispatches messages until `done` returns true or `timeoutMs` passed; returns done()'s last value.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// How many WM_QUIT messages the pumps dropped, and the exit code of the last one.
int QuitMessagesSeen();
int LastQuitExitCode();
// Client-area rectangle of a child control in its parent's client coordinates.
RECT ChildRect(HWND child);
// The window's text.
std::wstring WindowText(HWND window);
