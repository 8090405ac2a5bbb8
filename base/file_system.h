// File-system and process-environment look-ups that several layers make, and checked writes.
#pragma once

#include "base/win32.h"

#include <string>

// True when anything (file or directory) exists at `path`.
bool PathExists(const std::wstring& path);
// True when `path` names a file, not a directory.
bool IsRegularFile(const std::wstring& path);

// Creates every missing directory along `path` (either separator), never the drive root itself.
// True when the path exists afterwards; false for an empty path.
bool CreateDirectoryRecursive(const std::wstring& path);

// Everything before the last path separator; a drive root keeps its backslash ("C:\a.zip" gives
// "C:\"). Empty when the path names no folder.
std::wstring ParentDirectory(const std::wstring& path);

// Full path of the running executable; empty when the system cannot say.
std::wstring ExecutablePath();
// The folder holding the running executable, without a trailing separator; empty when unknown.
std::wstring ExecutableDirectory();
// The system folder ("C:\Windows\System32") and the Windows folder ("C:\Windows"), without a
// trailing separator; empty when the system cannot say. Programs of the system are started by
// their full path in these, so that a file of the same name in the program's own folder or the
// working directory is never started instead.
std::wstring SystemDirectory();
std::wstring WindowsDirectory();
// The user's temporary folder, ending with "\"; empty when the system cannot say.
std::wstring TempDirectory();

// The value of an environment variable, however long; empty when it is not set.
std::wstring ReadEnvironmentVariable(const wchar_t* name);

// Writes all `size` bytes to `file`, continuing after partial writes. False when a write fails or
// writes nothing (a full disk); the error is in GetLastError() then.
bool WriteFileFully(HANDLE file, const void* data, DWORD size);
