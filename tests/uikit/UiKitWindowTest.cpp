// The toolkit's window against the real window system under Wine and Xvfb: layout from a file, controls, queued
// notifications, timers, real mouse input, keyboard focus, default buttons, modal loop, images from the skin folder.
#include <gtest/gtest.h>

// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>

#include <gdiplus.h>

#include <functional>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/uikit/GuiDriver.h"
#include "uikit/Accessible.h"
#include "uikit/Window.h"

using namespace UiKit;

namespace {

const char kLayout[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,240" caption="0,0,0,30" roundcorner="4,4" showshadow="true" shadowsize="5" shadowdarkness="30">
  <Font id="0" name="微软雅黑" size="14" default="true" />
  <VerticalLayout name="root" bkcolor="#FFFFFFFF">
    <HorizontalLayout height="30">
      <Control />
      <Button name="minbtn" width="30" bkcolor="#FF808080" />
      <Button name="closebtn" width="30" bkcolor="#FFFF0000" />
    </HorizontalLayout>
    <HorizontalLayout height="60">
      <Button name="a" width="100" text="A" bkcolor="#FF00FF00" />
      <Control width="20" />
      <Button name="b" width="100" text="B" bkcolor="#FF0000FF" />
    </HorizontalLayout>
    <Option name="opt" height="20" text="选项" />
    <Edit name="edit" height="30" text="hello" bkcolor="#FFEEEEEE" />
    <Progress name="prg" height="10" value="40" />
    <TabLayout name="tabs" height="20"><Label name="p0" text="p0" /><Label name="p1" text="p1" /></TabLayout>
    <Fancy name="fancy"><Button name="inner" /></Fancy>
    <Control />
  </VerticalLayout>
</Window>)";

struct Event {
    std::wstring type;
    std::wstring sender;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

class TestWindow : public Window {
public:
    explicit TestWindow(std::wstring folder) : folder_(std::move(folder)) {}
    std::wstring GetSkinFile() const override { return L"test.xml"; }
    std::wstring GetSkinFolder() const override { return folder_; }
    void Notify(const UiKit::Notify& n) override {
        events.push_back(
            {n.type, n.sender != nullptr ? n.sender->GetName() : L"", n.wParam, n.lParam, ::GetCurrentThreadId()});
        if (onNotify) {
            onNotify(n);
        }
        Window::Notify(n);
    }
    std::vector<Event> Of(const std::vector<std::wstring>& types) const {
        std::vector<Event> out;
        for (const auto& e : events) {
            if (std::find(types.begin(), types.end(), e.type) != types.end()) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<Event> events;
    std::function<void(const UiKit::Notify&)> onNotify;

private:
    std::wstring folder_;
};

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TestSupport::WriteBytes(dir_ / L"test.xml", kLayout));
        window_ = std::make_unique<TestWindow>(dir_.path());
        ASSERT_TRUE(window_->Create(nullptr, L"uikit test", WS_POPUP | WS_VISIBLE, 0));
        window_->CenterWindow();
        window_->UpdateLayout();
        GuiDriver::Pump(200);
    }
    void TearDown() override { window_.reset(); }
    Control* C(const wchar_t* name) { return window_->FindControl(name); }

