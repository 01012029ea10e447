#include "ui/MainWndLogic.h"

#include <cmath>
#include <cstdlib>

#include "install/StatusCodes.h"
#include "utils/DebugLog.h"
#include "utils/Probes.h"
#include "utils/TextConv.h"

namespace MainWndLogic {

namespace {

int Truncate(double v) {
    if (!std::isfinite(v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return 2147483647;
    }
    if (v <= -2147483648.0) {
        return -2147483647 - 1;
    }
    return static_cast<int>(v);
}

// A template from the skin is used only when its conversions are one %d and any number of %%: anything else would
// read arguments that are not there.
bool IsSafeTemplate(const std::wstring& t) {
    int numbers = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != L'%') {
            continue;
        }
        if (i + 1 < t.size() && t[i + 1] == L'%') {
            ++i;
        } else if (i + 1 < t.size() && t[i + 1] == L'd') {
            ++numbers;
            ++i;
        } else {
            return false;
        }
    }
    return numbers == 1;
}

int ClampPercent(int percent) {
    return percent < 0 ? 0 : (percent > 100 ? 100 : percent);
}

} // namespace

int DownloadPercent(double fraction, double scale) {
    return ClampPercent(Truncate(fraction * scale * 100.0));
}

int InstallPercent(double fraction, double scale) {
    return ClampPercent(Truncate(((1.0 - scale) * fraction + scale) * 100.0));
}

bool IsAbsoluteFolder(const std::wstring& folder) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (folder.size() >= 3 && ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z')) &&
        folder[1] == L':' && slash(folder[2])) {
        return true;
    }
    // \\server\share: a server name follows the two slashes.
    return folder.size() >= 3 && slash(folder[0]) && slash(folder[1]) && !slash(folder[2]);
}

bool IsNetworkPoor(int checkResult) {
    return (checkResult >> 16) != 0;
}

bool HasEnoughFreeSpace(uint64_t freeBytesAvailable) {
    return freeBytesAvailable >= kRequiredFreeBytes;
}

std::wstring FormatProgressLabel(const std::wstring& labelTemplate, int percent) {
    wchar_t text[250];
    const std::wstring format = IsSafeTemplate(labelTemplate) ? labelTemplate : std::wstring(L"正在安装:%d%%");
    if (Utils::FormatBounded(text, format.c_str(), percent) < 0 && text[0] == L'\0') {
        return {};
    }
    return text;
}

std::wstring DriveOf(const std::wstring& folder) {
    wchar_t drive[_MAX_DRIVE] = {};
    ::_wsplitpath(folder.c_str(), drive, nullptr, nullptr, nullptr);
    return drive;
}

uint32_t DelayFromValue(double value) {
    if (!std::isfinite(value) || value < 0.0 || value >= 4294967296.0) {
        return 0xFFFFFFFF;
    }
    return static_cast<uint32_t>(value);
}

} // namespace MainWndLogic

