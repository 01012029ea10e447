#include "tools/fetch/FetchArgs.h"

#include <cstdio>
#include <cwchar>

#include "config/ConfigValues.h"
#include "utils/TextConv.h"

std::optional<FetchArgs> ParseFetchArgs(const std::vector<std::wstring>& args) {
    FetchArgs result;
    std::vector<std::wstring> positional;
    const std::wstring option = L"-downloadtype=";
    const std::wstring proxyOption = L"-proxy=";
    const std::wstring connectionsOption = L"-connections=";
    for (const std::wstring& arg : args) {
        if (arg.rfind(connectionsOption, 0) == 0) {
            std::optional<int> connections = Config::ParseConnections(arg.substr(connectionsOption.size()));
            if (!connections) {
                return std::nullopt;
            }
            result.connections = *connections;
        } else if (arg.rfind(proxyOption, 0) == 0) {
            result.proxy = arg.substr(proxyOption.size());
        } else if (arg.rfind(option, 0) == 0) {
            std::wstring digits = arg.substr(option.size());
            wchar_t* end = nullptr;
            long value = std::wcstol(digits.c_str(), &end, 10);
            if (digits.empty() || *end != L'\0') {
                return std::nullopt;
            }
            result.downloadType = static_cast<int>(value);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || positional[0].empty()) {
        return std::nullopt;
    }
    result.url = positional[0];
    result.path = positional[1];
    return result;
}

std::string FormatReport(int code, double value, const wchar_t* message) {
    char number[64];
    std::snprintf(number, sizeof(number), "%.10g", value);
    return std::to_string(code) + "\t" + number + "\t" +
           Utils::WideToMultiByte(message != nullptr ? message : L"", Utils::kCodePageUtf8) + "\n";
}