    TestSupport::TempDir dir_{L"uikit"};
    std::unique_ptr<TestWindow> window_;
};

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

TEST_F(WindowTest, BuildsTheTreeFromTheLayoutAndLeavesOutUnknownTags) {
    RECT wr{};
    ::GetWindowRect(window_->GetHWND(), &wr);
    EXPECT_EQ(wr.right - wr.left, 300);
    EXPECT_EQ(wr.bottom - wr.top, 240);
    ASSERT_NE(window_->Find<Button>(L"a"), nullptr);
    EXPECT_TRUE(SameRect(C(L"a")->GetPos(), RECT{0, 30, 100, 90}));
    EXPECT_TRUE(SameRect(C(L"b")->GetPos(), RECT{120, 30, 220, 90}));
    EXPECT_TRUE(SameRect(C(L"closebtn")->GetPos(), RECT{270, 0, 300, 30}));
    EXPECT_EQ(C(L"fancy"), nullptr);
    EXPECT_EQ(C(L"inner"), nullptr);
    EXPECT_EQ(C(L"nosuch"), nullptr);

    // The edit box is a real EDIT child holding the text.
    auto* edit = window_->Find<Edit>(L"edit");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->EditHandle(), nullptr);
    wchar_t cls[32] = L"";
    ::GetClassNameW(edit->EditHandle(), cls, 32);
    EXPECT_EQ(_wcsicmp(cls, L"Edit"), 0);
    EXPECT_EQ(::GetParent(edit->EditHandle()), window_->GetHWND());
    EXPECT_EQ(edit->GetText(), L"hello");
    edit->SetText(L"D:\\安装\\Tunivox");
    wchar_t raw[64] = L"";
    ::GetWindowTextW(edit->EditHandle(), raw, 64);
    EXPECT_STREQ(raw, L"D:\\安装\\Tunivox");
    ::SetWindowTextW(edit->EditHandle(), L"typed");
    EXPECT_EQ(edit->GetText(), L"typed");
    edit->SetVisible(false);
    EXPECT_FALSE(::IsWindowVisible(edit->EditHandle()));

    auto* prg = window_->Find<Progress>(L"prg");
    ASSERT_NE(prg, nullptr);
    EXPECT_EQ(prg->GetValue(), 40);
    prg->SetValue(150);
    EXPECT_EQ(prg->GetValue(), 100);
    prg->SetValue(-1);
    EXPECT_EQ(prg->GetValue(), 0);

    C(L"a")->SetUserData(L"正在安装:%d%%");
    EXPECT_EQ(C(L"a")->GetUserData(), L"正在安装:%d%%");
    C(L"a")->SetBkImage(L"res='999' restype='png'");
    EXPECT_EQ(C(L"a")->GetBkImage(), L"res='999' restype='png'");
    GuiDriver::Pump(50); // painting with a missing image must not fail
}

TEST_F(WindowTest, QueuedNotificationFromAWorkerArrivesOnTheUiThread) {
    DWORD uiThread = ::GetCurrentThreadId();
    window_->SendNotify(C(L"a"), L"sync", 1, 2);
    ASSERT_EQ(window_->Of({L"sync"}).size(), 1u); // delivered before SendNotify returned

    window_->onNotify = [&](const UiKit::Notify& n) {
        if (n.type == L"checknet") {
            window_->Close(5);
        }
    };
    DWORD workerThread = 0;
    bool posted = false;
    std::thread worker([&] {
        workerThread = ::GetCurrentThreadId();
        posted = window_->PostNotify(C(L"b"), L"checknet", 0x10000, 7);
    });
    worker.join();
    EXPECT_TRUE(posted);
    EXPECT_TRUE(window_->Of({L"checknet"}).empty()); // queued, not yet delivered
    EXPECT_EQ(window_->ShowModal(), 5);
    auto got = window_->Of({L"checknet"});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].thread, uiThread);
    EXPECT_NE(got[0].thread, workerThread);
    EXPECT_EQ(got[0].sender, L"b");
    EXPECT_EQ(got[0].wParam, 0x10000u);
    EXPECT_EQ(got[0].lParam, 7);
    // After the window is gone, posting fails and leaks nothing.
    EXPECT_FALSE(window_->PostNotify(nullptr, L"late"));
}

TEST_F(WindowTest, TimersFirePerControlAndStopWhenKilled) {
    int aFires = 0;
    int bFires = 0;
    window_->onNotify = [&](const UiKit::Notify& n) {
        if (n.type != L"timer") {
            return;
        }
        if (n.sender == C(L"a") && n.wParam == 5) {
            if (++aFires == 3) {
                window_->KillTimer(C(L"a"), 5);
                window_->SetTimer(C(L"root"), 9, 400);
            }
        } else if (n.sender == C(L"b") && n.wParam == 5) {
            ++bFires;
        } else if (n.sender == C(L"root") && n.wParam == 9) {
            window_->Close(0);
        }
    };
    ASSERT_TRUE(window_->SetTimer(C(L"a"), 5, 20));
    ASSERT_TRUE(window_->SetTimer(C(L"b"), 5, 60)); // same id on another control: a separate timer
    window_->KillTimer(C(L"opt"), 77);              // killing a timer that does not exist is harmless
    window_->ShowModal();
    EXPECT_EQ(aFires, 3);
    EXPECT_GE(bFires, 2);
}

