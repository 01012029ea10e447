// The steps of an installation run that touch the system, shared by the main window and the silent run: the
// default folder, the folder and free-space checks, the network check, which earlier installation is removed,
// the orchestrator's inputs, the clean-up after a failed download and the records after success. Whoever calls
// them decides what the user is told (a dialog, or the log and an exit code).
#pragma once

#include <string>

#include "install/DownloadInstaller.h"
#include "records/Records.h"
#include "ui/MainWndLogic.h"

namespace InstallFlow {

// Whether two folders are the same folder by the shell's relative-path rule ("." between them).
bool IsSameFolder(const std::wstring& from, const std::wstring& to);

// The one-click folder: the earlier installation's while its uninstaller marker exists, else "Tunivox" under the
// 32-bit program folder (a process elevated for a user who is not an administrator, or no %APPDATA%) or under
// %APPDATA%\PellSoft.
std::wstring DefaultInstallPath(const Records::InstallRecord& previous);

// Creates the folder chain and asks for its drive's free space: the first check that fails, or None.
MainWndLogic::Refusal CheckFolder(const std::wstring& folder, std::wstring* why = nullptr);

// The network check (Utils::CheckNetwork; COM must be initialised on the calling thread): PoorNetwork or None.
// When the system sees no Internet, a package server that answers a HEAD request for the package within
// kServerProbeSeconds passes it (an intranet); `why` says why not otherwise.
constexpr long kServerProbeSeconds = 5;
MainWndLogic::Refusal CheckNetwork(std::wstring* why = nullptr);

// The uninstaller to run before installing into `folder`: the recorded one, unless the folder is the recorded
// installation's and its set.ini does not ask for a removal ([Uninstall] IsOverride other than "true").
std::wstring UninstallerToRun(const Records::InstallRecord& previous, const std::wstring& folder);

// The file name of a download URL's path (no query, no fragment); empty when it is not a plain file name.
std::wstring PackageFileNameOf(const std::wstring& url);
// The "file:///" URL of a local path, with the characters a URL reads otherwise escaped.
std::wstring FileUrlOf(const std::wstring& path);
// The package to install without the network: "-package=PATH" as given (the install job's checks decide), else
// the download URL's file name beside the installer when it passes the package checks there; empty: none.
std::wstring OfflinePackage();

// The orchestrator's inputs for one attempt, from the configuration and these choices; an offline package
// replaces the download URL and its mirrors.
AttemptInputs PrepareAttempt(const std::wstring& folder, const std::wstring& uninstaller, bool desktopShortcut,
                             bool quickLaunch);

// After a failed download: removes the package file the download job wrote, with the probes whose debug lines
// tell support why (network, a write test in the folder, free space).
void RemovePackageAfterFailedDownload(const CDownloadInstaller& installer);

// After success: the registry record and set.ini with the tracker ini; false when any of them was not written.
bool RecordInstallation(MainWndLogic::RunFacts& facts);

} // namespace InstallFlow
