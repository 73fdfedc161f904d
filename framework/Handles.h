// Move-only owners of the system's handles, one kind each.
//
// Every owner closes its handle exactly once, on destruction or on reset(),
// with the call that belongs to its kind. release() hands the handle over
// without closing it. get() is for passing to the system.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
#include <shlobj.h>
#include <shellapi.h>

#include <utility>

// Declared by <gdiplus.h>; repeated here so that this header stays light.
extern "C" void WINAPI GdiplusShutdown(ULONG_PTR token);
// Closes a conversion stream. The program defines it with its run-time codec
// manager binding (media/codecs/MMACM.cpp); a module linked to the codec manager
// itself (the MPEG decoder library) calls acmStreamClose directly.
void AcmStreamCloseBound(HACMSTREAM stream) noexcept;

namespace wc {

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Type get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Type handle = Traits::Invalid()) noexcept {
        Type old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters of system calls: closes what is held first.
    Type* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Type handle_ = Traits::Invalid();
};

namespace traits {

// Files and the other kernel objects whose failure value is INVALID_HANDLE_VALUE.
struct File {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
// Kernel objects whose failure value is null (events, threads, processes).
struct Kernel {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct Mmio {
    using Type = HMMIO;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::mmioClose(h, 0); }
};
struct WaveOut {
    using Type = HWAVEOUT;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::waveOutClose(h); }
};
struct GdiObject {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
struct MemoryDc {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
struct ItemIdList {
    using Type = LPITEMIDLIST;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CoTaskMemFree(h); }
};
struct RegistryKey {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct Module {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct GlobalMemory {
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::GlobalFree(h); }
};
// Files dropped on a window (WM_DROPFILES), given back with DragFinish.
struct Drop {
    using Type = HDROP;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DragFinish(h); }
};
struct Window {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyWindow(h); }
};
struct Hook {
    using Type = HHOOK;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::UnhookWindowsHookEx(h); }
};
// A cryptographic service provider context (CryptAcquireContext).
struct CryptProvider {
    using Type = HCRYPTPROV;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptReleaseContext(h, 0); }
};
// A hash object of such a provider (CryptCreateHash).
struct CryptHash {
    using Type = HCRYPTHASH;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::CryptDestroyHash(h); }
};
// A COM interface pointer (a shell folder, the taskbar, an accessible
// object): one reference, released once.
template <class Interface>
struct ComInterface {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { h->Release(); }
};
// A codec manager conversion stream (acmStreamOpen, bound at run time).
struct AcmStream {
    using Type = HACMSTREAM;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::AcmStreamCloseBound(h); }
};
struct GdiplusToken {
    using Type = ULONG_PTR;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type h) noexcept { ::GdiplusShutdown(h); }
};

}  // namespace traits

using FileHandle = UniqueHandle<traits::File>;
using KernelHandle = UniqueHandle<traits::Kernel>;
using MmioHandle = UniqueHandle<traits::Mmio>;
using WaveOutHandle = UniqueHandle<traits::WaveOut>;
using GdiObjectHandle = UniqueHandle<traits::GdiObject>;
using MemoryDcHandle = UniqueHandle<traits::MemoryDc>;
using ItemIdListHandle = UniqueHandle<traits::ItemIdList>;
using RegistryKeyHandle = UniqueHandle<traits::RegistryKey>;
using ModuleHandle = UniqueHandle<traits::Module>;
using GlobalMemoryHandle = UniqueHandle<traits::GlobalMemory>;
using WindowHandle = UniqueHandle<traits::Window>;
using DropHandle = UniqueHandle<traits::Drop>;
using HookHandle = UniqueHandle<traits::Hook>;
using CryptProviderHandle = UniqueHandle<traits::CryptProvider>;
using CryptHashHandle = UniqueHandle<traits::CryptHash>;
using GdiplusTokenHandle = UniqueHandle<traits::GdiplusToken>;
template <class Interface>
using ComPtr = UniqueHandle<traits::ComInterface<Interface>>;
using ShellFolderHandle = ComPtr<IShellFolder>;
using AcmStreamHandle = UniqueHandle<traits::AcmStream>;

