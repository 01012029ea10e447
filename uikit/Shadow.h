// The drop shadow: a per-pixel-alpha layered window kept just below its window, and the pure pixel rule.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "uikit/Parse.h"

namespace UiKit {

// Alpha (0..255) of a shadow pixel whose distance from the window's outline is `distance` pixels (0 or less:
// under the window). `size` is the shadow's reach, `sharpness` how fast it fades (higher: faster), `darkness`
// its strength (the alpha at the outline is three times the darkness, at most 255).
uint8_t ShadowAlpha(double distance, int size, int sharpness, int darkness);

// Distance from (x, y) to a rounded rectangle [0, w) x [0, h) with corner ellipse `round` (<= 0 inside).
double RoundRectDistance(double x, double y, int w, int h, SIZE round);

// The shadow bitmap for a window of `w` x `h`: premultiplied ARGB, (w + 2 * size) x (h + 2 * size), top-down.
std::vector<uint32_t> MakeShadow(int w, int h, SIZE round, int size, int sharpness, int darkness, POINT offset,
                                 Argb color);

class ShadowWindow {
public:
    ShadowWindow() = default;
    ~ShadowWindow();
    ShadowWindow(const ShadowWindow&) = delete;
    ShadowWindow& operator=(const ShadowWindow&) = delete;

    // Fills `pixels` with the shadow of the window as it is now (see MakeShadow); false when there is none.
    using Render = std::function<bool(std::vector<uint32_t>& pixels)>;

    bool Create(HWND owner);
    // Places the shadow around `windowRect` (screen) just below `above` and shows or hides it. The shadow's
    // pixels depend only on the window's size: `render` is called only when the size differs from the one
    // painted last, not on every move or activation.
    void Follow(HWND above, const RECT& windowRect, bool visible, int size, const Render& render);

private:
    HWND hwnd_ = nullptr;
    SIZE painted_{};
};

} // namespace UiKit
