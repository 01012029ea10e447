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
    installer_.reset();
    netCheckThread_.reset();
    // Results that arrived behind a dialog that ended the window are dropped with their records.
    for (const MSG& m : deferred_) {
        if (m.message == WM_INSTALLER_STATUS) {
            delete reinterpret_cast<StatusRecord*>(m.lParam);
        } else if (m.message == UiKit::WM_UIKIT_NOTIFY) {
            delete reinterpret_cast<UiKit::Notify*>(m.lParam);
        }
    }
}

bool CMainWnd::Defer(UINT msg, WPARAM wp, LPARAM lp) {
    const bool ownResult = msg == WM_INSTALLER_STATUS || msg == UiKit::WM_UIKIT_NOTIFY || msg == WM_TIMER;
    if (!ownResult || replaying_ || (dialogs_ == 0 && !replayPosted_)) {
        return false;
    }
    for (const MSG& m : deferred_) {
        if (msg == WM_TIMER && m.message == WM_TIMER && m.wParam == wp) {
            return true; // a timer that fired again while it waited: once is enough
        }
    }
    MSG queued{};
    queued.message = msg;
    queued.wParam = wp;
    queued.lParam = lp;
    deferred_.push_back(queued);
    return true;
}

void CMainWnd::ReplayDeferred() {
    replayPosted_ = false;
    replaying_ = true;
    while (!deferred_.empty() && dialogs_ == 0 && GetHWND() != nullptr) {
        MSG m = deferred_.front();
        deferred_.pop_front();
        Dispatch(m.message, m.wParam, m.lParam);
    }
    replaying_ = false;
}

