#include "ui/SkinFrameBase.h"

int CSkinFrameBase::GetDpiLevel(int dpi) {
    if (dpi < 0) {
        return dpi;
    }
    if (dpi < 120) {
        return 96;
    }
    if (dpi < 144) {
        return 120;
    }
    if (dpi < 192) {
        return 144;
    }
    return 192;
}

void CSkinFrameBase::AdjustStyles() {
    HWND hwnd = GetHWND();
    if (hwnd == nullptr) {
        return;
    }
    LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    style = (style & ~static_cast<LONG_PTR>(0x00C10000)) | 0x06000000; // -WS_CAPTION -WS_MAXIMIZEBOX +CLIP*
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    LONG_PTR ex = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_TOPMOST));
    // The system keeps the topmost band in the z-order, not in the style bits: writing the style alone would leave
    // the window topmost, so it also leaves the band through SetWindowPos.
    UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED;
    if ((ex & WS_EX_TOPMOST) == 0) {
        flags |= SWP_NOZORDER;
    }
    ::SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
}

void CSkinFrameBase::InitWindow() {
    AdjustStyles();
}

std::wstring CSkinFrameBase::AccessibleName() const {
    if (UiKit::Control* caption = FindControl(L"captionLbl")) {
        return caption->GetText();
    }
    return UiKit::Window::AccessibleName();
}
