#include "uikit/BoxLayout.h"

#include <algorithm>

namespace UiKit {

namespace {

int Clamp(int v, int lo, int hi) {
    if (hi < lo) {
        hi = lo;
    }
    return std::min(std::max(v, lo), hi);
}

} // namespace

std::vector<BoxSlot> ArrangeBox(const std::vector<BoxItem>& items, int start, int length, int crossStart,
                                int crossLength, int childPadding) {
    std::vector<BoxSlot> slots(items.size());
    if (items.empty()) {
        return slots;
    }
    long long used = static_cast<long long>(childPadding) * static_cast<long long>(items.size() - 1);
    int flexible = 0;
    for (const auto& it : items) {
        used += it.padBefore + it.padAfter;
        if (it.size > 0) {
            used += Clamp(it.size, it.minSize, it.maxSize);
        } else {
            ++flexible;
        }
    }
    long long remaining = std::max<long long>(0, static_cast<long long>(length) - used);
    int share = flexible > 0 ? static_cast<int>(remaining / flexible) : 0;
    int lastFlexible = share;
    if (flexible > 0) {
        lastFlexible =
            static_cast<int>(std::max<long long>(0, remaining - static_cast<long long>(share) * (flexible - 1)));
    }

    int cursor = start;
    int flexSeen = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const BoxItem& it = items[i];
        BoxSlot& s = slots[i];
        if (it.size > 0) {
            s.size = Clamp(it.size, it.minSize, it.maxSize);
        } else {
            ++flexSeen;
            s.size = flexSeen == flexible ? lastFlexible : share;
        }
        cursor += it.padBefore;
        s.pos = cursor;
        cursor += s.size + it.padAfter + childPadding;

        int span = std::max(0, crossLength - it.crossPadBefore - it.crossPadAfter);
        if (it.cross > 0) {
            s.crossSize = std::min(Clamp(it.cross, it.crossMin, it.crossMax), span);
        } else {
            s.crossSize = span;
        }
        s.crossPos = crossStart + it.crossPadBefore;
    }
    return slots;
}

} // namespace UiKit