int CMainWnd::RunDialog(const std::function<int()>& show) {
    ++dialogs_;
    int result = show();
    --dialogs_;
    // Replayed once the handler that showed the dialog has finished, before anything that arrives later.
    if (dialogs_ == 0 && !deferred_.empty() && !replayPosted_ && GetHWND() != nullptr) {
        replayPosted_ = ::PostMessageW(GetHWND(), WM_REPLAY_DEFERRED, 0, 0) != FALSE;
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

    winVLayout_ = Bind<UiKit::Control>(L"winVLayout");
    backBtn_ = Bind<UiKit::Button>(L"backBtn");
    titleSystemHLayout_ = Bind<UiKit::Control>(L"titleSystemHLayout");
    mainTabLayout_ = Bind<UiKit::TabLayout>(L"mainTabLayout");
    defaultInstallBtn_ = Bind<UiKit::Button>(L"defaultInstallBtn");
    customeInstallBtn_ = Bind<UiKit::Button>(L"customeInstallBtn");
    customeBtn_ = Bind<UiKit::Button>(L"customeBtn");
    openProduceBtn_ = Bind<UiKit::Button>(L"openProduceBtn");
    treatyCb_ = Bind<UiKit::Option>(L"treatyCb");
    treatyCb2_ = Bind<UiKit::Option>(L"treatyCb2");
    chDirBtn_ = Bind<UiKit::Button>(L"chDirBtn");
    installDirEdit_ = Bind<UiKit::Edit>(L"installDirEdit");
    progressLb_ = Bind<UiKit::Label>(L"progressLb");
    createDSCb_ = Bind<UiKit::Option>(L"createDSCb");
    createQSCb_ = Bind<UiKit::Option>(L"createQSCb");
    tipLbl_ = Bind<UiKit::Control>(L"tipLbl");
    tipLb2_ = Bind<UiKit::Control>(L"tipLb2");
    installingTipLbl_ = Bind<UiKit::Control>(L"installingTipLbl");
    installPrg_ = Bind<UiKit::Progress>(L"installPrg");

    // Workers only post: the record belongs to the window once the post succeeded.
    HWND hwnd = GetHWND();
    installer_ = std::make_unique<CDownloadInstaller>([hwnd](int code, double value, const wchar_t* message) {
        auto* record = new StatusRecord{code, value, message != nullptr ? message : L""};
        if (!::PostMessageW(hwnd, WM_INSTALLER_STATUS, 0, reinterpret_cast<LPARAM>(record))) {
            delete record;
        }
    });

    previous_ = Records::ReadInstallRecord();
    installDirEdit_->SetText(GetDefaultInstallPath());
    taskbar_.Attach(hwnd);
}

int CMainWnd::CurrentPage() const {
    return mainTabLayout_ != nullptr ? mainTabLayout_->GetCurSel() : -1;
}

std::wstring CMainWnd::GetDefaultInstallPath() const {
    return InstallFlow::DefaultInstallPath(previous_);
}

std::wstring CMainWnd::GetCustomInstallPath() const {
    std::wstring chosen = installDirEdit_->GetText();
    std::wstring defaultPath = GetDefaultInstallPath();
    if (InstallFlow::IsSameFolder(defaultPath, chosen)) {
        return defaultPath;
    }
    return Utils::JoinPath(chosen, L"Tunivox");
}

void CMainWnd::EnableInstallButtons() {
    defaultInstallBtn_->SetEnabled(true);
    customeInstallBtn_->SetEnabled(true);
}

void CMainWnd::Refuse(MainWndLogic::Refusal refusal) {
    Warn(MainWndLogic::RefusalText(refusal));
    SendNotify(nullptr, L"install", 0);
}

bool CMainWnd::StartInstall(const std::wstring& folder, bool createDesktopShortcut, bool createQuickLaunch) {
    defaultInstallBtn_->SetEnabled(false);
    customeInstallBtn_->SetEnabled(false);

    MainWndLogic::Refusal refusal = InstallFlow::CheckFolder(folder);
    if (refusal != MainWndLogic::Refusal::None) {
        Refuse(refusal);
        return false;
    }
    facts_.installPath = folder;
    attempt_ = InstallFlow::PrepareAttempt(folder, InstallFlow::UninstallerToRun(previous_, folder),
                                           createDesktopShortcut, createQuickLaunch);

    if (g_installerConfig.IsCheckNet && !attempt_.offline) {
        netCheckThread_.reset(); // waits for an earlier check
        Utils::Result<std::unique_ptr<Utils::Thread>> check =
            Utils::StartThread(this, L"ABDEF", [](void* self) -> unsigned long {
                Utils::ComInit com(COINIT_APARTMENTTHREADED);
                MainWndLogic::Refusal result = InstallFlow::CheckNetwork();
                static_cast<CMainWnd*>(self)->PostNotify(nullptr, L"checknet", static_cast<WPARAM>(result), 0);
                return 0;
            });
        if (check) {
            netCheckThread_ = std::move(*check);
        } else {
            // The check only advises: without it the download itself finds out whether the network is there.
            DEBUG_LOG(L"network check not run: %s", check.Failure().What().c_str());
            PostNotify(nullptr, L"checknet", static_cast<WPARAM>(MainWndLogic::Refusal::None), 0);
        }
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
        pageBeforeInstall_ = CurrentPage();
        mainTabLayout_->SelectItem(kPageInstalling);
        runEnd_.Begin();
        installer_->Start(attempt_);
        SetTimer(installingTipLbl_, TIMER_INSTALLING_TIP, kInstallingTipDelayMs);
    }
    EnableInstallButtons();
}

void CMainWnd::ShowProgress(int percent) {
    std::wstring text = MainWndLogic::FormatProgressLabel(progressLb_->GetUserData(), percent);
    progressLb_->SetText(text);
    installPrg_->SetValue(percent);
    DEBUG_LOG(L"progress=%d %s", percent, text.c_str());
}

LRESULT CMainWnd::OnStatus(const StatusRecord& r) {
    // The run ends once, by the rule the silent run follows too: a second verdict of the same attempt is not heard.
    if (runEnd_.Ignores(r.code)) {
        DEBUG_LOG(L"ignored after the end of the run: %d", r.code);
        return 0;
    }
    (void)runEnd_.Take(r.code);
    const double scale = g_installerConfig.DownloadScale;
    taskbar_.Show(MainWndLogic::TaskbarProgressOf(r.code, r.value, scale));
    if (std::optional<int> percent = MainWndLogic::ProgressPercentOf(r.code, r.value, scale)) {
        ShowProgress(*percent);
        return 0;
    }
    if (facts_.Take(r.code, r.value, r.message)) {
        return 0;
    }
    switch (r.code) {
    case DL_CODE_FAIL:
        InstallFlow::RemovePackageAfterFailedDownload(*installer_);
        Message(L"下载失败", L"温馨提示");
        mainTabLayout_->SelectItem(pageBeforeInstall_);
        break;
    case IST_CODE_START:
        Records::WriteSetIni(facts_.installPath);
        break;
    case IST_CODE_SUCCESS:
        installPrg_->SetValue(100);
        mainTabLayout_->SelectItem(kPageDone);
        FinishInstall();
        break;
    case IST_CODE_FAIL:
        Warn(r.message);
        mainTabLayout_->SelectItem(kPageStart);
        break;
    case UNI_CODE_FAIL:
        // The previous installation could not be removed: it is still there, the new package was not run.
        Warn(r.message.empty() ? std::wstring(L"卸载旧版本失败") : r.message);
        mainTabLayout_->SelectItem(kPageStart);
        break;
    case IST_CODE_REFUSED: // the package failed its verification; the orchestrator has deleted it
        Warn(L"安装包校验失败，请重新下载");
        mainTabLayout_->SelectItem(pageBeforeInstall_);
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
    InstallFlow::RecordInstallation(facts_);
    if (facts_.startupStyle == StartupStyle::Auto) {
        Records::LaunchProduct(GetHWND(), facts_.startUrl, facts_.startExePath);
    }
    if (facts_.topShowDelay != 0) {
        SetTimer(GetRoot(), TIMER_BRING_TO_FRONT, facts_.topShowDelay);
    }
    if (facts_.finishCloseDelay != 0) {
        // The system clamps longer periods to this value anyway.
        SetTimer(GetRoot(), TIMER_AUTO_CLOSE,
                 facts_.finishCloseDelay > 0x7FFFFFFF ? 0x7FFFFFFF : facts_.finishCloseDelay);
    }
    DEBUG_LOG(L"finished: %s", facts_.installPath.c_str());
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
    if (taskbar_.IsButtonCreated(msg)) {
        taskbar_.OnButtonCreated();
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
        winVLayout_->Invalidate();
        int page = CurrentPage();
        DEBUG_LOG(L"page=%d", page);
        titleSystemHLayout_->SetVisible(page != kPageInstalling);
        backBtn_->SetVisible(page == kPageCustom);
    } else if (type == L"mouseenter" || type == L"mouseleave") {
        bool show = type == L"mouseenter";
        if (msg.sender != nullptr && msg.sender == treatyCb_) {
            tipLbl_->SetVisible(show);
        } else if (msg.sender != nullptr && msg.sender == treatyCb2_) {
            tipLb2_->SetVisible(show);
        }
    } else if (type == L"checknet") {
        OnCheckNet(static_cast<int>(msg.wParam));
    } else if (type == L"install") {
        OnInstall(msg.wParam != 0);
    } else if (type == L"timer") {
        if (msg.sender == installingTipLbl_ && msg.wParam == TIMER_INSTALLING_TIP) {
            if (installer_->IsDownloading()) {
                installingTipLbl_->SetVisible(true);
            }
            KillTimer(installingTipLbl_, TIMER_INSTALLING_TIP);
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
    if (sender == defaultInstallBtn_) {
        if (treatyCb_->IsSelected() ||
            RunDialog([this] { return ShowAgreementDialog(GetHWND()); }) == kDialogAccepted) {
            StartInstall(GetDefaultInstallPath(), true, true);
        }
    } else if (sender == customeBtn_) {
        treatyCb2_->Selected(treatyCb_->IsSelected(), false);
        mainTabLayout_->SelectItem(kPageCustom);
        SetFocus(customeInstallBtn_);
    } else if (sender == backBtn_) {
        treatyCb_->Selected(treatyCb2_->IsSelected(), false);
        mainTabLayout_->SelectItem(kPageStart);
    } else if (sender == chDirBtn_) {
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
            installDirEdit_->SetText(path);
        }
    } else if (sender == customeInstallBtn_) {
        if (treatyCb2_->IsSelected() ||
            RunDialog([this] { return ShowAgreementDialog(GetHWND()); }) == kDialogAccepted) {
            StartInstall(GetCustomInstallPath(), createDSCb_->IsSelected(), createQSCb_->IsSelected());
        }
    } else if (sender == openProduceBtn_) {
        // Starting the product lets pending input through: a second click must find the button dead.
        openProduceBtn_->SetEnabled(false);
        if (facts_.startupStyle == StartupStyle::User) {
            Records::LaunchProduct(GetHWND(), facts_.startUrl, facts_.startExePath);
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
