#include "ui/MainWnd.h"

#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include "config/InstallerConfig.h"
#include "install/DownloadInstaller.h"
#include "install/Folders.h"
#include "records/Records.h"
#include "sysinfo/Accounts.h"
#include "ui/InstallFlow.h"
#include "ui/Licence.h"
#include "ui/TipDialogs.h"
#include "uikit/Control.h"
#include "utils/DebugLog.h"
#include "utils/Paths.h"
#include "utils/Probes.h"
#include "utils/ScopedWin.h"

namespace {

enum Page { kPageStart = 0, kPageCustom = 1, kPageInstalling = 2, kPageDone = 3 };

} // namespace

CMainWnd::CMainWnd() : CSkinFrameBase(L"MainWnd.xml") {}

CMainWnd::~CMainWnd() {
    // The orchestrator first (it joins its jobs), then the network-check worker.
    m_installer.reset();
    m_netCheckThread.reset();
    // Results that arrived behind a dialog that ended the window are dropped with their records.
    for (const MSG& m : m_deferred) {
        if (m.message == WM_INSTALLER_STATUS) {
            delete reinterpret_cast<StatusRecord*>(m.lParam);
        } else if (m.message == UiKit::WM_UIKIT_NOTIFY) {
            delete reinterpret_cast<UiKit::Notify*>(m.lParam);
        }
    }
}

bool CMainWnd::Defer(UINT msg, WPARAM wp, LPARAM lp) {
    const bool ownResult = msg == WM_INSTALLER_STATUS || msg == UiKit::WM_UIKIT_NOTIFY || msg == WM_TIMER;
    if (!ownResult || m_replaying || (m_dialogs == 0 && !m_replayPosted)) {
        return false;
    }
    for (const MSG& m : m_deferred) {
        if (msg == WM_TIMER && m.message == WM_TIMER && m.wParam == wp) {
            return true; // a timer that fired again while it waited: once is enough
        }
    }
    MSG queued{};
    queued.message = msg;
    queued.wParam = wp;
    queued.lParam = lp;
    m_deferred.push_back(queued);
    return true;
}

void CMainWnd::ReplayDeferred() {
    m_replayPosted = false;
    m_replaying = true;
    while (!m_deferred.empty() && m_dialogs == 0 && GetHWND() != nullptr) {
        MSG m = m_deferred.front();
        m_deferred.pop_front();
        Dispatch(m.message, m.wParam, m.lParam);
    }
    m_replaying = false;
}

int CMainWnd::RunDialog(const std::function<int()>& show) {
    ++m_dialogs;
    int result = show();
    --m_dialogs;
    // Replayed once the handler that showed the dialog has finished, before anything that arrives later.
    if (m_dialogs == 0 && !m_deferred.empty() && !m_replayPosted && GetHWND() != nullptr) {
        m_replayPosted = ::PostMessageW(GetHWND(), WM_REPLAY_DEFERRED, 0, 0) != FALSE;
    }
    return result;
}

// Every dialog the window shows leaves its text in the log: support reads what the user was told.
int CMainWnd::Warn(const std::wstring& text) {
    DEBUG_LOG(L"warning: %s", text.c_str());
    return RunDialog([&] { return ShowWarnDialog(GetHWND(), text.c_str()); });
}

int CMainWnd::Message(const std::wstring& text, const wchar_t* caption) {
    DEBUG_LOG(L"message: %s", text.c_str());
    return RunDialog([&] { return ShowMessageDialog(GetHWND(), text.c_str(), caption); });
}

