// Sets an environment variable of the test process for the life of the object; programs the test
// starts meanwhile inherit it.
#pragma once

#include "base/win32.h"

#include <string>

class ScopedVariable {
  public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[32768] = {};
        present_ = GetEnvironmentVariableW(name, old, 32768) > 0;
        old_ = old;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, present_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const wchar_t* name_;
    bool present_ = false;
    std::wstring old_;
};
