// Move-only owners for Win32 handles: every key, search, file, process and
// module that a call opens is closed on every way out.
#pragma once

#include <windows.h>

#include <utility>

namespace tarnvale {

enum class InvalidIs { Null, InvalidHandleValue };

template <typename T, auto Close, InvalidIs Invalid = InvalidIs::Null>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return IsValid(value_); }

    T release() noexcept { return std::exchange(value_, Empty()); }

    void reset(T value = Empty()) noexcept {
        T old = std::exchange(value_, value);
        if (IsValid(old)) Close(old);
    }

    // Closes what is held and hands out the address for an API to fill.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    static T Empty() noexcept {
        if constexpr (Invalid == InvalidIs::InvalidHandleValue) {
            return reinterpret_cast<T>(INVALID_HANDLE_VALUE);
        } else {
            return T{};
        }
    }
    static bool IsValid(T value) noexcept { return value != Empty() && value != T{}; }

    T value_ = Empty();
};

inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseRegistryKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void CloseFindHandle(HANDLE h) noexcept { ::FindClose(h); }
inline void UnloadModule(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void DestroyWindowHandle(HWND h) noexcept { ::DestroyWindow(h); }

using UniqueHandleKernel = UniqueHandle<HANDLE, CloseKernelHandle>;
using UniqueFile = UniqueHandle<HANDLE, CloseKernelHandle, InvalidIs::InvalidHandleValue>;
using UniqueKey = UniqueHandle<HKEY, CloseRegistryKey>;
using UniqueFind = UniqueHandle<HANDLE, CloseFindHandle, InvalidIs::InvalidHandleValue>;
using UniqueModule = UniqueHandle<HMODULE, UnloadModule>;
using UniqueWindow = UniqueHandle<HWND, DestroyWindowHandle>;

// A started child: closes both its process and its thread handle.
class UniqueProcess {
public:
    UniqueProcess() noexcept = default;
    explicit UniqueProcess(const PROCESS_INFORMATION& info) noexcept
        : process_(info.hProcess), thread_(info.hThread) {}

    HANDLE process() const noexcept { return process_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(process_); }

private:
    UniqueHandleKernel process_;
    UniqueHandleKernel thread_;
};

// Runs a one-off clean-up on scope exit unless released.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() {
        if (active_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void release() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

}  // namespace tarnvale
