// The main window's decisions that need no window: progress arithmetic, the network and free-space rules, the
// progress label, the drive of a folder.
#pragma once

#include <cstdint>
#include <string>

namespace MainWndLogic {

// The bar's share: the download fills 0..scale, the installation scale..1; truncated toward zero and kept within
// 0..100 whatever fraction a downloader or a package reports.
int DownloadPercent(double fraction, double scale);
int InstallPercent(double fraction, double scale);

// A network-check result with anything above its low 16 bits (no network, no internet) is judged poor.
bool IsNetworkPoor(int checkResult);

// At least 2 whole GiB must be free: the whole number of GiB is compared with 1.1.
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

} // namespace MainWndLogic
