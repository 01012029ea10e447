#include "tests/install/StandIn.h"

#include <chrono>
#include <ostream>

#include "tests/support/TestSupport.h"
#include "utils/TextConv.h"

namespace StandIn {

std::wstring Exe() {
    return TestSupport::ExeFolder() + L"\\standin.exe";
}

std::wstring Variant(const wchar_t* name) {
    return TestSupport::ExeFolder() + L"\\standin-" + name + L".exe";
}

bool CopyTo(const std::wstring& target) {
    return ::CopyFileW(Exe().c_str(), target.c_str(), FALSE) != FALSE;
}

std::wstring WriteScript(const std::wstring& path, const std::string& text) {
    TestSupport::WriteBytes(path, text);
    return path;
}

static std::vector<std::wstring> RecordLines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    std::string bytes = TestSupport::ReadBytes(path);
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(Utils::MultiByteToWide(bytes.substr(start, end - start), Utils::kCodePageUtf8));
    }
    return lines;
}

std::vector<std::wstring> CommandLines(const std::wstring& script) {
    return RecordLines(script + L".cmdline");
}

std::vector<std::wstring> Modules(const std::wstring& script) {
    return RecordLines(script + L".module");
}

std::wstring Argument(const std::wstring& script) {
    if (script.find(L' ') != std::wstring::npos) {
        return L"-standin=\"" + script + L"\"";
    }
    return L"-standin=" + script;
}

ScriptEnvironment::ScriptEnvironment(const std::wstring& script) {
    ::SetEnvironmentVariableW(L"TUNIVOX_STANDIN_SCRIPT", script.c_str());
}

ScriptEnvironment::~ScriptEnvironment() {
    ::SetEnvironmentVariableW(L"TUNIVOX_STANDIN_SCRIPT", nullptr);
}

} // namespace StandIn

void PrintTo(const Event& e, std::ostream* os) {
    *os << "{" << e.code << ", " << e.value << ", \"" << TestSupport::Utf8(e.message) << "\"}";
}

DownloadCallback EventLog::Callback() {
    return [this](int code, double value, const wchar_t* message) { Add(code, value, message); };
}

void EventLog::Add(int code, double value, const wchar_t* message) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(Event{code, value, message != nullptr ? message : L"(null)"});
    }
    changed.notify_all();
}

std::vector<Event> EventLog::Events() const {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

std::vector<int> EventLog::Codes() const {
    std::vector<int> codes;
    for (const Event& e : Events()) {
        codes.push_back(e.code);
    }
    return codes;
}

bool EventLog::WaitFor(int code, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const Event& e : events) {
            if (e.code == code) {
                return true;
            }
        }
        return false;
    });
}
