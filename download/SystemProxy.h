// The proxy the libcurl downloader uses for a URL, found the way the system finds it: the current user's
// Internet settings (WinHttpGetIEProxyConfigForCurrentUser), and with an auto-config script or auto-detection the
// script's answer for the URL (WinHttpGetProxyForUrl, which fetches and runs the script); the "-proxy" option
// overrides both. Called on the download worker; it may wait for the script's server (bounded by timeouts).
#pragma once

#include <string>

#include "download/ProxyRules.h"

struct ProxyChoice {
    ProxyDecision decision;
    std::wstring source; // where the decision came from, for the log
};

// `option` is the "-proxy" value (empty: the system's settings).
ProxyChoice FindProxy(const std::wstring& url, const std::wstring& option);