// A GDI object of one type (HFONT, HBITMAP, HBRUSH, HPEN, HRGN).
template <class T>
class GdiObject {
public:
    GdiObject() noexcept = default;
    explicit GdiObject(T object) noexcept : owner_(object) {}
    T get() const noexcept { return static_cast<T>(owner_.get()); }
    bool valid() const noexcept { return owner_.valid(); }
    explicit operator bool() const noexcept { return valid(); }
    void reset(T object = nullptr) noexcept { owner_.reset(object); }
    T release() noexcept { return static_cast<T>(owner_.release()); }

private:
    GdiObjectHandle owner_;
};

using FontHandle = GdiObject<HFONT>;
using BitmapHandle = GdiObject<HBITMAP>;
using BrushHandle = GdiObject<HBRUSH>;
using PenHandle = GdiObject<HPEN>;
using RegionHandle = GdiObject<HRGN>;

// An object selected into a device context, deselected again on destruction.
class DcSelection {
public:
    DcSelection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    DcSelection(DcSelection&& other) noexcept
        : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
    DcSelection(const DcSelection&) = delete;
    DcSelection& operator=(const DcSelection&) = delete;
    DcSelection& operator=(DcSelection&&) = delete;
    ~DcSelection() {
        if (dc_ && previous_) ::SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(WindowDc&& other) noexcept
        : window_(std::exchange(other.window_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    WindowDc& operator=(WindowDc&&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint/EndPaint around one WM_PAINT.
class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { ::EndPaint(window_, &paint_); }
    HDC get() const noexcept { return dc_; }
    const RECT& area() const noexcept { return paint_.rcPaint; }

private:
    HWND window_;
    HDC dc_;
    PAINTSTRUCT paint_{};
};

// A window procedure replaced by another, put back on destruction (only if
// nobody replaced it again in between). A wide procedure gets its text
// messages as wide text, and the previous one is then called wide too.
class WindowSubclass {
public:
    enum class Text { Ansi, Wide };
    WindowSubclass() noexcept = default;
    WindowSubclass(HWND window, WNDPROC procedure, Text text = Text::Ansi) noexcept
        : window_(window),
          procedure_(procedure),
          wide_(text == Text::Wide),
          previous_(reinterpret_cast<WNDPROC>(
              wide_ ? ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure))
                    : ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)))) {}
    WindowSubclass(WindowSubclass&& other) noexcept { *this = std::move(other); }
    WindowSubclass& operator=(WindowSubclass&& other) noexcept {
        if (this != &other) {
            restore();
            window_ = std::exchange(other.window_, nullptr);
            procedure_ = std::exchange(other.procedure_, nullptr);
            wide_ = std::exchange(other.wide_, false);
            previous_ = std::exchange(other.previous_, nullptr);
        }
        return *this;
    }
    WindowSubclass(const WindowSubclass&) = delete;
    WindowSubclass& operator=(const WindowSubclass&) = delete;
    ~WindowSubclass() { restore(); }

    WNDPROC previous() const noexcept { return previous_; }
    HWND window() const noexcept { return window_; }
    // Calls the previous procedure in the text form this one was installed with.
    LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) const noexcept {
        return wide_ ? ::CallWindowProcW(previous_, window_, message, wParam, lParam)
                     : ::CallWindowProcA(previous_, window_, message, wParam, lParam);
    }
    void restore() noexcept {
        if (window_ && ::IsWindow(window_)) {
            const LONG_PTR current =
                wide_ ? ::GetWindowLongPtrW(window_, GWLP_WNDPROC) : ::GetWindowLongPtrA(window_, GWLP_WNDPROC);
            if (reinterpret_cast<WNDPROC>(current) == procedure_) {
                if (wide_) ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
                else ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
            }
        }
        window_ = nullptr;
    }

private:
    HWND window_ = nullptr;
    WNDPROC procedure_ = nullptr;
    bool wide_ = false;
    WNDPROC previous_ = nullptr;
};

// A critical section, initialised and deleted with its owner. Neither
// copied nor moved: the system keeps pointers into it while it is held.
class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() noexcept { ::EnterCriticalSection(&section_); }
    // Enters only when no other thread holds it.
    bool TryEnter() noexcept { return ::TryEnterCriticalSection(&section_) != FALSE; }
    void Leave() noexcept { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds a critical section for one scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) noexcept : section_(section) { section_.Enter(); }
    ~CriticalSectionLock() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace wc
