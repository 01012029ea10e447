// Message dispatch of the skinned window: non-client area, mouse, keyboard, timers and queued notifications.
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "uikit/Accessible.h"
#include "uikit/Shadow.h"
#include "uikit/Window.h"

namespace UiKit {

namespace {

Control* HitTestTree(Control* c, POINT pt) {
    const RECT& rc = c->GetPos();
    if (!c->IsVisible() || pt.x < rc.left || pt.x >= rc.right || pt.y < rc.top || pt.y >= rc.bottom) {
        return nullptr;
    }
    if (auto* container = dynamic_cast<Container*>(c)) {
        const auto& kids = container->Children();
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
            if (!container->ShowsChild(it->get())) {
                continue;
            }
            if (Control* hit = HitTestTree(it->get(), pt)) {
                return hit;
            }
        }
    }
    return c->WantsMouse() ? c : nullptr;
}

void CollectFocusable(Control* c, std::vector<Control*>& out) {
    if (!c->IsShown()) {
        return;
    }
    if (c->CanFocus()) {
        out.push_back(c);
    }
    if (auto* container = dynamic_cast<Container*>(c)) {
        for (auto& child : container->Children()) {
            if (container->ShowsChild(child.get())) {
                CollectFocusable(child.get(), out);
            }
        }
    }
}

} // namespace

LRESULT CALLBACK Window::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        LRESULT r = ::DefWindowProcW(hwnd, msg, wp, lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        // Queued notifications that never reached the window are freed here.
        MSG pending{};
        while (::PeekMessageW(&pending, hwnd, WM_UIKIT_NOTIFY, WM_UIKIT_NOTIFY, PM_REMOVE)) {
            delete reinterpret_cast<UiKit::Notify*>(pending.lParam);
        }
        self->hwnd_ = nullptr;
        return r;
    }
    return self->Dispatch(msg, wp, lp);
}

Control* Window::HitTest(POINT pt) const {
    return root_ ? HitTestTree(root_.get(), pt) : nullptr;
}

LRESULT Window::OnNcHitTest(POINT screen) {
    POINT pt = screen;
    ::ScreenToClient(hwnd_, &pt);
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    LONG style = ::GetWindowLongW(hwnd_, GWL_STYLE);
    if ((style & WS_THICKFRAME) != 0 && !::IsZoomed(hwnd_)) {
        const RECT& b = look_.sizeBox;
        bool left = pt.x < b.left;
        bool right = pt.x >= client.right - b.right;
        bool top = pt.y < b.top;
        bool bottom = pt.y >= client.bottom - b.bottom;
        if (top && left)
            return HTTOPLEFT;
        if (top && right)
            return HTTOPRIGHT;
        if (bottom && left)
            return HTBOTTOMLEFT;
        if (bottom && right)
            return HTBOTTOMRIGHT;
        if (top)
            return HTTOP;
        if (bottom)
            return HTBOTTOM;
        if (left)
            return HTLEFT;
        if (right)
            return HTRIGHT;
    }
    const RECT& c = look_.caption;
    if (pt.x >= c.left && pt.x < client.right - c.right && pt.y >= c.top && pt.y < c.bottom) {
        Control* hit = HitTest(pt);
        if (hit == nullptr || !hit->IsEnabled()) {
            return HTCAPTION;
        }
    }
    return HTCLIENT;
}

void Window::OnMouseMove(POINT pt) {
    if (!tracking_) {
        TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd_, 0};
        tracking_ = ::TrackMouseEvent(&tme) != FALSE;
    }
    Control* hit = HitTest(pt);
    if (hit != nullptr && !hit->IsEnabled()) {
        hit = nullptr;
    }
    if (pushed_ != nullptr) {
        // While a button is held, it shows pushed only with the pointer over it.
        pushed_->SetHot(hit == pushed_);
    }
    if (hit == hot_) {
        return;
    }
    Control* old = hot_;
    hot_ = hit;
    if (old != nullptr) {
        old->SetHot(false);
        SendNotify(old, L"mouseleave");
    }
    if (hot_ != nullptr && hwnd_ != nullptr) {
        hot_->SetHot(true);
        SendNotify(hot_, L"mouseenter");
    }
}

void Window::OnMouseLeave() {
    tracking_ = false;
    if (hot_ != nullptr) {
        Control* old = hot_;
        hot_ = nullptr;
        old->SetHot(false);
        SendNotify(old, L"mouseleave");
    }
}

void Window::OnButtonDown(POINT pt) {
    Control* hit = HitTest(pt);
    if (hit == nullptr || !hit->IsEnabled()) {
        return;
    }
    if (hit->CanFocus()) {
        SetFocus(hit);
    }
    pushed_ = hit;
    hit->SetPushed(true);
    ::SetCapture(hwnd_);
}

