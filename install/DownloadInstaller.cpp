#include "install/DownloadInstaller.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

#include "config/InstallerConfig.h"
#include "install/Folders.h"
#include "install/StatusCodes.h"
#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/LogFile.h"

namespace {

// The relays' log lines keep the tags and line numbers that the installer's logs have always carried, so that
// the lines of one run can be told apart and matched against older logs.
const wchar_t kStartTag[] = L"CDownloadInstaller::Start";
const wchar_t kDownloadTag[] = L"CDownloadInstaller::Start::<lambda_6121a75ebee1cf49e99c9b86f605ceab>::operator ()";
const wchar_t kRemovalTag[] = L"CDownloadInstaller::Start::<lambda_ed081c0d1a6843744a49e3ce35de1f4e>::operator ()";
const wchar_t kInstallTag[] = L"CDownloadInstaller::Start::<lambda_7e7981c8619d8f8038c124666d2ced74>::operator ()";

void TaggedLog(const wchar_t* tag, int line, const wchar_t* format, ...) {
    wchar_t text[256];
    va_list args;
    va_start(args, format);
    Utils::FormatBoundedV(text, 256, format, args);
    va_end(args);
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    Utils::WriteDebugLog(DEBUG_LOG_PREFIX L"%s", static_cast<int>(::GetCurrentProcessId()),
                         static_cast<int>(::GetCurrentThreadId()), t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                         t.wSecond, t.wMilliseconds, tag, line, text);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The package file goes through a handle checked for links: not even its deletion is turned onto another file.
// True when it is gone; a failure is logged here.
bool DeletePackageFile(const std::wstring& path) {
    const Utils::Status deleted = path.empty() ? Utils::Status() : Utils::DeleteWithoutLinks(path);
    if (!deleted) {
        DEBUG_LOG(L"package file %s not deleted: %s", path.c_str(), deleted.What().c_str());
    }
    return deleted.Ok();
}

} // namespace

CDownloadInstaller::CDownloadInstaller(DownloadCallback callback) : callback_(std::move(callback)) {}

CDownloadInstaller::~CDownloadInstaller() {
    // Each job is destroyed before the job it can start, so no worker reaches a job that is gone: the download
    // worker starts the install job (1003), and the install thread runs the removal before the package.
    downloader_.reset();
    installer_.reset();
    unInstaller_.reset();
    callback_ = nullptr;
    RemoveWorkFolder(work_, jobPackagePath_);
}

std::wstring CDownloadInstaller::PackagePathIn(const std::wstring& folder) {
    return folder + L"\\" PACKAGE_FILE_NAME;
}

void CDownloadInstaller::WaitForInstallJob(DWORD ms) const {
    if (installer_ && installer_->thread_) {
        ::WaitForSingleObject(installer_->thread_->Handle(), ms);
    }
}

void CDownloadInstaller::Start(const AttemptInputs& attempt) {
    shownDownload_ = 0.0;
    inputs_ = attempt;
    if (inputs_.elevated && work_.path.empty()) {
        work_ = ChooseWorkFolder(true, inputs_.installDir);
    }
    const std::wstring& folder = inputs_.elevated ? work_.path : inputs_.installDir;
    const std::wstring packagePath = folder.empty() ? std::wstring() : PackagePathIn(folder);
    int downloadType = g_installerConfig.DownloadType;
    TaggedLog(kStartTag, 122, L"DL_TYPE=%d\r\n", downloadType);
    if (!downloader_ && !packagePath.empty()) {
        jobPackagePath_ = packagePath;
        downloader_ = DownloaderCreation()(
            downloadType,
            [this](int code, double value, const wchar_t* message) { OnDownloadEvent(code, value, message); },
            inputs_.url, packagePath);
    }
    if (downloader_) {
        downloader_->SetMirrors(inputs_.mirrors);
    }
    if (!installer_ && !packagePath.empty()) {
        installer_ = std::make_unique<CPackageInstaller>(
            [this](int code, double value, const wchar_t* message) { OnInstallEvent(code, value, message); },
            packagePath, inputs_.installDir, inputs_.desktopShortcut, inputs_.quickLaunch);
        installer_->ended_ = [this] {
            if (deleteWhenEnded_.exchange(false)) {
                DeletePackageFile(jobPackagePath_);
            }
        };
    }
    if (installer_) {
        installer_->installDir_ = inputs_.installDir;
        installer_->desktopShortcut_ = inputs_.desktopShortcut;
        installer_->quickLaunch_ = inputs_.quickLaunch;
        // The previous installation goes only once its successor is here and has passed its checks.
        installer_->beforeRun_ = nullptr;
        if (!inputs_.uninstallerPath.empty() && ::PathFileExistsW(inputs_.uninstallerPath.c_str())) {
            installer_->beforeRun_ = [this] { return RunRemoval(); };
        }
    }
    StartDownload();
}

std::wstring CDownloadInstaller::ProblemOf(int code) const {
    if ((code == IST_CODE_FAIL || code == IST_CODE_REFUSED) && installer_) {
        return installer_->problem_;
    }
    if (code == UNI_CODE_FAIL && unInstaller_) {
        return unInstaller_->problem_;
    }
    return {};
}

void CDownloadInstaller::StartDownload() {
    // The download job writes, renames and deletes by name: whatever a link on the way points at is refused first.
    const Utils::Status usable =
        downloader_ ? CheckWorkFiles(jobPackagePath_) : Utils::Status::Failed(L"no working folder");
    if (usable) {
        downloader_->Start();
        return;
    }
    DEBUG_LOG(L"download refused: %s", usable.What().c_str());
    OnDownloadEvent(DL_CODE_FAIL, 0.0, L"");
}

bool CDownloadInstaller::RunRemoval() {
    OnRemovalEvent(UNI_CODE_START, 0.0, L"");
    // The uninstaller removes the folder it lives in, so a private copy of it runs, from a folder made for this
    // run alone. Whatever goes wrong on the way leaves the job without a file to run: it then reports the missing
    // uninstaller, and nothing that happened to lie in the temporary folder ever runs.
    wchar_t folder[MAX_PATH] = {};
    // Elevated, inside the working folder (none: no copy): the user's temporary folder is the user's to change.
    if ((inputs_.elevated && work_.path.empty()) ||
        GetPrivateTempFolder(folder, inputs_.elevated ? work_.path + L"\\" : std::wstring())) {
        folder[0] = L'\0';
    }
    // The folder ends in a backslash already; the doubled one is harmless to Windows and the uninstaller.
    std::wstring copy = folder[0] != L'\0' ? std::wstring(folder) + L"\\" UNINSTALLER_COPY_NAME : std::wstring();

    wchar_t oldDir[MAX_PATH] = {};
    std::wcsncpy(oldDir, inputs_.uninstallerPath.c_str(), MAX_PATH - 1);
    ::PathRemoveFileSpecW(oldDir);
    DEBUG_LOG(L"removal: uninstaller %s, folder %s", inputs_.uninstallerPath.c_str(), oldDir);

    if (!copy.empty() && !::CopyFileW(inputs_.uninstallerPath.c_str(), copy.c_str(), TRUE)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"CopyFileW(%s) failed: %lu", copy.c_str(), error);
        copy.clear();
    }
    removed_ = false;
    unInstaller_ = std::make_unique<CUnInstaller>(
        [this](int code, double value, const wchar_t* message) { OnRemovalEvent(code, value, message); }, copy, oldDir);
    unInstaller_->privateFolder_ = folder;
    unInstaller_->Run();
    return removed_;
}

