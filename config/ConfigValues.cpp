#include "config/ConfigValues.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cwctype>

namespace Config {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

size_t SkipBlanks(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) {
        ++i;
    }
    return i;
}

} // namespace

std::optional<double> ParseReal(const std::wstring& text) {
    size_t i = SkipBlanks(text);
    std::string number;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        number += static_cast<char>(text[i++]);
    }
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        number += static_cast<char>(text[i++]);
        ++digits;
    }
    if (i < text.size() && text[i] == L'.') {
        number += '.';
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            number += static_cast<char>(text[i++]);
            ++digits;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    // An exponent belongs to the number only when at least one digit follows it.
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) {
            exponent += static_cast<char>(text[j++]);
        }
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) {
                exponent += static_cast<char>(text[j++]);
            }
            number += exponent;
        }
    }
    errno = 0;
    double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value) || (errno == ERANGE && std::fabs(value) > 1.0)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseInt32(const std::wstring& text) {
    size_t i = SkipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i >= text.size() || !IsDigit(text[i])) {
        return std::nullopt;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    while (i < text.size() && IsDigit(text[i])) {
        magnitude = magnitude * 10 + (text[i++] - L'0');
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

std::optional<int> ParseConnections(const std::wstring& text) {
    std::optional<int> value = ParseInt32(text);
    if (!value) {
        return std::nullopt;
    }
    return *value < 1 ? 1 : (*value > kMaxConnections ? kMaxConnections : *value);
}

OptionMap ParseOptions(const std::vector<std::wstring>& args) {
    OptionMap options;
    for (const std::wstring& arg : args) {
        size_t equals = arg.find(L'=');
        if (!arg.empty() && arg[0] == L'-' && equals != std::wstring::npos) {
            options.emplace(arg.substr(0, equals), arg.substr(equals + 1));
        } else {
            options.emplace(arg, std::wstring());
        }
    }
    return options;
}

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

} // namespace

std::wstring ConventionalSwitch(const std::wstring& arg) {
    const std::wstring lower = Lower(arg);
    if (lower == L"/s" || lower == L"/quiet" || lower == L"/silent") {
        return L"-silent";
    }
    if (lower.rfind(L"-silent", 0) == 0 && (arg.size() == 7 || arg[7] == L'=')) {
        return L"-silent" + arg.substr(7);
    }
    return arg;
}

bool AsksForHelp(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args) {
        const std::wstring lower = Lower(arg);
        if (lower == L"/?" || lower == L"-help" || lower == L"--help") {
            return true;
        }
    }
    return false;
}

bool IsKnownOption(const std::wstring& key) {
    static const wchar_t* const kOptions[] = {
        L"-downloadurl",        L"-downloadtype",    L"-downloadscale", L"-ischecknet",
        L"-isenableappsensors", L"-dlappnamesuffix", L"-dlappversion",  L"-instcmd",
        L"-packagesigner",      L"-packagesha256",   L"-log",           L"-proxy",
        L"-connections",        L"-silent",          L"-instdir",       L"-desktopshortcut",
        L"-quicklaunch",        L"-mirrorurls",      L"-package"};
    for (const wchar_t* option : kOptions) {
        if (key == option) {
            return true;
        }
    }
    return false;
}

bool IsKnownIniKey(const std::wstring& key) {
    static const wchar_t* const kKeys[] = {
        L"downloadurl",    L"downloadtype",  L"ischecknet",          L"downloadscale",      L"instcmd",
        L"packagesigner",  L"packagesha256", L"downloadconnections", L"isenableappsensors", L"dlappnamesuffix",
        L"m_dlappversion", L"mirrorurls"};
    const std::wstring lower = Lower(key);
    for (const wchar_t* known : kKeys) {
        if (lower == known) {
            return true;
        }
    }
    return false;
}

std::wstring NameOnly(const std::wstring& arg) {
    return arg.substr(0, arg.find(L'='));
}

std::wstring ReplaceRoute(std::wstring url, const std::wstring& route) {
    static const std::wstring kPlaceholder = L"${ROUTE}";
    for (size_t at = url.find(kPlaceholder); at != std::wstring::npos; at = url.find(kPlaceholder)) {
        url.replace(at, kPlaceholder.size(), route);
    }
    return url;
}

std::wstring RouteForVersionName(const std::wstring& versionName) {
    return versionName.find(L"XP") != std::wstring::npos ? L"download_silent_xp" : L"download_silent";
}

std::vector<std::wstring> SplitUrlList(const std::wstring& text) {
    std::vector<std::wstring> urls;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(L'|', begin);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring url = text.substr(begin, end - begin);
        const size_t first = url.find_first_not_of(L" \t");
        const size_t last = url.find_last_not_of(L" \t");
        if (first != std::wstring::npos) {
            urls.push_back(url.substr(first, last - first + 1));
        }
        begin = end + 1;
    }
    return urls;
}

} // namespace Config
