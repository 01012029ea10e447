// Value conversions and command-line rules of the installer configuration, free of any system state.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Config {

// Real number: blanks at the start skipped, the longest decimal prefix [sign]digits[.digits][e[sign]digits]
// converted, the rest ignored. No value when no prefix converts, or when the number is beyond the double range
// (a progress share of "inf" or "nan" would poison the progress arithmetic, so those are not numbers here).
std::optional<double> ParseReal(const std::wstring& text);

// Decimal 32-bit integer: blanks skipped, optional sign, digits, rest ignored. No value without digits or when
// the number does not fit 32 bits.
std::optional<int> ParseInt32(const std::wstring& text);

// Most byte ranges the libcurl downloader fetches at once ("DownloadConnections", "-connections"): a decimal
// integer as ParseInt32 reads it, brought within 1..kMaxConnections (1 turns parallel ranges off); no value when
// ParseInt32 gives none.
constexpr int kDefaultConnections = 4;
constexpr int kMaxConnections = 16;
std::optional<int> ParseConnections(const std::wstring& text);

// Options of one command line, in the order of their first occurrence. An argument "-key=value" gives key and
// value (the value may be empty and may contain '='); any other argument is a key with an empty value. The first
// occurrence of a key wins; keys are compared exactly (case-sensitive).
using OptionMap = std::map<std::wstring, std::wstring>;
OptionMap ParseOptions(const std::vector<std::wstring>& args);

// The switches other installers taught deployment tools, mapped onto ours: "/S", "/quiet", "/silent" (any letter
// case) become "-silent", and "-silent" in any letter case (with or without "=value") is "-silent"; every other
// argument is returned unchanged.
std::wstring ConventionalSwitch(const std::wstring& arg);

// "/?", "-help" or "--help" (any letter case) among the arguments: print the options and exit codes, run nothing.
bool AsksForHelp(const std::vector<std::wstring>& args);

// The option names the installer knows ("-downloadurl", ..., "-silent"), compared exactly.
bool IsKnownOption(const std::wstring& key);

// The key names the "[Install]" section of ZKInstallerConfig.ini knows, compared in any letter case.
bool IsKnownIniKey(const std::wstring& key);

// What the log may say of an argument or ini entry it ignored: the name alone, up to the first '=', so that no
// value (a password, a query string) reaches the log.
std::wstring NameOnly(const std::wstring& arg);

// Replaces every "${ROUTE}" with `route`, searching again from the start after each replacement.
std::wstring ReplaceRoute(std::wstring url, const std::wstring& route);

// The route for a Windows version name: the XP flavour for any name containing "XP".
std::wstring RouteForVersionName(const std::wstring& versionName);

// The URLs of a "MirrorUrls" value: separated by '|', blanks around each trimmed, empty ones dropped.
std::vector<std::wstring> SplitUrlList(const std::wstring& text);

} // namespace Config
