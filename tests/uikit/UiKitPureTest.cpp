// Attribute parsing, the box sizing rule, nine-slice splitting, progress and shadow arithmetic: values in, values out.
#include <gtest/gtest.h>

#include <oleacc.h>

#include "uikit/Accessible.h"
#include "uikit/BoxLayout.h"
#include "uikit/Control.h"
#include "uikit/Parse.h"
#include "uikit/Render.h"
#include "uikit/Scale.h"
#include "uikit/Shadow.h"

using namespace UiKit;

namespace {

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

TEST(ParseColor, ReadsBothFormsAndRejectsTheRest) {
    struct Case {
        const wchar_t* text;
        bool ok;
        Argb value;
    } cases[] = {
        {L"#FF556DEA", true, 0xFF556DEA}, {L"#26003B76", true, 0x26003B76}, {L"#ffcccccc", true, 0xFFCCCCCC},
        {L"#FFFFFF", true, 0xFFFFFFFF},   {L"#000000", true, 0xFF000000},   {L" #FF000000 ", true, 0xFF000000},
        {L"#00000000", true, 0x00000000}, {L"FF556DEA", false, 0},          {L"#FFF", false, 0},
        {L"#GG000000", false, 0},         {L"#FF00000", false, 0},          {L"", false, 0},
        {L"#FF556DEA0", false, 0},
    };
    for (const auto& c : cases) {
        auto got = ParseColor(c.text);
        EXPECT_EQ(got.has_value(), c.ok) << "text: [" << testing::PrintToString(std::wstring(c.text)) << "]";
        if (got && c.ok) {
            EXPECT_EQ(*got, c.value) << testing::PrintToString(std::wstring(c.text));
        }
    }
}

TEST(ParseRect, ReadsUpToFourNumbers) {
    struct Case {
        const wchar_t* text;
        bool ok;
        RECT rc;
    } cases[] = {
        {L"0,0,0,400", true, {0, 0, 0, 400}},
        {L"5,5,5,5", true, {5, 5, 5, 5}},
        {L" 9 , 0 , 9 , 0 ", true, {9, 0, 9, 0}},
        {L"1,2", true, {1, 2, 0, 0}},
        {L"-1,0,0,0", true, {-1, 0, 0, 0}},
        {L"1,2,3,4,5", false, {}},
        {L"a,b", false, {}},
        {L"", false, {}},
        {L"1,,2", false, {}},
    };
    for (const auto& c : cases) {
        auto got = ParseRect(c.text);
        ASSERT_EQ(got.has_value(), c.ok) << testing::PrintToString(std::wstring(c.text));
        if (got) {
            EXPECT_TRUE(Same(*got, c.rc)) << testing::PrintToString(std::wstring(c.text));
        }
    }
    EXPECT_FALSE(ParseSize(L"600").has_value());
    EXPECT_EQ(ParseSize(L"600,400")->cx, 600);
    EXPECT_EQ(ParseSize(L"600,400")->cy, 400);
    EXPECT_EQ(ParseInt(L"12x", 7), 7);
    EXPECT_EQ(ParseInt(L"-12", 7), -12);
    EXPECT_EQ(ParseInt(L"99999999999", 7), 7);
    EXPECT_TRUE(ParseBool(L"TRUE", false));
    EXPECT_FALSE(ParseBool(L"false", true));
    EXPECT_TRUE(ParseBool(L"yes", true));
}

TEST(ParseImage, ReadsDescriptorsAndFilePaths) {
    auto full = ParseImage(L"res='183' restype='png' dest='1,2,3,4' source='0,0,18,18' corner='5,5,5,5' mask='#FF0000' "
                           L"fade='128' hole='true' xtiled='false' ytiled='true'");
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->ResourceId(), 183);
    EXPECT_TRUE(full->FromResource());
    EXPECT_TRUE(Same(*full->dest, RECT{1, 2, 3, 4}));
    EXPECT_TRUE(Same(*full->source, RECT{0, 0, 18, 18}));
    EXPECT_TRUE(Same(full->corner, RECT{5, 5, 5, 5}));
    EXPECT_EQ(*full->mask, 0xFFFF0000u);
    EXPECT_EQ(full->fade, 128);
    EXPECT_TRUE(full->hole);
    EXPECT_FALSE(full->xTiled);
    EXPECT_TRUE(full->yTiled);

    auto file = ParseImage(L"res\\common\\close.png");
    ASSERT_TRUE(file.has_value());
    EXPECT_FALSE(file->FromResource());
    EXPECT_EQ(file->res, L"res\\common\\close.png");
    EXPECT_FALSE(file->dest.has_value());

