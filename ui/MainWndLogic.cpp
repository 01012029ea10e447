#include "ui/MainWndLogic.h"

#include <cmath>
#include <cstdlib>

#include "utils/DebugLog.h"
#include "utils/Probes.h"

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

bool IsNetworkPoor(int checkResult) { return (checkResult >> 16) != 0; }

bool HasEnoughFreeSpace(uint64_t freeBytesAvailable) {
    return static_cast<double>(freeBytesAvailable / Utils::kBytesPerGiB) >= 1.1;
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