void CMainWnd::InitWindow() {
    CSkinFrameBase::InitWindow();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (HICON big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                    LR_DEFAULTCOLOR | LR_SHARED))) {
        ::SendMessageW(GetHWND(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    }
    if (HICON small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                      LR_DEFAULTCOLOR | LR_SHARED))) {
        ::SendMessageW(GetHWND(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }

    m_winVLayout = Bind<UiKit::Control>(L"winVLayout");
    m_backBtn = Bind<UiKit::Button>(L"backBtn");
    m_titleSystemHLayout = Bind<UiKit::Control>(L"titleSystemHLayout");
    m_mainTabLayout = Bind<UiKit::TabLayout>(L"mainTabLayout");
    m_defaultInstallBtn = Bind<UiKit::Button>(L"defaultInstallBtn");
    m_customeInstallBtn = Bind<UiKit::Button>(L"customeInstallBtn");
    m_customeBtn = Bind<UiKit::Button>(L"customeBtn");
    m_openProduceBtn = Bind<UiKit::Button>(L"openProduceBtn");
    m_treatyCb = Bind<UiKit::Option>(L"treatyCb");
    m_treatyCb2 = Bind<UiKit::Option>(L"treatyCb2");
    m_chDirBtn = Bind<UiKit::Button>(L"chDirBtn");
    m_installDirEdit = Bind<UiKit::Edit>(L"installDirEdit");
    m_progressLb = Bind<UiKit::Label>(L"progressLb");
    m_createDSCb = Bind<UiKit::Option>(L"createDSCb");
    m_createQSCb = Bind<UiKit::Option>(L"createQSCb");
    m_tipLbl = Bind<UiKit::Control>(L"tipLbl");
    m_tipLb2 = Bind<UiKit::Control>(L"tipLb2");
    m_installingTipLbl = Bind<UiKit::Control>(L"installingTipLbl");
    m_installPrg = Bind<UiKit::Progress>(L"installPrg");

    // Workers only post: the record belongs to the window once the post succeeded.
    HWND hwnd = GetHWND();
    m_installer = std::make_unique<CDownloadInstaller>([hwnd](int code, double value, const wchar_t* message) {
        auto* record = new StatusRecord{code, value, message != nullptr ? message : L""};
        if (!::PostMessageW(hwnd, WM_INSTALLER_STATUS, 0, reinterpret_cast<LPARAM>(record))) {
            delete record;
        }
    });

    m_previous = Records::ReadInstallRecord();
    m_installDirEdit->SetText(GetDefaultInstallPath());
    m_taskbar.Attach(hwnd);
}

int CMainWnd::CurrentPage() const {
    return m_mainTabLayout != nullptr ? m_mainTabLayout->GetCurSel() : -1;
}

std::wstring CMainWnd::GetDefaultInstallPath() const {
    return InstallFlow::DefaultInstallPath(m_previous);
}

std::wstring CMainWnd::GetCustomInstallPath() const {
    std::wstring chosen = m_installDirEdit->GetText();
    std::wstring defaultPath = GetDefaultInstallPath();
    if (InstallFlow::IsSameFolder(defaultPath, chosen)) {
        return defaultPath;
    }
    return Utils::JoinPath(chosen, L"Tunivox");
}

void CMainWnd::EnableInstallButtons() {
    m_defaultInstallBtn->SetEnabled(true);
    m_customeInstallBtn->SetEnabled(true);
}

void CMainWnd::Refuse(MainWndLogic::Refusal refusal) {
    Warn(MainWndLogic::RefusalText(refusal));
    SendNotify(nullptr, L"install", 0);
}

bool CMainWnd::StartInstall(const std::wstring& folder, bool createDesktopShortcut, bool createQuickLaunch) {
    m_defaultInstallBtn->SetEnabled(false);
    m_customeInstallBtn->SetEnabled(false);

    MainWndLogic::Refusal refusal = InstallFlow::CheckFolder(folder);
    if (refusal != MainWndLogic::Refusal::None) {
        Refuse(refusal);
        return false;
    }
    m_facts.installPath = folder;
    m_attempt = InstallFlow::PrepareAttempt(folder, InstallFlow::UninstallerToRun(m_previous, folder),
                                            createDesktopShortcut, createQuickLaunch);

    if (g_installerConfig.IsCheckNet) {
        m_netCheckThread.reset(); // waits for an earlier check
        m_netCheckThread = std::make_unique<Utils::Thread>(this, L"ABDEF", [](void* self) -> unsigned long {
            Utils::ComInit com(COINIT_APARTMENTTHREADED);
            MainWndLogic::Refusal result = InstallFlow::CheckNetwork();
            static_cast<CMainWnd*>(self)->PostNotify(nullptr, L"checknet", static_cast<WPARAM>(result), 0);
            return 0;
        });
        m_netCheckThread->Resume();
    } else {
        PostNotify(nullptr, L"install", 1);
    }
    return true;
}

void CMainWnd::OnCheckNet(int result) {
    auto refusal = static_cast<MainWndLogic::Refusal>(result);
    if (refusal != MainWndLogic::Refusal::None) {
        Refuse(refusal);
    } else {
        SendNotify(nullptr, L"install", 1);
    }
}

void CMainWnd::OnInstall(bool go) {
    if (go) {
        m_pageBeforeInstall = CurrentPage();
        m_mainTabLayout->SelectItem(kPageInstalling);
        m_runEnd.Begin();
        m_installer->Start(m_attempt);
        SetTimer(m_installingTipLbl, TIMER_INSTALLING_TIP, kInstallingTipDelayMs);
    }
    EnableInstallButtons();
}

void CMainWnd::ShowProgress(int percent) {
    std::wstring text = MainWndLogic::FormatProgressLabel(m_progressLb->GetUserData(), percent);
    m_progressLb->SetText(text);
    m_installPrg->SetValue(percent);
    DEBUG_LOG(L"progress=%d %s", percent, text.c_str());
}

LRESULT CMainWnd::OnStatus(const StatusRecord& r) {
    // The run ends once, by the rule the silent run follows too: a second verdict of the same attempt is not heard.
    if (m_runEnd.Ignores(r.code)) {
        DEBUG_LOG(L"ignored after the end of the run: %d", r.code);
        return 0;
    }
    (void)m_runEnd.Take(r.code);
    const double scale = g_installerConfig.DownloadScale;
    m_taskbar.Show(MainWndLogic::TaskbarProgressOf(r.code, r.value, scale));
    if (std::optional<int> percent = MainWndLogic::ProgressPercentOf(r.code, r.value, scale)) {
        ShowProgress(*percent);
        return 0;
    }
    if (m_facts.Take(r.code, r.value, r.message)) {
        return 0;
    }
    switch (r.code) {
    case DL_CODE_FAIL:
        InstallFlow::RemovePackageAfterFailedDownload(*m_installer);
        Message(L"下载失败", L"温馨提示");
        m_mainTabLayout->SelectItem(m_pageBeforeInstall);
        break;
    case IST_CODE_START:
        Records::WriteSetIni(m_facts.installPath);
        break;
    case IST_CODE_SUCCESS:
        m_installPrg->SetValue(100);
        m_mainTabLayout->SelectItem(kPageDone);
        FinishInstall();
        break;
    case IST_CODE_FAIL:
        Warn(r.message);
        m_mainTabLayout->SelectItem(kPageStart);
        break;
    case UNI_CODE_FAIL:
        // The previous installation could not be removed: it is still there, the new package was not run.
        Warn(r.message.empty() ? std::wstring(L"卸载旧版本失败") : r.message);
        m_mainTabLayout->SelectItem(kPageStart);
        break;
    case IST_CODE_REFUSED: // the package failed its verification; the orchestrator has deleted it
        Warn(L"安装包校验失败，请重新下载");
        m_mainTabLayout->SelectItem(m_pageBeforeInstall);
        break;
    case IST_CODE_MESSAGE:
        Message(r.message, L"消息");
        break;
    default:
        break;
    }
    return 0;
}

void CMainWnd::FinishInstall() {
    InstallFlow::RecordInstallation(m_facts);
    if (m_facts.startupStyle == StartupStyle::Auto) {
        Records::LaunchProduct(GetHWND(), m_facts.startUrl, m_facts.startExePath);
    }
    if (m_facts.topShowDelay != 0) {
        SetTimer(GetRoot(), TIMER_BRING_TO_FRONT, m_facts.topShowDelay);
    }
    if (m_facts.finishCloseDelay != 0) {
        // The system clamps longer periods to this value anyway.
        SetTimer(GetRoot(), TIMER_AUTO_CLOSE,
                 m_facts.finishCloseDelay > 0x7FFFFFFF ? 0x7FFFFFFF : m_facts.finishCloseDelay);
    }
    DEBUG_LOG(L"finished: %s", m_facts.installPath.c_str());
}

LRESULT CMainWnd::OnTimer(WPARAM, LPARAM) {
    return 0;
}

LRESULT CMainWnd::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
    if (msg == WM_REPLAY_DEFERRED) {
        handled = true;
        ReplayDeferred();
        return 0;
    }
    if (Defer(msg, wp, lp)) {
        handled = true;
        return 0;
    }
    if (m_taskbar.IsButtonCreated(msg)) {
        m_taskbar.OnButtonCreated();
    }
    if (msg == WM_INSTALLER_STATUS) {
        std::unique_ptr<StatusRecord> record(reinterpret_cast<StatusRecord*>(lp));
        handled = true;
        return record ? OnStatus(*record) : 0;
    }
    if (msg == WM_TIMER) {
        OnTimer(wp, lp);
    }
    if (msg == WM_CLOSE) {
        // Alt+F4 and the system close obey the rules of the close button: nothing while the package is downloaded
        // or installed, the exit dialog first on the start and custom pages.
        handled = true;
        int page = CurrentPage();
        if (page == kPageDone ||
            (page != kPageInstalling && RunDialog([this] { return ShowExitDialog(GetHWND()); }) == kDialogAccepted)) {
            Close(1);
        }
        return 0;
    }
    return CSkinFrameBase::HandleMessage(msg, wp, lp, handled);
}