namespace MainWndLogic {

std::optional<RunEnd> RunEndOf(int code) {
    switch (code) {
    case IST_CODE_SUCCESS:
        return RunEnd::Installed;
    case DL_CODE_FAIL:
        return RunEnd::DownloadFailed;
    case IST_CODE_REFUSED:
        return RunEnd::PackageRefused;
    case IST_CODE_FAIL:
        return RunEnd::PackageFailed;
    case UNI_CODE_FAIL:
        return RunEnd::RemovalFailed;
    default:
        return std::nullopt;
    }
}

std::optional<RunEnd> RunEndRule::Take(int code) {
    if (ended_) {
        return std::nullopt;
    }
    std::optional<RunEnd> end = RunEndOf(code);
    ended_ = end.has_value();
    return end;
}

std::wstring ResultLine(int exitCode, const std::wstring& reason) {
    const wchar_t* outcome = L"not installed";
    switch (exitCode) {
    case kExitInstalled:
        outcome = L"installed";
        break;
    case kExitRecordsFailed:
        outcome = L"installed but not recorded";
        break;
    default:
        break;
    }
    return std::wstring(L"result: ") + outcome + L", exit code " + Utils::Decimal(exitCode) + L": " + reason;
}

const wchar_t* RefusalText(Refusal refusal) {
    switch (refusal) {
    case Refusal::InvalidFolder:
        return L"无效路径";
    case Refusal::NotEnoughSpace:
        return L"当前磁盘剩余空间不足2GB，请修改安装路径";
    case Refusal::PoorNetwork:
        return L"当前网络环境较差，请在网络通畅时进行安装";
    case Refusal::None:
        break;
    }
    return L"";
}

int ExitCodeOf(RunEnd end) {
    switch (end) {
    case RunEnd::Installed:
        return kExitInstalled;
    case RunEnd::DownloadFailed:
        return kExitDownloadFailed;
    case RunEnd::PackageRefused:
        return kExitPackageRefused;
    case RunEnd::PackageFailed:
        return kExitPackageFailed;
    case RunEnd::RemovalFailed:
        return kExitRemovalFailed;
    }
    return kExitPackageFailed;
}

int ExitCodeOf(Refusal refusal) {
    switch (refusal) {
    case Refusal::InvalidFolder:
        return kExitInvalidFolder;
    case Refusal::NotEnoughSpace:
        return kExitNotEnoughSpace;
    case Refusal::PoorNetwork:
        return kExitNoNetwork;
    case Refusal::None:
        break;
    }
    return kExitInstalled;
}

std::optional<int> ProgressPercentOf(int code, double value, double scale) {
    if (code == DL_CODE_PROGRESS) {
        return DownloadPercent(value, scale);
    }
    if (code == IST_CODE_PROGRESS) {
        return InstallPercent(value, scale);
    }
    return std::nullopt;
}

TaskbarProgress TaskbarProgressOf(int code, double value, double scale) {
    if (std::optional<int> percent = ProgressPercentOf(code, value, scale)) {
        return {TaskbarProgress::Normal, *percent};
    }
    if (std::optional<RunEnd> end = RunEndOf(code)) {
        return {*end == RunEnd::Installed ? TaskbarProgress::Cleared : TaskbarProgress::Error, -1};
    }
    // A new attempt, which always begins with its download, leaves the error state of an earlier one behind.
    if (code == DL_CODE_START) {
        return {TaskbarProgress::Normal, -1};
    }
    return {};
}

bool ProgressThrottle::Due(uint32_t nowMs) {
    if (logged_ && static_cast<uint32_t>(nowMs - last_) < 1000) {
        return false;
    }
    logged_ = true;
    last_ = nowMs;
    return true;
}

bool RunFacts::Take(int code, double value, const std::wstring& message) {
    switch (code) {
    case IST_CODE_INST_PATH:
        if (IsAbsoluteFolder(message)) {
            installPath = message;
        } else {
            DEBUG_LOG(L"InstPath ignored: %s", message.c_str());
        }
        return true;
    case IST_CODE_EXE_PATH:
        startExePath = message;
        return true;
    case IST_CODE_UNINST_EP:
        uninstallerPath = message;
        return true;
    case IST_CODE_START_URL:
        startUrl = message;
        return true;
    case IST_CODE_STARTUP_STYLE:
        // The protocol carries the style as its enumerator's number.
        startupStyle = value == static_cast<double>(StartupStyle::Auto)   ? StartupStyle::Auto
                       : value == static_cast<double>(StartupStyle::User) ? StartupStyle::User
                                                                          : StartupStyle::None;
        return true;
    case IST_CODE_TOP_SHOW_DETENTION:
        topShowDelay = DelayFromValue(value);
        return true;
    case IST_CODE_FINISH_CLOSE_DETENTION:
        finishCloseDelay = DelayFromValue(value);
        return true;
    default:
        return false;
    }
}

} // namespace MainWndLogic
