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

// Starts a console program without a console of its own (DETACHED_PROCESS), its standard input,
// output and error on NUL, and no other handle inherited. For bulk helpers that nobody watches: a
// console costs a second process (conhost), which under Wine made each 7-Zip run about ten times
// as expensive as the extraction itself. Otherwise as StartProcess, with `creationFlags` added.
bool StartProcessWithoutConsole(const std::wstring& commandLine, DWORD creationFlags, UniqueHandle* process,
                                DWORD* error);
