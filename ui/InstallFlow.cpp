#include "ui/InstallFlow.h"

#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "config/InstallerConfig.h"
#include "download/CurlDownloader.h"
#include "install/DownloadInstaller.h"
#include "install/Folders.h"
#include "install/PackageVerifier.h"
#include "sysinfo/Accounts.h"
#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/LogFile.h"
#include "utils/Paths.h"
#include "utils/Probes.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

namespace InstallFlow {

namespace {

bool FileExists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void LogDownloadUrl() {
    ::OutputDebugStringW(g_installerConfig.DownloadUrl.c_str());
}

} // namespace

bool IsSameFolder(const std::wstring& from, const std::wstring& to) {
    wchar_t relative[MAX_PATH] = {};
    if (from.empty() || to.empty() ||
        !::PathRelativePathToW(relative, from.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(),
                               FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    return std::wstring(relative) == L".";
}

std::wstring DefaultInstallPath(const Records::InstallRecord& previous) {
    if (!previous.installPath.empty() && FileExists(previous.uninstallerPath)) {
        return previous.installPath;
    }
    std::wstring user;
    GetConsoleUserName(user);
    bool useProgramFiles = !IsUserAdmin(user) && IsProcessAdmin();
    wchar_t appData[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        useProgramFiles = true;
    }
    std::wstring base;
    if (useProgramFiles) {
        wchar_t programFiles[MAX_PATH] = {};
        if (!::SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILESX86, FALSE)) {
            ::SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
        }
        base = programFiles;
    } else {
        base = Utils::JoinPath(appData, L"PellSoft");
    }
    return Utils::JoinPath(base, L"Tunivox");
}

MainWndLogic::Refusal CheckFolder(const std::wstring& folder, std::wstring* why) {
    std::wstring reason;
    MainWndLogic::Refusal refusal = MainWndLogic::Refusal::None;
    if (!MainWndLogic::IsAbsoluteFolder(folder)) {
        reason = L"\"" + folder + L"\" is not a full path (C:\\... or \\\\server\\...) of at most 260 characters";
        refusal = MainWndLogic::Refusal::InvalidFolder;
    } else if (!CreateDirectoryChain(folder.c_str())) {
        reason = L"\"" + folder + L"\" cannot be created: " + Utils::Decimal(::GetLastError());
        refusal = MainWndLogic::Refusal::InvalidFolder;
    } else {
        Utils::HardDiskManager disk;
        const std::wstring drive = MainWndLogic::DriveOf(folder);
        uint64_t freeBytes = disk.CheckFreeSpace(drive.c_str()) ? disk.freeBytesAvailable : 0;
        if (!MainWndLogic::HasEnoughFreeSpace(freeBytes)) {
            reason = Utils::Decimal(static_cast<long long>(freeBytes)) + L" bytes free on " + drive + L", " +
                     Utils::Decimal(static_cast<long long>(MainWndLogic::kRequiredFreeBytes)) + L" needed";
            refusal = MainWndLogic::Refusal::NotEnoughSpace;
        }
    }
    if (refusal != MainWndLogic::Refusal::None) {
        DEBUG_LOG(L"folder refused: %s", reason.c_str());
    }
    if (why != nullptr) {
        *why = reason;
    }
    return refusal;
}

MainWndLogic::Refusal CheckNetwork(std::wstring* why) {
    LogDownloadUrl();
    if (!MainWndLogic::IsNetworkPoor(Utils::CheckNetwork())) {
        return MainWndLogic::Refusal::None;
    }
    // A company network may reach only its own package server, which the system does not count as the Internet:
    // the server itself is asked before the installation is refused.
    const Utils::Status answered =
        ServerHasFile(g_installerConfig.DownloadUrl, g_installerConfig.Proxy, kServerProbeSeconds);
    if (answered) {
        DEBUG_LOG(L"no Internet connection, but the package server answers: %s",
                  Utils::UrlForLog(g_installerConfig.DownloadUrl).c_str());
        return MainWndLogic::Refusal::None;
    }
    DEBUG_LOG(L"no Internet connection, and the package server does not answer: %s", answered.What().c_str());
    if (why != nullptr) {
        *why = L"the network check found no Internet connection, and " + answered.What();
    }
    return MainWndLogic::Refusal::PoorNetwork;
}

std::wstring UninstallerToRun(const Records::InstallRecord& previous, const std::wstring& folder) {
    if (IsSameFolder(previous.installPath, folder)) {
        // Installing over the recorded installation: it is kept unless its set.ini asks for a removal.
        wchar_t overrideValue[20] = {};
        ::GetPrivateProfileStringW(L"Uninstall", L"IsOverride", L"true", overrideValue, 20,
                                   Utils::JoinPath(folder, L"set.ini").c_str());
        if (std::wstring(overrideValue) == L"true") {
            return {};
        }
    }
    return previous.uninstallerPath;
}

std::wstring PackageFileNameOf(const std::wstring& url) {
    const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
    const size_t slash = path.find_last_of(L'/');
    const std::wstring name = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
    // Only a plain name: nothing that reaches out of the installer's folder.
    if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"\\:%") != std::wstring::npos) {
        return {};
    }
    return name;
}

