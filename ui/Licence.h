// The licence page, opened in the user's browser by the main window's and the agreement dialog's links.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// "http://" + licence host + "/licence.html".
std::wstring LicencePageUrl();

// Opens the licence page maximised (ShellExecuteW "open"); the result is not checked.
void OpenLicencePage(HWND owner);

// Replaces the opener (tests record the call instead of starting a browser); an empty function restores the default.
using LicenceOpener = std::function<void(HWND owner, const std::wstring& url)>;
void SetLicenceOpener(LicenceOpener opener);
