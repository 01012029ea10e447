// The installer's main window: the start, custom, installing and done pages, and the flow that drives one run.
//
// Threads: everything here runs on the UI thread. The orchestrator's workers reach the window only through
// OnStatus (which posts a heap StatusRecord as WM_INSTALLER_STATUS), the network-check worker only through a
// queued "checknet" notification. Both wait while a dialog of the window is up.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "download/Downloader.h"
#include "install/DownloadInstaller.h"
#include "records/Records.h"
#include "ui/MainWndLogic.h"
#include "ui/SkinFrameBase.h"
#include "ui/Taskbar.h"
#include "ui/skins/ResourceIds.h"
#include "utils/Thread.h"

namespace UiKit {
class Control;
class Button;
class Label;
class Option;
class Edit;
class Progress;
class TabLayout;
} // namespace UiKit

// One status event of a run, carried from a worker thread to the window (heap, freed by the window).
struct StatusRecord {
    int code = 0;
    double value = 0.0;
    std::wstring message;
};

constexpr UINT WM_INSTALLER_STATUS = WM_USER + 1000;
// Posted to itself when a dialog of the window has ended and results wait behind it.
constexpr UINT WM_REPLAY_DEFERRED = WM_USER + 1001;

constexpr UINT TIMER_INSTALLING_TIP = 10; // on "installingTipLbl"
constexpr UINT TIMER_BRING_TO_FRONT = 12; // on the root control
constexpr UINT TIMER_AUTO_CLOSE = 11;     // on the root control
constexpr UINT kInstallingTipDelayMs = 60000;

class CMainWnd : public CSkinFrameBase {
public:
    CMainWnd();
    ~CMainWnd() override;

    std::wstring GetSkinFile() const override { return LayoutName(IDR_LAYOUT_MAIN); }
    void InitWindow() override;
    void Notify(const UiKit::Notify& msg) override;
    void OnClick(const UiKit::Notify& msg) override;
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) override;
    LRESULT OnSysCommand(WPARAM wp, LPARAM lp, bool& handled) override;

    virtual LRESULT OnTimer(WPARAM wp, LPARAM lp);
    virtual LRESULT OnStatus(const StatusRecord& record);

    bool StartInstall(const std::wstring& folder, bool createDesktopShortcut, bool createQuickLaunch);
    std::wstring GetDefaultInstallPath() const;
    std::wstring GetCustomInstallPath() const;
    void FinishInstall();

    // Read by the end-to-end tests through the window's debug lines as well as here.
    int CurrentPage() const;

private:
    // While a modal dialog of the window is up (its loop delivers the window's messages too), results, queued
    // notifications and timers wait; they are replayed in order once the handler that showed the dialog is done.
    int RunDialog(const std::function<int()>& show);
    bool Defer(UINT msg, WPARAM wp, LPARAM lp);
    void ReplayDeferred();
    int Warn(const std::wstring& text);
    int Message(const std::wstring& text, const wchar_t* caption);
    void ShowProgress(int percent);
    void Refuse(MainWndLogic::Refusal refusal);
    void OnCheckNet(int result);
    void OnInstall(bool go);
    void EnableInstallButtons();

    UiKit::Control* winVLayout_ = nullptr;
    UiKit::Button* backBtn_ = nullptr;
    UiKit::Control* titleSystemHLayout_ = nullptr;
    UiKit::TabLayout* mainTabLayout_ = nullptr;
    UiKit::Button* defaultInstallBtn_ = nullptr;
    UiKit::Button* customeInstallBtn_ = nullptr;
    UiKit::Button* customeBtn_ = nullptr;
    UiKit::Button* openProduceBtn_ = nullptr;
    UiKit::Option* treatyCb_ = nullptr;
    UiKit::Option* treatyCb2_ = nullptr;
    UiKit::Button* chDirBtn_ = nullptr;
    UiKit::Edit* installDirEdit_ = nullptr;
    UiKit::Label* progressLb_ = nullptr;
    UiKit::Option* createDSCb_ = nullptr;
    UiKit::Option* createQSCb_ = nullptr;
    UiKit::Control* tipLbl_ = nullptr;
    UiKit::Control* tipLb2_ = nullptr;
    UiKit::Control* installingTipLbl_ = nullptr;
    UiKit::Progress* installPrg_ = nullptr;

    MainWndLogic::RunFacts facts_;
    MainWndLogic::RunEndRule runEnd_;
    Records::InstallRecord previous_;
    CTaskbarProgress taskbar_;
    std::unique_ptr<CDownloadInstaller> installer_;
    AttemptInputs attempt_; // prepared when the install button is clicked, started after the network check
    std::unique_ptr<Utils::Thread> netCheckThread_;
    int pageBeforeInstall_ = 0;
    int dialogs_ = 0;
    bool replayPosted_ = false;
    bool replaying_ = false;
    std::deque<MSG> deferred_;
};