std::wstring FileUrlOf(const std::wstring& path) {
    std::wstring url = L"file:///";
    for (wchar_t ch : path) {
        if (ch == L'\\') {
            url += L'/';
        } else if (ch != L'\0' && std::wcschr(L"%#? ", ch) != nullptr) {
            wchar_t escaped[4];
            Utils::FormatBounded(escaped, L"%%%02X", static_cast<unsigned>(ch));
            url += escaped;
        } else {
            url += ch;
        }
    }
    return url;
}

std::wstring OfflinePackage() {
    if (!g_installerConfig.PackagePath.empty()) {
        // Named on the command line: used whatever it is, and the install job's checks decide the run.
        DEBUG_LOG(L"offline package named: %s", g_installerConfig.PackagePath.c_str());
        return g_installerConfig.PackagePath;
    }
    const std::wstring name = PackageFileNameOf(g_installerConfig.DownloadUrl);
    wchar_t exe[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (name.empty() || n == 0 || n >= MAX_PATH || !::PathRemoveFileSpecW(exe)) {
        return {};
    }
    const std::wstring path = Utils::JoinPath(exe, name);
    if (!FileExists(path)) {
        return {};
    }
    // The user's folder: checked through a handle that follows no link, with the downloaded package's checks.
    Utils::Result<Utils::UniqueFileHandle> held =
        Utils::OpenWithoutLinks(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const Utils::Status checked = held ? Trust::PackageCheck()(held->get(), path) : held.Failure();
    if (!checked) {
        DEBUG_LOG(L"package beside the installer ignored: %s: %s", path.c_str(), checked.What().c_str());
        return {};
    }
    DEBUG_LOG(L"package beside the installer passes the checks: %s", path.c_str());
    return path;
}

AttemptInputs PrepareAttempt(const std::wstring& folder, const std::wstring& uninstaller, bool desktopShortcut,
                             bool quickLaunch) {
    LogDownloadUrl();
    AttemptInputs inputs{
        g_installerConfig.DownloadUrl, folder, uninstaller, desktopShortcut, quickLaunch, IsProcessAdmin(),
        g_installerConfig.MirrorUrls};
    if (const std::wstring offline = OfflinePackage(); !offline.empty()) {
        // Copied into the working folder by the download job and verified there on a held handle, as a download is.
        inputs.url = FileUrlOf(offline);
        inputs.mirrors.clear();
        inputs.offline = true;
    }
    return inputs;
}

void RemovePackageAfterFailedDownload(const CDownloadInstaller& installer) {
    // The download job keeps the path of its first attempt (a partial download resumes there); that is the file
    // to remove, whatever folder this attempt named.
    const std::wstring& package = installer.PackageFile();
    LogDownloadUrl();
    // The probes leave their own debug lines behind; the results only help whoever reads the log.
    (void)Utils::CheckNetwork();
    const Utils::Status deleted =
        package.empty() ? Utils::Status::Failed(L"no working folder") : Utils::DeleteWithoutLinks(package);
    if (!deleted) {
        DEBUG_LOG(L"package file not probed: %s", deleted.What().c_str());
        return;
    }
    // A new file, gone with its handle: nothing planted under the name in between is opened or deleted.
    Utils::UniqueFileHandle probe(::CreateFileW(package.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                                nullptr));
    probe.reset();
    Utils::HardDiskManager disk;
    (void)disk.CheckFreeSpace(MainWndLogic::DriveOf(package).c_str());
}

bool RecordInstallation(MainWndLogic::RunFacts& facts) {
    bool recorded = Records::WriteInstallRecord(facts.installPath, facts.uninstallerPath);
    recorded = Records::WriteSetIni(facts.installPath) && recorded;
    if (!recorded) {
        DEBUG_LOG(L"the installation's records were not all written: %s", facts.installPath.c_str());
    }
    return recorded;
}

} // namespace InstallFlow
