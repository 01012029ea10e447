// Drives windows under Xvfb from a test: real X mouse input through xdotool, screenshots through ImageMagick's
// import (both are Linux programs, which Wine starts like any other process), message pumping, off-screen renders.
#pragma once

#include <windows.h>

#include <string>

#include "uikit/Window.h"

namespace GuiDriver {

// Runs a Linux program (absolute path) with arguments and waits up to `timeoutMs`; true when it was started and
// ended in time.
bool RunHost(const std::wstring& commandLine, DWORD timeoutMs = 20000);
// The Linux path of a Windows path on drive Z: (the build tree); empty for other drives.
std::wstring UnixPath(const std::wstring& windowsPath);

// Real pointer input on the X display.
bool MoveMouse(POINT screen);
bool Click(POINT screen, int times = 1);
// Real key presses (xdotool key names, space-separated, e.g. "Tab shift+Tab Return") to the window with the focus.
bool Keys(const std::wstring& keys);
// Centre of a control in screen coordinates.
POINT CenterOf(const UiKit::Window& window, const UiKit::Control& control);

// Processes this thread's messages for `ms` milliseconds.
void Pump(DWORD ms);
// Pumps until `done` returns true or `ms` pass; returns the last value of `done`.
template <class Fn> bool PumpUntil(Fn&& done, DWORD ms) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > ms) {
            return false;
        }
        Pump(10);
    }
    return true;
}

// Folder for screenshots under the build tree ("screenshots" beside the test executable), created on demand.
std::wstring ScreenshotFolder();
// Captures the screen area of `rc` (screen coordinates) into a PNG with import; true when the file exists after.
bool CaptureScreen(const RECT& rc, const std::wstring& pngPath);
// Renders `window` off screen as the user sees it on a composited desktop: shadow, round corners, content, over a
// light grey backdrop; saved as PNG with GDI+.
bool SaveComposite(const UiKit::Window& window, const std::wstring& pngPath);
// Pixel of a PNG file (ARGB), for checks of saved screenshots; 0 when it cannot be read.
uint32_t PixelOf(const std::wstring& pngPath, int x, int y);

} // namespace GuiDriver
