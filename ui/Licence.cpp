#include "ui/Licence.h"

#include <shellapi.h>

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
    ::ShellExecuteW(owner, L"open", url.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

void SetLicenceOpener(LicenceOpener opener) {
    Opener() = std::move(opener);
}
