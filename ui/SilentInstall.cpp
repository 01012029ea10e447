#include "ui/SilentInstall.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "config/InstallerConfig.h"
#include "install/DownloadInstaller.h"
#include "install/StatusCodes.h"
#include "records/Records.h"
#include "ui/InstallFlow.h"
#include "ui/MainWndLogic.h"
#include "utils/DebugLog.h"
#include "utils/TextConv.h"

namespace {

struct Event {
    int code;
    double value;
    std::wstring message;
};

// Status events from the orchestrator's workers to the entry point's thread, in the order they were sent.
class EventQueue {
public:
    void Push(int code, double value, const wchar_t* message) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(Event{code, value, message != nullptr ? message : L""});
        }
        ready_.notify_one();
    }
    Event Pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !events_.empty(); });
        Event e = std::move(events_.front());
        events_.pop_front();
        return e;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Event> events_;
};

// A command line with a bad value or an unknown option: true, with the reason naming each.
bool BadCommandLine(const InstallerConfig& config, std::wstring& reason) {
    if (config.BadOptions.empty() && config.IgnoredArguments.empty()) {
        return false;
    }
    reason = L"bad command line:";
    for (const std::wstring& option : config.BadOptions) {
        DEBUG_LOG(L"silent: bad option %s", option.c_str());
        reason += L" " + option;
    }
    for (const std::wstring& option : config.IgnoredArguments) {
        DEBUG_LOG(L"silent: unknown option %s", option.c_str());
        reason += L" " + option + L" (unknown)";
    }
    return true;
}

// The checks the window makes before an attempt, in its order: None, or the first refusal (warned, with its reason).
MainWndLogic::Refusal CheckBeforeAttempt(const InstallerConfig& config, const AttemptInputs& attempt,
                                         std::wstring& reason) {
    MainWndLogic::Refusal refusal = InstallFlow::CheckFolder(attempt.installDir, &reason);
    if (refusal == MainWndLogic::Refusal::None && config.IsCheckNet && !attempt.offline) {
        refusal = InstallFlow::CheckNetwork(&reason);
    }
    if (refusal != MainWndLogic::Refusal::None) {
        reason = std::wstring(MainWndLogic::RefusalText(refusal)) + L" (" + reason + L")";
        DEBUG_LOG(L"warning: %s", MainWndLogic::RefusalText(refusal));
    }
    return refusal;
}

// The end of an attempt: the records after a success, the exit code and the reason in words.
int EndOfAttempt(MainWndLogic::RunEnd end, const Event& e, CDownloadInstaller& installer, MainWndLogic::RunFacts& facts,
                 std::wstring& reason) {
    if (end == MainWndLogic::RunEnd::Installed) {
        if (!InstallFlow::RecordInstallation(facts)) {
            // Installed, but the next run would not find it: a script must hear that.
            DEBUG_LOG(L"silent: installed into %s, records not written", facts.installPath.c_str());
            reason = L"installed into " + facts.installPath + L", but the registry record or set.ini was not written";
            return MainWndLogic::kExitRecordsFailed;
        }
        DEBUG_LOG(L"finished: %s", facts.installPath.c_str());
        reason = L"installed into " + facts.installPath;
        return MainWndLogic::ExitCodeOf(end);
    }
    if (end == MainWndLogic::RunEnd::DownloadFailed) {
        InstallFlow::RemovePackageAfterFailedDownload(installer);
    }
    DEBUG_LOG(L"silent: failed with %d (%s)", e.code, e.message.c_str());
    reason = Utils::Decimal(e.code) + (e.message.empty() ? L"" : L" " + e.message);
    if (std::wstring problem = installer.ProblemOf(e.code); !problem.empty()) {
        reason += L" (" + problem + L")";
    }
    return MainWndLogic::ExitCodeOf(end);
}

} // namespace

int RunSilentInstall(std::wstring& reason) {
    const InstallerConfig& config = g_installerConfig;
    if (BadCommandLine(config, reason)) {
        return MainWndLogic::kExitBadCommandLine;
    }
    const Records::InstallRecord previous = Records::ReadInstallRecord();
    const std::wstring folder =
        config.SilentInstDir.empty() ? InstallFlow::DefaultInstallPath(previous) : config.SilentInstDir;
    DEBUG_LOG(L"silent: folder=%s desktopshortcut=%d quicklaunch=%d", folder.c_str(),
              config.SilentDesktopShortcut ? 1 : 0, config.SilentQuickLaunch ? 1 : 0);
    const AttemptInputs attempt = InstallFlow::PrepareAttempt(folder, InstallFlow::UninstallerToRun(previous, folder),
                                                              config.SilentDesktopShortcut, config.SilentQuickLaunch);
    if (MainWndLogic::Refusal refusal = CheckBeforeAttempt(config, attempt, reason);
        refusal != MainWndLogic::Refusal::None) {
        return MainWndLogic::ExitCodeOf(refusal);
    }

    // Declared before the orchestrator: events sent while it joins its jobs still find the queue.
    EventQueue events;
    CDownloadInstaller installer(
        [&events](int code, double value, const wchar_t* message) { events.Push(code, value, message); });
    MainWndLogic::RunFacts facts;
    facts.installPath = folder;
    MainWndLogic::ProgressThrottle throttle;
    MainWndLogic::RunEndRule runEnd;
    runEnd.Begin();
    installer.Start(attempt);
    for (;;) {
        Event e = events.Pop();
        if (std::optional<int> percent = MainWndLogic::ProgressPercentOf(e.code, e.value, config.DownloadScale)) {
            if (throttle.Due(::GetTickCount())) {
                DEBUG_LOG(L"progress=%d", *percent);
            }
            continue;
        }
        if (facts.Take(e.code, e.value, e.message)) {
            continue;
        }
        if (e.code == IST_CODE_START) {
            (void)Records::WriteSetIni(facts.installPath); // written again, and judged, after success
        } else if (e.code == IST_CODE_MESSAGE) {
            DEBUG_LOG(L"message: %s", e.message.c_str());
        }
        if (std::optional<MainWndLogic::RunEnd> end = runEnd.Take(e.code)) {
            return EndOfAttempt(*end, e, installer, facts, reason);
        }
    }
}