TEST_F(WindowTest, RealMouseMovesGiveEnterAndLeavePairsAndClicks) {
    ASSERT_TRUE(GuiDriver::MoveMouse(GuiDriver::CenterOf(*window_, *C(L"a"))));
    GuiDriver::PumpUntil([&] { return C(L"a")->IsHot(); }, 2000);
    EXPECT_TRUE(C(L"a")->IsHot());
    GuiDriver::MoveMouse(GuiDriver::CenterOf(*window_, *C(L"b")));
    GuiDriver::PumpUntil([&] { return C(L"b")->IsHot(); }, 2000);
    RECT wr{};
    ::GetWindowRect(window_->GetHWND(), &wr);
    GuiDriver::MoveMouse(POINT{wr.right + 60, wr.bottom + 60});
    GuiDriver::PumpUntil([&] { return window_->Of({L"mouseleave"}).size() >= 2; }, 2000);
    auto moves = window_->Of({L"mouseenter", L"mouseleave"});
    std::vector<std::wstring> seen;
    for (const auto& e : moves) {
        seen.push_back(e.type + L":" + e.sender);
    }
    std::vector<std::wstring> expected = {L"mouseenter:a", L"mouseleave:a", L"mouseenter:b", L"mouseleave:b"};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(C(L"b")->IsHot());

    auto* opt = window_->Find<Option>(L"opt");
    ASSERT_FALSE(opt->IsSelected());
    ASSERT_TRUE(GuiDriver::Click(GuiDriver::CenterOf(*window_, *opt)));
    GuiDriver::PumpUntil([&] { return !window_->Of({L"click"}).empty(); }, 3000);
    EXPECT_TRUE(opt->IsSelected());
    auto changes = window_->Of({L"selectchanged"});
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].sender, L"opt");
    EXPECT_EQ(changes[0].wParam, 1u);
    auto clicks = window_->Of({L"click"});
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].sender, L"opt");

    // A disabled button neither lights up nor clicks.
    C(L"a")->SetEnabled(false);
    GuiDriver::Click(GuiDriver::CenterOf(*window_, *C(L"a")));
    GuiDriver::Pump(300);
    EXPECT_FALSE(C(L"a")->IsHot());
    EXPECT_EQ(window_->Of({L"click"}).size(), 1u);
}

TEST_F(WindowTest, KeyboardFocusAndEnterOrSpaceClickTheFocusedButton) {
    window_->SetFocus(C(L"a"));
    EXPECT_EQ(window_->GetFocus(), C(L"a"));
    EXPECT_TRUE(C(L"a")->IsFocused());
    ::SendMessageW(window_->GetHWND(), WM_KEYDOWN, VK_RETURN, 0);
    ::SendMessageW(window_->GetHWND(), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(window_->GetFocus(), C(L"b"));
    EXPECT_FALSE(C(L"a")->IsFocused());
    ::SendMessageW(window_->GetHWND(), WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(window_->GetHWND(), WM_KEYDOWN, 'X', 0);
    auto clicks = window_->Of({L"click"});
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].sender, L"a");
    EXPECT_EQ(clicks[1].sender, L"b");

    // Focus on the edit box goes to its child window.
    window_->SetFocus(C(L"edit"));
    EXPECT_EQ(::GetFocus(), window_->Find<Edit>(L"edit")->EditHandle());
    // A hidden control cannot take the focus.
    C(L"b")->SetVisible(false);
    window_->SetFocus(C(L"b"));
    EXPECT_EQ(window_->GetFocus(), C(L"edit"));
}

