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

    UiKit::Control* m_winVLayout = nullptr;
    UiKit::Button* m_backBtn = nullptr;
    UiKit::Control* m_titleSystemHLayout = nullptr;
    UiKit::TabLayout* m_mainTabLayout = nullptr;
    UiKit::Button* m_defaultInstallBtn = nullptr;
    UiKit::Button* m_customeInstallBtn = nullptr;
    UiKit::Button* m_customeBtn = nullptr;
    UiKit::Button* m_openProduceBtn = nullptr;
    UiKit::Option* m_treatyCb = nullptr;
    UiKit::Option* m_treatyCb2 = nullptr;
    UiKit::Button* m_chDirBtn = nullptr;
    UiKit::Edit* m_installDirEdit = nullptr;
    UiKit::Label* m_progressLb = nullptr;
    UiKit::Option* m_createDSCb = nullptr;
    UiKit::Option* m_createQSCb = nullptr;
    UiKit::Control* m_tipLbl = nullptr;
    UiKit::Control* m_tipLb2 = nullptr;
    UiKit::Control* m_installingTipLbl = nullptr;
    UiKit::Progress* m_installPrg = nullptr;

    MainWndLogic::RunFacts m_facts;
    MainWndLogic::RunEndRule m_runEnd;
    Records::InstallRecord m_previous;
    CTaskbarProgress m_taskbar;
    std::unique_ptr<CDownloadInstaller> m_installer;
    AttemptInputs m_attempt; // prepared when the install button is clicked, started after the network check
    std::unique_ptr<Utils::Thread> m_netCheckThread;
    int m_pageBeforeInstall = 0;
    int m_dialogs = 0;
    bool m_replayPosted = false;
    bool m_replaying = false;
    std::deque<MSG> m_deferred;
};
