#pragma once
// Move-only owners of Win32 handles: one type per way of closing, so a handle
// is closed exactly once on every path.
#include <windows.h>

#include <utility>

// Invalid names the "no handle" value through a static Value(): INVALID_HANDLE_VALUE
// is not a constant expression, so it cannot be a template argument itself.
template <typename T, typename Close, typename Invalid>
class UniqueOwner {
public:
    UniqueOwner() = default;
    explicit UniqueOwner(T h) : m_h(h) {}
    ~UniqueOwner() { reset(); }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : m_h(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return m_h; }
    explicit operator bool() const { return m_h != Invalid::Value(); }
    void reset(T h = Invalid::Value()) {
        if (m_h != Invalid::Value()) Close()(m_h);
        m_h = h;
    }
    T release() { return std::exchange(m_h, Invalid::Value()); }
    // For out-parameters: closes what is held and hands out the slot.
    T* put() {
        reset();
        return &m_h;
    }

private:
    T m_h = Invalid::Value();
};

struct CloseHandleFn {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct FindCloseFn {
    void operator()(HANDLE h) const { ::FindClose(h); }
};
struct RegCloseKeyFn {
    void operator()(HKEY h) const { ::RegCloseKey(h); }
};
struct DeleteObjectFn {
    void operator()(HGDIOBJ h) const { ::DeleteObject(h); }
};

template <typename T, T V>
struct ConstantInvalid {
    static T Value() { return V; }
};
struct InvalidHandleValue {
    static HANDLE Value() { return INVALID_HANDLE_VALUE; }
};

// For handles whose invalid value is a constant (usually nullptr).
template <typename T, typename Close, T Invalid>
using UniqueAny = UniqueOwner<T, Close, ConstantInvalid<T, Invalid>>;

// Handles that are invalid as NULL (threads, events, mutexes, mappings).
using UniqueHandle = UniqueAny<HANDLE, CloseHandleFn, nullptr>;
// Handles that are invalid as INVALID_HANDLE_VALUE (CreateFile).
using UniqueFile = UniqueOwner<HANDLE, CloseHandleFn, InvalidHandleValue>;
using UniqueFind = UniqueOwner<HANDLE, FindCloseFn, InvalidHandleValue>;
using UniqueHKey = UniqueAny<HKEY, RegCloseKeyFn, nullptr>;
using UniqueGdiObject = UniqueAny<HGDIOBJ, DeleteObjectFn, nullptr>;

// Runs a clean-up on every path out of a scope.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() {
        if (m_bActive) m_f();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void Dismiss() { m_bActive = false; }

private:
    F m_f;
    bool m_bActive = true;
};
