#include "download/ProxyRules.h"

#include <cwctype>
#include <vector>

#include <curl/curl.h>

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

bool IsDigits(const std::wstring& text) {
    if (text.empty()) {
        return false;
    }
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> Tokens(const std::wstring& text, const wchar_t* separators) {
    std::vector<std::wstring> tokens;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find_first_of(separators, begin);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        if (end > begin) {
            tokens.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return tokens;
}

// '*' stands for any run of characters, including none; everything else matches itself.
bool WildcardMatch(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0;
    size_t t = 0;
    size_t star = std::wstring::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

// "host:port" or "[v6]:port" into host and port text (empty when absent).
void SplitHostPort(const std::wstring& authority, std::wstring& host, std::wstring& port) {
    if (!authority.empty() && authority[0] == L'[') {
        size_t close = authority.find(L']');
        host = authority.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        if (close != std::wstring::npos && close + 1 < authority.size() && authority[close + 1] == L':') {
            port = authority.substr(close + 2);
        }
        return;
    }
    size_t colon = authority.rfind(L':');
    if (colon != std::wstring::npos && authority.find(L':') == colon) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    } else {
        host = authority; // a bare IPv6 address has several colons and no port
    }
}

int DefaultPort(const std::wstring& scheme) {
    if (scheme == L"http") {
        return 80;
    }
    if (scheme == L"https") {
        return 443;
    }
    return 0;
}

// One bypass entry split into its optional scheme, host pattern and optional port.
struct BypassEntry {
    std::wstring scheme;
    std::wstring host;
    std::wstring port;
};

BypassEntry ParseBypassEntry(const std::wstring& entry) {
    BypassEntry result;
    std::wstring rest = Lower(entry);
    size_t sep = rest.find(L"://");
    if (sep != std::wstring::npos) {
        result.scheme = rest.substr(0, sep);
        rest = rest.substr(sep + 3);
    }
    SplitHostPort(rest, result.host, result.port);
    if (!result.port.empty() && !IsDigits(result.port)) {
        result.host = rest; // "a:b" that is not host:port stays one pattern
        result.port.clear();
    }
    return result;
}

} // namespace

UrlParts SplitUrl(const std::wstring& url) {
    UrlParts parts;
    std::wstring rest = url;
    size_t sep = rest.find(L"://");
    if (sep != std::wstring::npos) {
        parts.scheme = Lower(rest.substr(0, sep));
        rest = rest.substr(sep + 3);
    }
    std::wstring authority = rest.substr(0, rest.find_first_of(L"/?#"));
    size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) {
        authority = authority.substr(at + 1);
    }
    std::wstring port;
    SplitHostPort(authority, parts.host, port);
    parts.host = Lower(parts.host);
    parts.port = IsDigits(port) && port.size() <= 5 ? std::stoi(port) : DefaultPort(parts.scheme);
    return parts;
}

std::wstring SelectProxy(const std::wstring& list, const std::wstring& scheme) {
    std::vector<std::wstring> proxies = SelectProxies(list, scheme);
    return proxies.empty() ? std::wstring() : proxies.front();
}

std::vector<std::wstring> SelectProxies(const std::wstring& list, const std::wstring& scheme) {
    // Each ';' entry's blank-separated words; `entryEnd` marks the last word of an entry.
    std::vector<std::wstring> tokens;
    std::vector<bool> entryEnd;
    for (const std::wstring& entry : Tokens(list, L";")) {
        std::vector<std::wstring> words = Tokens(entry, L" \t\r\n");
        for (size_t w = 0; w < words.size(); ++w) {
            tokens.push_back(words[w]);
            entryEnd.push_back(w + 1 == words.size());
        }
    }
    const std::wstring wanted = Lower(scheme);
    std::vector<std::wstring> proxies;
    std::wstring socks;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring word = Lower(tokens[i]);
        if (word == L"direct") {
            break;
        }
        // A PAC result: a keyword, then the server as the next word of the same entry ("PROXY host:port"). A
        // word alone in its entry is a server, even one called "proxy", "http" or "socks" (a static list).
        const bool keyword = word == L"proxy" || word == L"http" || word == L"https" || word == L"socks" ||
                             word == L"socks4" || word == L"socks5";
        if (keyword && !entryEnd[i]) {
            const std::wstring& server = tokens[++i];
            if (word == L"proxy" || word == L"http") {
                proxies.push_back(server);
            } else if (word == L"https") {
                proxies.push_back(L"https://" + server);
            } else {
                proxies.push_back((word == L"socks5" ? L"socks5://" : L"socks4://") + server);
            }
            continue;
        }
        size_t equals = tokens[i].find(L'=');
        if (equals == std::wstring::npos) {
            proxies.push_back(tokens[i]); // one server for every scheme
            continue;
        }
        const std::wstring key = Lower(tokens[i].substr(0, equals));
        const std::wstring server = tokens[i].substr(equals + 1);
        if (server.empty()) {
            continue;
        }
        if (key == wanted) {
            proxies.push_back(server);
        } else if (key == L"socks" && socks.empty()) {
            socks = server.find(L"://") == std::wstring::npos ? L"socks4://" + server : server;
        }
    }
    if (proxies.empty() && !socks.empty()) {
        proxies.push_back(socks);
    }
    return proxies;
}