LRESULT CMainWnd::OnSysCommand(WPARAM wp, LPARAM lp, bool& handled) {
    if ((wp & 0xFFF0) == SC_CLOSE) {
        handled = true;
        ::SendMessageW(GetHWND(), WM_CLOSE, 0, 0);
        return 0;
    }
    return CSkinFrameBase::OnSysCommand(wp, lp, handled);
}

void CMainWnd::Notify(const UiKit::Notify& msg) {
    const std::wstring& type = msg.type;
    if (type == L"tabselect") {
        m_winVLayout->Invalidate();
        int page = CurrentPage();
        DEBUG_LOG(L"page=%d", page);
        m_titleSystemHLayout->SetVisible(page != kPageInstalling);
        m_backBtn->SetVisible(page == kPageCustom);
    } else if (type == L"mouseenter" || type == L"mouseleave") {
        bool show = type == L"mouseenter";
        if (msg.sender != nullptr && msg.sender == m_treatyCb) {
            m_tipLbl->SetVisible(show);
        } else if (msg.sender != nullptr && msg.sender == m_treatyCb2) {
            m_tipLb2->SetVisible(show);
        }
    } else if (type == L"checknet") {
        OnCheckNet(static_cast<int>(msg.wParam));
    } else if (type == L"install") {
        OnInstall(msg.wParam != 0);
    } else if (type == L"timer") {
        if (msg.sender == m_installingTipLbl && msg.wParam == TIMER_INSTALLING_TIP) {
            if (m_installer->IsDownloading()) {
                m_installingTipLbl->SetVisible(true);
            }
            KillTimer(m_installingTipLbl, TIMER_INSTALLING_TIP);
        } else if (msg.sender == GetRoot() && msg.wParam == TIMER_BRING_TO_FRONT) {
            ::SetForegroundWindow(GetHWND());
            KillTimer(GetRoot(), TIMER_BRING_TO_FRONT);
        } else if (msg.sender == GetRoot() && msg.wParam == TIMER_AUTO_CLOSE) {
            KillTimer(GetRoot(), TIMER_AUTO_CLOSE);
            Close(1);
            return;
        }
    }
    CSkinFrameBase::Notify(msg);
}

