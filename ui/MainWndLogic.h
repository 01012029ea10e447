// The decisions of an installation run that need no window, shared by the main window and the silent run: progress
// arithmetic, the network and free-space rules, the progress label, the drive of a folder, how a run ends and its
// exit code, the taskbar's state, the facts the package reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "install/StatusCodes.h"

namespace MainWndLogic {

// The bar's share: the download fills 0..scale, the installation scale..1; truncated toward zero and kept within
// 0..100 whatever fraction a downloader or a package reports.
int DownloadPercent(double fraction, double scale);
int InstallPercent(double fraction, double scale);

// A network-check result with anything above its low 16 bits (no network, no internet) is judged poor.
bool IsNetworkPoor(int checkResult);

// At least 2 GiB must be free on the folder's drive.
constexpr uint64_t kRequiredFreeBytes = 2ull * 1024 * 1024 * 1024;
bool HasEnoughFreeSpace(uint64_t freeBytesAvailable);

// The label text from its template ("正在安装:%d%%" unless the skin gives one) and the percent; 250 characters.
std::wstring FormatProgressLabel(const std::wstring& labelTemplate, int percent);

// A folder the installer may use: a drive letter with its root ("C:\...") or a UNC path ("\\server\...").
// Empty, relative ("Tunivox", "a\b") and drive-relative ("C:Tunivox") folders would depend on the current folder.
bool IsAbsoluteFolder(const std::wstring& folder);

// "C:" of "C:\Program Files\Tunivox", as the C runtime splits paths; empty for a path without a drive.
std::wstring DriveOf(const std::wstring& folder);

// Codes of the run that the window reacts to.
constexpr int kDefaultTopShowDelayMs = 3000;
constexpr uint32_t kDefaultFinishCloseDelayMs = 0xFFFFFFFF;

// A reported delay (a double) as the unsigned 32-bit milliseconds the timers take: wraps like the C conversion
// of an in-range value; out-of-range and not-a-number values give the largest delay rather than undefined
// behaviour.
uint32_t DelayFromValue(double value);

// How a run ends, by the status code that ends it; none for the codes a run goes on after.
enum class RunEnd { Installed, DownloadFailed, PackageRefused, PackageFailed, RemovalFailed };
std::optional<RunEnd> RunEndOf(int code);

// The one rule that ends a run, for the window and the silent run alike: of the events of an attempt, in the order
// they arrive, the first that ends the run decides it; any later one (a job that reports a second verdict) is
// ignored until the next attempt begins.
class RunEndRule {
public:
    // A new attempt.
    void Begin() { ended_ = false; }
    // The run's end when `code` ends it; nothing for an event the run goes on after, and for every ending event
    // after the first (the caller then ignores the event altogether).
    std::optional<RunEnd> Take(int code);
    // Whether `code` ends runs but this one has ended already: an event to ignore.
    [[nodiscard]] bool Ignores(int code) const { return ended_ && RunEndOf(code).has_value(); }

private:
    bool ended_ = false;
};

// What stops an attempt before it starts: the checks the installer makes on the folder, its drive and the network.
enum class Refusal { None, InvalidFolder, NotEnoughSpace, PoorNetwork };
// The warning the window shows for a refusal (empty for None).
const wchar_t* RefusalText(Refusal refusal);

// Exit codes of a silent run; stable, deployment scripts depend on them.
enum SilentExitCode : int {
    kExitInstalled = 0,
    kExitInvalidFolder = 1,
    kExitNotEnoughSpace = 2,
    kExitNoNetwork = 3,
    kExitDownloadFailed = 4,
    kExitPackageRefused = 5,
    kExitPackageFailed = 6,
    kExitRemovalFailed = 7,
    kExitBadCommandLine = 8,
    kExitRecordsFailed = 9, // installed, but the registry record or set.ini could not be written
    kExitAnotherInstance = -1,
};
int ExitCodeOf(RunEnd end);
int ExitCodeOf(Refusal refusal);

// The last line of a run's log, for whoever reads only that: "result: <outcome>, exit code <N>: <reason>".
std::wstring ResultLine(int exitCode, const std::wstring& reason);

// The bar's percent for a progress code (download 1002, installation 2002); none for other codes.
std::optional<int> ProgressPercentOf(int code, double value, double scale);

// What the taskbar button shows after a status code: the bar's percent while downloading and installing, the
// error state after a failure, nothing once installed. `percent` is -1 when the code leaves the value as it is.
struct TaskbarProgress {
    enum State { Unchanged, Normal, Error, Cleared } state = Unchanged;
    int percent = -1;
    bool operator==(const TaskbarProgress&) const = default;
};
TaskbarProgress TaskbarProgressOf(int code, double value, double scale);

// Progress lines of a run without a window: at most one a second (the first always goes).
class ProgressThrottle {
public:
    // True when a line may go now (`nowMs`: GetTickCount, whose wrap-around the unsigned difference absorbs);
    // remembers the time when it does.
    bool Due(uint32_t nowMs);

private:
    bool logged_ = false;
    uint32_t last_ = 0;
};

// What the package tells the installer about itself (codes 3000-3008), kept for the records and the product start.
struct RunFacts {
    std::wstring installPath; // InstPath, else the folder the attempt named
    std::wstring startExePath;
    std::wstring uninstallerPath;
    std::wstring startUrl;
    StartupStyle startupStyle = StartupStyle::None;
    uint32_t topShowDelay = kDefaultTopShowDelayMs;
    uint32_t finishCloseDelay = kDefaultFinishCloseDelayMs;

    // Takes a fact; false for any other code. Only a full folder can replace the install path: an empty or
    // relative one would send the records to the current folder.
    bool Take(int code, double value, const std::wstring& message);
};

} // namespace MainWndLogic
