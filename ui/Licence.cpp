#include "ui/Licence.h"

#include <windows.h>

#include "utils/DebugLog.h"
#include "utils/ShellStart.h"

namespace {

const wchar_t kLicenceHost[] = L"www.tovanique.com";

void OpenInShell(HWND, const std::wstring& url) {
    // Opened by the desktop shell: a browser started by the elevated installer would run as administrator.
    if (const Utils::Status opened = Utils::ShellStartUnelevated(url, L"", SW_SHOWMAXIMIZED); !opened) {
        DEBUG_LOG(L"licence page not opened: %s", opened.What().c_str());
    }
}

} // namespace

LicenceOpenerSeam& LicenceOpener() {
    static LicenceOpenerSeam seam(&OpenInShell);
    return seam;
}

std::wstring LicencePageUrl() {
    return std::wstring(L"http://") + kLicenceHost + L"/licence.html";
}

void OpenLicencePage(HWND owner) {
    LicenceOpener()(owner, LicencePageUrl());
}
