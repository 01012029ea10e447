#include "install/ConsoleProtocol.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "install/StatusCodes.h"

namespace ConsoleProtocol {

namespace {

// Null-terminated copy for the C number readers.
std::wstring Terminated(std::wstring_view value) {
    return std::wstring(value);
}

bool StartsWith(std::wstring_view line, std::wstring_view key) {
    return line.substr(0, key.size()) == key;
}

Report TextReport(int code, std::wstring_view value) {
    return Report{code, 0.0, ReadText(value)};
}

double DetentionValue(std::wstring_view value) {
    // The package sends a signed number; it is carried as unsigned, so -1 means 4294967295 milliseconds.
    return static_cast<double>(static_cast<uint32_t>(ReadInt(value)));
}

// "State=Success" and "State=Fail" of either program: the verdict and its report; any other word says nothing.
void ReadState(std::wstring_view value, int successCode, int failCode, const wchar_t* failText, LineOutcome& out) {
    std::wstring state = ReadText(value);
    if (state == L"Success") {
        out.report = Report{successCode, 0.0, L""};
        out.result = kResultSuccess;
    } else if (state == L"Fail") {
        out.report = Report{failCode, 0.0, failText};
        out.result = kResultFailure;
    }
}

double StartupStyleValue(std::wstring_view value) {
    std::wstring text = ReadText(value);
    StartupStyle style = text == L"AutoStartup"   ? StartupStyle::Auto
                         : text == L"UserStartup" ? StartupStyle::User
                                                  : StartupStyle::None;
    return static_cast<double>(style);
}

} // namespace

double ReadDouble(std::wstring_view value) {
    std::wstring text = Terminated(value);
    wchar_t* end = nullptr;
    double number = std::wcstod(text.c_str(), &end);
    return end == text.c_str() ? 0.0 : number;
}

int ReadInt(std::wstring_view value) {
    std::wstring text = Terminated(value);
    wchar_t* end = nullptr;
    long long number = std::wcstoll(text.c_str(), &end, 10);
    if (end == text.c_str()) {
        return 0;
    }
    return static_cast<int>(static_cast<uint32_t>(static_cast<unsigned long long>(number)));
}

std::wstring ReadText(std::wstring_view value) {
    return std::wstring(value.substr(0, kMaxValueLength));
}

long ReadPackageCodePage(std::wstring_view value) {
    std::wstring text = ReadText(value);
    if (text == L"UTF8") {
        return 65001;
    }
    if (text == L"ACP") {
        return 0;
    }
    wchar_t* end = nullptr;
    long long number = std::wcstoll(text.c_str(), &end, 10);
    if (end == text.c_str()) {
        return 0;
    }
    if (number > LONG_MAX) {
        return LONG_MAX;
    }
    if (number < LONG_MIN) {
        return LONG_MIN;
    }
    return static_cast<long>(number);
}

bool IsWholeVerdict(std::wstring_view line) {
    return line == L"State=Success" || line == L"State=Fail";
}

LineOutcome ParsePackageLine(std::wstring_view line) {
    LineOutcome out;
    auto key = [&](std::wstring_view k, std::wstring_view& value) {
        if (!StartsWith(line, k)) {
            return false;
        }
        value = line.substr(k.size());
        return true;
    };
    std::wstring_view v;
    if (key(L"Progress=", v)) {
        out.report = Report{IST_CODE_PROGRESS, ReadDouble(v), L""};
    } else if (key(L"InstPath=", v)) {
        out.report = TextReport(IST_CODE_INST_PATH, v);
    } else if (key(L"State=", v)) {
        ReadState(v, IST_CODE_SUCCESS, IST_CODE_FAIL, L"安装包安装失败", out);
    } else if (key(L"InstallVersion=", v)) {
        // Read by the package's protocol but reported to nobody.
    } else if (key(L"ExePath=", v) || key(L"StartExe=", v)) {
        out.report = TextReport(IST_CODE_EXE_PATH, v);
    } else if (key(L"UninstExePath=", v) || key(L"UninstExe=", v)) {
        out.report = TextReport(IST_CODE_UNINST_EXE, v);
    } else if (key(L"UninstEp=", v)) {
        out.report = TextReport(IST_CODE_UNINST_EP, v);
    } else if (key(L"Error=", v)) {
        out.report = TextReport(IST_CODE_FAIL, v);
        out.report->value = 1000.0;
        out.result = kResultFailure;
    } else if (key(L"TopShowDetention=", v)) {
        out.report = Report{IST_CODE_TOP_SHOW_DETENTION, DetentionValue(v), L""};
    } else if (key(L"FinsihCloseDetention=", v)) { // spelled so on the wire
        out.report = Report{IST_CODE_FINISH_CLOSE_DETENTION, DetentionValue(v), L""};
    } else if (key(L"StartUrl=", v)) {
        out.report = TextReport(IST_CODE_START_URL, v);
    } else if (key(L"StartupStyle=", v)) {
        out.report = Report{IST_CODE_STARTUP_STYLE, StartupStyleValue(v), L""};
    } else if (key(L"Encode=", v)) {
        out.codePage = ReadPackageCodePage(v);
    } else if (key(L"Message=", v)) {
        out.report = TextReport(IST_CODE_MESSAGE, v);
    }
    return out;
}

LineOutcome ParseUninstallerLine(std::wstring_view line) {
    LineOutcome out;
    if (StartsWith(line, L"Progress=")) {
        out.report = Report{UNI_CODE_PROGRESS, ReadDouble(line.substr(9)), L""};
    } else if (StartsWith(line, L"Error=")) {
        out.report = TextReport(UNI_CODE_FAIL, line.substr(6));
        out.result = kResultFailure;
    } else if (StartsWith(line, L"State=")) {
        ReadState(line.substr(6), UNI_CODE_SUCCESS, UNI_CODE_FAIL, L"安装包卸载失败", out);
    } else if (StartsWith(line, L"Encode=")) {
        // The uninstaller knows UTF-8 and the ANSI code page only.
        out.codePage = ReadText(line.substr(7)) == L"UTF8" ? 65001 : 0;
    }
    return out;
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        size_t stop = end == std::wstring_view::npos ? text.size() : end;
        std::wstring_view line = text.substr(start, stop - start);
        if (!line.empty() && line.back() == L'\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        if (end == std::wstring_view::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

void LineSplitter::Append(std::string_view piece) {
    for (char c : piece) {
        if (pending_.size() >= kMaxLineBytes) {
            break;
        }
        if (c != '\0') {
            pending_ += c;
        }
    }
}

std::vector<std::string> LineSplitter::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (;;) {
        size_t feed = bytes.find('\n');
        if (feed == std::string_view::npos) {
            Append(bytes);
            break;
        }
        Append(bytes.substr(0, feed));
        lines.push_back(std::move(pending_));
        pending_.clear();
        bytes.remove_prefix(feed + 1);
    }
    return lines;
}

std::optional<std::string> LineSplitter::Finish() {
    if (pending_.empty()) {
        return std::nullopt;
    }
    std::string tail = std::move(pending_);
    pending_.clear();
    return tail;
}

} // namespace ConsoleProtocol