// Once a key has been used, the focused control is framed (white outside, dark inside); the others are not.
TEST_F(WindowTest, FocusCueAfterTheKeyboardWasUsed) {
    ::SendMessageW(window_->GetHWND(), WM_KEYDOWN, VK_TAB, 0);
    void* bits = nullptr;
    Utils::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    Utils::UniqueGdiObject dib = NewDib32(dc.get(), 300, 240, bits);
    ASSERT_TRUE(dib);
    HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
    auto edgeOfA = [&] {
        window_->RenderTo(dc.get());
        const RECT& a = C(L"a")->GetPos();
        const auto* px = static_cast<const uint32_t*>(bits);
        return std::make_pair(px[(a.top + 10) * 300 + a.left] & 0xFFFFFFu,
                              px[(a.top + 10) * 300 + a.left + 2] & 0xFFFFFFu);
    };
    window_->SetFocus(C(L"a"));
    EXPECT_EQ(edgeOfA(), std::make_pair(0xFFFFFFu, 0x1A1A1Au));
    window_->SetFocus(C(L"b"));
    EXPECT_EQ(edgeOfA(), std::make_pair(0x00FF00u, 0x00FF00u)) << "the button's own colour";
    ::SelectObject(dc.get(), old);
}

// Moved to a monitor of another scale: the window takes the suggested rectangle and lays everything out again at
// the new scale, fonts and the edit box included; back at 96 DPI it is as it was.
TEST_F(WindowTest, DpiChangeLaysOutAgainAtTheNewScale) {
    const wchar_t* names[] = {L"closebtn", L"a", L"b", L"opt", L"edit", L"prg", L"p0"};
    auto rects = [&] {
        window_->UpdateLayout();
        std::vector<RECT> out;
        for (const wchar_t* name : names) {
            out.push_back(C(name)->GetPos());
        }
        return out;
    };
    auto fontHeight = [&] {
        LOGFONTW lf{};
        ::GetObjectW(window_->GetFont(0), sizeof(lf), &lf);
        return -lf.lfHeight;
    };
    const std::vector<RECT> at96 = rects();
    HWND editBox = static_cast<Edit*>(C(L"edit"))->EditHandle();
    for (int dpi : {192, 120, 144, 96}) {
        SCOPED_TRACE(dpi);
        RECT suggested{40, 30, 40 + 300 * dpi / 96, 30 + 240 * dpi / 96};
        ::SendMessageW(window_->GetHWND(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT wr{};
        ::GetWindowRect(window_->GetHWND(), &wr);
        EXPECT_TRUE(SameRect(wr, suggested));
        const std::vector<RECT> now = rects();
        for (size_t i = 0; i < now.size(); ++i) {
            const LONG* from = &at96[i].left;
            const LONG* to = &now[i].left;
            for (int edge = 0; edge < 4; ++edge) {
                EXPECT_NEAR(to[edge], from[edge] * dpi / 96.0, 1.0) << TestSupport::Utf8(names[i]) << " edge " << edge;
            }
        }
        EXPECT_EQ(fontHeight(), (14 * dpi + 48) / 96);
        EXPECT_EQ(window_->Look().shadowSize, (5 * dpi + 48) / 96);
        LOGFONTW editFont{};
        ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(editBox, WM_GETFONT, 0, 0)), sizeof(editFont), &editFont);
        EXPECT_EQ(-editFont.lfHeight, fontHeight()) << "the edit box takes the scaled font";
        RECT box{};
        ::GetWindowRect(editBox, &box);
        ::MapWindowPoints(nullptr, window_->GetHWND(), reinterpret_cast<POINT*>(&box), 2);
        const RECT& edit = C(L"edit")->GetPos();
        EXPECT_TRUE(box.left >= edit.left && box.right <= edit.right && box.top >= edit.top &&
                    box.bottom <= edit.bottom);
    }
    const std::vector<RECT> back = rects();
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_TRUE(SameRect(back[i], at96[i])) << TestSupport::Utf8(names[i]);
    }
}

namespace {

std::vector<std::pair<DWORD, LONG>> g_heard; // (event, child id) on the client object of g_heardFrom
HWND g_heardFrom = nullptr;

void CALLBACK Heard(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (hwnd == g_heardFrom && object == OBJID_CLIENT) {
        g_heard.emplace_back(event, child);
    }
}

} // namespace

