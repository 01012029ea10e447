// The four tip dialogs driven by real X mouse clicks at their controls' centres, with the results the main window
// relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/uikit/GuiDriver.h"
#include "ui/Licence.h"
#include "ui/MainWnd.h"
#include "ui/TipDialogs.h"

namespace {

// Shared between the dialog's UI thread (the hook) and the driver thread that clicks.
struct Session {
    std::atomic<CSkinFrameBase*> dialog{nullptr};
    std::atomic<HWND> hwnd{nullptr};
    std::vector<const wchar_t*> clicks;
    std::vector<bool> openAfterClick; // the dialog still existed after each click
    std::wstring caption;             // texts seen once the dialog was up
    std::wstring text;
    bool timedOut = false;
    std::function<void()> whenShown; // runs on the driver thread once the dialog is up, before the clicks
};

// Runs `show` (which opens one dialog modally on this thread) while a driver thread clicks `clicks` in order.
int Drive(Session& s, const std::function<int()>& show) {
    DialogCreatedSeam::Override driven(DialogCreated(), [&s](CSkinFrameBase& dialog) {
        dialog.UpdateLayout();
        s.dialog = &dialog;
        s.hwnd = dialog.GetHWND();
    });
    std::thread driver([&s] {
        DWORD start = ::GetTickCount();
        while ((s.hwnd == nullptr || !::IsWindowVisible(s.hwnd)) && ::GetTickCount() - start < 10000) {
            ::Sleep(20);
        }
        HWND hwnd = s.hwnd;
        if (hwnd == nullptr) {
            s.timedOut = true;
            return;
        }
        ::Sleep(400); // centred and painted
        CSkinFrameBase* d = s.dialog;
        if (auto* c = d->FindControl(L"captionLbl")) {
            s.caption = c->GetText();
        }
        if (auto* c = d->FindControl(L"textLbl")) {
            s.text = c->GetText();
        }
        if (s.whenShown) {
            s.whenShown();
        }
        for (size_t i = 0; i < s.clicks.size(); ++i) {
            UiKit::Control* c = d->FindControl(s.clicks[i]);
            if (c == nullptr || !::IsWindow(hwnd)) {
                s.openAfterClick.push_back(false);
                continue;
            }
            GuiDriver::Click(GuiDriver::CenterOf(*d, *c));
            // The last click should close the dialog soon; an earlier one must leave it open for a good while.
            DWORD clicked = ::GetTickCount();
            bool last = i + 1 == s.clicks.size();
            while (::GetTickCount() - clicked < (last ? 3000u : 1000u) && (!last || ::IsWindow(hwnd))) {
                ::Sleep(20);
            }
            s.openAfterClick.push_back(::IsWindow(hwnd) != FALSE);
        }
        start = ::GetTickCount();
        while (::IsWindow(hwnd) && ::GetTickCount() - start < 5000) {
            ::Sleep(20);
        }
        if (::IsWindow(hwnd)) {
            s.timedOut = true; // the clicks did not close it: end the modal loop so the test can report
            ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
    });
    int result = show();
    driver.join();
    return result;
}

std::vector<bool> ClosedOnlyAtTheEnd(size_t clicks) {
    std::vector<bool> v(clicks, true);
    v.back() = false;
    return v;
}

} // namespace

TEST(Dialogs, AgreementAgreesRefusesAndOpensTheLicence) {
    std::vector<std::wstring> opened;
    LicenceOpenerSeam::Override recorded(LicenceOpener(),
                                         [&](HWND, const std::wstring& url) { opened.push_back(url); });
    struct Case {
        std::vector<const wchar_t*> clicks;
        int result;
        size_t licenceOpened;
    } cases[] = {
        {{L"okBtn"}, 1, 0},
        {{L"cancelBtn"}, 2, 0},
        {{L"closebtn"}, 2, 0},
        {{L"agreementBtn", L"okBtn"}, 1, 1}, // the link leaves the dialog open
    };
    for (const auto& c : cases) {
        opened.clear();
        Session s;
        s.clicks = c.clicks;
        int result = Drive(s, [] { return ShowAgreementDialog(nullptr); });
        std::string what = TestSupport::Utf8(c.clicks.front()) + " (" + std::to_string(c.clicks.size()) + " clicks)";
        EXPECT_FALSE(s.timedOut) << what;
        EXPECT_EQ(result, c.result) << what;
        EXPECT_EQ(s.openAfterClick, ClosedOnlyAtTheEnd(c.clicks.size())) << what;
        ASSERT_EQ(opened.size(), c.licenceOpened) << what;
        if (!opened.empty()) {
            EXPECT_EQ(opened[0], LicencePageUrl());
            EXPECT_EQ(opened[0].rfind(L"http://", 0), 0u);
            EXPECT_EQ(opened[0].substr(opened[0].size() - 13), L"/licence.html");
        }
    }
}

TEST(Dialogs, ExitConfirmsOnlyWithYes) {
    struct Case {
        const wchar_t* click;
        int result;
    } cases[] = {{L"okBtn", 1}, {L"cancelBtn", 2}, {L"closebtn", 2}};
    for (const auto& c : cases) {
        Session s;
        s.clicks = {c.click};
        int result = Drive(s, [] { return ShowExitDialog(nullptr); });
        EXPECT_FALSE(s.timedOut) << TestSupport::Utf8(c.click);
        EXPECT_EQ(result, c.result) << TestSupport::Utf8(c.click);
    }
}

namespace {

std::vector<HWND> g_dialogsStarted; // windows that announced themselves as dialogs

void CALLBACK DialogStarted(HWINEVENTHOOK, DWORD, HWND hwnd, LONG, LONG, DWORD, DWORD) {
    g_dialogsStarted.push_back(hwnd);
}

} // namespace

TEST(Dialogs, MessageAndWarningResultsAndTexts) {
    // Screen readers hear each dialog open.
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_SYSTEM_DIALOGSTART, EVENT_SYSTEM_DIALOGSTART, nullptr, DialogStarted,
                                           ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    struct Case {
        const char* what;
        std::function<int()> show;
        const wchar_t* click;
        int result;
        const wchar_t* caption;
        const wchar_t* text;
    } cases[] = {
        {"message ok", [] { return ShowMessageDialog(nullptr, L"下载失败", L"温馨提示"); }, L"okBtn", 0, L"温馨提示",
         L"下载失败"},
        {"message close", [] { return ShowMessageDialog(nullptr, L"包消息", L"消息"); }, L"closebtn", 1, L"消息",
         L"包消息"},
        {"message null caption keeps the skin's", [] { return ShowMessageDialog(nullptr, L"文本", nullptr); }, L"okBtn",
         0, L"温馨提示", L"文本"},
        {"message null text keeps the skin's", [] { return ShowMessageDialog(nullptr, nullptr, nullptr); }, L"closebtn",
         1, L"温馨提示", L"TEXT"},
        {"warning close", [] { return ShowWarnDialog(nullptr, L"无效路径"); }, L"closebtn", 1, L"温馨提示",
         L"无效路径"},
        {"warning empty text", [] { return ShowWarnDialog(nullptr, L""); }, L"closebtn", 1, L"温馨提示", L""},
    };
    for (const auto& c : cases) {
        Session s;
        s.clicks = {c.click};
        int result = Drive(s, c.show);
        EXPECT_FALSE(s.timedOut) << c.what;
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(s.caption, c.caption) << c.what;
        EXPECT_EQ(s.text, c.text) << c.what;
        EXPECT_NE(std::find(g_dialogsStarted.begin(), g_dialogsStarted.end(), s.hwnd.load()), g_dialogsStarted.end())
            << c.what;
    }
    ::UnhookWinEvent(hook);
}

TEST(Dialogs, ModalOverAnOwnerThatIsEnabledAgainAfterwards) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 600, 400, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    Session s;
    s.clicks = {L"okBtn"};
    bool ownerDisabled = false;
    s.whenShown = [&] { ownerDisabled = !::IsWindowEnabled(owner); };
    int result = Drive(s, [&] { return ShowExitDialog(owner); });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner));
    EXPECT_EQ(::GetWindow(s.hwnd, GW_OWNER), nullptr); // gone
    ::DestroyWindow(owner);
}

