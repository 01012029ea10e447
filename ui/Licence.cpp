#include "ui/Licence.h"

#include <windows.h>

#include "utils/DebugLog.h"
#include "utils/ShellStart.h"

namespace {

const wchar_t kLicenceHost[] = L"www.tovanique.com";

LicenceOpener& Opener() {
    static LicenceOpener opener;
    return opener;
}

} // namespace

std::wstring LicencePageUrl() {
    return std::wstring(L"http://") + kLicenceHost + L"/licence.html";
}

void OpenLicencePage(HWND owner) {
    std::wstring url = LicencePageUrl();
    if (Opener()) {
        Opener()(owner, url);
        return;
    }
    // Opened by the desktop shell: a browser started by the elevated installer would run as administrator.
    std::wstring problem = Utils::ShellStartUnelevated(url, L"", SW_SHOWMAXIMIZED);
    if (!problem.empty()) {
        DEBUG_LOG(L"licence page not opened: %s", problem.c_str());
    }
}

void SetLicenceOpener(LicenceOpener opener) {
    Opener() = std::move(opener);
}