// What a screen reader hears: each change is reported on the client object with the control's child id.
TEST_F(WindowTest, ChangesAreReportedAsAccessibilityEvents) {
    g_heardFrom = window_->GetHWND();
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_VALUECHANGE, nullptr, Heard,
                                           ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    auto id = [&](const wchar_t* name) {
        auto all = AccElements(window_->GetRoot());
        return static_cast<LONG>(std::find(all.begin(), all.end(), C(name)) - all.begin()) + 1;
    };
    struct Case {
        const char* what;
        std::function<void()> act;
        DWORD event;
        const wchar_t* child; // null: the client itself
    } cases[] = {
        {"focus", [&] { window_->SetFocus(C(L"b")); }, EVENT_OBJECT_FOCUS, L"b"},
        {"check", [&] { window_->Find<Option>(L"opt")->Selected(true); }, EVENT_OBJECT_STATECHANGE, L"opt"},
        {"disable", [&] { C(L"a")->SetEnabled(false); }, EVENT_OBJECT_STATECHANGE, L"a"},
        {"label text", [&] { C(L"p0")->SetText(L"新"); }, EVENT_OBJECT_NAMECHANGE, L"p0"},
        {"label shown",
         [&] {
             C(L"p0")->SetVisible(false);
             C(L"p0")->SetVisible(true);
         },
         EVENT_OBJECT_NAMECHANGE, L"p0"},
        {"progress", [&] { window_->Find<Progress>(L"prg")->SetValue(50); }, EVENT_OBJECT_VALUECHANGE, L"prg"},
        {"page", [&] { window_->Find<TabLayout>(L"tabs")->SelectItem(1); }, EVENT_OBJECT_REORDER, nullptr},
    };
    for (const Case& c : cases) {
        g_heard.clear();
        LONG child = c.child != nullptr ? id(c.child) : CHILDID_SELF;
        c.act();
        GuiDriver::Pump(100);
        EXPECT_NE(std::find(g_heard.begin(), g_heard.end(), std::make_pair(c.event, child)), g_heard.end()) << c.what;
    }
    // Values that follow each other quickly are reported once, when the gap has passed.
    g_heard.clear();
    for (int value : {60, 70, 80}) {
        window_->Find<Progress>(L"prg")->SetValue(value);
    }
    GuiDriver::Pump(600);
    EXPECT_EQ(std::count(g_heard.begin(), g_heard.end(), std::make_pair(DWORD{EVENT_OBJECT_VALUECHANGE}, id(L"prg"))),
              1);
    ::UnhookWinEvent(hook);
}

TEST_F(WindowTest, TheEditBoxTakingTheFocusItselfIsFollowedAndColouredByItsControl) {
    auto* edit = window_->Find<Edit>(L"edit");
    ASSERT_NE(edit->EditHandle(), nullptr);
    window_->SetFocus(C(L"a"));
    ASSERT_EQ(window_->GetFocus(), C(L"a"));
    // As a click into it would: the edit box takes the focus and tells the window with EN_SETFOCUS.
    ::SetFocus(edit->EditHandle());
    GuiDriver::Pump(50);
    EXPECT_EQ(window_->GetFocus(), edit);
    EXPECT_TRUE(edit->IsFocused());
    EXPECT_FALSE(C(L"a")->IsFocused());

    // The edit box asks the window for its colours: the control's background and brush; a handle that is no
    // edit box of the window gets DefWindowProc's answer.
    HDC dc = ::GetDC(edit->EditHandle());
    ASSERT_NE(dc, nullptr);
    LRESULT brush = ::SendMessageW(window_->GetHWND(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(edit->EditHandle()));
    EXPECT_EQ(::GetBkColor(dc), RGB(0xEE, 0xEE, 0xEE));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(edit->ChildColors(dc)));
    LRESULT other = ::SendMessageW(window_->GetHWND(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(window_->GetHWND()));
    EXPECT_NE(other, brush);
    ::ReleaseDC(edit->EditHandle(), dc);
}

TEST_F(WindowTest, TabSelectShowsOnePageAndNotifies) {
    auto* tabs = window_->Find<TabLayout>(L"tabs");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->GetCurSel(), 0);
    EXPECT_TRUE(C(L"p0")->IsShown());
    EXPECT_FALSE(C(L"p1")->IsShown());
    EXPECT_TRUE(tabs->SelectItem(1));
    EXPECT_EQ(tabs->GetCurSel(), 1);
    EXPECT_FALSE(C(L"p0")->IsShown());
    EXPECT_TRUE(C(L"p1")->IsShown());
    EXPECT_FALSE(tabs->SelectItem(2));
    EXPECT_FALSE(tabs->SelectItem(-1));
    auto sel = window_->Of({L"tabselect"});
    ASSERT_EQ(sel.size(), 1u);
    EXPECT_EQ(sel[0].sender, L"tabs");
    EXPECT_EQ(sel[0].wParam, 1u);
    EXPECT_EQ(sel[0].lParam, 0);
    // Check box set from code notifies only when asked to.
    auto* opt = window_->Find<Option>(L"opt");
    opt->Selected(true, false);
    EXPECT_TRUE(opt->IsSelected());
    EXPECT_TRUE(window_->Of({L"selectchanged"}).empty());
}