    auto plain = ParseImage(L"res='185' restype='png'");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->fade, 255);
    EXPECT_FALSE(plain->mask.has_value());

    EXPECT_EQ(ParseImage(L"res='1' fade='900'")->fade, 255);
    EXPECT_EQ(ParseImage(L"res='1' fade='-5'")->fade, 0);
    const wchar_t* broken[] = {L"", L"res='185", L"restype='png'", L"res=185 restype='png'"};
    for (const wchar_t* text : broken) {
        EXPECT_FALSE(ParseImage(text).has_value()) << testing::PrintToString(std::wstring(text));
    }
}

// The sizing rule along one axis: fixed and flexible children, paddings, child padding, integer share, the last
// flexible child taking the remainder, never below 0, and clamping across the axis.
TEST(ArrangeBox, FollowsTheSizingRule) {
    struct Case {
        const char* what;
        std::vector<BoxItem> items;
        int length;
        int crossLength;
        int childPadding;
        std::vector<BoxSlot> expected; // pos, size, crossPos, crossSize (start 0, crossStart 0)
    } cases[] = {
        {"fixed children stack from the top",
         {{1}, {88}, {51}},
         370,
         598,
         0,
         {{0, 1, 0, 598}, {1, 88, 0, 598}, {89, 51, 0, 598}}},
        {"flexible children share what is left",
         {{10}, {0}, {0}, {0}},
         100,
         10,
         0,
         {{0, 10, 0, 10}, {10, 30, 0, 10}, {40, 30, 0, 10}, {70, 30, 0, 10}}},
        {"the last flexible child takes the integer remainder",
         {{0}, {0}, {0}},
         100,
         10,
         0,
         {{0, 33, 0, 10}, {33, 33, 0, 10}, {66, 34, 0, 10}}},
        {"paddings and child padding are taken before sharing",
         {{20, 0, INT_MAX, 2, 3}, {0}},
         100,
         10,
         5,
         {{2, 20, 0, 10}, {30, 70, 0, 10}}},
        {"flexible children get 0, not less, when fixed ones overflow",
         {{40}, {0}, {30}, {0}},
         50,
         10,
         0,
         {{0, 40, 0, 10}, {40, 0, 0, 10}, {40, 30, 0, 10}, {70, 0, 0, 10}}},
        {"fixed sizes are clamped to minimum and maximum",
         {{10, 20}, {100, 0, 50}},
         200,
         10,
         0,
         {{0, 20, 0, 10}, {20, 50, 0, 10}}},
        {"a fixed size across the axis is limited to the span less paddings",
         {{10, 0, INT_MAX, 0, 0, 300},
          {10, 0, INT_MAX, 0, 0, 40, 0, INT_MAX, 5, 0},
          {10, 0, INT_MAX, 0, 0, 0, 0, INT_MAX, 3, 4}},
         30,
         200,
         0,
         {{0, 10, 0, 200}, {10, 10, 5, 40}, {20, 10, 3, 193}}},
        {"a cross size is clamped to its own minimum", {{10, 0, INT_MAX, 0, 0, 5, 12}}, 30, 200, 0, {{0, 10, 0, 12}}},
        {"the row of the page-0 checkbox: 9, 62, 1, fill, 87, 9",
         {{9}, {62}, {1}, {0}, {87}, {9}},
         598,
         16,
         0,
         {{0, 9, 0, 16}, {9, 62, 0, 16}, {71, 1, 0, 16}, {72, 430, 0, 16}, {502, 87, 0, 16}, {589, 9, 0, 16}}},
    };
    for (const auto& c : cases) {
        auto got = ArrangeBox(c.items, 0, c.length, 0, c.crossLength, c.childPadding);
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].pos, c.expected[i].pos) << c.what << " #" << i;
            EXPECT_EQ(got[i].size, c.expected[i].size) << c.what << " #" << i;
            EXPECT_EQ(got[i].crossPos, c.expected[i].crossPos) << c.what << " #" << i;
            EXPECT_EQ(got[i].crossSize, c.expected[i].crossSize) << c.what << " #" << i;
        }
    }
    EXPECT_TRUE(ArrangeBox({}, 0, 100, 0, 100, 4).empty());
    // Offsets: slots start at the inner rectangle's edges.
    auto moved = ArrangeBox({{10}, {0}}, 30, 100, 7, 20, 0);
    EXPECT_EQ(moved[0].pos, 30);
    EXPECT_EQ(moved[1].pos, 40);
    EXPECT_EQ(moved[1].size, 90);
    EXPECT_EQ(moved[1].crossPos, 7);
}

