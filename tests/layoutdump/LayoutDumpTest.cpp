// layoutdump's selection of what it lists, on the installer's real main-window and agreement skins: scripts/demo
// clicks the centre of each listed rectangle, so a control of another page, a hidden control or two listed
// controls under one centre would send the demo's clicks astray.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/support/TestSupport.h"
#include "tools/layoutdump/LayoutDump.h"

namespace {

class SkinWindow : public UiKit::Window {
public:
    explicit SkinWindow(std::wstring id) : id_(std::move(id)) {}
    std::wstring GetSkinFile() const override { return id_; }

private:
    std::wstring id_;
};

std::set<std::wstring> Names(const std::vector<LayoutDump::NamedRect>& controls) {
    std::set<std::wstring> out;
    for (const auto& c : controls) {
        out.insert(c.name);
    }
    return out;
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

const std::set<std::wstring> kContainers = {L"winVLayout", L"titleSystemHLayout", L"mainTabLayout"};

} // namespace

TEST(LayoutDump, MainWindowListsExactlyTheSelectedPage) {
    const std::set<std::wstring> frame = {L"winVLayout", L"titleSystemHLayout", L"minbtn", L"closebtn",
                                          L"mainTabLayout"};
    struct Case {
        int page;
        std::set<std::wstring> own; // shown controls of the page; tipLbl, tipLb2, installingTipLbl start hidden
    } cases[] = {
        {0, {L"defaultInstallBtn", L"treatyCb", L"treatyBtn", L"customeBtn"}},
        {1,
         {L"installDirEdit", L"chDirBtn", L"createDSCb", L"createQSCb", L"customeInstallBtn", L"treatyCb2",
          L"treatyBtn2", L"backBtn"}},
        {2, {L"progressLb", L"installPrg"}},
        {3, {L"openProduceBtn"}},
    };
    for (const Case& c : cases) {
        SkinWindow window(L"149");
        ASSERT_TRUE(window.Create(nullptr, L"layoutdump test", WS_POPUP, 0));
        ASSERT_TRUE(LayoutDump::SelectPage(window, c.page)) << c.page;
        auto controls = LayoutDump::ShownNamedControls(window);
        std::set<std::wstring> expected = frame;
        expected.insert(c.own.begin(), c.own.end());
        EXPECT_EQ(Names(controls), expected) << "page " << c.page;
        EXPECT_EQ(controls.size(), expected.size()) << "a name listed twice on page " << c.page;

        const RECT client{0, 0, 600, 400};
        for (const auto& control : controls) {
            const RECT& r = control.rect;
            EXPECT_TRUE(Contains(client, r)) << TestSupport::Utf8(control.name) << " outside the window";
            EXPECT_GT(r.right - r.left, 0) << TestSupport::Utf8(control.name);
            EXPECT_GT(r.bottom - r.top, 0) << TestSupport::Utf8(control.name);
            if (kContainers.count(control.name) != 0) {
                continue;
            }
            // The centre of a clickable control lies in no other listed leaf control.
            POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            for (const auto& other : controls) {
                if (&other == &control || kContainers.count(other.name) != 0) {
                    continue;
                }
                EXPECT_FALSE(::PtInRect(&other.rect, centre))
                    << TestSupport::Utf8(control.name) << " centre inside " << TestSupport::Utf8(other.name);
            }
        }
    }
}

TEST(LayoutDump, PagesOutOfRangeAndLayoutsWithoutTabs) {
    struct Case {
        const wchar_t* layout;
        int page;
        bool selects;
    } cases[] = {{L"149", 3, true}, {L"149", 4, false}, {L"149", -1, false}, {L"147", 0, false}};
    for (const Case& c : cases) {
        SkinWindow window(c.layout);
        ASSERT_TRUE(window.Create(nullptr, L"layoutdump test", WS_POPUP, 0));
        EXPECT_EQ(LayoutDump::SelectPage(window, c.page), c.selects)
            << TestSupport::Utf8(c.layout) << " page " << c.page;
    }
}

TEST(LayoutDump, AgreementDialogButtonsSideBySide) {
    SkinWindow window(L"147");
    ASSERT_TRUE(window.Create(nullptr, L"layoutdump test", WS_POPUP, 0));
    auto controls = LayoutDump::ShownNamedControls(window);
    auto find = [&](const wchar_t* name) {
        auto it = std::find_if(controls.begin(), controls.end(), [&](const auto& c) { return c.name == name; });
        return it == controls.end() ? RECT{} : it->rect;
    };
    RECT ok = find(L"okBtn");
    RECT cancel = find(L"cancelBtn");
    EXPECT_EQ(ok.right - ok.left, 140);
    EXPECT_EQ(cancel.right - cancel.left, 140);
    EXPECT_EQ(ok.top, cancel.top);
    EXPECT_EQ(ok.left - cancel.right, 10) << "the skin puts a 10-pixel gap between the two buttons";
    EXPECT_EQ(LayoutDump::FormatLine({L"okBtn", ok, 30, 140}),
              "okBtn " + std::to_string(ok.left) + " " + std::to_string(ok.top) + " 140 40 30 140");
}