void CDownloadInstaller::OnDownloadEvent(int code, double value, const wchar_t* message) {
    if (code == DL_CODE_PROGRESS) {
        // The download of the next URL starts afresh: the bar holds until it passes what the attempt has shown.
        value = std::max(value, shownDownload_);
        shownDownload_ = value;
    }
    callback_(code, value, message);
    switch (code) {
    case DL_CODE_START:
        TaggedLog(kDownloadTag, 39, L"DL_CODE_START\r\n");
        deleteWhenEnded_ = false;
        CreateDirectoryChain(inputs_.installDir.c_str());
        if (FolderOf(jobPackagePath_) != inputs_.installDir) {
            // A later attempt into another folder: the download job still writes where it first did.
            CreateDirectoryChain(FolderOf(jobPackagePath_).c_str());
        }
        state_ = RunState::DownloadStarted;
        break;
    case DL_CODE_PROGRESS:
        TaggedLog(kDownloadTag, 44, L"DL_CODE_PROGRESS\r\n");
        state_ = RunState::Downloading;
        break;
    case DL_CODE_SUCCESS:
        state_ = RunState::Downloaded;
        TaggedLog(kDownloadTag, 49, L"DOWNLOAD_SUCCESS\r\n");
        if (installer_) {
            installer_->Start();
        }
        TaggedLog(kDownloadTag, 62, L"DL_CODE_SUCCESS\r\n");
        break;
    case DL_CODE_FAIL:
        TaggedLog(kDownloadTag, 55, L"DL_CODE_FAIL\r\n");
        state_ = RunState::DownloadFailed;
        DeletePackageFile(jobPackagePath_);
        break;
    default:
        break;
    }
}

