// The edit box: the frame is painted by the skin, the text lives in a real EDIT child window inside it, so
// selection, caret, clipboard and input methods are the system's.
#include <algorithm>

#include "uikit/Control.h"
#include "uikit/Render.h"
#include "uikit/Window.h"

namespace UiKit {

namespace {

// Tab, Enter and Esc belong to the skinned window (focus order, main button, cancel), not to the edit box.
LRESULT CALLBACK EditKeys(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const bool windowKey = wp == VK_TAB || wp == VK_RETURN || wp == VK_ESCAPE;
    if (msg == WM_KEYDOWN && windowKey) {
        ::SendMessageW(::GetParent(hwnd), WM_KEYDOWN, wp, lp);
        return 0;
    }
    if (msg == WM_CHAR && (wp == L'\t' || wp == L'\r' || wp == 0x1B)) {
        return 0; // the edit box would beep
    }
    return ::CallWindowProcW(original, hwnd, msg, wp, lp);
}

} // namespace

Edit::Edit() {
    mouse_ = true;
}

Edit::~Edit() = default; // the child window is destroyed with the top-level window

bool Edit::SetAttribute(const std::wstring& n, const std::wstring& v) {
    if (n == L"readonly") {
        readOnly_ = ParseBool(v, false);
    } else if (n == L"password") {
        password_ = ParseBool(v, false);
    } else if (n == L"maxchar") {
        maxChars_ = std::max(1, ParseInt(v, 260));
    } else {
        return Label::SetAttribute(n, v);
    }
    return true;
}

void Edit::CreateHost(HWND parent, HFONT font) {
    if (hwnd_ != nullptr) {
        return;
    }
    DWORD style = WS_CHILD | ES_AUTOHSCROLL | (readOnly_ ? ES_READONLY : 0) | (password_ ? ES_PASSWORD : 0);
    hwnd_ = ::CreateWindowExW(0, L"EDIT", text_.c_str(), style, 0, 0, 0, 0, parent, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr) {
        return;
    }
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA,
                        ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditKeys)));
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SendMessageW(hwnd_, EM_SETLIMITTEXT, static_cast<WPARAM>(maxChars_), 0);
    ::SendMessageW(hwnd_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::EnableWindow(hwnd_, enabled_ ? TRUE : FALSE);
    PlaceHost();
}

void Edit::PlaceHost() {
    if (hwnd_ == nullptr) {
        return;
    }
    const RECT pad = window_ != nullptr ? window_->GetScale().Px(textPadding_) : textPadding_;
    RECT rc{rect_.left + pad.left, rect_.top + pad.top, rect_.right - pad.right, rect_.bottom - pad.bottom};
    // A single-line EDIT draws its text at the top: give it one line's height, centred in the text area.
    int lineHeight = 0;
    HDC dc = ::GetDC(hwnd_);
    if (dc != nullptr) {
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
        TEXTMETRICW tm{};
        ::GetTextMetricsW(dc, &tm);
        lineHeight = tm.tmHeight + 2;
        ::SelectObject(dc, old);
        ::ReleaseDC(hwnd_, dc);
    }
    int room = static_cast<int>(rc.bottom - rc.top);
    if (lineHeight > 0 && lineHeight < room) {
        rc.top += (room - lineHeight) / 2;
        rc.bottom = rc.top + lineHeight;
    }
    bool shown = IsShown() && rc.right > rc.left && rc.bottom > rc.top;
    ::SetWindowPos(hwnd_, nullptr, rc.left, rc.top, std::max(0L, rc.right - rc.left), std::max(0L, rc.bottom - rc.top),
                   SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void Edit::Place(const Scale& scale) {
    Label::Place(scale);
    PlaceHost();
}

void Edit::SetHostFont(HFONT font) {
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void Edit::OnVisibilityChanged() {
    PlaceHost();
}

void Edit::SetEnabled(bool enabled) {
    Label::SetEnabled(enabled);
    if (hwnd_ != nullptr) {
        ::EnableWindow(hwnd_, enabled ? TRUE : FALSE);
    }
}

std::wstring Edit::GetText() const {
    if (hwnd_ == nullptr) {
        return text_;
    }
    int len = ::GetWindowTextLengthW(hwnd_);
    std::wstring out(static_cast<size_t>(len) + 1, L'\0');
    int got = ::GetWindowTextW(hwnd_, out.data(), len + 1);
    out.resize(static_cast<size_t>(std::max(0, got)));
    return out;
}

void Edit::SetText(const std::wstring& text) {
    text_ = text;
    if (hwnd_ != nullptr) {
        ::SetWindowTextW(hwnd_, text.c_str());
    }
    Invalidate();
}

HBRUSH Edit::ChildColors(HDC dc) {
    Argb tc = TextColor();
    Argb bk = EditBkColor();
    // A transparent edit background shows as white, the inside of the edit frame.
    COLORREF back = (bk >> 24) == 0 ? RGB(255, 255, 255) : RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF);
    ::SetTextColor(dc, RGB((tc >> 16) & 0xFF, (tc >> 8) & 0xFF, tc & 0xFF));
    ::SetBkColor(dc, back);
    // The child asks on every paint: the brush is made on the first request and again only if the colour changed.
    if (!brush_ || brushColor_ != back) {
        brush_.reset(::CreateSolidBrush(back));
        brushColor_ = back;
    }
    return static_cast<HBRUSH>(brush_.get());
}

void Edit::Paint(Canvas& canvas) {
    // Frame and background only; the child window draws the text.
    PaintBackground(canvas);
    PaintBorder(canvas);
    if (hwnd_ == nullptr) {
        PaintText(canvas, CurrentTextColor());
    }
}

} // namespace UiKit
