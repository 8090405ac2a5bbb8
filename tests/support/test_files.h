// File helpers for tests: scratch directories that remove themselves, whole-file reads and writes.
#pragma once

#include <string>
#include <vector>

// A fresh, empty directory under the system's temporary folder, removed with its content at the
// end of its scope.
class TempDir {
  public:
    explicit TempDir(const std::wstring& label = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

  private:
    std::wstring path_;
};

// Directory of the running test program (where the build puts TarnDown.exe too).
std::wstring TestProgramDirectory();

bool ReadFileBytes(const std::wstring& path, std::string* bytes);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// The names in a directory but "." and "..", sorted; empty when it cannot be listed.
std::vector<std::wstring> ListFolder(const std::wstring& path);
// Deletes a file or a directory tree; true when nothing is left at the path.
bool RemoveTree(const std::wstring& path);

// UTF-16LE bytes of `text` (no byte-order mark), for comparing files the program writes in UTF-16.
std::string Utf16LeBytes(const std::wstring& text);

// Bytes that neither compress nor repeat, the same for the same seed: a download that splices or
// truncates them cannot come out equal by accident.
std::string RandomBytes(size_t size, unsigned seed);

// Sets an environment variable of this process for the life of the object (programs started
// meanwhile inherit it), then restores it.
class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  private:
    const wchar_t* name_;
    bool present_ = false;
    std::wstring old_;
};
