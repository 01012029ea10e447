// The orchestrator of one installation attempt: download of the package into the working folder
// (ChooseWorkFolder: out of the user's reach when elevated, the installation folder otherwise), its verification,
// then the removal of the previous installation when there is one, then the package. A failed download or a
// refused package leaves the previous installation untouched. Every event of the three jobs goes first to the
// window's callback and then to the orchestrator's own reaction (the relays), which keeps `state`.
//
// Threads: Start runs on the UI thread and returns at once. The download relay runs on the download worker; the
// removal and install relays run on the install thread (the removal runs there, between the package's checks and
// its start, on the handle the checks held). `state` is written by those threads and read by the UI thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/Folders.h"
#include "install/PackageInstaller.h"
#include "install/UnInstaller.h"

// The package's file name inside the working folder.
#define PACKAGE_FILE_NAME L"__Package_Tunivox.exe"
// The private copy of the previous installation's uninstaller inside the private temporary folder.
#define UNINSTALLER_COPY_NAME L"Tunivox_un_asa.exe"

// Builds the download job for the configuration's DownloadType: 2 the system downloader, anything else libcurl.
std::unique_ptr<CDownloader> CreateDownloader(int downloadType, DownloadCallback relay, const std::wstring& url,
                                              const std::wstring& path);
// How the orchestrator builds its download job: CreateDownloader by default.
using DownloaderCreationSeam = Utils::Seam<std::unique_ptr<CDownloader>(
    int downloadType, DownloadCallback relay, const std::wstring& url, const std::wstring& path)>;
DownloaderCreationSeam& DownloaderCreation();

// Where an attempt is, in the order of its events: each state is entered by the event it is named after.
enum class RunState : int {
    Ready = 1,
    DownloadStarted, // 1001
    Downloading,     // 1002
    Downloaded,      // 1003
    DownloadFailed,  // 1004
    RemovalStarted,  // 5001
    Removing,        // 5002
    Removed,         // 5003
    RemovalFailed,   // 5004
    InstallStarted,  // 2001
    Installing,      // 2002
    Installed,       // 2003
    InstallFailed,   // 2004, 2005
};

// What one attempt needs (InstallFlow::PrepareAttempt fills it from the window's or the silent run's choices).
struct AttemptInputs {
    std::wstring url;
    std::wstring installDir;
    // The previous installation's uninstaller, run once the new package has passed its checks; empty: none.
    std::wstring uninstallerPath;
    bool desktopShortcut = true;
    bool quickLaunch = true;
    // Whether the installer runs elevated: the working folder is then one only SYSTEM and Administrators can write.
    bool elevated = false;
    // The URLs tried in order after `url` (the mirrors).
    std::vector<std::wstring> mirrors;
    // `url` names an offline package (a local file): the run needs no network.
    bool offline = false;
};

class CDownloadInstaller {
public:
    explicit CDownloadInstaller(DownloadCallback callback);
    CDownloadInstaller(const CDownloadInstaller&) = delete;
    CDownloadInstaller& operator=(const CDownloadInstaller&) = delete;
    ~CDownloadInstaller();

    // Begins an attempt and returns at once.
    void Start(const AttemptInputs& inputs);
    RunState State() const { return state_; }
    bool IsDownloading() const {
        RunState now = state_;
        return now == RunState::DownloadStarted || now == RunState::Downloading;
    }
    // The file the download job writes and the install job runs. Both jobs are kept across attempts (a partial
    // download resumes), so this is the first attempt's package path even when a later attempt names another
    // folder; it is the file deleted after a failed download and after every finished installation. Empty before
    // the first attempt, and when an elevated run could have no working folder.
    const std::wstring& PackageFile() const { return jobPackagePath_; }
    // Why the job that reported the ending `code` (2004, 2005, 5004) failed, in words; empty when it did not say.
    // Read only after that report.
    std::wstring ProblemOf(int code) const;
    // Waits at most `ms` for the install job (and so the removal and the package) to end.
    void WaitForInstallJob(DWORD ms) const;
    // `folder` + "\__Package_Tunivox.exe".
    static std::wstring PackagePathIn(const std::wstring& folder);

private:
    void OnDownloadEvent(int code, double value, const wchar_t* message);
    void OnRemovalEvent(int code, double value, const wchar_t* message);
    void OnInstallEvent(int code, double value, const wchar_t* message);
    void StartDownload();
    // Runs the previous installation's uninstaller to its end on the calling thread; true when it succeeded.
    bool RunRemoval();
    void DeletePackage();

    std::unique_ptr<CUnInstaller> unInstaller_;
    std::unique_ptr<CDownloader> downloader_;
    std::unique_ptr<CPackageInstaller> installer_;
    AttemptInputs inputs_; // of the attempt under way
    DownloadCallback callback_;
    std::atomic<RunState> state_{RunState::Ready};
    std::wstring jobPackagePath_; // see PackageFile
    // Set when the package file could not be deleted after 2003/2004 because the package still runs from it;
    // the install job's end deletes it then. A new download clears it, so its file is never taken.
    std::atomic<bool> deleteWhenEnded_{false};
    // Whether the last removal reported success (written and read on the install thread).
    bool removed_ = false;
    // The highest download share relayed in the attempt under way (written on the download workers, one at a time).
    double shownDownload_ = 0.0;
    // Chosen at the first Start of an elevated run and kept, as the jobs are; removed (when made for this run only)
    // when the orchestrator goes.
    WorkFolder work_;
};
