// Command line of fetch.exe: [-downloadtype=N] [-proxy=VALUE] [-connections=N] URL PATH, and the line it prints for
// each report.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct FetchArgs {
    int downloadType = 1; // 2 selects the system downloader, any other value libcurl, as the installer does
    std::wstring proxy;   // -proxy=VALUE, as the installer's option (libcurl only)
    int connections = 4;  // -connections=N, as the installer's option (libcurl only)
    std::wstring url;
    std::wstring path;
};

// Nothing when the arguments do not match the usage.
std::optional<FetchArgs> ParseFetchArgs(const std::vector<std::wstring>& args);

// "code<TAB>value<TAB>message\n" in UTF-8; the value without trailing zeros ("0.25", "-998", "-2146697211").
std::string FormatReport(int code, double value, const wchar_t* message);
