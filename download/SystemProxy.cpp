#include "download/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace {

// Bounds the fetch of an auto-config script (resolve, connect, send, receive), in milliseconds.
constexpr int kScriptTimeoutMs = 10000;

const wchar_t* OrEmpty(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

// The script's answer for `url`; false when there is none (no script found, or it could not be run).
bool AskScript(const std::wstring& url, bool autoDetect, const wchar_t* scriptUrl, ProxyDecision& decision) {
    Utils::UniqueWinHttp session(::WinHttpOpen(L"TunivoxSetup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        DEBUG_LOG(L"WinHttpOpen failed: %lu", ::GetLastError());
        return false;
    }
    ::WinHttpSetTimeouts(session.get(), kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (scriptUrl != nullptr) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl;
    }
    if (autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        DEBUG_LOG(L"WinHttpGetProxyForUrl failed: %lu", ::GetLastError());
        return false;
    }
    Utils::UniqueGlobalMem proxy(info.lpszProxy);
    Utils::UniqueGlobalMem bypass(info.lpszProxyBypass);
    decision = {};
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        decision = DecideProxy(OrEmpty(info.lpszProxy), OrEmpty(info.lpszProxyBypass), url);
    }
    return true;
}

ProxyChoice FromSystem(const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
        DEBUG_LOG(L"WinHttpGetIEProxyConfigForCurrentUser failed: %lu", ::GetLastError());
        return {{}, L"no system settings"};
    }
    Utils::UniqueGlobalMem scriptUrl(ie.lpszAutoConfigUrl);
    Utils::UniqueGlobalMem staticProxy(ie.lpszProxy);
    Utils::UniqueGlobalMem staticBypass(ie.lpszProxyBypass);
    if (ie.fAutoDetect || ie.lpszAutoConfigUrl != nullptr) {
        ProxyChoice choice;
        choice.source =
            ie.lpszAutoConfigUrl != nullptr ? L"auto-config " + ProxyForLog(ie.lpszAutoConfigUrl) : L"auto-detect";
        if (AskScript(url, ie.fAutoDetect != FALSE, ie.lpszAutoConfigUrl, choice.decision)) {
            return choice;
        }
        // As the system does: without a script's answer the static settings apply.
    }
    if (ie.lpszProxy == nullptr) {
        return {{}, L"system settings"};
    }
    return {DecideProxy(ie.lpszProxy, OrEmpty(ie.lpszProxyBypass), url), L"system settings"};
}

} // namespace

ProxyChoice FindProxy(const std::wstring& url, const std::wstring& option) {
    ProxyChoice choice;
    switch (ProxyModeOf(option)) {
    case ProxyMode::Direct:
        choice.source = L"-proxy=direct";
        break;
    case ProxyMode::Fixed:
        choice.decision.proxy = option;
        choice.source = L"-proxy";
        break;
    case ProxyMode::System: {
        // Only HTTP and HTTPS go through a proxy: a FILE URL is read locally.
        const std::wstring scheme = SplitUrl(url).scheme;
        if (scheme == L"http" || scheme == L"https") {
            choice = FromSystem(url);
        } else {
            choice.source = L"not HTTP";
        }
        break;
    }
    }
    DEBUG_LOG(L"proxy for %s: %s (%s)", SplitUrl(url).host.c_str(),
              choice.decision.proxy.empty() ? L"direct" : ProxyForLog(choice.decision.proxy).c_str(),
              choice.source.c_str());
    return choice;
}
