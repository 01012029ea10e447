#include "install/UnInstaller.h"

#include <shlwapi.h>

#include <new>

#include "config/InstallerConfig.h"
#include "install/ConsoleProtocol.h"
#include "install/JobLines.h"
#include "install/PackageVerifier.h"
#include "install/StatusCodes.h"
#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/TextConv.h"

CUnInstaller::CUnInstaller(DownloadCallback callback, const std::wstring& uninstallerExe,
                           const std::wstring& oldInstallDir)
    : callback_(std::move(callback)), uninstallerExe_(uninstallerExe), oldInstallDir_(oldInstallDir) {}

std::wstring CUnInstaller::BuildCommandLine(const std::wstring& exe, const std::wstring& oldDir) {
    // Neither path is quoted: the uninstaller reads everything after "_?=" as the folder.
    wchar_t buffer[kCommandLineCapacity];
    if (Utils::FormatBounded(buffer, L"%s /S -console=show _?=%s", exe.c_str(), oldDir.c_str()) < 0) {
        return {}; // a cut line would remove the wrong folder: the launch fails instead
    }
    return buffer;
}

ConsoleProtocol::LineOutcome CUnInstaller::ParseLine(const std::wstring& line) {
    ConsoleProtocol::LineOutcome outcome = ConsoleProtocol::ParseUninstallerLine(line);
    if (outcome.codePage) {
        codePage_ = static_cast<int>(*outcome.codePage);
    }
    return outcome;
}

JobLines::Reader CUnInstaller::MakeReader() {
    return JobLines::Reader(
        JobLines::Verdict::FirstLine, codePage_, [this](const std::wstring& line) { return ParseLine(line); },
        callback_);
}

unsigned long CUnInstaller::Run() {
    commandLine_ = BuildCommandLine(uninstallerExe_, oldInstallDir_);
    unsigned long result = RunUninstaller();
    RemovePrivateCopy();
    return result;
}

void CUnInstaller::RemovePrivateCopy() {
    if (privateFolder_.empty()) {
        return;
    }
    if (!uninstallerExe_.empty() && !::DeleteFileW(uninstallerExe_.c_str()) &&
        ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"DeleteFileW(%s) failed: %lu", uninstallerExe_.c_str(), error);
    }
    if (!::RemoveDirectoryW(privateFolder_.c_str())) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"RemoveDirectoryW(%s) failed: %lu", privateFolder_.c_str(), error);
    }
}

unsigned long CUnInstaller::RunUninstaller() {
    problem_.clear();
    if (uninstallerExe_.empty() || !::PathFileExistsW(uninstallerExe_.c_str())) {
        problem_ = L"no copy of the uninstaller to run";
        callback_(UNI_CODE_FAIL, 1.0, L"可执行卸载文件不存在");
        return 0;
    }
    // The earlier installation named this program in the user's registry, so whoever can write there chose it: it
    // runs as administrator only after the package's checks, made on a handle that lets nobody write, rename or
    // delete the copy until its process exists, and that is not a link to some other file.
    Utils::Result<Utils::UniqueFileHandle> held =
        Utils::OpenWithoutLinks(uninstallerExe_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    Utils::Status checked = held.Failure();
    if (held) {
        checked = Trust::UninstallerCheck()(held->get(), uninstallerExe_);
    }
    if (!checked) {
        problem_ = L"uninstaller refused: " + checked.What();
        DEBUG_LOG(L"%s", problem_.c_str());
        callback_(UNI_CODE_FAIL, 2.0, L"");
        return 0;
    }
    callback_(UNI_CODE_PROGRESS, 0.0, L"");
    Utils::Result<std::unique_ptr<CConsoleProcess>> launched =
        LaunchConsoleChild(commandLine_, uninstallerExe_, L"uninstaller");
    held->reset();
    if (launched) {
        process_ = std::move(*launched);
    } else {
        problem_ = launched.Failure().What();
        callback_(UNI_CODE_FAIL, 2.0, L"");
        return 0;
    }

    // Only the first decisive line counts: the download it starts must not be started again by a later one. The
    // output is still read to its end, so the uninstaller never blocks on a full pipe.
    JobLines::Reader reader = MakeReader();
    const bool decided =
        JobLines::FollowOutput(*process_, reader, kReadSize, kReadSize) != ConsoleProtocol::kResultNone;
    DWORD exitCode = process_->WaitForExit();
    DEBUG_LOG(L"uninstaller ended with %lu", exitCode);
    process_->Close();
    process_.reset();
    if (!decided) {
        // No verdict line: the exit code is all the uninstaller said.
        if (exitCode == 0) {
            callback_(UNI_CODE_SUCCESS, 1.0, L"");
        } else {
            problem_ = L"the uninstaller ended without a verdict and with exit code " + Utils::Decimal(exitCode);
            DEBUG_LOG(L"%s", problem_.c_str());
            callback_(UNI_CODE_FAIL, kFailValueExitCode, L"安装包卸载失败");
        }
    }
    return 0;
}
