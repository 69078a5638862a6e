// Small non-copyable owners for Win32 handles, GDI objects, selections and
// COM pointers, so no early return can leak one. Declare the object before
// the guard that selects it: destruction runs in reverse, so the selection
// is undone before the object is deleted.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace win {

template <typename Traits>
class Owned {
 public:
  using Value = typename Traits::Value;
  Owned() = default;
  explicit Owned(Value v) : value_(v) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : value_(std::exchange(o.value_, Traits::invalid())) {}
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      reset();
      value_ = std::exchange(o.value_, Traits::invalid());
    }
    return *this;
  }
  ~Owned() { reset(); }

  Value get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::invalid(); }
  Value release() { return std::exchange(value_, Traits::invalid()); }
  void reset(Value v = Traits::invalid()) {
    if (value_ != Traits::invalid()) Traits::close(value_);
    value_ = v;
  }

 private:
  Value value_ = Traits::invalid();
};

struct HandleTraits {
  using Value = HANDLE;
  static Value invalid() { return nullptr; }
  static void close(Value h) { CloseHandle(h); }
};
using Handle = Owned<HandleTraits>;

template <typename T>
struct GdiTraits {
  using Value = T;
  static Value invalid() { return nullptr; }
  static void close(Value h) { DeleteObject(h); }
};
using Font = Owned<GdiTraits<HFONT>>;
using Pen = Owned<GdiTraits<HPEN>>;
using Brush = Owned<GdiTraits<HBRUSH>>;
using Bitmap = Owned<GdiTraits<HBITMAP>>;
using Region = Owned<GdiTraits<HRGN>>;

struct MemoryDcTraits {
  using Value = HDC;
  static Value invalid() { return nullptr; }
  static void close(Value dc) { DeleteDC(dc); }
};
using MemoryDc = Owned<MemoryDcTraits>;

struct IconTraits {
  using Value = HICON;
  static Value invalid() { return nullptr; }
  static void close(Value i) { DestroyIcon(i); }
};
using Icon = Owned<IconTraits>;

// GetDC / ReleaseDC on a window (a null window gives the screen's).
class WindowDc {
 public:
  explicit WindowDc(HWND w) : window_(w), dc_(GetDC(w)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND w) : window_(w) { dc_ = BeginPaint(w, &ps_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  ~PaintDc() { EndPaint(window_, &ps_); }
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

// SelectObject, undone at scope exit.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ obj) : dc_(dc), previous_(dc && obj ? SelectObject(dc, obj) : nullptr) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// COM pointer: Release() at scope exit.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// CoInitialize for this thread (or CoInitializeEx with the given model),
// undone only when it succeeded (S_FALSE too).
class ComApartment {
 public:
  ComApartment() : hr_(CoInitialize(nullptr)) {}
  explicit ComApartment(DWORD flags) : hr_(CoInitializeEx(nullptr, flags)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool ok() const { return SUCCEEDED(hr_); }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

// CoTaskMemFree at scope exit (endpoint ids and the like).
template <typename T>
class TaskMem {
 public:
  TaskMem() = default;
  TaskMem(const TaskMem&) = delete;
  TaskMem& operator=(const TaskMem&) = delete;
  ~TaskMem() { CoTaskMemFree(p_); }
  T* get() const { return p_; }
  T** put() { return &p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace win
