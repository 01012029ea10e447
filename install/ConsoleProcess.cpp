#include "install/ConsoleProcess.h"

#include <cwchar>
#include <vector>

#include "utils/DebugLog.h"
#include "utils/Exception.h"

namespace {

// How long the reader waits on the child before it looks at the pipes again while the child is silent.
constexpr DWORD kIdleWaitMs = 10;

CConsoleProcess::Pipe CreateInheritablePipe(const wchar_t* which) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    CConsoleProcess::Pipe pipe;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &sa, 0)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"CreatePipe(%s) failed: %lu", which, error);
        throw Utils::Exception(std::wstring(L"CreatePipe failed: ") + which);
    }
    pipe.read.reset(read);
    pipe.write.reset(write);
    return pipe;
}

void NotInheritable(const Utils::UniqueHandle& handle) {
    if (!::SetHandleInformation(handle.get(), HANDLE_FLAG_INHERIT, 0)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"SetHandleInformation failed: %lu", error);
        throw Utils::Exception(L"SetHandleInformation failed");
    }
}

// Bytes waiting in a pipe; false when the pipe is broken (every write end closed and nothing left).
bool Available(HANDLE pipe, DWORD& available) {
    available = 0;
    return ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) != FALSE;
}

} // namespace

void CConsoleProcess::Launch(const std::wstring& line, const std::wstring& applicationName) {
    Close();
    if (line.size() >= kCommandLineCapacity) {
        DEBUG_LOG(L"command line of %u characters does not fit", static_cast<unsigned>(line.size()));
        throw Utils::Exception(L"command line too long");
    }
    Pipe err = CreateInheritablePipe(L"stderr");
    Pipe out = CreateInheritablePipe(L"stdout");
    Pipe in = CreateInheritablePipe(L"stdin");

    wchar_t buffer[kCommandLineCapacity] = {};
    std::wmemcpy(buffer, line.c_str(), line.size());

    NotInheritable(out.read);
    NotInheritable(err.read);
    NotInheritable(in.write);

    // The child inherits its three pipe ends and nothing else, whatever else the installer holds inheritable
    // (another job's pipes included).
    HANDLE inherited[3] = {in.read.get(), out.write.get(), err.write.get()};
    Utils::ProcThreadAttributes attributes(1);
    if (!attributes.Update(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited))) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"handle list not set: %lu", error);
        throw Utils::Exception(L"UpdateProcThreadAttribute failed");
    }

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof(si);
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.StartupInfo.wShowWindow = SW_HIDE;
    si.StartupInfo.hStdInput = in.read.get();
    si.StartupInfo.hStdOutput = out.write.get();
    si.StartupInfo.hStdError = err.write.get();
    si.lpAttributeList = attributes.get();

    // CreateProcessW may write into the command line buffer, so it gets a copy; `commandLine` keeps the text.
    wchar_t mutableLine[kCommandLineCapacity];
    std::wmemcpy(mutableLine, buffer, kCommandLineCapacity);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), mutableLine, nullptr, nullptr,
                          TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &si.StartupInfo, &pi)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"CreateProcessW failed: %lu", error);
        throw Utils::Exception(L"CreateProcessW failed");
    }

    // Success: hand everything to the object. The child's ends are closed here so that the output pipes break
    // when the child ends.
    out.write.reset();
    err.write.reset();
    in.read.reset();
    std::wmemcpy(commandLine, buffer, kCommandLineCapacity);
    stdErrPipe = std::move(err);
    stdOutPipe = std::move(out);
    stdInPipe = std::move(in);
    process.reset(pi.hProcess);
    thread.reset(pi.hThread);
    processId = pi.dwProcessId;
    threadId = pi.dwThreadId;
}

void CConsoleProcess::DrainStdErr() {
    char discard[4096];
    DWORD available = 0;
    while (stdErrPipe.read && Available(stdErrPipe.read.get(), available) && available > 0) {
        DWORD got = 0;
        DWORD want = available < sizeof(discard) ? available : static_cast<DWORD>(sizeof(discard));
        if (!::ReadFile(stdErrPipe.read.get(), discard, want, &got, nullptr) || got == 0) {
            break;
        }
    }
}

CConsoleProcess::Read CConsoleProcess::ReadOutput(std::string& chunk, size_t maxBytes, DWORD silenceMs) {
    chunk.clear();
    if (!stdOutPipe.read || !process || maxBytes == 0) {
        return Read::kEnded;
    }
    const ULONGLONG since = ::GetTickCount64();
    for (;;) {
        DrainStdErr();
        DWORD available = 0;
        if (!Available(stdOutPipe.read.get(), available)) {
            return Read::kEnded; // broken: the child and everything that inherited its output have ended
        }
        if (available == 0) {
            if (::WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
                if (silenceMs != INFINITE && ::GetTickCount64() - since >= silenceMs) {
                    return Read::kSilent;
                }
                ::WaitForSingleObject(process.get(), kIdleWaitMs);
                continue;
            }
            // The child has ended: whatever it wrote before is in the pipe by now.
            if (!Available(stdOutPipe.read.get(), available) || available == 0) {
                DrainStdErr();
                return Read::kEnded;
            }
        }
        DWORD want = available < maxBytes ? available : static_cast<DWORD>(maxBytes);
        chunk.resize(want);
        DWORD got = 0;
        if (!::ReadFile(stdOutPipe.read.get(), chunk.data(), want, &got, nullptr)) {
            chunk.clear();
            return Read::kEnded;
        }
        chunk.resize(got);
        return Read::kData;
    }
}

DWORD CConsoleProcess::WaitForExit() {
    if (!process) {
        return STILL_ACTIVE;
    }
    // A child that closed its standard output early may still write to standard error: keep draining it.
    while (::WaitForSingleObject(process.get(), kIdleWaitMs) == WAIT_TIMEOUT) {
        DrainStdErr();
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

bool CConsoleProcess::Running() const {
    DWORD code = 0;
    return process && ::GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

void CConsoleProcess::Close() {
    thread.reset();
    process.reset();
    stdErrPipe = Pipe{};
    stdOutPipe = Pipe{};
    stdInPipe = Pipe{};
    processId = 0;
    threadId = 0;
}