// The exit dialog's modal loop delivers the main window's messages too. A network-check result that arrives
// while it is up waits: "是" ends the installer without starting the download behind it, "否" lets it through.
TEST(Dialogs, ResultsBehindTheExitDialogWaitUntilItIsGone) {
    struct Case {
        const wchar_t* button;
        bool windowStays;
    } cases[] = {{L"okBtn", false}, {L"cancelBtn", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::Utf8(c.button));
        CMainWnd main;
        ASSERT_TRUE(main.Create(nullptr, L"main", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0));
        GuiDriver::Pump(300);
        Session s;
        s.clicks = {c.button};
        int pageBehindDialog = -1;
        s.whenShown = [&] {
            main.PostNotify(nullptr, L"checknet", 0); // a good network, as the check's worker posts it
            ::Sleep(500);
            pageBehindDialog = main.CurrentPage();
        };
        Drive(s, [&] {
            ::SendMessageW(main.GetHWND(), WM_CLOSE, 0, 0);
            return 0;
        });
        EXPECT_FALSE(s.timedOut);
        EXPECT_EQ(pageBehindDialog, 0) << "the result was handled behind the dialog";
        EXPECT_EQ(main.GetHWND() != nullptr, c.windowStays);
        if (c.windowStays) {
            // The test prepared no attempt (no folder), so the download the result starts fails at once with a
            // message: the page behind it is read, and the message dismissed, as it comes up.
            int seenPage = -1;
            DialogCreatedSeam::Override dismissed(DialogCreated(), [&](CSkinFrameBase& d) {
                seenPage = main.CurrentPage();
                ::PostMessageW(d.GetHWND(), WM_CLOSE, 0, 0);
            });
            GuiDriver::PumpUntil([&] { return seenPage != -1; }, 10000);
            EXPECT_EQ(seenPage, 2) << "the result waited and was handled after the dialog";
            main.Close(0);
        } else {
            EXPECT_NE(main.CurrentPage(), 2);
        }
    }
}
