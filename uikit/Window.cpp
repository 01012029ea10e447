// The skinned top-level window: layout loading, painting, mouse and keyboard, notifications, timers, modal loop.
#include "uikit/Window.h"

#include "uikit/Toolkit.h"

#include <windowsx.h>

#include <algorithm>

#include "uikit/Accessible.h"
#include "uikit/Shadow.h"
#include "utils/DebugLog.h"

namespace UiKit {

bool BuildLayout(Window& window, const std::string& xml);

namespace {

bool IsWithin(const Control* c, const Control* ancestor) {
    for (; c != nullptr; c = c->Parent()) {
        if (c == ancestor) {
            return true;
        }
    }
    return false;
}

template <class Fn> void ForEachControl(Control* c, Fn&& fn) {
    if (c == nullptr) {
        return;
    }
    fn(c);
    if (auto* container = dynamic_cast<Container*>(c)) {
        for (auto& child : container->Children()) {
            ForEachControl(child.get(), fn);
        }
    }
}

// The DPI of the monitor `hwnd` is on where the system tells it per window (Windows 10 1607 on), else the system
// DPI (then the process is system-aware, and Windows scales it per monitor).
int DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        UINT dpi = getDpiForWindow(hwnd);
        if (dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    HDC screen = ::GetDC(nullptr);
    int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

HFONT MakeFont(const LayoutFont& font, int pixelHeight) {
    return ::CreateFontW(-pixelHeight, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, font.italic, font.underline, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, font.face.c_str());
}

} // namespace

WindowSpec ScaledLook(const WindowSpec& look, const Scale& scale) {
    WindowSpec out = look;
    out.size = scale.Px(look.size);
    out.caption = scale.Px(look.caption);
    out.sizeBox = scale.Px(look.sizeBox);
    out.roundCorner = scale.Px(look.roundCorner);
    out.borderSize = look.borderSize > 0 ? std::max(1, scale.Px(look.borderSize)) : 0;
    out.shadowSize = scale.Px(look.shadowSize);
    out.shadowPosition = scale.Px(look.shadowPosition);
    return out;
}

bool Window::keyboardUsed_ = false;

Window::Window() = default;

Window::~Window() {
    if (hwnd_ != nullptr && ::IsWindow(hwnd_)) {
        ::DestroyWindow(hwnd_);
    }
    // Clients may still hold the object: from now on it answers that it is no longer connected.
    DisconnectAccessibleClient(accessible_);
    ReleaseAccessibleClient(accessible_);
}

std::unique_ptr<Control> Window::CreateControl(const std::wstring&) {
    return nullptr;
}

bool Window::LoadLayout() {
    std::wstring file = GetSkinFile();
    std::string xml;
    wchar_t* end = nullptr;
    long id = std::wcstol(file.c_str(), &end, 10);
    HMODULE module = GetInstance();
    const std::wstring folder = GetSkinFolder().empty() ? GetResourcePath() : GetSkinFolder();
    if (!file.empty() && end != nullptr && *end == L'\0' && id > 0) {
        std::wstring type = GetSkinType();
        std::transform(type.begin(), type.end(), type.begin(), ::towupper);
        HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), type.c_str());
        HGLOBAL data = res != nullptr ? ::LoadResource(module, res) : nullptr;
        const char* bytes = data != nullptr ? static_cast<const char*>(::LockResource(data)) : nullptr;
        if (bytes == nullptr) {
            DEBUG_LOG(L"layout resource %s not found", file.c_str());
            return false;
        }
        xml.assign(bytes, ::SizeofResource(module, res));
    } else {
        std::wstring path = folder;
        if (!path.empty() && path.back() != L'\\') {
            path += L'\\';
        }
        path += file;
        Utils::UniqueFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!f || !::GetFileSizeEx(f.get(), &size) || size.QuadPart > (16 << 20)) {
            DEBUG_LOG(L"layout file %s cannot be read", path.c_str());
            return false;
        }
        xml.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!::ReadFile(f.get(), xml.data(), static_cast<DWORD>(xml.size()), &got, nullptr) || got != xml.size()) {
            return false;
        }
    }
    images_.SetSource(module, folder);
    return BuildLayout(*this, xml);
}

