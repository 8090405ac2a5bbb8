// Starting another program by its command line, the way every part of this program does it:
// no application name (the command line names the program), no inherited handles, default
// environment and directory.
#pragma once

#include "base/unique_handle.h"

#include <string>

// Starts `commandLine` with the given show command and creation flags. On success the process
// handle goes to *process (when given; otherwise it is closed) and the result is true. On failure
// the result is false and *error holds GetLastError().
bool StartProcess(const std::wstring& commandLine, WORD showCommand, DWORD creationFlags,
                  UniqueHandle* process, DWORD* error);