TEST_F(WindowTest, DefaultClicksMinimiseAndClose) {
    HWND hwnd = window_->GetHWND();
    window_->SendNotify(C(L"minbtn"), L"click");
    GuiDriver::Pump(100);
    EXPECT_TRUE(::IsIconic(hwnd));
    ::ShowWindow(hwnd, SW_RESTORE);
    window_->SendNotify(C(L"closebtn"), L"click");
    GuiDriver::Pump(50);
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(window_->GetHWND(), nullptr);
}

TEST_F(WindowTest, ModalRunDisablesTheOwnerAndReturnsTheResult) {
    window_.reset();
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 10, 10, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    // A second dialog of the same owner stacked on the first (a warning over a message box): closing it must
    // leave the owner disabled under the first, which enables it when it closes.
    TestWindow dialog(dir_.path());
    TestWindow stacked(dir_.path());
    ASSERT_TRUE(dialog.Create(owner, L"modal", WS_POPUP, 0));
    bool ownerEnabledInside = true;
    bool ownerEnabledAfterStacked = true;
    int stackedResult = 0;
    dialog.onNotify = [&](const UiKit::Notify& n) {
        if (n.type != L"timer") {
            return;
        }
        dialog.KillTimer(dialog.FindControl(L"a"), 1);
        ownerEnabledInside = ::IsWindowEnabled(owner) != FALSE;
        ASSERT_TRUE(stacked.Create(owner, L"stacked", WS_POPUP, 0));
        stacked.onNotify = [&](const UiKit::Notify& m) {
            if (m.type == L"timer") {
                stacked.Close(3);
            }
        };
        stacked.SetTimer(stacked.FindControl(L"a"), 1, 50);
        stackedResult = stacked.ShowModal();
        ownerEnabledAfterStacked = ::IsWindowEnabled(owner) != FALSE;
        dialog.Close(7);
    };
    dialog.SetTimer(dialog.FindControl(L"a"), 1, 50);
    EXPECT_EQ(dialog.ShowModal(), 7);
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_EQ(stackedResult, 3);
    EXPECT_FALSE(ownerEnabledAfterStacked) << "the stacked dialog enabled the owner under the first one";
    EXPECT_TRUE(::IsWindowEnabled(owner));
    EXPECT_EQ(dialog.ShowModal(), -1); // the window is gone
    ::DestroyWindow(owner);
}

