// The client area's accessible object. Child ids are 1-based positions in the current element list, which is
// read again on every call: pages and visibility change under a client that holds the object.
#include "uikit/Accessible.h"

#include <oleacc.h>

#include "uikit/Control.h"
#include "uikit/Window.h"

namespace UiKit {

// ---- Pure rules ----

AccRoleState AccRoleStateOf(const AccFacts& f) {
    AccRoleState out;
    bool interactive = true;
    switch (f.kind) {
    case AccKind::PushButton:
        out.role = ROLE_SYSTEM_PUSHBUTTON;
        break;
    case AccKind::CheckButton:
        out.role = ROLE_SYSTEM_CHECKBUTTON;
        break;
    case AccKind::Link:
        out.role = ROLE_SYSTEM_LINK;
        out.state |= STATE_SYSTEM_LINKED;
        break;
    case AccKind::EditBox:
        out.role = ROLE_SYSTEM_TEXT;
        break;
    case AccKind::StaticText:
        out.role = ROLE_SYSTEM_STATICTEXT;
        out.state |= STATE_SYSTEM_READONLY;
        interactive = false;
        break;
    case AccKind::ProgressBar:
        out.role = ROLE_SYSTEM_PROGRESSBAR;
        out.state |= STATE_SYSTEM_READONLY;
        interactive = false;
        break;
    }
    if (!f.enabled) {
        out.state |= STATE_SYSTEM_UNAVAILABLE;
    } else if (interactive) {
        out.state |= STATE_SYSTEM_FOCUSABLE;
        if (f.focused) {
            out.state |= STATE_SYSTEM_FOCUSED;
        }
    }
    if (f.kind == AccKind::CheckButton && f.checked) {
        out.state |= STATE_SYSTEM_CHECKED;
    }
    if (f.kind == AccKind::PushButton && f.isDefault) {
        out.state |= STATE_SYSTEM_DEFAULT;
    }
    return out;
}

std::wstring AccDefaultActionOf(AccKind kind, bool checked) {
    switch (kind) {
    case AccKind::PushButton:
        return L"按下";
    case AccKind::CheckButton:
        return checked ? L"清除" : L"选中";
    case AccKind::Link:
        return L"跳转";
    default:
        return L"";
    }
}

// ---- Controls as elements ----

std::optional<AccKind> AccKindOf(const Control& c) {
    if (dynamic_cast<const Edit*>(&c) != nullptr) {
        return AccKind::EditBox;
    }
    if (dynamic_cast<const Progress*>(&c) != nullptr) {
        return AccKind::ProgressBar;
    }
    if (dynamic_cast<const Option*>(&c) != nullptr) {
        return AccKind::CheckButton;
    }
    if (dynamic_cast<const Button*>(&c) != nullptr) {
        return c.IsLink() ? AccKind::Link : AccKind::PushButton;
    }
    if (dynamic_cast<const Label*>(&c) != nullptr && !AccNameOf(c).empty()) {
        return AccKind::StaticText;
    }
    return std::nullopt; // layouts, spacers and pictures without a name
}

std::wstring AccNameOf(const Control& c) {
    return c.AccName().empty() ? c.GetText() : c.AccName();
}

namespace {

void Collect(Control* c, std::vector<Control*>& out) {
    if (!c->IsVisible()) {
        return;
    }
    if (AccKindOf(*c)) {
        out.push_back(c);
        return;
    }
    if (auto* container = dynamic_cast<Container*>(c)) {
        for (const auto& child : container->Children()) {
            if (container->ShowsChild(child.get())) {
                Collect(child.get(), out);
            }
        }
    }
}

BSTR Bstr(const std::wstring& text) {
    return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void SetI4(VARIANT* v, LONG value) {
    ::VariantInit(v);
    v->vt = VT_I4;
    v->lVal = value;
}

} // namespace

std::vector<Control*> AccElements(Control* root) {
    std::vector<Control*> out;
    if (root != nullptr) {
        Collect(root, out);
    }
    return out;
}

// ---- The COM object ----

class AccessibleClient final : public IAccessible {
public:
    explicit AccessibleClient(Window* window) : window_(window) {}
    void Disconnect() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch: clients reach the object through the IAccessible methods only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_POINTER;
        }
        *parent = nullptr;
        if (!Connected()) {
            return CO_E_OBJNOTCONNECTED;
        }
        return ::AccessibleObjectFromWindow(window_->GetHWND(), static_cast<DWORD>(OBJID_WINDOW), IID_IDispatch,
                                            reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        if (!Connected()) {
            return CO_E_OBJNOTCONNECTED;
        }
        *count = static_cast<LONG>(AccElements(window_->GetRoot()).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT id, IDispatch** child) override {
        if (child == nullptr) {
            return E_POINTER;
        }
        *child = nullptr;
        Control* c = nullptr;
        if (HRESULT hr = Resolve(id, c); hr != S_OK) {
            return hr;
        }
        if (c == nullptr) {
            return E_INVALIDARG;
        }
        // The edit box is the system's own object; every other element is simple (named by its id).
        return EditObject(c, child) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT id, BSTR* name) override {
        return Text(id, name, [this](Control* c) { return c == nullptr ? window_->AccessibleName() : AccNameOf(*c); });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT id, BSTR* value) override {
        return Text(id, value, [](Control* c) -> std::optional<std::wstring> {
            if (auto* bar = dynamic_cast<Progress*>(c)) {
                int range = bar->GetMax() - bar->GetMin();
                int percent = range > 0 ? (bar->GetValue() - bar->GetMin()) * 100 / range : 0;
                return std::to_wstring(percent) + L"%";
            }
            if (auto* edit = dynamic_cast<Edit*>(c)) {
                return edit->GetText();
            }
            return std::nullopt;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT id, BSTR* text) override { return NoText(id, text); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT id, BSTR* text) override { return NoText(id, text); }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT id, BSTR* text) override { return NoText(id, text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
        if (file != nullptr) {
            *file = nullptr;
        }
        if (topic != nullptr) {
            *topic = 0;
        }
        return Connected() ? DISP_E_MEMBERNOTFOUND : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT id, VARIANT* role) override {
        return Number(id, role, [this](Control* c) {
            if (c == nullptr) {
                return static_cast<LONG>(window_->IsDialog() ? ROLE_SYSTEM_DIALOG : ROLE_SYSTEM_CLIENT);
            }
            return static_cast<LONG>(AccRoleStateOf(FactsOf(*c)).role);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT id, VARIANT* state) override {
        return Number(id, state, [this](Control* c) {
            if (c == nullptr) {
                bool focused = ::GetFocus() == window_->GetHWND() && window_->GetFocus() == nullptr;
                return static_cast<LONG>(STATE_SYSTEM_FOCUSABLE | (focused ? STATE_SYSTEM_FOCUSED : 0));
            }
            return static_cast<LONG>(AccRoleStateOf(FactsOf(*c)).state);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(focus);
        if (!Connected()) {
            return CO_E_OBJNOTCONNECTED;
        }
        HWND hwnd = window_->GetHWND();
        HWND system = ::GetFocus();
        if (system != hwnd && (system == nullptr || ::GetParent(system) != hwnd)) {
            return S_FALSE; // the focus is outside this window
        }
        LONG id = IdOf(window_->GetFocus());
        if (id != CHILDID_SELF && system != hwnd) {
            IDispatch* edit = nullptr;
            if (EditObject(window_->GetFocus(), &edit)) {
                focus->vt = VT_DISPATCH;
                focus->pdispVal = edit;
                return S_OK;
            }
        }
        SetI4(focus, id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(selection);
        return Connected() ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT id, BSTR* action) override {
        return Text(id, action, [](Control* c) -> std::optional<std::wstring> {
            if (c == nullptr) {
                return std::nullopt;
            }
            auto* option = dynamic_cast<Option*>(c);
            std::wstring verb = AccDefaultActionOf(*AccKindOf(*c), option != nullptr && option->IsSelected());
            return verb.empty() ? std::nullopt : std::optional<std::wstring>(verb);
        });
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override {
        return Connected() ? DISP_E_MEMBERNOTFOUND : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* x, LONG* y, LONG* w, LONG* h, VARIANT id) override {
        if (x == nullptr || y == nullptr || w == nullptr || h == nullptr) {
            return E_POINTER;
        }
        *x = *y = *w = *h = 0;
        Control* c = nullptr;
        if (HRESULT hr = Resolve(id, c); hr != S_OK) {
            return hr;
        }
        RECT rc{};
        if (c == nullptr) {
            ::GetClientRect(window_->GetHWND(), &rc);
        } else {
            window_->UpdateLayout();
            rc = c->GetPos();
        }
        POINT origin{rc.left, rc.top};
        ::ClientToScreen(window_->GetHWND(), &origin);
        *x = origin.x;
        *y = origin.y;
        *w = rc.right - rc.left;
        *h = rc.bottom - rc.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(end);
        Control* c = nullptr;
        if (HRESULT hr = Resolve(start, c); hr != S_OK) {
            return hr;
        }
        const LONG count = static_cast<LONG>(AccElements(window_->GetRoot()).size());
        const LONG from = IdOf(c);
        LONG to = 0;
        if (c == nullptr && direction == NAVDIR_FIRSTCHILD) {
            to = count > 0 ? 1 : 0;
        } else if (c == nullptr && direction == NAVDIR_LASTCHILD) {
            to = count;
        } else if (c != nullptr && direction == NAVDIR_NEXT) {
            to = from < count ? from + 1 : 0;
        } else if (c != nullptr && direction == NAVDIR_PREVIOUS) {
            to = from > 1 ? from - 1 : 0;
        } else if (direction < NAVDIR_UP || direction > NAVDIR_LASTCHILD) {
            return E_INVALIDARG;
        }
        if (to == 0) {
            return S_FALSE; // nothing there
        }
        SetI4(end, to);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
        if (hit == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(hit);
        if (!Connected()) {
            return CO_E_OBJNOTCONNECTED;
        }
        HWND hwnd = window_->GetHWND();
        POINT pt{x, y};
        ::ScreenToClient(hwnd, &pt);
        RECT client{};
        ::GetClientRect(hwnd, &client);
        if (!::PtInRect(&client, pt)) {
            return S_FALSE;
        }
        window_->UpdateLayout();
        Control* found = nullptr;
        for (Control* c : AccElements(window_->GetRoot())) {
            if (::PtInRect(&c->GetPos(), pt)) {
                found = c;
            }
        }
        IDispatch* edit = nullptr;
        if (EditObject(found, &edit)) {
            hit->vt = VT_DISPATCH;
            hit->pdispVal = edit;
            return S_OK;
        }
        SetI4(hit, IdOf(found));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT id) override {
        Control* c = nullptr;
        if (HRESULT hr = Resolve(id, c); hr != S_OK) {
            return hr;
        }
        if (c == nullptr || AccDefaultActionOf(*AccKindOf(*c), false).empty()) {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (!c->IsEnabled()) {
            return E_FAIL;
        }
        // Queued: the press may open a modal dialog, which must not run inside the caller's call.
        return window_->QueueActivate(c) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override {
        return Connected() ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override {
        return Connected() ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
    }

    // 1-based id of `c` among the elements; CHILDID_SELF for null or a control that is no element now.
    LONG IdOf(const Control* c) const {
        if (c == nullptr || !Connected()) {
            return CHILDID_SELF;
        }
        auto all = AccElements(window_->GetRoot());
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i] == c) {
                return static_cast<LONG>(i + 1);
            }
        }
        return CHILDID_SELF;
    }

private:
    bool Connected() const { return window_ != nullptr && window_->GetHWND() != nullptr; }

    // `c` becomes null for CHILDID_SELF; S_OK, CO_E_OBJNOTCONNECTED or E_INVALIDARG.
    HRESULT Resolve(const VARIANT& id, Control*& c) const {
        c = nullptr;
        if (!Connected()) {
            return CO_E_OBJNOTCONNECTED;
        }
        if (id.vt != VT_I4) {
            return E_INVALIDARG;
        }
        if (id.lVal == CHILDID_SELF) {
            return S_OK;
        }
        auto all = AccElements(window_->GetRoot());
        if (id.lVal < 1 || static_cast<size_t>(id.lVal) > all.size()) {
            return E_INVALIDARG;
        }
        c = all[static_cast<size_t>(id.lVal - 1)];
        return S_OK;
    }

    AccFacts FactsOf(const Control& c) const {
        AccFacts f;
        f.kind = *AccKindOf(c);
        f.enabled = c.IsEnabled();
        f.focused = window_->GetFocus() == &c && ::GetFocus() == window_->GetHWND();
        auto* option = dynamic_cast<const Option*>(&c);
        f.checked = option != nullptr && option->IsSelected();
        f.isDefault = c.IsDefault();
        return f;
    }

    static bool EditObject(Control* c, IDispatch** out) {
        auto* edit = dynamic_cast<Edit*>(c);
        return edit != nullptr && edit->EditHandle() != nullptr &&
               SUCCEEDED(::AccessibleObjectFromWindow(edit->EditHandle(), static_cast<DWORD>(OBJID_CLIENT),
                                                      IID_IDispatch, reinterpret_cast<void**>(out))) &&
               *out != nullptr;
    }

    template <class Fn> HRESULT Text(const VARIANT& id, BSTR* out, Fn&& read) {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        Control* c = nullptr;
        if (HRESULT hr = Resolve(id, c); hr != S_OK) {
            return hr;
        }
        std::optional<std::wstring> text = read(c);
        if (!text) {
            return DISP_E_MEMBERNOTFOUND;
        }
        *out = Bstr(*text);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT NoText(const VARIANT& id, BSTR* out) {
        return Text(id, out, [](Control*) { return std::optional<std::wstring>(); });
    }
    template <class Fn> HRESULT Number(const VARIANT& id, VARIANT* out, Fn&& read) {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Control* c = nullptr;
        if (HRESULT hr = Resolve(id, c); hr != S_OK) {
            return hr;
        }
        SetI4(out, read(c));
        return S_OK;
    }

    LONG refs_ = 1;
    Window* window_;
};

AccessibleClient* NewAccessibleClient(Window* window) {
    return new AccessibleClient(window);
}

void DisconnectAccessibleClient(AccessibleClient* client) {
    if (client != nullptr) {
        client->Disconnect();
    }
}

LRESULT AccessibleClientResult(AccessibleClient* client, WPARAM wp) {
    return ::LresultFromObject(__uuidof(IAccessible), wp, static_cast<IAccessible*>(client));
}

void ReleaseAccessibleClient(AccessibleClient* client) {
    if (client != nullptr) {
        client->Release();
    }
}

} // namespace UiKit
