#include "tests/uikit/GuiDriver.h"

#include <algorithm>
#include <cstdio>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>

#include <gdiplus.h>
#include <vector>

#include "tests/support/TestSupport.h"
#include "uikit/Render.h"
#include "uikit/Shadow.h"
#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace GuiDriver {

bool RunHost(const std::wstring& commandLine, DWORD timeoutMs) {
    return TestSupport::RunHost(commandLine, timeoutMs);
}

std::wstring UnixPath(const std::wstring& path) {
    if (path.size() < 3 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') {
        return L"";
    }
    std::wstring out = path.substr(2);
    std::replace(out.begin(), out.end(), L'\\', L'/');
    return out;
}

bool MoveMouse(POINT p) {
    wchar_t cmd[200];
    Utils::FormatBounded(cmd, L"/usr/bin/xdotool mousemove %ld %ld", p.x, p.y);
    bool ok = RunHost(cmd);
    Pump(150);
    return ok;
}

bool Click(POINT p, int times) {
    wchar_t cmd[200];
    // Repeated clicks follow each other as fast as a quick double click.
    Utils::FormatBounded(cmd, L"/usr/bin/xdotool mousemove %ld %ld click --repeat %d --delay 30 1", p.x, p.y, times);
    bool ok = RunHost(cmd);
    return ok;
}

bool Keys(const std::wstring& keys) {
    bool ok = RunHost(L"/usr/bin/xdotool key --delay 80 " + keys);
    Pump(150);
    return ok;
}

POINT CenterOf(const UiKit::Window& window, const UiKit::Control& control) {
    const RECT& rc = control.GetPos();
    POINT p{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    ::ClientToScreen(window.GetHWND(), &p);
    return p;
}

void Pump(DWORD ms) {
    DWORD start = ::GetTickCount();
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (::GetTickCount() - start < ms);
}

std::wstring ScreenshotFolder() {
    std::wstring dir = TestSupport::ExeFolder() + L"\\screenshots";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool CaptureScreen(const RECT& rc, const std::wstring& pngPath) {
    ::DeleteFileW(pngPath.c_str());
    wchar_t cmd[1024];
    Utils::FormatBounded(cmd, L"/usr/bin/import -window root -crop %ldx%ld+%ld+%ld +repage %s", rc.right - rc.left,
                         rc.bottom - rc.top, rc.left, rc.top, UnixPath(pngPath).c_str());
    RunHost(cmd);
    return TestSupport::FileExists(pngPath);
}

namespace {

bool PngEncoder(CLSID& clsid) {
    UINT count = 0;
    UINT size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    if (size == 0) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

uint32_t Over(uint32_t dst, uint32_t srcPremultiplied) {
    uint32_t a = srcPremultiplied >> 24;
    auto channel = [&](int shift) {
        uint32_t s = (srcPremultiplied >> shift) & 0xFF;
        uint32_t d = (dst >> shift) & 0xFF;
        return (s + d * (255 - a) / 255) & 0xFF;
    };
    return 0xFF000000u | (channel(16) << 16) | (channel(8) << 8) | channel(0);
}

} // namespace

bool SaveComposite(const UiKit::Window& window, const std::wstring& pngPath) {
    HWND hwnd = window.GetHWND();
    RECT wr{};
    ::GetWindowRect(hwnd, &wr);
    int w = static_cast<int>(wr.right - wr.left);
    int h = static_cast<int>(wr.bottom - wr.top);
    const UiKit::WindowSpec& look = window.Look();
    int margin = look.showShadow ? look.shadowSize : 0;
    int cw = w + 2 * margin;
    int ch = h + 2 * margin;
    std::vector<uint32_t> out(static_cast<size_t>(cw) * ch, 0xFFE8E8E8u);
    std::vector<uint32_t> shadow;
    SIZE shadowSize{};
    if (const_cast<UiKit::Window&>(window).RenderShadow(shadow, shadowSize) && shadowSize.cx == cw &&
        shadowSize.cy == ch) {
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = Over(out[i], shadow[i]);
        }
    }
    // The window's own pixels, inside its round-corner region.
    void* bits = nullptr;
    Utils::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    Utils::UniqueGdiObject dib = UiKit::NewDib32(dc.get(), w, h, bits);
    if (!dc || !dib) {
        return false;
    }
    HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
    const_cast<UiKit::Window&>(window).RenderTo(dc.get());
    ::GdiFlush();
    Utils::UniqueGdiObject region;
    if (look.roundCorner.cx > 0) {
        region.reset(::CreateRoundRectRgn(0, 0, w + 1, h + 1, look.roundCorner.cx, look.roundCorner.cy));
    }
    const auto* px = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (region && !::PtInRegion(static_cast<HRGN>(region.get()), x, y)) {
                continue;
            }
            out[static_cast<size_t>(y + margin) * cw + x + margin] = 0xFF000000u | px[static_cast<size_t>(y) * w + x];
        }
    }
    ::SelectObject(dc.get(), old);
    Gdiplus::Bitmap bmp(cw, ch, cw * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(out.data()));
    CLSID png{};
    return PngEncoder(png) && bmp.Save(pngPath.c_str(), &png, nullptr) == Gdiplus::Ok;
}

uint32_t PixelOf(const std::wstring& pngPath, int x, int y) {
    Gdiplus::Bitmap bmp(pngPath.c_str());
    Gdiplus::Color c;
    if (bmp.GetLastStatus() != Gdiplus::Ok || bmp.GetPixel(x, y, &c) != Gdiplus::Ok) {
        return 0;
    }
    return c.GetValue();
}

} // namespace GuiDriver