TEST_F(WindowTest, CentresOnTheWorkArea) {
    RECT wr{};
    ::GetWindowRect(window_->GetHWND(), &wr);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((wr.left + wr.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((wr.top + wr.bottom) - (work.top + work.bottom)), 1);
}

TEST(ImageCache, ReadsFilesFromTheSkinFolderAndAppliesTheMask) {
    ASSERT_TRUE(StartGdiplus());
    TestSupport::TempDir dir(L"skin");
    ::CreateDirectoryW((dir / L"res").c_str(), nullptr);
    ::CreateDirectoryW((dir / L"res\\common").c_str(), nullptr);
    {
        Gdiplus::Bitmap bmp(2, 1, PixelFormat32bppARGB);
        bmp.SetPixel(0, 0, Gdiplus::Color(255, 255, 0, 0));
        bmp.SetPixel(1, 0, Gdiplus::Color(255, 10, 20, 30));
        CLSID png{};
        UINT n = 0, size = 0;
        Gdiplus::GetImageEncodersSize(&n, &size);
        std::vector<BYTE> buf(size);
        auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
        Gdiplus::GetImageEncoders(n, size, codecs);
        for (UINT i = 0; i < n; ++i) {
            if (std::wstring(codecs[i].MimeType) == L"image/png") {
                png = codecs[i].Clsid;
            }
        }
        ASSERT_EQ(bmp.Save((dir / L"res\\common\\close.png").c_str(), &png, nullptr), Gdiplus::Ok);
    }
    ImageCache cache;
    cache.SetSource(::GetModuleHandleW(nullptr), dir.path());
    Gdiplus::Bitmap* plain = cache.Get(*ParseImage(L"res\\common\\close.png"));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->GetWidth(), 2u);
    Gdiplus::Color c;
    plain->GetPixel(0, 0, &c);
    EXPECT_EQ(c.GetA(), 255);

    Gdiplus::Bitmap* masked = cache.Get(*ParseImage(L"file='res\\common\\close.png' mask='#FF0000'"));
    ASSERT_NE(masked, nullptr);
    masked->GetPixel(0, 0, &c);
    EXPECT_EQ(c.GetA(), 0); // the mask colour is gone
    masked->GetPixel(1, 0, &c);
    EXPECT_EQ(c.GetValue(), 0xFF0A141Eu); // everything else stays

    EXPECT_EQ(cache.Get(*ParseImage(L"res\\missing.png")), nullptr);
    EXPECT_EQ(cache.Get(*ParseImage(L"res='4242' restype='png'")), nullptr);
}

// Images drawn through the canvas: destination inside the control, fade, the progress cut and the nine-slice.
TEST(Canvas, DrawsImagesWithDestFadeAndCut) {
    ASSERT_TRUE(StartGdiplus());
    TestSupport::TempDir dir(L"canvas");
    {
        // 4 x 2: left half red, right half blue.
        Gdiplus::Bitmap bmp(4, 2, PixelFormat32bppARGB);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x) {
                bmp.SetPixel(x, y, x < 2 ? Gdiplus::Color(255, 255, 0, 0) : Gdiplus::Color(255, 0, 0, 255));
            }
        }
        CLSID png{};
        UINT n = 0, size = 0;
        Gdiplus::GetImageEncodersSize(&n, &size);
        std::vector<BYTE> buf(size);
        auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
        Gdiplus::GetImageEncoders(n, size, codecs);
        for (UINT i = 0; i < n; ++i) {
            if (std::wstring(codecs[i].MimeType) == L"image/png") {
                png = codecs[i].Clsid;
            }
        }
        ASSERT_EQ(bmp.Save((dir / L"rb.png").c_str(), &png, nullptr), Gdiplus::Ok);
    }
    ImageCache cache;
    cache.SetSource(::GetModuleHandleW(nullptr), dir.path());

    void* bits = nullptr;
    Utils::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    Utils::UniqueGdiObject dib = NewDib32(dc.get(), 40, 10, bits);
    ASSERT_TRUE(dib);
    HGDIOBJ old = ::SelectObject(dc.get(), dib.get());
    auto* px = static_cast<uint32_t*>(bits);
    auto at = [&](int x, int y) { return px[y * 40 + x] & 0x00FFFFFFu; };
    auto draw = [&](const wchar_t* image, RECT rc, int cut) {
        std::fill(px, px + 400, 0xFFFFFFFFu);
        Canvas canvas(dc.get(), cache);
        canvas.DrawImage(image, rc, cut);
    };

    draw(L"rb.png", RECT{0, 0, 40, 10}, -1); // stretched over the whole area
    EXPECT_EQ(at(5, 5), 0xFF0000u);
    EXPECT_EQ(at(35, 5), 0x0000FFu);

    draw(L"file='rb.png' dest='10,2,14,4'", RECT{0, 0, 40, 10}, -1); // only the destination changes
    EXPECT_EQ(at(5, 5), 0xFFFFFFu);
    EXPECT_EQ(at(10, 2), 0xFF0000u);
    EXPECT_EQ(at(13, 3), 0x0000FFu);
    EXPECT_EQ(at(14, 3), 0xFFFFFFu);

    draw(L"file='rb.png' fade='0'", RECT{0, 0, 40, 10}, -1); // fully faded: nothing drawn
    EXPECT_EQ(at(5, 5), 0xFFFFFFu);
    draw(L"file='rb.png' fade='128'", RECT{0, 0, 40, 10}, -1); // half: red over white is pink
    uint32_t pink = at(5, 5);
    EXPECT_EQ(pink >> 16, 0xFFu);
    EXPECT_NEAR(static_cast<int>(pink & 0xFF), 127, 8);

    draw(L"rb.png", RECT{0, 0, 4, 2}, 2); // the progress cut: left two pixels, not squeezed
    EXPECT_EQ(at(0, 0), 0xFF0000u);
    EXPECT_EQ(at(1, 1), 0xFF0000u);
    EXPECT_EQ(at(2, 0), 0xFFFFFFu);

    draw(L"file='rb.png' corner='1,0,1,0'", RECT{0, 0, 40, 2}, -1); // nine-slice: the edges keep their colour
    EXPECT_EQ(at(0, 0), 0xFF0000u);
    EXPECT_EQ(at(39, 0), 0x0000FFu);
    ::SelectObject(dc.get(), old);
}

