// The status vocabulary of one installation run beyond the downloader's own 1001-1004 (download/Downloader.h).
// Every event travels as (code, value, message) through a DownloadCallback; the value is a fraction for the
// progress codes and a code-specific number otherwise. There is no code 3006.
#pragma once

#include "download/Downloader.h"

enum InstallCode : int {
    IST_CODE_START = 2001,
    IST_CODE_PROGRESS = 2002,
    IST_CODE_SUCCESS = 2003,
    IST_CODE_FAIL = 2004,
    // The package failed its verification and was not run (the message is the text the window shows).
    IST_CODE_REFUSED = 2005,
    IST_CODE_INST_PATH = 3000,
    IST_CODE_EXE_PATH = 3001,
    IST_CODE_UNINST_EXE = 3002,
    IST_CODE_UNINST_EP = 3003,
    IST_CODE_START_URL = 3004,
    IST_CODE_STARTUP_STYLE = 3005,
    IST_CODE_TOP_SHOW_DETENTION = 3007,
    IST_CODE_FINISH_CLOSE_DETENTION = 3008,
    IST_CODE_MESSAGE = 3009,
};

// The value of a failure (2004, 5004) of a child that ended without a decisive line and with a non-zero exit
// code (0.0 is "State=Fail", 2.0 a child that could not be started, 1000.0 an "Error=" line).
constexpr double kFailValueExitCode = 3.0;

// What the package asks for once it is installed (StartupStyle=, the value of IST_CODE_STARTUP_STYLE).
enum class StartupStyle : int {
    None = 0, // "NonStartup" and every other word
    Auto = 1, // "AutoStartup": the installer starts the product at once
    User = 2, // "UserStartup": the done page's button starts it
};

enum UninstallCode : int {
    // The removal of the previous installation begins (after the new package has passed its checks).
    UNI_CODE_START = 5001,
    UNI_CODE_PROGRESS = 5002,
    UNI_CODE_SUCCESS = 5003,
    UNI_CODE_FAIL = 5004,
};