void CMainWnd::OnClick(const UiKit::Notify& msg) {
    UiKit::Control* sender = msg.sender;
    const std::wstring name = sender != nullptr ? sender->GetName() : L"";
    if (sender == m_defaultInstallBtn) {
        if (m_treatyCb->IsSelected() ||
            RunDialog([this] { return ShowAgreementDialog(GetHWND()); }) == kDialogAccepted) {
            StartInstall(GetDefaultInstallPath(), true, true);
        }
    } else if (sender == m_customeBtn) {
        m_treatyCb2->Selected(m_treatyCb->IsSelected(), false);
        m_mainTabLayout->SelectItem(kPageCustom);
        SetFocus(m_customeInstallBtn);
    } else if (sender == m_backBtn) {
        m_treatyCb->Selected(m_treatyCb2->IsSelected(), false);
        m_mainTabLayout->SelectItem(kPageStart);
    } else if (sender == m_chDirBtn) {
        wchar_t display[MAX_PATH] = {};
        BROWSEINFOW info{};
        info.hwndOwner = GetHWND();
        info.pszDisplayName = display;
        info.lpszTitle = L"选择一个文件夹";
        info.ulFlags = BIF_NEWDIALOGSTYLE;
        Utils::UniqueCoTaskMem chosen;
        RunDialog([&] {
            chosen.reset(::SHBrowseForFolderW(&info));
            return 0;
        });
        wchar_t path[MAX_PATH] = {};
        if (chosen && ::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(chosen.get()), path)) {
            m_installDirEdit->SetText(path);
        }
    } else if (sender == m_customeInstallBtn) {
        if (m_treatyCb2->IsSelected() ||
            RunDialog([this] { return ShowAgreementDialog(GetHWND()); }) == kDialogAccepted) {
            StartInstall(GetCustomInstallPath(), m_createDSCb->IsSelected(), m_createQSCb->IsSelected());
        }
    } else if (sender == m_openProduceBtn) {
        // Starting the product lets pending input through: a second click must find the button dead.
        m_openProduceBtn->SetEnabled(false);
        if (m_facts.startupStyle == StartupStyle::User) {
            Records::LaunchProduct(GetHWND(), m_facts.startUrl, m_facts.startExePath);
        }
        Close(1);
    } else if (name == L"treatyBtn" || name == L"treatyBtn2") {
        OpenLicencePage(GetHWND());
    } else if (name == L"closebtn") {
        if (CurrentPage() == kPageDone || RunDialog([this] { return ShowExitDialog(GetHWND()); }) == kDialogAccepted) {
            Close(1);
        }
    } else {
        CSkinFrameBase::OnClick(msg);
    }
}