namespace {
class NoFolderWindow : public Window {
public:
    std::wstring GetSkinFile() const override { return L"test.xml"; }
};
} // namespace

namespace {
// Needs "a" as a button, "closebtn" as an edit box (the skin has a button there) and "gone" (not in the skin).
class NeedyWindow : public Window {
public:
    explicit NeedyWindow(std::wstring folder) : folder_(std::move(folder)) {}
    std::wstring GetSkinFile() const override { return L"test.xml"; }
    std::wstring GetSkinFolder() const override { return folder_; }
    void InitWindow() override {
        a = Bind<Button>(L"a");
        Bind<Edit>(L"closebtn");
        Bind<Control>(L"gone");
    }
    Button* a = nullptr;

private:
    std::wstring folder_;
};
} // namespace

TEST(Bind, AWindowWhoseSkinLacksANeededControlIsNotCreated) {
    TestSupport::TempDir dir(L"bind");
    ASSERT_TRUE(TestSupport::WriteBytes(dir / L"test.xml", kLayout));
    TestSupport::LogCapture capture;
    NeedyWindow w(dir.path());
    EXPECT_FALSE(w.Create(nullptr, L"needy", WS_POPUP | WS_VISIBLE, 0));
    EXPECT_EQ(w.GetHWND(), nullptr);
    EXPECT_NE(w.a, nullptr) << "what the skin has is bound";
    size_t named = 0;
    for (const std::wstring& line : capture.Lines()) {
        named += line.find(L"skin test.xml lacks controls the window needs: closebtn gone") != std::wstring::npos;
    }
    EXPECT_EQ(named, 1u);
}

TEST(ResourcePath, WindowsWithoutASkinFolderReadFromIt) {
    TestSupport::TempDir dir(L"respath");
    ASSERT_TRUE(TestSupport::WriteBytes(dir / L"test.xml", kLayout));
    {
        NoFolderWindow w;
        EXPECT_FALSE(w.Create(nullptr, L"no folder", WS_POPUP, 0)); // not in the current folder
    }
    SetResourcePath(dir.path());
    NoFolderWindow w;
    EXPECT_TRUE(w.Create(nullptr, L"resource folder", WS_POPUP, 0));
    EXPECT_NE(w.FindControl(L"a"), nullptr);
    SetResourcePath(L"");
}
