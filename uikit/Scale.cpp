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

int Scale::Px(int units) const {
    return ScaleRounded(units, dpi_, kBaseDpi);
}

RECT Scale::Px(const RECT& units) const {
    return RECT{Px(static_cast<int>(units.left)), Px(static_cast<int>(units.top)), Px(static_cast<int>(units.right)),
                Px(static_cast<int>(units.bottom))};
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
    return RECT{Units(static_cast<int>(px.left)), Units(static_cast<int>(px.top)), Units(static_cast<int>(px.right)),
                Units(static_cast<int>(px.bottom))};
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
