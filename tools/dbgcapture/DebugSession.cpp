#include "tools/dbgcapture/DebugSession.h"

#include "utils/ScopedWin.h"
#include "utils/TextConv.h"
#include "utils/Thread.h"

namespace Tools {

namespace {

std::string ReadRemoteString(HANDLE process, const void* address, size_t units, bool wide) {
    if (address == nullptr || units == 0) {
        return {};
    }
    size_t bytes = units * (wide ? 2 : 1);
    std::vector<char> buffer(bytes + 2, 0);
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process, address, buffer.data(), bytes, &read)) {
        return {};
    }
    if (wide) {
        std::wstring text(reinterpret_cast<const wchar_t*>(buffer.data()), read / 2);
        return Utils::WideToMultiByte(text, Utils::kCodePageUtf8);
    }
    // Wine hands wide debug strings to a debugger in the ANSI code page.
    std::string ansi(buffer.data(), read);
    return Utils::WideToMultiByte(Utils::MultiByteToWide(ansi, Utils::kCodePageAnsi), Utils::kCodePageUtf8);
}

} // namespace

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

DebugSession::DebugSession(const std::wstring& exe, const std::wstring& commandLine,
                           std::function<void(const std::string&)> onLine)
    : onLine_(std::move(onLine)) {
    thread_ = std::thread(&DebugSession::Run, this, exe, commandLine);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return startDone_; });
}

DebugSession::~DebugSession() {
    Kill();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool DebugSession::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

DWORD DebugSession::processId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pid_;
}

std::vector<std::string> DebugSession::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

int DebugSession::WaitForLine(const std::string& needle, DWORD timeoutMs, size_t from) const {
    std::unique_lock<std::mutex> lock(mutex_);
    int found = -1;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (size_t i = from; i < lines_.size(); ++i) {
            if (lines_[i].find(needle) != std::string::npos) {
                found = static_cast<int>(i);
                return true;
            }
        }
        return exited_;
    });
    return found;
}

bool DebugSession::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
    std::unique_lock<std::mutex> lock(mutex_);
    bool done = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return exited_ || !started_; });
    if (done && exitCode != nullptr) {
        *exitCode = exitCode_;
    }
    return done;
}

void DebugSession::Kill() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ && !exited_ && process_ != nullptr) {
        ::TerminateProcess(process_, 99);
    }
}

void DebugSession::Run(std::wstring exe, std::wstring commandLine) {
    // The thread that creates the debuggee is the only one that may wait for its debug events.
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    BOOL ok = ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                               nullptr, nullptr, &si, &pi);
    Utils::UniqueHandle process(ok ? pi.hProcess : nullptr), thread(ok ? pi.hThread : nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startDone_ = true;
        started_ = ok != FALSE;
        pid_ = ok ? pi.dwProcessId : 0;
        process_ = process.get();
    }
    changed_.notify_all();
    if (!ok) {
        return;
    }
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, INFINITE)) {
            break;
        }
        DWORD status = DBG_CONTINUE;
        std::string record;
        bool haveRecord = false;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const auto& info = event.u.DebugString;
            record =
                ReadRemoteString(process.get(), info.lpDebugStringData, info.nDebugStringLength, info.fUnicode != 0);
            while (!record.empty() && (record.back() == '\0' || record.back() == '\n' || record.back() == '\r')) {
                record.pop_back();
            }
            haveRecord = true;
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& r = event.u.Exception.ExceptionRecord;
            if (r.ExceptionCode == Utils::kSetThreadNameException && r.NumberParameters >= 3) {
                std::string name = ReadRemoteString(
                    process.get(), reinterpret_cast<const void*>(r.ExceptionInformation[1]), 64, false);
                record = "THREADNAME " + std::to_string(r.ExceptionInformation[2]) + " " + name.c_str();
                haveRecord = true;
            } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            Utils::UniqueHandle(event.u.CreateProcessInfo.hFile).reset();
            break;
        case LOAD_DLL_DEBUG_EVENT:
            Utils::UniqueHandle(event.u.LoadDll.hFile).reset();
            break;
        case EXIT_PROCESS_DEBUG_EVENT: {
            std::lock_guard<std::mutex> lock(mutex_);
            exitCode_ = event.u.ExitProcess.dwExitCode;
            exited_ = true;
            process_ = nullptr;
            running = false;
            break;
        }
        default:
            break;
        }
        if (haveRecord) {
            if (onLine_) {
                onLine_(record);
            }
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(std::move(record));
        }
        changed_.notify_all();
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    changed_.notify_all();
}

} // namespace Tools