void Window::OnButtonUp(POINT pt) {
    Control* pressed = pushed_;
    pushed_ = nullptr;
    if (::GetCapture() == hwnd_) {
        ::ReleaseCapture();
    }
    if (pressed == nullptr) {
        return;
    }
    pressed->SetPushed(false);
    if (HitTest(pt) == pressed && pressed->IsEnabled()) {
        pressed->Activate(); // may close the window
    }
}

void Window::FocusNext(bool backwards) {
    std::vector<Control*> order;
    if (root_) {
        CollectFocusable(root_.get(), order);
    }
    if (order.empty()) {
        return;
    }
    auto it = std::find(order.begin(), order.end(), focus_);
    size_t i = 0;
    if (it != order.end()) {
        size_t at = static_cast<size_t>(it - order.begin());
        i = backwards ? (at + order.size() - 1) % order.size() : (at + 1) % order.size();
    } else if (backwards) {
        i = order.size() - 1;
    }
    SetFocus(order[i]);
}

bool Window::PressCancel() {
    for (const wchar_t* name : {L"cancelBtn", L"closebtn"}) {
        Control* c = FindControl(name);
        if (c != nullptr && c->IsShown() && c->IsEnabled()) {
            c->Activate(); // may close the window
            return true;
        }
    }
    return false;
}

