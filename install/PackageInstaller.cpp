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

CPackageInstaller::CPackageInstaller(DownloadCallback callback_, const std::wstring& packagePath_,
                                     const std::wstring& installDir_, bool desktopShortcut_, bool quickLaunch_)
    : callback(std::move(callback_)), packagePath(packagePath_), installDir(installDir_), quickLaunch(quickLaunch_),
      desktopShortcut(desktopShortcut_) {}

CPackageInstaller::~CPackageInstaller() {
    thread.reset();
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
    return BuildCommandLine(packagePath, installDir, desktopShortcut, quickLaunch, g_installerConfig.InstCmd);
}

void CPackageInstaller::Start() {
    commandLine = BuildCommandLine();
    thread.reset(); // waits for the previous attempt's install thread
    Utils::Result<std::unique_ptr<Utils::Thread>> worker = Utils::StartThread(
        this, L"ABDEF", [](void* self) -> unsigned long { return static_cast<CPackageInstaller*>(self)->Run(); });
    if (worker) {
        thread = std::move(*worker);
        return;
    }
    problem = L"the install thread could not be started: " + worker.Failure().What();
    DEBUG_LOG(L"%s", problem.c_str());
    callback(IST_CODE_FAIL, 2.0, L"");
}

ConsoleProtocol::LineOutcome CPackageInstaller::ParseLine(const std::wstring& line) {
    ConsoleProtocol::LineOutcome outcome = ConsoleProtocol::ParsePackageLine(line);
    if (outcome.codePage) {
        if (IsUsableCodePage(*outcome.codePage)) {
            codePage = static_cast<int>(*outcome.codePage);
        } else {
            // Decoding with it would turn every later line into nothing, and a failure with it.
            DEBUG_LOG(L"unknown code page %ld ignored, keeping %d", *outcome.codePage, codePage);
        }
    }
    return outcome;
}

JobLines::Reader CPackageInstaller::MakeReader() {
    return JobLines::Reader(
        JobLines::Verdict::LastOfDecidingRead, codePage, [this](const std::wstring& line) { return ParseLine(line); },
        callback);
}

unsigned long CPackageInstaller::Run() {
    problem.clear();
    // Opened for reading with nobody else allowed to write, rename or delete it, checked through this handle, and
    // held until the package's process exists: what was verified is what runs.
    Utils::UniqueFileHandle held(::CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Utils::Status checked = held ? Utils::Status() : Utils::Status::LastError(L"the package cannot be opened");
    if (checked) {
        checked = Trust::PackageCheck()(held.get(), packagePath);
    }
    if (!checked) {
        problem = L"package refused: " + checked.What();
        DEBUG_LOG(L"%s", problem.c_str());
        held.reset();
        callback(IST_CODE_REFUSED, 1.0, kRefusedText);
        NotifyEnded();
        return 0;
    }
    DEBUG_LOG(L"package verified");
    if (beforeRun && !beforeRun()) {
        DEBUG_LOG(L"package not run");
        held.reset();
        NotifyEnded();
        return 0;
    }
    callback(IST_CODE_START, 0.0, L"");
    callback(IST_CODE_PROGRESS, 0.0, L"");
    Utils::Result<std::unique_ptr<CConsoleProcess>> launched = LaunchConsoleChild(commandLine, packagePath, L"package");
    held.reset();
    if (launched) {
        process = std::move(*launched);
    } else {
        problem = launched.Failure().What();
        callback(IST_CODE_FAIL, 2.0, L"");
        NotifyEnded();
        return 0;
    }
    DEBUG_LOG(L"package started, pid %lu", process->ProcessId());

    // The read that decides ends the parsing. After that the output is still read to its end, unparsed, so the
    // package cannot block on a full pipe while the job waits for it.
    JobLines::Reader reader = MakeReader();
    int decided = JobLines::FollowOutput(*process, reader, kReadSize, kDrainReadSize);
    DWORD exitCode = process->WaitForExit();
    DEBUG_LOG(L"package ended with %lu, outcome %d", exitCode, decided);
    process->Close();
    process.reset();
    if (decided == ConsoleProtocol::kResultNone) {
        // No verdict line: the exit code is all the package said.
        if (exitCode == 0) {
            callback(IST_CODE_SUCCESS, 1.0, L"");
        } else {
            problem = L"the package ended without a verdict and with exit code " + Utils::Decimal(exitCode);
            DEBUG_LOG(L"%s", problem.c_str());
            callback(IST_CODE_FAIL, kFailValueExitCode, kFailText);
        }
    }
    NotifyEnded();
    return 0;
}

void CPackageInstaller::NotifyEnded() {
    if (ended) {
        ended();
    }
}
