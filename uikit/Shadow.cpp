#include "uikit/Shadow.h"

#include <algorithm>
#include <cmath>

#include "uikit/Render.h"
#include "utils/ScopedWin.h"

namespace UiKit {

uint8_t ShadowAlpha(double distance, int size, int sharpness, int darkness) {
    int peak = std::min(255, std::max(0, darkness) * 3);
    if (distance <= 0.0) {
        return static_cast<uint8_t>(peak);
    }
    if (size <= 0 || distance >= size) {
        return 0;
    }
    double t = 1.0 - distance / size; // 1 at the outline, 0 at the reach
    double exponent = 1.0 + std::max(0, sharpness) / 10.0;
    return static_cast<uint8_t>(std::lround(peak * std::pow(t, exponent)));
}

double RoundRectDistance(double x, double y, int w, int h, SIZE round) {
    double rx = std::min(round.cx / 2.0, w / 2.0);
    double ry = std::min(round.cy / 2.0, h / 2.0);
    // Distance to the inner rectangle shrunk by the corner radii, less the radius (circular approximation).
    double r = std::max(0.0, std::min(rx, ry));
    double cx = std::clamp(x, r, static_cast<double>(w) - r);
    double cy = std::clamp(y, r, static_cast<double>(h) - r);
    double dx = x - cx;
    double dy = y - cy;
    double outside = std::sqrt(dx * dx + dy * dy) - r;
    return outside;
}

std::vector<uint32_t> MakeShadow(int w, int h, SIZE round, int size, int sharpness, int darkness, POINT offset,
                                 Argb color) {
    int bw = w + 2 * size;
    int bh = h + 2 * size;
    std::vector<uint32_t> pixels(static_cast<size_t>(std::max(0, bw)) * static_cast<size_t>(std::max(0, bh)), 0);
    uint32_t r = (color >> 16) & 0xFF;
    uint32_t g = (color >> 8) & 0xFF;
    uint32_t b = color & 0xFF;
    for (int y = 0; y < bh; ++y) {
        for (int x = 0; x < bw; ++x) {
            double px = x + 0.5 - size - offset.x;
            double py = y + 0.5 - size - offset.y;
            uint32_t a = ShadowAlpha(RoundRectDistance(px, py, w, h, round), size, sharpness, darkness);
            // Premultiplied, as UpdateLayeredWindow expects.
            pixels[static_cast<size_t>(y) * bw + x] =
                (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
        }
    }
    return pixels;
}

namespace {

LRESULT CALLBACK ShadowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCHITTEST) {
        return HTTRANSPARENT;
    }
    if (msg == WM_MOUSEACTIVATE) {
        return MA_NOACTIVATE;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

const wchar_t kShadowClass[] = L"UiKitShadow";

} // namespace

ShadowWindow::~ShadowWindow() {
    if (hwnd_ != nullptr && ::IsWindow(hwnd_)) {
        ::DestroyWindow(hwnd_);
    }
}

bool ShadowWindow::Create(HWND owner) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ShadowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kShadowClass;
    ::RegisterClassExW(&wc); // fails harmlessly when already registered
    hwnd_ = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kShadowClass,
                              L"", WS_POPUP, 0, 0, 0, 0, owner, nullptr, wc.hInstance, nullptr);
    return hwnd_ != nullptr;
}

void ShadowWindow::Follow(HWND above, const RECT& wr, bool visible, int size, const Render& render) {
    if (hwnd_ == nullptr) {
        return;
    }
    if (!visible || ::IsIconic(above) || ::IsZoomed(above)) {
        ::ShowWindow(hwnd_, SW_HIDE);
        return;
    }
    int w = static_cast<int>(wr.right - wr.left) + 2 * size;
    int h = static_cast<int>(wr.bottom - wr.top) + 2 * size;
    POINT pos{wr.left - size, wr.top - size};
    SIZE sz{w, h};
    if (sz.cx != painted_.cx || sz.cy != painted_.cy) {
        std::vector<uint32_t> pixels;
        if (!render(pixels) || pixels.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) {
            return;
        }
        void* bits = nullptr;
        Utils::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
        Utils::UniqueGdiObject dib = NewDib32(dc.get(), w, h, bits);
        if (!dc || !dib || bits == nullptr) {
            return;
        }
        std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
        HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
        POINT zero{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ::UpdateLayeredWindow(hwnd_, nullptr, &pos, &sz, dc.get(), &zero, 0, &blend, ULW_ALPHA);
        ::SelectObject(dc.get(), old);
        painted_ = sz;
    }
    ::SetWindowPos(hwnd_, above, pos.x, pos.y, w, h, SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

} // namespace UiKit
