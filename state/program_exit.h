// The program's end as every layer sees it: whether it has begun, how a lower layer asks for it,
// and the count of worker threads the exit waits for. The exit itself (what is torn down, in which
// order) belongs to the application, which registers it here.
#pragma once

#include "base/win32.h"

// True once the program has begun to end. From then on nothing creates a window or starts a
// worker, whoever asks late (a link, a tray double click, an API request), and running workers
// stop at their next check.
bool IsExitStarted();

// Marks the exit as begun. True only for the first caller, which then runs the exit.
bool BeginExit();

// The application's exit path; null unregisters it. UI thread, at start-up.
using ExitHandler = void (*)();
void SetExitHandler(ExitHandler handler);

// Asks for the program's end (UI thread): calls the registered exit path. In a process without one
// (a test or tool that shows only the download window) the first request destroys the download
// window and ends the message loop with 0.
void RequestProgramExit();

// Held by every worker thread for its whole life (taken before the thread starts), so that the
// exit knows what still runs. Move-only.
class WorkerLease {
  public:
    // Takes no lease (valid() is false) once the exit has begun.
    static WorkerLease Take();
    WorkerLease() noexcept = default;
    ~WorkerLease();
    WorkerLease(WorkerLease&& other) noexcept;
    WorkerLease& operator=(WorkerLease&& other) noexcept;
    WorkerLease(const WorkerLease&) = delete;
    WorkerLease& operator=(const WorkerLease&) = delete;
    bool valid() const noexcept { return held_; }

  private:
    void Return() noexcept;
    bool held_ = false;
};

// Waits until no lease is held or `timeoutMs` has passed; true when none is held.
bool WaitForWorkers(DWORD timeoutMs);

// Test seam: forgets that an exit began, so one test process can end several windows.
void ResetExitForTesting();
