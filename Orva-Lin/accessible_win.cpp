#include "Orva-Lin/accessible_win.h"

#include <oleacc.h>

#include <atomic>
#include <new>

#include "common/win32_guards.h"

namespace {

// Spelled out: linked with oleacc ahead of uuid, MinGW resolves the name
// IID_IAccessible to oleacc's import thunk, code bytes rather than the
// identifier, and a QueryInterface comparing against it refuses everyone.
constexpr GUID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// No event is raised before a screen reader has asked for an object: under
// Wine an event costs the server a round even when nobody listens, and the
// lamps change several times a second while a member talks.
bool asked = false;

HRESULT textResult(const wchar_t* text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!text[0]) return S_FALSE;
  *out = SysAllocString(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

void setChild(VARIANT* out, long id) {
  VariantInit(out);
  out->vt = VT_I4;
  out->lVal = id;
}

class Surface final : public IAccessible {
 public:
  Surface(HWND w, const AccessibleProvider& p) : window_(w), provider_(p) {}
  bool ready() {
    return SUCCEEDED(CreateStdAccessibleObject(window_, OBJID_CLIENT, kIidAccessible, standard_.putVoid())) &&
           standard_;
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualGUID(riid, kIidAccessible) || IsEqualGUID(riid, kIidDispatch) || IsEqualGUID(riid, kIidUnknown)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: screen readers call IAccessible directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override { return standard_->get_accParent(out); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* out) override {
    if (!out) return E_POINTER;
    *out = provider_.count(window_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return childIndex(child) >= 0 ? S_FALSE : E_INVALIDARG;  // simple elements, no objects of their own
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accName(child, out);
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    return textResult(item.name, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accValue(child, out);
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    return textResult(item.value, out);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accDescription(child, out);
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    return textResult(item.description, out);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
    if (isSelf(child)) return standard_->get_accRole(child, out);
    AccessibleItem item;
    if (!out) return E_POINTER;
    if (!read(child, item)) return E_INVALIDARG;
    setChild(out, item.role);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
    if (isSelf(child)) return standard_->get_accState(child, out);
    AccessibleItem item;
    if (!out) return E_POINTER;
    if (!read(child, item)) return E_INVALIDARG;
    setChild(out, item.state);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accHelp(child, out);
    return textResult(L"", out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    if (isSelf(child)) return standard_->get_accHelpTopic(file, child, topic);
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accKeyboardShortcut(child, out);
    return textResult(L"", out);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override { return standard_->get_accFocus(out); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override { return standard_->get_accSelection(out); }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    if (isSelf(child)) return standard_->get_accDefaultAction(child, out);
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    return textResult(item.acts ? L"Cliquer" : L"", out);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    if (isSelf(child)) return standard_->accSelect(flags, child);
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT child) override {
    if (isSelf(child)) return standard_->accLocation(x, y, w, h, child);
    if (!x || !y || !w || !h) return E_POINTER;
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    POINT corner{item.client.left, item.client.top};
    ClientToScreen(window_, &corner);
    *x = corner.x;
    *y = corner.y;
    *w = item.client.right - item.client.left;
    *h = item.client.bottom - item.client.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    const int n = provider_.count(window_);
    if (isSelf(start)) {
      if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD) {
        if (n == 0) return S_FALSE;
        setChild(out, direction == NAVDIR_FIRSTCHILD ? 1 : n);
        return S_OK;
      }
      return standard_->accNavigate(direction, start, out);
    }
    const int i = childIndex(start);
    if (i < 0) return E_INVALIDARG;
    int next = -1;
    if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT) next = i + 1;
    if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT) next = i - 1;
    if (next < 0 || next >= n) return S_FALSE;
    setChild(out, next + 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
    if (!out) return E_POINTER;
    POINT p{x, y};
    ScreenToClient(window_, &p);
    const int i = provider_.hit(window_, p.x, p.y);
    if (i >= 0) {
      setChild(out, i + 1);
      return S_OK;
    }
    return standard_->accHitTest(x, y, out);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (isSelf(child)) return standard_->accDoDefaultAction(child);
    AccessibleItem item;
    if (!read(child, item)) return E_INVALIDARG;
    if (!item.acts) return DISP_E_MEMBERNOTFOUND;
    provider_.act(window_, childIndex(child));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~Surface() = default;

  static bool isSelf(const VARIANT& v) { return v.vt == VT_I4 && v.lVal == CHILDID_SELF; }
  // 0-based index of a child id, -1 when it names none.
  int childIndex(const VARIANT& v) const {
    if (v.vt != VT_I4 || v.lVal < 1 || v.lVal > provider_.count(window_)) return -1;
    return static_cast<int>(v.lVal - 1);
  }
  bool read(const VARIANT& child, AccessibleItem& item) const {
    const int i = childIndex(child);
    if (i < 0) return false;
    item = AccessibleItem{};
    provider_.item(window_, i, item);
    return true;
  }

  HWND window_;
  const AccessibleProvider& provider_;
  win::ComPtr<IAccessible> standard_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

LRESULT answerAccessibleObject(HWND w, WPARAM wp, LPARAM lp, const AccessibleProvider& provider) {
  if (static_cast<DWORD>(lp) != static_cast<DWORD>(OBJID_CLIENT)) return DefWindowProcW(w, WM_GETOBJECT, wp, lp);
  asked = true;
  Surface* surface = new (std::nothrow) Surface(w, provider);
  if (!surface) return DefWindowProcW(w, WM_GETOBJECT, wp, lp);
  if (!surface->ready()) {
    surface->Release();
    return DefWindowProcW(w, WM_GETOBJECT, wp, lp);
  }
  const LRESULT answer = LresultFromObject(kIidAccessible, wp, static_cast<IAccessible*>(surface));
  surface->Release();  // the answer holds its own reference
  return answer;
}

void notifyAccessibleChange(HWND w, DWORD event, int index) {
  if (w && asked) NotifyWinEvent(event, w, OBJID_CLIENT, index + 1);
}

bool screenReaderAsked() { return asked; }

void setAccessibleText(wchar_t (&out)[kAccessibleTextChars], const char* utf8) {
  if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, kAccessibleTextChars) <= 0) out[0] = L'\0';
  out[kAccessibleTextChars - 1] = L'\0';
}

void clickLater(HWND w, int x, int y) { PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
