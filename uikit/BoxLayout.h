// The sizing rule of vertical and horizontal layouts, written along one axis so that both layouts share it.
// Pure: sizes in, slots out.
#pragma once

#include <climits>
#include <vector>

namespace UiKit {

struct BoxItem {
    int size = 0; // fixed size along the axis; 0 means flexible
    int minSize = 0;
    int maxSize = INT_MAX;
    int padBefore = 0; // the child's own padding along the axis
    int padAfter = 0;
    int cross = 0; // fixed size across the axis; 0 spans the layout
    int crossMin = 0;
    int crossMax = INT_MAX;
    int crossPadBefore = 0;
    int crossPadAfter = 0;
};

struct BoxSlot {
    int pos = 0;
    int size = 0;
    int crossPos = 0;
    int crossSize = 0;
};

// Lays out `items` (visible, non-floating children, in order) in the inner span [start, start + length) along the
// axis and [crossStart, crossStart + crossLength) across it, with `childPadding` between neighbours.
// Fixed sizes are clamped to their minimum and maximum; the rest of the space is shared by the flexible items in
// integer arithmetic (never below 0), the last flexible item taking what is left. Items are placed one after the
// other from `start`.
std::vector<BoxSlot> ArrangeBox(const std::vector<BoxItem>& items, int start, int length, int crossStart,
                                int crossLength, int childPadding);

} // namespace UiKit