bool Window::Create(HWND owner, const std::wstring& title, DWORD style, DWORD exStyle, int x, int y, int cx, int cy) {
    if (hwnd_ != nullptr) {
        return false;
    }
    StartGdiplus();
    if (!root_ && !LoadLayout()) {
        return false;
    }
    std::wstring cls = GetWindowClassName();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = StaticProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = cls.c_str();
    ::RegisterClassExW(&wc); // the class may exist from an earlier window
    owner_ = owner;
    modalResult_ = 0;
    // The window is shown only once it has its size, region, child controls and layout: shown earlier (WS_VISIBLE
    // at creation), Wine paints it before the tree is ready and never again.
    const bool visible = (style & WS_VISIBLE) != 0;
    look_ = ScaledLook(layoutLook_, scale_);
    HWND hwnd = ::CreateWindowExW(exStyle, cls.c_str(), title.c_str(), style & ~WS_VISIBLE, x, y, cx, cy, owner,
                                  nullptr, wc.hInstance, this);
    if (hwnd == nullptr) {
        DEBUG_LOG(L"CreateWindowExW failed: %lu", ::GetLastError());
        return false;
    }
    // An owned window (a dialog) takes its owner's scale.
    ApplyDpi(DpiOf(owner != nullptr ? owner : hwnd));
    if (look_.size.cx > 0 && look_.size.cy > 0) {
        ::SetWindowPos(hwnd, nullptr, 0, 0, look_.size.cx, look_.size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ForEachControl(root_.get(), [&](Control* c) {
        if (auto* edit = dynamic_cast<Edit*>(c)) {
            edit->CreateHost(hwnd, GetFont(edit->FontId()));
        }
    });
    if (look_.showShadow && look_.shadowSize > 0) {
        shadow_ = std::make_unique<ShadowWindow>();
        shadow_->Create(owner);
    }
    UpdateRegion();
    unbound_.clear();
    InitWindow();
    if (!unbound_.empty()) {
        std::wstring names;
        for (const std::wstring& name : unbound_) {
            names += L" " + name;
        }
        DEBUG_LOG(L"skin %s lacks controls the window needs:%s", GetSkinFile().c_str(), names.c_str());
        ::DestroyWindow(hwnd);
        return false;
    }
    FocusDefault();
    NeedLayout();
    if (visible) {
        ::ShowWindow(hwnd, SW_SHOW);
    }
    return true;
}

void Window::ApplyDpi(int dpi) {
    scale_ = Scale(dpi);
    look_ = ScaledLook(layoutLook_, scale_);
    MakeFonts();
    ForEachControl(root_.get(), [&](Control* c) {
        if (auto* edit = dynamic_cast<Edit*>(c)) {
            edit->SetHostFont(GetFont(edit->FontId()));
        }
    });
    NeedLayout();
}

void Window::MakeFonts() {
    fonts_.clear();
    fitted_.clear();
    for (const auto& [id, layoutFont] : layoutFonts_) {
        Utils::UniqueGdiObject font(MakeFont(layoutFont, scale_.Px(layoutFont.size)));
        if (font) {
            fonts_[id] = std::move(font);
        }
    }
}

void Window::OnDpiChanged(int dpi, const RECT* suggested) {
    ApplyDpi(dpi);
    if (suggested != nullptr) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (look_.size.cx > 0 && look_.size.cy > 0) {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, look_.size.cx, look_.size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    UpdateRegion();
    KeepShadowBelow(WM_MOVE, 0);
    Invalidate();
}

HFONT Window::FittingFont(HDC dc, int id, const std::wstring& text, const RECT& room, UINT format) {
    HFONT font = GetFont(id);
    const auto* layoutFont = LayoutFontOf(id);
    const int roomWidth = static_cast<int>(room.right - room.left);
    const int roomHeight = static_cast<int>(room.bottom - room.top);
    if (layoutFont == nullptr || text.empty() || roomWidth <= 0 || roomHeight <= 0) {
        return font;
    }
    auto fits = [&](HFONT candidate) {
        RECT calc = room;
        HGDIOBJ old = ::SelectObject(dc, candidate);
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc, format | DT_CALCRECT);
        ::SelectObject(dc, old);
        return calc.right - calc.left <= roomWidth &&
               ((format & DT_SINGLELINE) != 0 || calc.bottom - calc.top <= roomHeight);
    };
    if (fits(font)) {
        return font;
    }
    // Smaller one pixel at a time, down to three quarters of the size; the smallest is used if none fits.
    const int full = scale_.Px(layoutFont->second.size);
    for (int height = full - 1; height >= std::max(1, full * 3 / 4); --height) {
        font = FontOfHeight(layoutFont->first, height);
        if (fits(font)) {
            break;
        }
    }
    return font;
}

const std::pair<const int, LayoutFont>* Window::LayoutFontOf(int id) const {
    auto it = layoutFonts_.find(id);
    if (it == layoutFonts_.end()) {
        it = layoutFonts_.find(defaultFont_);
    }
    return it == layoutFonts_.end() ? nullptr : &*it;
}

HFONT Window::FontOfHeight(int id, int pixelHeight) {
    const auto* layoutFont = LayoutFontOf(id);
    if (layoutFont == nullptr) {
        return GetFont(id);
    }
    if (pixelHeight <= 0) {
        pixelHeight = layoutFont->second.size;
    }
    auto key = std::make_pair(layoutFont->first, pixelHeight);
    auto it = fitted_.find(key);
    if (it == fitted_.end()) {
        it = fitted_.emplace(key, Utils::UniqueGdiObject(MakeFont(layoutFont->second, pixelHeight))).first;
    }
    return it->second ? static_cast<HFONT>(it->second.get()) : GetFont(id);
}

HFONT Window::GetFont(int id) const {
    auto it = fonts_.find(id);
    if (it == fonts_.end()) {
        it = fonts_.find(defaultFont_);
    }
    return it == fonts_.end() ? static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT))
                              : static_cast<HFONT>(it->second.get());
}

