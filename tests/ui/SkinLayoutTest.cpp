// The real skin resources laid out in real windows: control rectangles against the skins' published numbers,
// the frame base's class and styles, and a screenshot of every window and every main-window page.
#include <gtest/gtest.h>

#include <oleacc.h>

#include <functional>
#include <memory>

#include "tests/support/TestSupport.h"
#include "tests/uikit/GuiDriver.h"
#include "tools/acctree/AccTree.h"
#include "ui/MainWnd.h"
#include "ui/SkinFrameBase.h"
#include "ui/TipDialogs.h"
#include "uikit/Control.h"
#include "utils/ScopedWin.h"

namespace {

// A window on any of the skin resources, as the installer's windows build them.
class SkinWindow : public CSkinFrameBase {
public:
    explicit SkinWindow(std::wstring id) : CSkinFrameBase(L"test.xml"), id_(std::move(id)) {}
    std::wstring GetSkinFile() const override { return id_; }

private:
    std::wstring id_;
};

struct Expect {
    const wchar_t* name;
    RECT rc;
};

void ExpectRects(SkinWindow& w, const std::vector<Expect>& table, const char* what) {
    w.UpdateLayout();
    for (const auto& e : table) {
        UiKit::Control* c = w.FindControl(e.name);
        ASSERT_NE(c, nullptr) << what << ": " << TestSupport::Utf8(e.name);
        const RECT& r = c->GetPos();
        EXPECT_TRUE(r.left == e.rc.left && r.top == e.rc.top && r.right == e.rc.right && r.bottom == e.rc.bottom)
            << what << ": " << TestSupport::Utf8(e.name) << " is " << r.left << "," << r.top << "," << r.right << ","
            << r.bottom << " instead of " << e.rc.left << "," << e.rc.top << "," << e.rc.right << "," << e.rc.bottom;
    }
}

// Tab pages span the client row between 1-pixel margins: x 1..599, y 30..400 (598 x 370).
constexpr int kPageLeft = 1;
constexpr int kPageWidth = 598;
constexpr int kPageTop = 30;
constexpr int kPageHeight = 370;
constexpr int Centred(int width) {
    return kPageLeft + (kPageWidth - width) / 2;
}

std::wstring Shot(const std::wstring& name) {
    return GuiDriver::ScreenshotFolder() + L"\\" + name;
}

// Shows the window centred, lets it paint, and saves the X screen area (with the shadow's margin) and the
// composited off-screen render.
void Screenshot(SkinWindow& w, const std::wstring& name) {
    w.CenterWindow();
    w.ShowWindow(true);
    ::SetForegroundWindow(w.GetHWND());
    ::RedrawWindow(w.GetHWND(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GuiDriver::Pump(500);
    RECT wr{};
    ::GetWindowRect(w.GetHWND(), &wr);
    int m = w.Look().shadowSize + 4;
    RECT area{wr.left - m, wr.top - m, wr.right + m, wr.bottom + m};
    EXPECT_TRUE(GuiDriver::CaptureScreen(area, Shot(name + L".png"))) << TestSupport::Utf8(name);
    EXPECT_TRUE(GuiDriver::SaveComposite(w, Shot(name + L"-composite.png"))) << TestSupport::Utf8(name);
}

bool Near(uint32_t argb, uint32_t expected, int tolerance = 24) {
    for (int shift = 0; shift < 24; shift += 8) {
        int a = static_cast<int>((argb >> shift) & 0xFF);
        int b = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST(SkinFrameBase, MapsDpiToLevels) {
    struct Case {
        int dpi, level;
    } cases[] = {{-5, -5},   {-1, -1},   {0, 96},    {96, 96},   {119, 96},  {120, 120},
                 {143, 120}, {144, 144}, {191, 144}, {192, 192}, {288, 192}, {10000, 192}};
    for (const auto& c : cases) {
        EXPECT_EQ(CSkinFrameBase::GetDpiLevel(c.dpi), c.level) << c.dpi;
    }
}

TEST(SkinFrameBase, UsesClassXmlWndWithoutCaptionMaximiseOrTopmost) {
    SkinWindow w(L"150");
    ASSERT_TRUE(w.Create(nullptr, L"消息框", WS_VISIBLE | WS_OVERLAPPEDWINDOW, WS_EX_TOPMOST));
    wchar_t cls[32] = L"";
    ::GetClassNameW(w.GetHWND(), cls, 32);
    EXPECT_STREQ(cls, L"XMLWnd");
    LONG style = ::GetWindowLongW(w.GetHWND(), GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, 0);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_EQ(style & (WS_CLIPCHILDREN | WS_CLIPSIBLINGS), WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0); // everything else stays
    EXPECT_EQ(::GetWindowLongW(w.GetHWND(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT wr{};
    ::GetWindowRect(w.GetHWND(), &wr);
    EXPECT_EQ(wr.right - wr.left, 360);
    EXPECT_EQ(wr.bottom - wr.top, 170);
    // No custom controls: the frame base builds nothing for unknown tags.
    EXPECT_EQ(w.CreateControl(L"VerticalLayout"), nullptr);
}

TEST(SkinLayout, MainWindowPagesMatchTheSkinNumbers) {
    SkinWindow w(L"149");
    ASSERT_TRUE(w.Create(nullptr, L"Lumetra音频转换器", WS_OVERLAPPEDWINDOW, 0));
    RECT wr{};
    ::GetWindowRect(w.GetHWND(), &wr);
    EXPECT_EQ(wr.right - wr.left, 600);
    EXPECT_EQ(wr.bottom - wr.top, 400);
    auto* tabs = w.Find<UiKit::TabLayout>(L"mainTabLayout");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->GetCurSel(), 0);
    for (const wchar_t* name : {L"winVLayout",
                                L"backBtn",
                                L"titleSystemHLayout",
                                L"mainTabLayout",
                                L"defaultInstallBtn",
                                L"customeInstallBtn",
                                L"customeBtn",
                                L"openProduceBtn",
                                L"treatyCb",
                                L"treatyCb2",
                                L"chDirBtn",
                                L"installDirEdit",
                                L"progressLb",
                                L"createDSCb",
                                L"createQSCb",
                                L"tipLbl",
                                L"tipLb2",
                                L"installingTipLbl",
                                L"installPrg",
                                L"treatyBtn",
                                L"treatyBtn2",
                                L"minbtn",
                                L"closebtn"}) {
        EXPECT_NE(w.FindControl(name), nullptr) << TestSupport::Utf8(name);
    }

    // Page 0: 1, 88, logo 51, 25, row 75, fill, row 40, 2, row 16, 19, 1.
    int fill0 = kPageHeight - (1 + 88 + 51 + 25 + 75 + 40 + 2 + 16 + 19 + 1);
    int row16 = kPageTop + 1 + 88 + 51 + 25 + 75 + fill0 + 40 + 2;
    ExpectRects(w,
                {
                    {L"winVLayout", {0, 0, 600, 400}},
                    {L"mainTabLayout", {kPageLeft, kPageTop, kPageLeft + kPageWidth, kPageTop + kPageHeight}},
                    {L"minbtn", {540, 0, 570, 30}},
                    {L"closebtn", {570, 0, 600, 30}},
                    {L"defaultInstallBtn",
                     {Centred(140), kPageTop + 1 + 88 + 51 + 25 + (75 - 40) / 2, Centred(140) + 140,
                      kPageTop + 1 + 88 + 51 + 25 + (75 - 40) / 2 + 40}},
                    {L"treatyCb", {kPageLeft + 9, row16, kPageLeft + 9 + 62, row16 + 16}},
                    {L"customeBtn", {kPageLeft + kPageWidth - 9 - 87, row16, kPageLeft + kPageWidth - 9, row16 + 16}},
                },
                "page 0");
    UiKit::Control* treatyBtn = w.FindControl(L"treatyBtn");
    EXPECT_EQ(treatyBtn->GetPos().left, kPageLeft + 9 + 62 + 1);
    EXPECT_GT(treatyBtn->GetPos().right - treatyBtn->GetPos().left, 80); // fitted to "《用户许可协议》"
    EXPECT_FALSE(w.FindControl(L"tipLbl")->IsVisible());
    EXPECT_FALSE(w.Find<UiKit::Option>(L"treatyCb")->IsSelected());
    w.FindControl(L"tipLbl")->SetVisible(true);
    ExpectRects(w, {{L"tipLbl", {kPageLeft, row16 - 2 - 40, kPageLeft + 124, row16 - 2}}}, "page 0 hint");

    // Page 1: 1, 44, logo 51, 42, row 40, 20, row 18, 23, row 40, fill, row 40, 2, row 16, 19, 1.
    ASSERT_TRUE(tabs->SelectItem(1));
    int dirTop = kPageTop + 1 + 44 + 51 + 42;
    int optTop = dirTop + 40 + 20;
    int installTop = optTop + 18 + 23;
    int fill1 = kPageHeight - (1 + 44 + 51 + 42 + 40 + 20 + 18 + 23 + 40 + 40 + 2 + 16 + 19 + 1);
    int row16b = installTop + 40 + fill1 + 40 + 2;
    int editLeft = kPageLeft + 47 + 66;
    ExpectRects(w,
                {
                    {L"installDirEdit", {editLeft, dirTop, editLeft + 340, dirTop + 40}},
                    {L"chDirBtn", {editLeft + 340 + 9, dirTop, editLeft + 340 + 9 + 84, dirTop + 38}},
                    {L"createDSCb", {editLeft, optTop, editLeft + 139, optTop + 18}},
                    {L"createQSCb", {editLeft + 139 + 8, optTop, editLeft + 139 + 8 + 139, optTop + 18}},
                    {L"customeInstallBtn", {Centred(140), installTop, Centred(140) + 140, installTop + 40}},
                    {L"treatyCb2", {kPageLeft + 9, row16b, kPageLeft + 9 + 62, row16b + 16}},
                    {L"backBtn", {kPageLeft + kPageWidth - 9 - 50, row16b, kPageLeft + kPageWidth - 9, row16b + 15}},
                },
                "page 1");
    EXPECT_TRUE(w.Find<UiKit::Option>(L"treatyCb2")->IsSelected());
    EXPECT_TRUE(w.Find<UiKit::Option>(L"createDSCb")->IsSelected());
    EXPECT_TRUE(w.Find<UiKit::Option>(L"createQSCb")->IsSelected());
    EXPECT_TRUE(w.FindControl(L"installDirEdit")->IsShown());
    EXPECT_FALSE(w.FindControl(L"defaultInstallBtn")->IsShown());

    // Page 2: 14, 44, logo 51, 5, row 13, 12, row 26, 30, row 10, fill, 1.
    ASSERT_TRUE(tabs->SelectItem(2));
    int tipTop = kPageTop + 14 + 44 + 51 + 5;
    int labelTop = tipTop + 13 + 12;
    int barTop = labelTop + 26 + 30;
    w.FindControl(L"installingTipLbl")->SetVisible(true);
    ExpectRects(w,
                {
                    {L"installingTipLbl", {Centred(149), tipTop, Centred(149) + 149, tipTop + 13}},
                    {L"progressLb", {Centred(200), labelTop, Centred(200) + 200, labelTop + 26}},
                    {L"installPrg", {Centred(400), barTop, Centred(400) + 400, barTop + 10}},
                },
                "page 2");
    EXPECT_EQ(w.FindControl(L"progressLb")->GetText(), L"正在安装:0%");
    EXPECT_EQ(w.Find<UiKit::Progress>(L"installPrg")->GetValue(), 0);

    // Page 3: 14, 44, logo 51, label 70, 26, row 65, fill, 1.
    ASSERT_TRUE(tabs->SelectItem(3));
    int openTop = kPageTop + 14 + 44 + 51 + 70 + 26 + (65 - 40) / 2;
    ExpectRects(w, {{L"openProduceBtn", {Centred(140), openTop, Centred(140) + 140, openTop + 40}}}, "page 3");
}

TEST(SkinLayout, DialogButtonsMatchTheSkinNumbers) {
    struct DialogCase {
        const wchar_t* id;
        SIZE size;
        std::vector<Expect> rects;
        std::vector<const wchar_t*> absent;
    } cases[] = {
        {L"147",
         {400, 180},
         {{L"closebtn", {370, 0, 400, 30}},
          {L"cancelBtn", {400 - 19 - 140 - 10 - 140, 30 + 29 + 40 + 30, 400 - 19 - 140 - 10, 30 + 29 + 40 + 30 + 40}},
          {L"okBtn", {400 - 19 - 140, 30 + 29 + 40 + 30, 400 - 19, 30 + 29 + 40 + 30 + 40}}},
         {}},
        {L"148",
         {400, 180},
         {{L"closebtn", {370, 0, 400, 30}},
          {L"okBtn", {400 - 19 - 140 - 10 - 140, 129, 400 - 19 - 140 - 10, 169}},
          {L"cancelBtn", {400 - 19 - 140, 129, 400 - 19, 169}}},
         {L"agreementBtn"}},
        {L"150",
         {360, 170},
         {{L"closebtn", {330, 0, 360, 30}},
          {L"textLbl", {0, 30, 360, 170 - 20 - 34}},
          {L"okBtn", {(360 - 100) / 2, 170 - 20 - 34, (360 - 100) / 2 + 100, 170 - 20}}},
         {L"cancelBtn"}},
        {L"151",
         {360, 150},
         {{L"closebtn", {330, 0, 360, 30}}, {L"textLbl", {0, 31, 360, 149}}},
         {L"okBtn", L"cancelBtn"}},
        {L"152", {360, 150}, {{L"okBtn", {130, 150 - 16 - 34, 230, 150 - 16}}}, {}},
    };
    for (auto& c : cases) {
        SkinWindow w(c.id);
        ASSERT_TRUE(w.Create(nullptr, L"消息框", WS_OVERLAPPEDWINDOW, 0)) << TestSupport::Utf8(c.id);
        RECT wr{};
        ::GetWindowRect(w.GetHWND(), &wr);
        EXPECT_EQ(wr.right - wr.left, c.size.cx) << TestSupport::Utf8(c.id);
        EXPECT_EQ(wr.bottom - wr.top, c.size.cy) << TestSupport::Utf8(c.id);
        ExpectRects(w, c.rects, TestSupport::Utf8(c.id).c_str());
        for (const wchar_t* name : c.absent) {
            EXPECT_EQ(w.FindControl(name), nullptr) << TestSupport::Utf8(c.id) << " " << TestSupport::Utf8(name);
        }
    }
    // The agreement text: the link sits on the first of two 20-pixel lines, right of the first words.
    SkinWindow agreement(L"147");
    ASSERT_TRUE(agreement.Create(nullptr, L"用户协议", WS_OVERLAPPEDWINDOW, 0));
    agreement.UpdateLayout();
    const RECT& link = agreement.FindControl(L"agreementBtn")->GetPos();
    EXPECT_EQ(link.top, 59);
    EXPECT_EQ(link.bottom, 79);
    EXPECT_GT(link.left, 30 + 40 + 23 + 60);
    EXPECT_LE(link.right, 30 + 40 + 23 + 260);
}

TEST(SkinScreenshots, EveryWindowAndEveryMainPage) {
    struct ShotCase {
        const wchar_t* id;
        const wchar_t* name;
        int page;
    } shots[] = {
        {L"149", L"main-page0-start", 0}, {L"149", L"main-page1-custom", 1}, {L"149", L"main-page2-installing", 2},
        {L"149", L"main-page3-done", 3},  {L"147", L"agreement", -1},        {L"148", L"exit", -1},
        {L"150", L"message", -1},         {L"151", L"warning", -1},          {L"152", L"netretry", -1},
    };
    for (const auto& s : shots) {
        SkinWindow w(s.id);
        ASSERT_TRUE(w.Create(nullptr, L"screenshot", WS_OVERLAPPEDWINDOW, 0));
        if (s.page >= 0) {
            auto* tabs = w.Find<UiKit::TabLayout>(L"mainTabLayout");
            tabs->SelectItem(s.page);
            if (s.page == 1) {
                w.FindControl(L"installDirEdit")->SetText(L"C:\\Users\\用户\\AppData\\Roaming\\PellSoft\\Tunivox");
            }
            if (s.page == 2) {
                w.FindControl(L"installingTipLbl")->SetVisible(true);
                w.FindControl(L"progressLb")->SetText(L"正在安装:35%");
                w.Find<UiKit::Progress>(L"installPrg")->SetValue(35);
            }
        }
        if (std::wstring(s.id) == L"151") {
            w.FindControl(L"textLbl")->SetText(L"当前磁盘剩余空间不足2GB，请修改安装路径");
        }
        Screenshot(w, s.name);
        if (std::wstring(s.id) == L"150" || std::wstring(s.id) == L"147") {
            // The title bar in the X screenshot has the accent colour: the window really drew there.
            int m = w.Look().shadowSize + 4;
            EXPECT_TRUE(Near(GuiDriver::PixelOf(Shot(std::wstring(s.name) + L".png"), m + 200, m + 5), 0xFF556DEA))
                << std::hex << GuiDriver::PixelOf(Shot(std::wstring(s.name) + L".png"), m + 200, m + 5);
        }
    }
}

// The main skin's caption covers the whole window and its resize box is 6 pixels: empty places drag, controls
// click, edges resize.
TEST(SkinLayout, MainWindowHitTestDragsResizesAndClicks) {
    SkinWindow w(L"149");
    ASSERT_TRUE(w.Create(nullptr, L"Lumetra音频转换器", WS_OVERLAPPEDWINDOW, 0));
    ::SetWindowPos(w.GetHWND(), nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    w.UpdateLayout();
    auto hit = [&](int x, int y) { return ::SendMessageW(w.GetHWND(), WM_NCHITTEST, 0, MAKELPARAM(100 + x, 100 + y)); };
    const RECT& button = w.FindControl(L"defaultInstallBtn")->GetPos();
    struct Case {
        int x, y;
        LRESULT expected;
    } cases[] = {
        {300, 100, HTCAPTION}, {(button.left + button.right) / 2, (button.top + button.bottom) / 2, HTCLIENT},
        {555, 15, HTCLIENT}, // minimise button
        {2, 200, HTLEFT},      {597, 200, HTRIGHT},
        {300, 3, HTTOP},       {300, 396, HTBOTTOM},
        {2, 2, HTTOPLEFT},     {598, 398, HTBOTTOMRIGHT},
        {6, 200, HTCAPTION},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hit(c.x, c.y), c.expected) << c.x << "," << c.y;
    }
    // A disabled control does not take the click: the place drags the window instead.
    w.FindControl(L"defaultInstallBtn")->SetEnabled(false);
    EXPECT_EQ(hit((button.left + button.right) / 2, (button.top + button.bottom) / 2), HTCAPTION);
}

namespace {

// The tree as the tool prints it, without locations.
std::vector<std::string> TreeOf(HWND hwnd) {
    std::vector<AccTree::Node> nodes;
    EXPECT_TRUE(AccTree::Read(hwnd, nodes));
    std::vector<std::string> lines;
    for (const auto& node : nodes) {
        lines.push_back(AccTree::Format(node, false));
    }
    return lines;
}

std::unique_ptr<CSkinFrameBase> MainOnPage(int page) {
    auto main = std::make_unique<CMainWnd>();
    if (main->Create(nullptr, L"Lumetra音频转换器", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0)) {
        main->Find<UiKit::Edit>(L"installDirEdit")->SetText(L"C:\\Apps");
        main->Find<UiKit::Progress>(L"installPrg")->SetValue(37);
        main->Find<UiKit::TabLayout>(L"mainTabLayout")->SelectItem(page);
    }
    return main;
}

template <class Dialog> std::unique_ptr<CSkinFrameBase> Open(const wchar_t* text = nullptr) {
    auto dialog = std::make_unique<Dialog>();
    if (dialog->Create(nullptr, L"消息框", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0) && text != nullptr) {
        dialog->FindControl(L"textLbl")->SetText(text);
    }
    return dialog;
}

} // namespace

TEST(Accessibility, EveryPageAndDialogReadsAsTheUserSeesIt) {
    Utils::ComInit com(COINIT_APARTMENTTHREADED);
    const std::vector<std::string> titleRow = {"  push button \"最小化\" [focusable]",
                                               "  push button \"关闭\" [focusable]"};
    struct Case {
        const char* what;
        std::function<std::unique_ptr<CSkinFrameBase>()> open;
        std::vector<std::string> tree;
    } cases[] = {
        {"start page",
         [] { return MainOnPage(0); },
         {"client \"Lumetra音频转换器\" [focusable]", titleRow[0], titleRow[1],
          "  text \"Lumetra音频转换器\" [read only]", "  push button \"一键安装\" [focusable focused default]",
          "  check button \"已同意\" [focusable]", "  link \"《用户许可协议》\" [focusable linked]",
          "  push button \"自定义安装\" [focusable]"}},
        {"custom page",
         [] { return MainOnPage(1); },
         {"client \"Lumetra音频转换器\" [focusable]", titleRow[0], titleRow[1],
          "  text \"Lumetra音频转换器\" [read only]", "  text \"安装路径：\" [read only]",
          "  editable text \"\" [focusable] value=\"C:\\Apps\"", "  push button \"修改\" [focusable]",
          "  text \"其他选项：\" [read only]", "  check button \"创建桌面快捷方式\" [focusable checked]",
          "  check button \"添加到快速启动栏\" [focusable checked]",
          "  push button \"立即安装\" [focusable focused default]", "  check button \"已同意\" [focusable checked]",
          "  link \"《用户许可协议》\" [focusable linked]", "  push button \"返回\" [focusable]"}},
        {"installing page",
         [] { return MainOnPage(2); },
         {"client \"Lumetra音频转换器\" [focusable focused]", "  text \"Lumetra音频转换器\" [read only]",
          "  text \"正在安装:0%\" [read only]", "  progress bar \"\" [read only] value=\"37%\""}},
        {"done page",
         [] { return MainOnPage(3); },
         {"client \"Lumetra音频转换器\" [focusable]", titleRow[0], titleRow[1],
          "  text \"Lumetra音频转换器\" [read only]", "  text \"安装完成\" [read only]",
          "  push button \"立即体验\" [focusable focused default]"}},
        {"agreement",
         [] { return Open<CAgreementWidget>(); },
         {"dialog \"温馨提示\" [focusable]", "  text \"温馨提示\" [read only]", titleRow[1],
          "  text \"您需要先阅读同意\" [read only]", "  link \"《用户许可协议》\" [focusable linked]",
          "  text \"才能安装\" [read only]", "  push button \"不同意\" [focusable]",
          "  push button \"同意并安装\" [focusable focused default]"}},
        {"exit",
         [] { return Open<CExitTipsWidget>(); },
         {"dialog \"温馨提示\" [focusable]", "  text \"温馨提示\" [read only]", titleRow[1],
          "  text \"您确定要退出安装吗？\" [read only]", "  push button \"是\" [focusable focused default]",
          "  push button \"否\" [focusable]"}},
        {"message",
         [] { return Open<CMessageTipsWidget>(L"下载失败"); },
         {"dialog \"温馨提示\" [focusable]", "  text \"温馨提示\" [read only]", titleRow[1],
          "  text \"下载失败\" [read only]", "  push button \"知道了\" [focusable focused default]"}},
        {"warning",
         [] { return Open<CWarnTipsWidget>(L"无效路径"); },
         {"dialog \"温馨提示\" [focusable]", "  text \"温馨提示\" [read only]",
          "  push button \"关闭\" [focusable focused default]", "  text \"无效路径\" [read only]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CSkinFrameBase> window = c.open();
        ASSERT_NE(window->GetHWND(), nullptr);
        ::SetForegroundWindow(window->GetHWND());
        GuiDriver::Pump(200);
        EXPECT_EQ(TreeOf(window->GetHWND()), c.tree);
        window->Close(0);
    }
}

// Hit test and navigation agree with the children's places and order; a client keeps its reference after the window
// is gone, and every call then answers "not connected".
TEST(Accessibility, HitTestNavigationAndAnObjectOutlivingItsWindow) {
    Utils::ComInit com(COINIT_APARTMENTTHREADED);
    auto dialog = Open<CExitTipsWidget>();
    IAccessible* acc = nullptr;
    ASSERT_EQ(::AccessibleObjectFromWindow(dialog->GetHWND(), static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                           reinterpret_cast<void**>(&acc)),
              S_OK);
    LONG count = 0;
    EXPECT_EQ(acc->get_accChildCount(&count), S_OK);
    EXPECT_GT(count, 0);
    for (LONG i = 1; i <= count; ++i) {
        VARIANT child{};
        child.vt = VT_I4;
        child.lVal = i;
        LONG x = 0, y = 0, w = 0, h = 0;
        ASSERT_EQ(acc->accLocation(&x, &y, &w, &h, child), S_OK);
        VARIANT hit{};
        EXPECT_EQ(acc->accHitTest(x + w / 2, y + h / 2, &hit), S_OK);
        EXPECT_TRUE(hit.vt == VT_I4 && hit.lVal == i) << i;
        VARIANT next{};
        EXPECT_EQ(acc->accNavigate(NAVDIR_NEXT, child, &next), i < count ? S_OK : S_FALSE);
        EXPECT_EQ(next.vt == VT_I4 ? next.lVal : 0, i < count ? i + 1 : 0) << i;
    }
    dialog.reset();
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    EXPECT_EQ(acc->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(acc->get_accName(self, &name), CO_E_OBJNOTCONNECTED);
    self.lVal = 1;
    EXPECT_EQ(acc->accDoDefaultAction(self), CO_E_OBJNOTCONNECTED);
    VARIANT hit{};
    EXPECT_EQ(acc->accHitTest(10, 10, &hit), CO_E_OBJNOTCONNECTED);
    acc->Release();
}
