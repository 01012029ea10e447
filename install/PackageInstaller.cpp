#include "install/PackageInstaller.h"

#include <new>

#include "config/InstallerConfig.h"
#include "install/ConsoleProtocol.h"
#include "install/JobLines.h"
#include "install/PackageVerifier.h"
#include "install/StatusCodes.h"
#include "utils/DebugLog.h"
#include "utils/TextConv.h"

bool IsUsableCodePage(long codePage) {
    if (codePage == 0) {
        return true;
    }
    if (codePage < 0 || codePage > 65535) {
        return false;
    }
    // IsValidCodePage accepts code pages MultiByteToWideChar refuses (1200, 1201); a trial conversion does not.
    wchar_t out[2];
    return ::MultiByteToWideChar(static_cast<UINT>(codePage), 0, "A", 1, out, 2) == 1;
}

CPackageInstaller::CPackageInstaller(DownloadCallback callback, const std::wstring& packagePath,
                                     const std::wstring& installDir, bool desktopShortcut, bool quickLaunch)
    : callback_(std::move(callback)), packagePath_(packagePath), installDir_(installDir), quickLaunch_(quickLaunch),
      desktopShortcut_(desktopShortcut) {}

CPackageInstaller::~CPackageInstaller() {
    thread_.reset();
}

std::wstring CPackageInstaller::BuildCommandLine(const std::wstring& packagePath, const std::wstring& installDir,
                                                 bool desktopShortcut, bool quickLaunch, const std::wstring& instCmd) {
    // The package parses this line as it always has: its own path unquoted, -instdir quoted, /D= last and
    // unquoted (NSIS reads everything after /D= as the folder). The path is given to CreateProcessW separately.
    std::wstring line = packagePath;
    line += L" /S -console=show -version=1.0.0";
    line += desktopShortcut ? L" -dsc=true" : L" -dsc=false";
    line += quickLaunch ? L" -ssc=true" : L" -ssc=false";
    if (!instCmd.empty()) {
        line += L" " + instCmd;
    }
    if (!installDir.empty()) {
        line += L" -instdir=\"" + installDir + L"\"";
        line += L" /D=" + installDir;
    }
    return line;
}

std::wstring CPackageInstaller::BuildCommandLine() const {
    return BuildCommandLine(packagePath_, installDir_, desktopShortcut_, quickLaunch_, g_installerConfig.InstCmd);
}

void CPackageInstaller::Start() {
    commandLine_ = BuildCommandLine();
    thread_.reset(); // waits for the previous attempt's install thread
    Utils::Result<std::unique_ptr<Utils::Thread>> worker = Utils::StartThread(
        this, L"ABDEF", [](void* self) -> unsigned long { return static_cast<CPackageInstaller*>(self)->Run(); });
    if (worker) {
        thread_ = std::move(*worker);
        return;
    }
    problem_ = L"the install thread could not be started: " + worker.Failure().What();
    DEBUG_LOG(L"%s", problem_.c_str());
    callback_(IST_CODE_FAIL, 2.0, L"");
}

ConsoleProtocol::LineOutcome CPackageInstaller::ParseLine(const std::wstring& line) {
    ConsoleProtocol::LineOutcome outcome = ConsoleProtocol::ParsePackageLine(line);
    if (outcome.codePage) {
        if (IsUsableCodePage(*outcome.codePage)) {
            codePage_ = static_cast<int>(*outcome.codePage);
        } else {
            // Decoding with it would turn every later line into nothing, and a failure with it.
            DEBUG_LOG(L"unknown code page %ld ignored, keeping %d", *outcome.codePage, codePage_);
        }
    }
    return outcome;
}

JobLines::Reader CPackageInstaller::MakeReader() {
    return JobLines::Reader(
        JobLines::Verdict::LastOfDecidingRead, codePage_, [this](const std::wstring& line) { return ParseLine(line); },
        callback_);
}

unsigned long CPackageInstaller::Run() {
    problem_.clear();
    // Opened for reading with nobody else allowed to write, rename or delete it, checked through this handle, and
    // held until the package's process exists: what was verified is what runs.
    Utils::UniqueFileHandle held(::CreateFileW(packagePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Utils::Status checked = held ? Utils::Status() : Utils::Status::LastError(L"the package cannot be opened");
    if (checked) {
        checked = Trust::PackageCheck()(held.get(), packagePath_);
    }
    if (!checked) {
        problem_ = L"package refused: " + checked.What();
        DEBUG_LOG(L"%s", problem_.c_str());
        held.reset();
        callback_(IST_CODE_REFUSED, 1.0, kRefusedText);
        NotifyEnded();
        return 0;
    }
    DEBUG_LOG(L"package verified");
    if (beforeRun_ && !beforeRun_()) {
        DEBUG_LOG(L"package not run");
        held.reset();
        NotifyEnded();
        return 0;
    }
    callback_(IST_CODE_START, 0.0, L"");
    callback_(IST_CODE_PROGRESS, 0.0, L"");
    Utils::Result<std::unique_ptr<CConsoleProcess>> launched =
        LaunchConsoleChild(commandLine_, packagePath_, L"package");
    held.reset();
    if (launched) {
        process_ = std::move(*launched);
    } else {
        problem_ = launched.Failure().What();
        callback_(IST_CODE_FAIL, 2.0, L"");
        NotifyEnded();
        return 0;
    }
    DEBUG_LOG(L"package started, pid %lu", process_->ProcessId());

    // The read that decides ends the parsing. After that the output is still read to its end, unparsed, so the
    // package cannot block on a full pipe while the job waits for it.
    JobLines::Reader reader = MakeReader();
    int decided = JobLines::FollowOutput(*process_, reader, kReadSize, kDrainReadSize);
    DWORD exitCode = process_->WaitForExit();
    DEBUG_LOG(L"package ended with %lu, outcome %d", exitCode, decided);
    process_->Close();
    process_.reset();
    if (decided == ConsoleProtocol::kResultNone) {
        // No verdict line: the exit code is all the package said.
        if (exitCode == 0) {
            callback_(IST_CODE_SUCCESS, 1.0, L"");
        } else {
            problem_ = L"the package ended without a verdict and with exit code " + Utils::Decimal(exitCode);
            DEBUG_LOG(L"%s", problem_.c_str());
            callback_(IST_CODE_FAIL, kFailValueExitCode, kFailText);
        }
    }
    NotifyEnded();
    return 0;
}

void CPackageInstaller::NotifyEnded() {
    if (ended_) {
        ended_();
    }
}
