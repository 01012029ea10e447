// The display scale of a window. Layouts are written in 96-DPI pixels ("units"); a window shows them in device
// pixels, units x DPI / 96, rounded to the nearest pixel. Images come from the level at or above the scale.
// Pure: values in, values out.
#pragma once

#include <windows.h>

namespace UiKit {

constexpr int kBaseDpi = 96;
// The DPI levels images are drawn for: 100 %, 125 %, 150 % and 200 %.
constexpr int kImageLevels[] = {96, 120, 144, 192};

class Scale {
public:
    explicit Scale(int dpi = kBaseDpi) : dpi_(dpi >= 24 ? dpi : kBaseDpi) {}
    int Dpi() const { return dpi_; }
    bool IsIdentity() const { return dpi_ == kBaseDpi; }

    int Px(int units) const;
    // Each edge on its own, so that neighbours sharing an edge in units share it in pixels.
    RECT Px(const RECT& units) const;
    SIZE Px(SIZE units) const;
    POINT Px(POINT units) const;
    // Device pixels back to units, rounded to the nearest unit.
    int Units(int px) const;
    RECT Units(const RECT& px) const;
    // A width in device pixels as units, rounded up: text measured in pixels never loses a pixel in units.
    int UnitsUp(int px) const;
    // The level whose images are drawn at or above this scale (the largest level above 200 %).
    int ImageLevel() const;

private:
    int dpi_;
};

// Scales `value` (any unit) by num / den, rounded to the nearest integer, halves away from zero.
int ScaleRounded(int value, int num, int den);

} // namespace UiKit
