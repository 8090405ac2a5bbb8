// Move-only owners for every kind of Windows handle the program opens, so that no code path has
// to remember to close one. Each owner closes its handle exactly once, on destruction or reset.
#pragma once

#include "base/win32.h"

#include <objbase.h>
#include <winhttp.h>

#include <utility>

// Traits: `Type`, `Invalid()` (the "no handle" value) and `Close(handle)`.
template <typename Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    Type release() noexcept {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    void reset(Type value = Traits::Invalid()) noexcept {
        if (value_ != Traits::Invalid() && value_ != value) {
            Traits::Close(value_);
        }
        value_ = value;
    }

    // For APIs that hand a handle back through an out parameter; closes the current one first.
    Type* receive() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_;
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// CreateFileW and FindFirstFileW report failure as INVALID_HANDLE_VALUE rather than null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};

struct SocketTraits {
    using Type = SOCKET;
    static Type Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Type s) noexcept { ::closesocket(s); }
};

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct MenuTraits {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyMenu(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct CoTaskMemStringTraits {
    using Type = wchar_t*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueInternet = UniqueResource<InternetHandleTraits>;
using UniqueSocket = UniqueResource<SocketTraits>;
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueMenu = UniqueResource<MenuTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueCoTaskMemString = UniqueResource<CoTaskMemStringTraits>;

// Holds one counted reference to a COM interface.
template <typename T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference of its own.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) {
            p_->AddRef();
        }
    }
    ~ComPtr() { reset(); }

    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr copy(other);
        swap(copy);
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr moved(std::move(other));
        swap(moved);
        return *this;
    }

    // Adopts a reference the caller already owns (for example one returned through an out parameter).
    static ComPtr Attach(T* p) noexcept {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept {
        if (p_) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }

    // Releases the current reference, then returns the slot for an API's out parameter.
    T** receive() noexcept {
        reset();
        return &p_;
    }

    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  private:
    T* p_ = nullptr;
};