void CDownloadInstaller::OnRemovalEvent(int code, double value, const wchar_t* message) {
    callback_(code, value, message);
    switch (code) {
    case UNI_CODE_START:
        TaggedLog(kRemovalTag, 72, L"UNI_CODE_START\r\n");
        state_ = RunState::RemovalStarted;
        break;
    case UNI_CODE_PROGRESS:
        TaggedLog(kRemovalTag, 77, L"UNI_CODE_PROGRESS %.3f\r\n", value);
        state_ = RunState::Removing;
        break;
    case UNI_CODE_SUCCESS:
        state_ = RunState::Removed;
        removed_ = true;
        TaggedLog(kRemovalTag, 82, L"UNI_CODE_SUCCESS\r\n");
        break;
    case UNI_CODE_FAIL:
        TaggedLog(kRemovalTag, 89, L"UNI_CODE_FAIL\r\n");
        state_ = RunState::RemovalFailed;
        // Downloaded and verified, but not to be run: the install job ends without starting it.
        DeletePackage();
        break;
    default:
        break;
    }
}

void CDownloadInstaller::DeletePackage() {
    // A package that reported its outcome may still be running from this file, which Windows then keeps.
    if (!DeletePackageFile(jobPackagePath_)) {
        DEBUG_LOG(L"package file kept until the package ends");
        deleteWhenEnded_ = true;
    }
}

void CDownloadInstaller::OnInstallEvent(int code, double value, const wchar_t* message) {
    // A tampered mirror must not stop an installation that a good one can finish: the refused file goes and the
    // download goes on at the next URL; only the last URL's refusal is the attempt's.
    if (code == IST_CODE_REFUSED && downloader_ && downloader_->SkipServedUrl()) {
        DEBUG_LOG(L"left %s: %s", Utils::UrlForLog(downloader_->ServedUrl()).c_str(), installer_->problem_.c_str());
        DeletePackage();
        StartDownload();
        return;
    }
    callback_(code, value, message);
    switch (code) {
    case IST_CODE_START:
        TaggedLog(kInstallTag, 99, L"IST_CODE_START\r\n");
        state_ = RunState::InstallStarted;
        break;
    case IST_CODE_PROGRESS:
        TaggedLog(kInstallTag, 104, L"IST_CODE_PROGRESS %.3f\r\n", value);
        state_ = RunState::Installing;
        break;
    case IST_CODE_SUCCESS:
        TaggedLog(kInstallTag, 110, L"INSTALL_SUCCESS\r\n");
        state_ = RunState::Installed;
        DeletePackage();
        break;
    case IST_CODE_FAIL:
        TaggedLog(kInstallTag, 117, L"IST_CODE_FAIL\r\n");
        state_ = RunState::InstallFailed;
        DeletePackage();
        break;
    case IST_CODE_REFUSED:
        DEBUG_LOG(L"package refused, deleted");
        state_ = RunState::InstallFailed;
        DeletePackage();
        break;
    default:
        break; // 3000-3009: passed on only
    }
}