bool Window::OnKeyDown(WPARAM key) {
    if (key != VK_TAB && key != VK_RETURN && key != VK_SPACE && key != VK_ESCAPE) {
        return false;
    }
    if (!keyboardUsed_) {
        keyboardUsed_ = true; // from now on the focused control shows the focus cue
        Invalidate();
    }
    if (key == VK_TAB) {
        FocusNext(::GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    if (key == VK_ESCAPE) {
        return PressCancel();
    }
    const bool focusUsable = focus_ != nullptr && focus_->IsEnabled() && focus_->IsShown();
    if (key == VK_SPACE) {
        if (focusUsable && dynamic_cast<Edit*>(focus_) == nullptr) {
            focus_->Activate();
            return true;
        }
        return false;
    }
    // Enter: the focused button (check boxes are toggled with Space), else the view's main button.
    const bool onButton =
        focusUsable && dynamic_cast<Button*>(focus_) != nullptr && dynamic_cast<Option*>(focus_) == nullptr;
    Control* target = onButton ? focus_ : DefaultControl();
    if (target != nullptr) {
        target->Activate();
        return true;
    }
    return false;
}

Edit* Window::EditOf(HWND handle) const {
    // Only focusable edits are looked at; a handle belongs to one edit box, the last found wins.
    Edit* edit = nullptr;
    std::vector<Control*> all;
    if (root_) {
        CollectFocusable(root_.get(), all);
    }
    for (Control* c : all) {
        auto* e = dynamic_cast<Edit*>(c);
        if (e != nullptr && e->EditHandle() == handle) {
            edit = e;
        }
    }
    return edit;
}

void Window::OnEditFocused(HWND handle) {
    // The edit box took the keyboard focus itself (a click into it): the toolkit's focus follows.
    Edit* edit = EditOf(handle);
    if (edit == nullptr || focus_ == edit) {
        return;
    }
    if (focus_ != nullptr) {
        focus_->SetFocused(false);
    }
    focus_ = edit;
    edit->SetFocused(true);
}

void Window::KeepShadowBelow(UINT msg, WPARAM wp) {
    // The shadow goes back just below the window whenever the window moves, shows, becomes active or is enabled
    // again (a modal dialog ending): otherwise it can end up above the window and cover it.
    if (!shadow_ || !look_.showShadow) {
        return;
    }
    RECT wr{};
    ::GetWindowRect(hwnd_, &wr);
    bool visible = msg == WM_SHOWWINDOW ? wp != 0 : ::IsWindowVisible(hwnd_) != FALSE;
    shadow_->Follow(hwnd_, wr, visible, look_.shadowSize, [this](std::vector<uint32_t>& pixels) {
        SIZE size{};
        return RenderShadow(pixels, size);
    });
}

void Window::OnDestroy() {
    ReleaseTimers();
    if (shadow_) {
        shadow_.reset();
    }
    EnableOwnerAgain();
    hot_ = pushed_ = focus_ = nullptr;
    pendingValue_ = nullptr;
    // Clients may keep the client object: from now on it answers that it is no longer connected.
    DisconnectAccessibleClient(accessible_);
    ReleaseAccessibleClient(accessible_);
    accessible_ = nullptr;
}

std::optional<LRESULT> Window::OnFrameMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCCALCSIZE:
        return 0; // the whole window is client area; the skin draws the frame
    case WM_NCPAINT:
        return 0;
    case WM_NCACTIVATE:
        return ::IsIconic(hwnd_) ? ::DefWindowProcW(hwnd_, msg, wp, lp) : TRUE;
    case WM_NCHITTEST:
        return OnNcHitTest(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_SIZE:
        UpdateRegion();
        NeedLayout();
        KeepShadowBelow(msg, wp);
        return 0;
    case WM_SHOWWINDOW:
        KeepShadowBelow(msg, wp);
        return 0;
    case WM_WINDOWPOSCHANGED:
    case WM_ACTIVATE:
    case WM_ENABLE:
        KeepShadowBelow(msg, wp);
        return std::nullopt; // DefWindowProc sends WM_SIZE and WM_MOVE, and handles activation
    case WM_SYSCOMMAND: {
        bool done = false;
        LRESULT r = OnSysCommand(wp, lp, done);
        return done ? std::optional<LRESULT>(r) : std::nullopt;
    }
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_CLOSE:
        Close(modalResult_);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return std::nullopt;
    case WM_GETOBJECT:
        if (static_cast<DWORD>(lp) == static_cast<DWORD>(OBJID_CLIENT)) {
            if (accessible_ == nullptr) {
                accessible_ = NewAccessibleClient(this);
            }
            return AccessibleClientResult(accessible_, wp);
        }
        return std::nullopt; // the window object and the rest are the system's
    default:
        return std::nullopt;
    }
}

std::optional<LRESULT> Window::OnInputMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT && hot_ != nullptr && hot_->IsHandCursor()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        return std::nullopt;
    case WM_MOUSEMOVE:
        OnMouseMove(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        return 0;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        OnButtonDown(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        return 0;
    case WM_LBUTTONUP:
        OnButtonUp(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        return 0;
    case WM_CAPTURECHANGED:
        if (pushed_ != nullptr && reinterpret_cast<HWND>(lp) != hwnd_) {
            pushed_->SetPushed(false);
            pushed_ = nullptr;
        }
        return 0;
    case WM_KEYDOWN:
        return OnKeyDown(wp) ? std::optional<LRESULT>(0) : std::nullopt;
    case WM_SETFOCUS:
        if (auto* edit = dynamic_cast<Edit*>(focus_); edit != nullptr && edit->EditHandle() != nullptr) {
            ::SetFocus(edit->EditHandle()); // back into the edit box that had it
        } else {
            AccessibleEvent(EVENT_OBJECT_FOCUS, focus_);
        }
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    default:
        return std::nullopt;
    }
}

std::optional<LRESULT> Window::OnChildMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wp) == EN_SETFOCUS) {
            OnEditFocused(reinterpret_cast<HWND>(lp));
        }
        return std::nullopt;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (Edit* edit = EditOf(reinterpret_cast<HWND>(lp))) {
            return reinterpret_cast<LRESULT>(edit->ChildColors(reinterpret_cast<HDC>(wp)));
        }
        return std::nullopt;
    case WM_TIMER:
        if (wp == kValueTimer) {
            OnValueTimer();
            return 0;
        }
        if (auto it = timers_.find(wp); it != timers_.end()) {
            TimerKey key = it->second;
            SendNotify(key.control, L"timer", key.id);
            return 0;
        }
        return std::nullopt;
    case WM_UIKIT_ACTIVATE: {
        // Pressed only when it is still an enabled element of what is shown (the page may have changed meanwhile).
        auto* control = reinterpret_cast<Control*>(lp);
        std::vector<Control*> all = AccElements(root_.get());
        if (std::find(all.begin(), all.end(), control) != all.end() && control->IsEnabled() &&
            ::IsWindowEnabled(hwnd_)) {
            control->Activate(); // may close the window
        }
        return 0;
    }
    case WM_UIKIT_NOTIFY: {
        std::unique_ptr<UiKit::Notify> queued(reinterpret_cast<UiKit::Notify*>(lp));
        if (queued) {
            Notify(*queued);
        }
        return 0;
    }
    default:
        return std::nullopt;
    }
}

LRESULT Window::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
    bool handled = false;
    LRESULT result = HandleMessage(msg, wp, lp, handled);
    if (handled || hwnd_ == nullptr) {
        return result;
    }
    // Each message belongs to one of these; what none of them answers goes on to DefWindowProc.
    if (std::optional<LRESULT> own = OnFrameMessage(msg, wp, lp)) {
        return *own;
    }
    if (std::optional<LRESULT> own = OnInputMessage(msg, wp, lp)) {
        return *own;
    }
    if (std::optional<LRESULT> own = OnChildMessage(msg, wp, lp)) {
        return *own;
    }
    return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

} // namespace UiKit
