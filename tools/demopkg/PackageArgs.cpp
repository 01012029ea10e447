#include "tools/demopkg/PackageArgs.h"

#include <cwctype>

namespace DemoPackage {

static bool IsBlank(wchar_t ch) {
    return ch == L' ' || ch == L'\t';
}

static bool StartsOption(std::wstring_view rest) {
    if (!rest.empty() && rest[0] == L'"') {
        rest.remove_prefix(1); // an option may be quoted as a whole: "-instdir=C:\x y"
    }
    return !rest.empty() && (rest[0] == L'/' || rest[0] == L'-' || rest.substr(0, 3) == L"_?=");
}

static std::wstring TrimRight(std::wstring_view text) {
    size_t end = text.size();
    while (end > 0 && (IsBlank(text[end - 1]) || text[end - 1] == L'\r' || text[end - 1] == L'\n')) {
        --end;
    }
    return std::wstring(text.substr(0, end));
}

static bool IsTrue(std::wstring_view value) {
    if (value.size() != 4) {
        return false;
    }
    const wchar_t* word = L"true";
    for (size_t i = 0; i < 4; ++i) {
        if (std::towlower(value[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

std::wstring_view SkipProgramName(std::wstring_view line) {
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    if (pos < line.size() && line[pos] == L'"') {
        const size_t close = line.find(L'"', pos + 1);
        pos = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        // Unquoted: the path ends at the first blank that an option follows.
        while (pos < line.size()) {
            if (IsBlank(line[pos])) {
                size_t next = pos;
                while (next < line.size() && IsBlank(line[next])) {
                    ++next;
                }
                if (next == line.size() || StartsOption(line.substr(next))) {
                    break;
                }
                pos = next;
                continue;
            }
            ++pos;
        }
    }
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    return line.substr(pos);
}

// One blank-separated token; double quotes group blanks and are removed.
static std::wstring NextToken(std::wstring_view& rest) {
    std::wstring token;
    bool quoted = false;
    size_t pos = 0;
    for (; pos < rest.size(); ++pos) {
        const wchar_t ch = rest[pos];
        if (ch == L'"') {
            quoted = !quoted;
        } else if (IsBlank(ch) && !quoted) {
            break;
        } else {
            token += ch;
        }
    }
    while (pos < rest.size() && IsBlank(rest[pos])) {
        ++pos;
    }
    rest = rest.substr(pos);
    return token;
}

PackageArgs ParsePackageCommandLine(std::wstring_view commandLine) {
    PackageArgs args;
    std::wstring_view rest = SkipProgramName(commandLine);
    while (!rest.empty()) {
        // /D= and _?= take everything up to the end of the line, blanks included.
        if (rest.substr(0, 3) == L"/D=") {
            args.dirOption = TrimRight(rest.substr(3));
            break;
        }
        if (rest.substr(0, 3) == L"_?=") {
            args.uninstallDir = TrimRight(rest.substr(3));
            break;
        }
        const std::wstring token = NextToken(rest);
        const std::wstring_view t = token;
        auto value = [&](std::wstring_view key) { return t.substr(key.size()); };
        if (t == L"/S") {
            args.silent = true;
        } else if (t == L"-console=show") {
            args.console = true;
        } else if (t.starts_with(L"-version=")) {
            args.version = value(L"-version=");
        } else if (t.starts_with(L"-dsc=")) {
            args.desktopShortcut = IsTrue(value(L"-dsc="));
        } else if (t.starts_with(L"-ssc=")) {
            args.quickLaunch = IsTrue(value(L"-ssc="));
        } else if (t.starts_with(L"-instdir=")) {
            args.instDir = value(L"-instdir=");
        } else if (t.starts_with(L"-steppause=")) {
            const std::wstring number(value(L"-steppause="));
            args.stepPauseMs = static_cast<int>(wcstol(number.c_str(), nullptr, 10));
            if (args.stepPauseMs < 0) {
                args.stepPauseMs = 0;
            }
        } else if (!t.empty()) {
            args.extra.push_back(token);
        }
    }
    return args;
}

std::wstring NormaliseFolder(std::wstring folder) {
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    if (folder.size() > 3 || folder.size() < 2 || folder[1] != L':') {
        return folder;
    }
    // "C:" and "C:\" both mean the drive's root.
    return folder.substr(0, 2) + L"\\";
}

std::wstring TargetFolder(const PackageArgs& args) {
    return NormaliseFolder(args.instDir.empty() ? args.dirOption : args.instDir);
}

} // namespace DemoPackage
