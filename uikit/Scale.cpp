#include "uikit/Scale.h"

namespace UiKit {

int ScaleRounded(int value, int num, int den) {
    if (den <= 0) {
        return value;
    }
    long long product = static_cast<long long>(value) * num;
    long long half = den / 2;
    return static_cast<int>(product >= 0 ? (product + half) / den : -((-product + half) / den));
}

namespace {

template <class Fn> RECT EachEdge(const RECT& r, Fn fn) {
    return RECT{fn(static_cast<int>(r.left)), fn(static_cast<int>(r.top)), fn(static_cast<int>(r.right)),
                fn(static_cast<int>(r.bottom))};
}

} // namespace

int Scale::Px(int units) const {
    return ScaleRounded(units, dpi_, kBaseDpi);
}

RECT Scale::Px(const RECT& units) const {
    return EachEdge(units, [this](int v) { return Px(v); });
}

SIZE Scale::Px(SIZE units) const {
    return SIZE{Px(static_cast<int>(units.cx)), Px(static_cast<int>(units.cy))};
}

POINT Scale::Px(POINT units) const {
    return POINT{Px(static_cast<int>(units.x)), Px(static_cast<int>(units.y))};
}

int Scale::Units(int px) const {
    return ScaleRounded(px, kBaseDpi, dpi_);
}

RECT Scale::Units(const RECT& px) const {
    return EachEdge(px, [this](int v) { return Units(v); });
}

int Scale::UnitsUp(int px) const {
    if (px <= 0) {
        return Units(px);
    }
    return static_cast<int>((static_cast<long long>(px) * kBaseDpi + dpi_ - 1) / dpi_);
}

int Scale::ImageLevel() const {
    for (int level : kImageLevels) {
        if (dpi_ <= level) {
            return level;
        }
    }
    return kImageLevels[sizeof(kImageLevels) / sizeof(kImageLevels[0]) - 1];
}

} // namespace UiKit
