// The rules that turn Windows proxy settings into what libcurl is given: which entry of a proxy list serves a
// URL, whether the bypass list sends a host direct, what "-proxy=" asks for, and when a failed transfer is the
// proxy's. No system state: the settings come in as the strings the system hands out (WinHTTP's static
// "ProxyServer"-style list and bypass list, or the result of a PAC script).
#pragma once

#include <string>
#include <vector>

struct UrlParts {
    std::wstring scheme; // lower case; empty when the URL has none
    std::wstring host;   // lower case, without IPv6 brackets
    int port = 0;        // the explicit port, else the scheme's default (80, 443), else 0
};
UrlParts SplitUrl(const std::wstring& url);

// The proxy a list names for a URL of `scheme`, in the form libcurl takes ("host:port", "socks4://host:port", ...);
// empty for a direct connection. The list is a system proxy string: entries separated by ';' or blanks, each
// "[scheme=][scheme://]server[:port]" (WinHTTP and the Internet settings), or a PAC result such as
// "PROXY host:port; DIRECT". The first entry that serves the scheme wins; "scheme=" entries serve only that scheme
// ("socks=" any scheme when no entry names it); a DIRECT ends the list.
std::wstring SelectProxy(const std::wstring& list, const std::wstring& scheme);
// Every entry that serves the scheme, in the list's order (the first is SelectProxy's); "socks=" only when no
// other entry serves it.
std::vector<std::wstring> SelectProxies(const std::wstring& list, const std::wstring& scheme);

// Whether the bypass list sends the URL's host direct. Entries separated by ';', ',' or blanks, each a host
// pattern with '*' wildcards, optionally with "scheme://" before and ":port" after (both must then match), case
// does not matter; "<local>" matches every host name without a dot.
bool BypassesProxy(const std::wstring& bypassList, const UrlParts& url);

// The bypass entries libcurl's no-proxy list can express ("host", "*.domain" as "domain"), comma-separated. It
// applies to hosts reached by redirection; the package URL's own host is decided by BypassesProxy.
std::wstring CurlNoProxyList(const std::wstring& bypassList);

struct ProxyDecision {
    std::wstring proxy;   // for CURLOPT_PROXY; empty: direct
    std::wstring noProxy; // for CURLOPT_NOPROXY
    // The list's further proxies for the URL, each taken in turn when the one in use fails (libcurl takes one).
    std::vector<std::wstring> others;
};
// The whole rule for one URL: the bypass list first, then the entry of the list for the URL's scheme.
ProxyDecision DecideProxy(const std::wstring& list, const std::wstring& bypassList, const std::wstring& url);

// What the "-proxy" option asks for: nothing (absent or empty: the system's settings), "direct" (any case), or a
// proxy URL used as given.
enum class ProxyMode { System, Direct, Fixed };
ProxyMode ProxyModeOf(const std::wstring& option);

// A URL without its user-info: everything after "scheme://" up to the last '@' goes (a password may hold '/',
// '?' or '#' unescaped). What the log shows of a proxy, and what the state file keeps of the package URL.
std::wstring WithoutUserInfo(const std::wstring& url);
// A proxy as the log may show it: the user-info ("user:password@") removed.
std::wstring ProxyForLog(const std::wstring& proxy);

// Whether a failed transfer through a proxy failed at the proxy: it could not be resolved or reached, timed out
// before anything was `connected` (a black-holed proxy), refused the tunnel (CONNECT status `connectCode` not
// 2xx) or asked for authentication (407).
bool IsProxyFailure(int curlCode, long responseCode, long connectCode, bool connected = true);
