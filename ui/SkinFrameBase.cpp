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
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void CSkinFrameBase::InitWindow() { AdjustStyles(); }