bool BypassesProxy(const std::wstring& bypassList, const UrlParts& url) {
    for (const std::wstring& entry : Tokens(bypassList, L";, \t\r\n")) {
        const std::wstring lower = Lower(entry);
        if (lower == L"<local>") {
            if (!url.host.empty() && url.host.find_first_of(L".:") == std::wstring::npos) {
                return true;
            }
            continue;
        }
        const BypassEntry e = ParseBypassEntry(entry);
        if (!e.scheme.empty() && e.scheme != url.scheme) {
            continue;
        }
        if (!e.port.empty() && std::stoi(e.port.substr(0, 5)) != url.port) {
            continue;
        }
        if (WildcardMatch(e.host, url.host)) {
            return true;
        }
    }
    return false;
}

std::wstring CurlNoProxyList(const std::wstring& bypassList) {
    std::wstring result;
    for (const std::wstring& entry : Tokens(bypassList, L";, \t\r\n")) {
        const BypassEntry e = ParseBypassEntry(entry);
        // Entries bound to a scheme or a port, "<local>" and inner wildcards have no libcurl form.
        if (!e.scheme.empty() || !e.port.empty() || e.host.empty() || e.host[0] == L'<') {
            continue;
        }
        std::wstring host = e.host;
        if (host.rfind(L"*.", 0) == 0) {
            host = host.substr(2);
        } else if (host[0] == L'.') {
            host = host.substr(1);
        }
        if (host.empty() || host.find(L'*') != std::wstring::npos) {
            continue;
        }
        result += (result.empty() ? L"" : L",") + host;
    }
    return result;
}

ProxyDecision DecideProxy(const std::wstring& list, const std::wstring& bypassList, const std::wstring& url) {
    const UrlParts parts = SplitUrl(url);
    if (BypassesProxy(bypassList, parts)) {
        return {};
    }
    ProxyDecision decision;
    std::vector<std::wstring> proxies = SelectProxies(list, parts.scheme);
    if (!proxies.empty()) {
        decision.proxy = proxies.front();
        decision.others.assign(proxies.begin() + 1, proxies.end());
        decision.noProxy = CurlNoProxyList(bypassList);
    }
    return decision;
}

ProxyMode ProxyModeOf(const std::wstring& option) {
    if (option.empty()) {
        return ProxyMode::System;
    }
    return Lower(option) == L"direct" ? ProxyMode::Direct : ProxyMode::Fixed;
}

std::wstring WithoutUserInfo(const std::wstring& url) {
    size_t sep = url.find(L"://");
    size_t begin = sep == std::wstring::npos ? 0 : sep + 3;
    // A password may hold '/', '?' or '#' unescaped ("alice:s3cr/et@host"): everything up to the last '@' goes.
    size_t at = url.rfind(L'@');
    if (at == std::wstring::npos || at < begin) {
        return url;
    }
    return url.substr(0, begin) + url.substr(at + 1);
}

std::wstring ProxyForLog(const std::wstring& proxy) {
    return WithoutUserInfo(proxy);
}

bool IsProxyFailure(int curlCode, long responseCode, long connectCode, bool connected) {
    if (curlCode == CURLE_OK) {
        return false;
    }
    // A proxy that swallows the connection (black-holed) times out before anything is connected.
    if (curlCode == CURLE_OPERATION_TIMEDOUT && !connected) {
        return true;
    }
    if (curlCode == CURLE_COULDNT_RESOLVE_PROXY || curlCode == CURLE_PROXY) {
        return true;
    }
    // Through a proxy, the only host libcurl connects to is the proxy.
    if (curlCode == CURLE_COULDNT_CONNECT) {
        return true;
    }
    if (responseCode == 407 || connectCode == 407) {
        return true;
    }
    return connectCode != 0 && (connectCode < 200 || connectCode > 299);
}
