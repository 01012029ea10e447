// The licence page, opened in the user's browser by the main window's and the agreement dialog's links.
#pragma once

#include <windows.h>

#include <string>

#include "utils/Seam.h"

// "http://" + licence host + "/licence.html".
std::wstring LicencePageUrl();

// Opens the licence page maximised (ShellExecuteW "open"); the result is not checked.
void OpenLicencePage(HWND owner);

// How the page is opened (tests record the call instead of starting a browser).
using LicenceOpenerSeam = Utils::Seam<void(HWND owner, const std::wstring& url)>;
LicenceOpenerSeam& LicenceOpener();