Control* Window::FindControl(const std::wstring& name) const {
    Control* found = nullptr;
    ForEachControl(root_.get(), [&](Control* c) {
        if (found == nullptr && c->GetName() == name) {
            found = c;
        }
    });
    return found;
}

void Window::CenterWindow() {
    if (hwnd_ == nullptr) {
        return;
    }
    RECT wr{};
    ::GetWindowRect(hwnd_, &wr);
    RECT area{};
    HWND ref = owner_ != nullptr && ::IsWindowVisible(owner_) && !::IsIconic(owner_) ? owner_ : nullptr;
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(ref != nullptr ? ref : hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
    if (ref != nullptr) {
        ::GetWindowRect(ref, &area);
    } else {
        area = mi.rcWork;
    }
    int w = static_cast<int>(wr.right - wr.left);
    int h = static_cast<int>(wr.bottom - wr.top);
    int x = static_cast<int>(area.left + (area.right - area.left - w) / 2);
    int y = static_cast<int>(area.top + (area.bottom - area.top - h) / 2);
    // Keep the whole window on the monitor's work area.
    x = std::max<int>(mi.rcWork.left, std::min<int>(x, mi.rcWork.right - w));
    y = std::max<int>(mi.rcWork.top, std::min<int>(y, mi.rcWork.bottom - h));
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::ShowWindow(bool show) {
    if (hwnd_ != nullptr) {
        ::ShowWindow(hwnd_, show ? SW_SHOW : SW_HIDE);
    }
}

int Window::ShowModal() {
    if (hwnd_ == nullptr) {
        return -1;
    }
    modal_ = true;
    // A dialog stacked on another finds the owner disabled already: only the one that disabled it enables it.
    disabledOwner_ = owner_ != nullptr && ::EnableWindow(owner_, FALSE) == 0;
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    if (IsDialog()) {
        ::NotifyWinEvent(EVENT_SYSTEM_DIALOGSTART, hwnd_, OBJID_WINDOW, CHILDID_SELF);
    }
    MSG msg{};
    while (hwnd_ != nullptr) {
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
            // WM_QUIT belongs to an outer loop: end this one and hand it on.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (r < 0) {
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    modal_ = false;
    return modalResult_;
}

void Window::Close(int result) {
    if (hwnd_ == nullptr) {
        return;
    }
    modalResult_ = result;
    if (modal_ && IsDialog()) {
        ::NotifyWinEvent(EVENT_SYSTEM_DIALOGEND, hwnd_, OBJID_WINDOW, CHILDID_SELF);
    }
    // The owner is enabled before this window goes, so that activation returns to it.
    EnableOwnerAgain();
    ::DestroyWindow(hwnd_);
}

void Window::EnableOwnerAgain() {
    if (modal_ && disabledOwner_) {
        disabledOwner_ = false;
        ::EnableWindow(owner_, TRUE);
    }
}

void Window::SendNotify(Control* sender, const std::wstring& type, WPARAM wp, LPARAM lp) {
    UiKit::Notify msg{type, sender, wp, lp};
    Notify(msg);
}

bool Window::PostNotify(Control* sender, const std::wstring& type, WPARAM wp, LPARAM lp) {
    auto* msg = new UiKit::Notify{type, sender, wp, lp};
    if (hwnd_ == nullptr || !::PostMessageW(hwnd_, WM_UIKIT_NOTIFY, 0, reinterpret_cast<LPARAM>(msg))) {
        delete msg;
        return false;
    }
    return true; // the window owns the record now
}

void Window::Notify(const UiKit::Notify& msg) {
    if (msg.type == L"click") {
        OnClick(msg);
    }
}

void Window::OnClick(const UiKit::Notify& msg) {
    if (msg.sender == nullptr || hwnd_ == nullptr) {
        return;
    }
    const std::wstring& name = msg.sender->GetName();
    if (name == L"closebtn") {
        ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
    } else if (name == L"minbtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"maxbtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (name == L"restorebtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

LRESULT Window::HandleMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT Window::OnSysCommand(WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

std::wstring Window::AccessibleName() const {
    if (hwnd_ == nullptr) {
        return L"";
    }
    int len = ::GetWindowTextLengthW(hwnd_);
    std::wstring title(static_cast<size_t>(len) + 1, L'\0');
    title.resize(static_cast<size_t>(std::max(0, ::GetWindowTextW(hwnd_, title.data(), len + 1))));
    return title;
}

Control* Window::DefaultControl() const {
    Control* found = nullptr;
    ForEachControl(root_.get(), [&](Control* c) {
        if (found == nullptr && c->IsDefault() && c->IsEnabled() && c->IsShown()) {
            found = c;
        }
    });
    return found;
}

void Window::FocusDefault() {
    Control* target = DefaultControl();
    if (hwnd_ != nullptr && ::IsWindowVisible(hwnd_)) {
        SetFocus(target); // null: the window itself keeps the focus
        return;
    }
    // Not shown yet: the control is marked, the system focus follows when the window is activated.
    if (focus_ != target) {
        if (focus_ != nullptr) {
            focus_->SetFocused(false);
        }
        focus_ = target;
        if (focus_ != nullptr) {
            focus_->SetFocused(true);
        }
    }
}

bool Window::QueueActivate(Control* control) {
    // A window disabled under a modal dialog takes no clicks, and so no presses either.
    return hwnd_ != nullptr && control != nullptr && ::IsWindowEnabled(hwnd_) &&
           ::PostMessageW(hwnd_, WM_UIKIT_ACTIVATE, 0, reinterpret_cast<LPARAM>(control));
}

void Window::AccessibleEvent(DWORD event, Control* control) {
    if (hwnd_ == nullptr || dynamic_cast<Edit*>(control) != nullptr) {
        return;
    }
    LONG id = CHILDID_SELF;
    if (control != nullptr) {
        std::vector<Control*> all = AccElements(root_.get());
        auto it = std::find(all.begin(), all.end(), control);
        if (it == all.end()) {
            return;
        }
        id = static_cast<LONG>(it - all.begin()) + 1;
    }
    ::NotifyWinEvent(event, hwnd_, OBJID_CLIENT, id);
}

namespace {
constexpr DWORD kValueEventGapMs = 250;
} // namespace

void Window::ValueChanged(Control* control) {
    if (hwnd_ == nullptr) {
        return;
    }
    DWORD now = ::GetTickCount();
    if (pendingValue_ == nullptr && now - lastValueEvent_ >= kValueEventGapMs) {
        lastValueEvent_ = now;
        AccessibleEvent(EVENT_OBJECT_VALUECHANGE, control);
        return;
    }
    // Too soon after the last report: the value is reported when the gap has passed.
    if (pendingValue_ == nullptr) {
        ::SetTimer(hwnd_, kValueTimer, kValueEventGapMs, nullptr);
    }
    pendingValue_ = control;
}

void Window::OnValueTimer() {
    ::KillTimer(hwnd_, kValueTimer);
    if (pendingValue_ != nullptr) {
        Control* control = pendingValue_;
        pendingValue_ = nullptr;
        lastValueEvent_ = ::GetTickCount();
        AccessibleEvent(EVENT_OBJECT_VALUECHANGE, control);
    }
}

void Window::ViewChanged() {
    AccessibleEvent(EVENT_OBJECT_REORDER, nullptr);
    FocusDefault();
}

void Window::DrawFocusCue(HDC dc) {
    if (!keyboardUsed_ || focus_ == nullptr || !focus_->IsShown() || dynamic_cast<Edit*>(focus_) != nullptr) {
        return;
    }
    // Two white lines and a dark one inside them: clear on the blue pages and on the white dialogs alike.
    // Scaled with the window: at 200 % four white lines and two dark ones.
    RECT rc = focus_->GetPos();
    Utils::UniqueGdiObject white(::CreateSolidBrush(RGB(255, 255, 255)));
    Utils::UniqueGdiObject dark(::CreateSolidBrush(RGB(0x1A, 0x1A, 0x1A)));
    const int whiteLines = std::max(1, scale_.Px(2));
    const int lines = std::max(whiteLines + 1, scale_.Px(3));
    for (int i = 0; i < lines; ++i) {
        HGDIOBJ brush = i < whiteLines ? white.get() : dark.get();
        if (rc.right - rc.left < 2 || rc.bottom - rc.top < 2 || brush == nullptr) {
            return;
        }
        ::FrameRect(dc, &rc, static_cast<HBRUSH>(brush));
        ::InflateRect(&rc, -1, -1);
    }
}

bool Window::SetTimer(Control* control, UINT id, UINT elapseMs) {
    if (hwnd_ == nullptr || control == nullptr) {
        return false;
    }
    UINT_PTR key = 0;
    for (const auto& [k, t] : timers_) {
        if (t.control == control && t.id == id) {
            key = k;
        }
    }
    if (key == 0) {
        key = nextTimer_++;
        timers_[key] = TimerKey{control, id};
    }
    if (::SetTimer(hwnd_, key, elapseMs, nullptr) == 0) {
        timers_.erase(key);
        return false;
    }
    return true;
}

void Window::KillTimer(Control* control, UINT id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.control == control && it->second.id == id) {
            if (hwnd_ != nullptr) {
                ::KillTimer(hwnd_, it->first);
            }
            timers_.erase(it);
            return;
        }
    }
}

void Window::ReleaseTimers() {
    for (const auto& entry : timers_) {
        ::KillTimer(hwnd_, entry.first);
    }
    timers_.clear();
}

void Window::SetFocus(Control* control) {
    if (control != nullptr && (!control->CanFocus() || !control->IsShown())) {
        return;
    }
    const bool changed = focus_ != control;
    if (changed) {
        if (focus_ != nullptr) {
            focus_->SetFocused(false);
        }
        focus_ = control;
        if (focus_ != nullptr) {
            focus_->SetFocused(true);
        }
    }
    if (hwnd_ == nullptr) {
        return;
    }
    auto* edit = dynamic_cast<Edit*>(control);
    HWND target = edit != nullptr && edit->EditHandle() != nullptr ? edit->EditHandle() : hwnd_;
    if (::GetFocus() != target) {
        ::SetFocus(target); // WM_SETFOCUS reports the focus (the edit box's window reports its own)
    } else if (changed) {
        AccessibleEvent(EVENT_OBJECT_FOCUS, focus_);
    }
}

void Window::Invalidate() {
    if (hwnd_ != nullptr) {
        ::InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

void Window::NeedLayout() {
    layoutDirty_ = true;
    Invalidate();
}

void Window::ControlRemovedFromView(Control* control) {
    if (hot_ != nullptr && IsWithin(hot_, control)) {
        hot_->SetHot(false);
        hot_ = nullptr;
    }
    if (pushed_ != nullptr && IsWithin(pushed_, control)) {
        pushed_->SetPushed(false);
        pushed_ = nullptr;
    }
    if (focus_ != nullptr && IsWithin(focus_, control)) {
        focus_->SetFocused(false);
        focus_ = nullptr;
    }
}

void Window::Layout() {
    layoutDirty_ = false;
    if (!root_ || hwnd_ == nullptr) {
        return;
    }
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    // Labels that fit their text get their width from the text before the boxes are arranged.
    HDC dc = ::GetDC(hwnd_);
    ForEachControl(root_.get(), [&](Control* c) {
        auto* label = dynamic_cast<Label*>(c);
        if (label == nullptr || !label->AutoWidth()) {
            return;
        }
        // Measured with the font at 96 DPI: the width is in units, and scales with the rest of the layout (where
        // the scaled font turns out wider, the font gives way when the text is drawn).
        std::wstring text = label->GetText();
        HGDIOBJ old = ::SelectObject(dc, FontOfHeight(label->FontId(), 0));
        SIZE sz{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &sz);
        ::SelectObject(dc, old);
        const RECT& tp = label->TextPadding();
        label->SetFixedWidth(static_cast<int>(sz.cx + tp.left + tp.right));
    });
    ::ReleaseDC(hwnd_, dc);
    // The tree is arranged in units, then every rectangle becomes device pixels.
    root_->SetPos(scale_.Units(client));
    ForEachControl(root_.get(), [&](Control* c) { c->Place(scale_); });
}

bool Window::RenderTo(HDC dc) {
    if (!root_ || hwnd_ == nullptr) {
        return false;
    }
    if (layoutDirty_) {
        Layout();
    }
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    {
        Canvas canvas(dc, images_, scale_);
        canvas.Fill(client, 0xFFFFFFFF);
        root_->Paint(canvas);
        if (look_.borderSize > 0 && look_.borderColor != 0) {
            canvas.Frame(client, layoutLook_.borderSize, layoutLook_.borderColor,
                         layoutLook_.roundCorner); // the canvas scales them
        }
    }
    DrawFocusCue(dc); // over everything, once the drawing above has reached the bitmap
    return true;
}

bool Window::RenderShadow(std::vector<uint32_t>& pixels, SIZE& size) const {
    if (hwnd_ == nullptr || !look_.showShadow) {
        return false;
    }
    RECT wr{};
    ::GetWindowRect(hwnd_, &wr);
    int w = static_cast<int>(wr.right - wr.left);
    int h = static_cast<int>(wr.bottom - wr.top);
    pixels = MakeShadow(w, h, look_.roundCorner, look_.shadowSize, look_.shadowSharpness, look_.shadowDarkness,
                        look_.shadowPosition, look_.shadowColor);
    size = SIZE{w + 2 * look_.shadowSize, h + 2 * look_.shadowSize};
    return true;
}

void Window::Paint() {
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    int w = static_cast<int>(client.right);
    int h = static_cast<int>(client.bottom);
    if (w > 0 && h > 0) {
        // Double buffer: the whole tree is drawn off screen and copied in one blit.
        Utils::UniqueMemoryDc mem(::CreateCompatibleDC(dc));
        void* bits = nullptr;
        Utils::UniqueGdiObject dib = NewDib32(dc, w, h, bits);
        if (mem && dib) {
            HGDIOBJ old = ::SelectObject(mem.get(), dib.get());
            RenderTo(mem.get());
            ::BitBlt(dc, 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
            ::SelectObject(mem.get(), old);
        }
    }
    ::EndPaint(hwnd_, &ps);
}

void Window::UpdateRegion() {
    if (hwnd_ == nullptr || look_.roundCorner.cx <= 0 || look_.roundCorner.cy <= 0 || ::IsZoomed(hwnd_)) {
        if (hwnd_ != nullptr) {
            ::SetWindowRgn(hwnd_, nullptr, TRUE);
        }
        return;
    }
    RECT wr{};
    ::GetWindowRect(hwnd_, &wr);
    HRGN rgn = ::CreateRoundRectRgn(0, 0, wr.right - wr.left + 1, wr.bottom - wr.top + 1, look_.roundCorner.cx,
                                    look_.roundCorner.cy);
    if (rgn != nullptr && ::SetWindowRgn(hwnd_, rgn, TRUE) == 0) {
        Utils::UniqueGdiObject discard(rgn); // the system owns the region only when SetWindowRgn succeeded
    }
}

} // namespace UiKit