TEST(SliceNine, SplitsIntoCornersEdgesAndCentre) {
    SlicePiece p[9];
    ASSERT_EQ(SliceNine({0, 0, 400, 10}, {100, 225, 500, 235}, {0, 0, 0, 0}, false, p), 1);
    EXPECT_TRUE(Same(p[0].dst, RECT{100, 225, 500, 235}));

    // 5-pixel corners of a 10-pixel-high bar leave no middle row: two rows of three.
    ASSERT_EQ(SliceNine({0, 0, 400, 10}, {0, 0, 200, 10}, {5, 5, 5, 5}, false, p), 6);
    EXPECT_TRUE(Same(p[0].src, RECT{0, 0, 5, 5}));
    EXPECT_TRUE(Same(p[1].src, RECT{5, 0, 395, 5}));
    EXPECT_TRUE(Same(p[1].dst, RECT{5, 0, 195, 5}));
    EXPECT_TRUE(Same(p[2].dst, RECT{195, 0, 200, 5}));

    ASSERT_EQ(SliceNine({0, 0, 30, 30}, {0, 0, 60, 90}, {10, 10, 10, 10}, false, p), 9);
    EXPECT_TRUE(Same(p[4].src, RECT{10, 10, 20, 20}));
    EXPECT_TRUE(Same(p[4].dst, RECT{10, 10, 50, 80}));
    EXPECT_EQ(SliceNine({0, 0, 30, 30}, {0, 0, 60, 90}, {10, 10, 10, 10}, true, p), 8);

    // A destination narrower than both corners: the corners shrink, nothing overlaps.
    ASSERT_EQ(SliceNine({0, 0, 3, 10}, {0, 0, 3, 10}, {5, 0, 5, 0}, false, p), 2);
    EXPECT_EQ(p[0].dst.right, p[1].dst.left);
    EXPECT_EQ(p[1].dst.right, 3);
    EXPECT_EQ(SliceNine({0, 0, 3, 10}, {0, 0, 0, 10}, {5, 0, 5, 0}, false, p), 0);

    // An image drawn for 200 % on a window at 125 %: corners of 10 image pixels, 6 window pixels.
    ASSERT_EQ(SliceNine({0, 0, 800, 20}, {0, 0, 250, 13}, {10, 0, 10, 0}, {6, 0, 6, 0}, false, p), 3);
    EXPECT_TRUE(Same(p[0].src, RECT{0, 0, 10, 20}));
    EXPECT_TRUE(Same(p[0].dst, RECT{0, 0, 6, 13}));
    EXPECT_TRUE(Same(p[1].src, RECT{10, 0, 790, 20}));
    EXPECT_TRUE(Same(p[1].dst, RECT{6, 0, 244, 13}));
}

TEST(Scale, RoundsEachEdgeToTheNearestPixelAndPicksTheImageLevelAtOrAbove) {
    struct Case {
        int dpi;
        RECT units;
        RECT px;
        int backFromPx; // Units(Px(units.right))
        int upOf15px;   // UnitsUp(15)
        int level;
    } cases[] = {
        {96, {0, 0, 600, 400}, {0, 0, 600, 400}, 600, 15, 96},
        {120, {0, 0, 600, 400}, {0, 0, 750, 500}, 600, 12, 120},
        {120, {-3, 1, 3, 15}, {-4, 1, 4, 19}, 3, 12, 120}, // halves away from zero, neighbours share edges
        {144, {7, 9, 147, 49}, {11, 14, 221, 74}, 147, 10, 144},
        {168, {1, 2, 3, 4}, {2, 4, 5, 7}, 3, 9, 192}, // 175 %: the 200 % images
        {192, {5, 5, 35, 20}, {10, 10, 70, 40}, 35, 8, 192},
        {288, {1, 1, 2, 2}, {3, 3, 6, 6}, 2, 5, 192},
        {0, {1, 1, 2, 2}, {1, 1, 2, 2}, 2, 15, 96}, // no DPI known: 96
    };
    for (const Case& c : cases) {
        Scale scale(c.dpi);
        EXPECT_TRUE(Same(scale.Px(c.units), c.px)) << c.dpi;
        EXPECT_EQ(scale.Units(scale.Px(static_cast<int>(c.units.right))), c.backFromPx) << c.dpi;
        EXPECT_EQ(scale.UnitsUp(15), c.upOf15px) << c.dpi;
        EXPECT_GE(scale.Px(scale.UnitsUp(15)), 15) << c.dpi;
        EXPECT_EQ(scale.ImageLevel(), c.level) << c.dpi;
    }
}

TEST(ProgressFill, CutsTheBarAtTheDoneShare) {
    struct Case {
        int width, min, max, value, expected;
    } cases[] = {
        {400, 0, 100, 0, 0},  {400, 0, 100, 35, 140},   {400, 0, 100, 100, 400}, {400, 0, 100, 150, 400},
        {400, 0, 100, -3, 0}, {400, 50, 150, 100, 200}, {400, 10, 10, 10, 0},    {0, 0, 100, 50, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressFill(c.width, c.min, c.max, c.value), c.expected) << c.value;
    }
}

TEST(Shadow, FadesFromTheOutlineToItsReach) {
    EXPECT_EQ(ShadowAlpha(-3.0, 6, 10, 40), 120);
    EXPECT_EQ(ShadowAlpha(0.0, 6, 10, 40), 120);
    EXPECT_EQ(ShadowAlpha(3.0, 6, 10, 40), 30); // half way: a quarter with sharpness 10
    EXPECT_EQ(ShadowAlpha(6.0, 6, 10, 40), 0);
    EXPECT_EQ(ShadowAlpha(9.0, 6, 10, 40), 0);
    EXPECT_EQ(ShadowAlpha(1.0, 0, 10, 40), 0);
    EXPECT_EQ(ShadowAlpha(0.0, 6, 10, 500), 255);
    EXPECT_EQ(ShadowAlpha(0.0, 6, 10, -4), 0);
    int previous = 256;
    for (double d = 0.0; d <= 4.0; d += 0.5) {
        int a = ShadowAlpha(d, 6, 10, 40);
        EXPECT_LT(a, previous) << d;
        previous = a;
    }
    // A sharper shadow fades faster.
    EXPECT_LT(ShadowAlpha(2.0, 6, 20, 40), ShadowAlpha(2.0, 6, 0, 40));

    EXPECT_LT(RoundRectDistance(50, 50, 100, 100, {4, 4}), 0.0);
    EXPECT_NEAR(RoundRectDistance(103, 50, 100, 100, {4, 4}), 3.0, 1e-9);
    EXPECT_NEAR(RoundRectDistance(50, -2, 100, 100, {0, 0}), 2.0, 1e-9);
    // The corner is rounded: the pixel at the very corner lies outside the outline.
    EXPECT_GT(RoundRectDistance(0, 0, 100, 100, {8, 8}), 0.0);

    auto px = MakeShadow(10, 10, {0, 0}, 3, 10, 40, {1, 1}, 0xFF000000);
    ASSERT_EQ(px.size(), 16u * 16u);
    EXPECT_EQ(px[0], 0u);                                   // far corner: nothing
    EXPECT_EQ(px[8 * 16 + 8] >> 24, 120u);                  // under the window
    EXPECT_GT(px[8 * 16 + 14] >> 24, px[8 * 16 + 1] >> 24); // offset to the right and down
}

TEST(Accessible, RoleAndStateOfEachKind) {
    const long F = STATE_SYSTEM_FOCUSABLE, FOCUSED = STATE_SYSTEM_FOCUSED, OFF = STATE_SYSTEM_UNAVAILABLE;
    const long RO = STATE_SYSTEM_READONLY;
    struct Case {
        AccFacts facts;
        long role;
        long state;
        const wchar_t* action;
    } cases[] = {
        {{AccKind::PushButton, true, false, false, false}, ROLE_SYSTEM_PUSHBUTTON, F, L"按下"},
        {{AccKind::PushButton, true, true, false, true},
         ROLE_SYSTEM_PUSHBUTTON,
         F | FOCUSED | STATE_SYSTEM_DEFAULT,
         L"按下"},
        {{AccKind::PushButton, false, true, false, true}, ROLE_SYSTEM_PUSHBUTTON, OFF | STATE_SYSTEM_DEFAULT, L"按下"},
        {{AccKind::CheckButton, true, false, true, true}, ROLE_SYSTEM_CHECKBUTTON, F | STATE_SYSTEM_CHECKED, L"清除"},
        {{AccKind::CheckButton, false, false, false, false}, ROLE_SYSTEM_CHECKBUTTON, OFF, L"选中"},
        {{AccKind::Link, true, true, false, false}, ROLE_SYSTEM_LINK, F | FOCUSED | STATE_SYSTEM_LINKED, L"跳转"},
        {{AccKind::StaticText, true, true, false, true}, ROLE_SYSTEM_STATICTEXT, RO, L""},
        {{AccKind::ProgressBar, true, false, false, false}, ROLE_SYSTEM_PROGRESSBAR, RO, L""},
        {{AccKind::EditBox, false, false, false, false}, ROLE_SYSTEM_TEXT, OFF, L""},
    };
    for (const auto& c : cases) {
        AccRoleState got = AccRoleStateOf(c.facts);
        SCOPED_TRACE(static_cast<int>(c.facts.kind));
        EXPECT_EQ(got.role, c.role);
        EXPECT_EQ(got.state, c.state);
        EXPECT_EQ(AccDefaultActionOf(c.facts.kind, c.facts.checked), c.action);
    }
}
