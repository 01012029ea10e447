#include "install/ConsoleProcess.h"

#include <bcrypt.h>

#include <cwchar>
#include <new>

#include "utils/DebugLog.h"
#include "utils/Security.h"
#include "utils/TextConv.h"

namespace {

// What a child's pipe holds before the child's writes wait for the reader: as for an anonymous pipe.
constexpr DWORD kPipeBufferSize = 4096;
// Standard error is read only to be thrown away.
constexpr size_t kStdErrReadSize = 4096;

using Utils::Result;
using Utils::Status;

Result<CConsoleProcess::Pipe> CreateInheritablePipe(const wchar_t* which) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    CConsoleProcess::Pipe pipe;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &sa, 0)) {
        return Status::LastError(std::wstring(L"CreatePipe failed: ") + which);
    }
    pipe.read.reset(read);
    pipe.write.reset(write);
    return pipe;
}

// "\\.\pipe\Tunivox.<32 hexadecimal digits from the system's random generator>": a name nobody can guess and
// create first, to serve the child's output in the installer's place.
Result<std::wstring> RandomPipeName() {
    UCHAR random[16];
    if (const NTSTATUS status = ::BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        status != 0) {
        return Status::Failed(L"no random pipe name", status);
    }
    std::wstring name = L"\\\\.\\pipe\\Tunivox.";
    for (UCHAR b : random) {
        wchar_t two[3];
        Utils::FormatBounded(two, 3, L"%02X", b);
        name += two;
    }
    return name;
}

// A pipe the child writes into: the parent's read end (the server end of a named pipe that only this process
// knows, opened for overlapped I/O, not inheritable) and the child's inheritable write end, opened at once so
// that nobody else can take the pipe's only instance. The pipe grants access to the installer's own user alone:
// an elevated administrator's default descriptor would let any program of the Administrators group in.
Result<CConsoleProcess::Pipe> CreateOutputPipe(const wchar_t* which) {
    const Result<std::wstring> name = RandomPipeName();
    if (!name) {
        return name.Failure();
    }
    const std::wstring user = Utils::TokenUserSid();
    Result<Utils::UniqueLocalMem> descriptor = user.empty()
                                                   ? Result<Utils::UniqueLocalMem>(Status::Failed(L"no token user"))
                                                   : Utils::DescriptorFromSddl(Utils::UserOnlySddl(user));
    if (!descriptor) {
        return Status::Failed(std::wstring(L"no security descriptor for ") + which + L": " +
                              descriptor.Failure().What());
    }
    SECURITY_ATTRIBUTES own{sizeof(own), descriptor->get(), FALSE};
    CConsoleProcess::Pipe pipe;
    pipe.read.reset(::CreateNamedPipeW(
        name->c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, kPipeBufferSize, 0, &own));
    if (!pipe.read) {
        return Status::LastError(std::wstring(L"CreateNamedPipeW failed: ") + which);
    }
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    // Whoever serves the pipe may only identify the installer, never act as it (moot while the name is ours alone).
    pipe.write.reset(::CreateFileW(name->c_str(), GENERIC_WRITE, 0, &sa, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe.write) {
        return Status::LastError(std::wstring(L"the child's end of the pipe not opened: ") + which);
    }
    return pipe;
}

Result<Utils::UniqueHandle> CreateManualEvent() {
    Utils::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return Status::LastError(L"CreateEventW failed");
    }
    return event;
}

// The pipes and events of one child: its standard error, output and input, and the two reads' events.
struct ChildPipes {
    CConsoleProcess::Pipe err;
    CConsoleProcess::Pipe out;
    CConsoleProcess::Pipe in;
    Utils::UniqueHandle errCompleted;
    Utils::UniqueHandle outCompleted;
};

Result<ChildPipes> CreateChildPipes() {
    Result<CConsoleProcess::Pipe> err = CreateOutputPipe(L"stderr");
    Result<CConsoleProcess::Pipe> out = err ? CreateOutputPipe(L"stdout") : err.Failure();
    Result<CConsoleProcess::Pipe> in = out ? CreateInheritablePipe(L"stdin") : out.Failure();
    Result<Utils::UniqueHandle> errCompleted = in ? CreateManualEvent() : in.Failure();
    Result<Utils::UniqueHandle> outCompleted = errCompleted ? CreateManualEvent() : errCompleted.Failure();
    if (!outCompleted) {
        return outCompleted.Failure();
    }
    if (!::SetHandleInformation(in->write.get(), HANDLE_FLAG_INHERIT, 0)) {
        return Status::LastError(L"SetHandleInformation failed");
    }
    return ChildPipes{std::move(*err), std::move(*out), std::move(*in), std::move(*errCompleted),
                      std::move(*outCompleted)};
}

// Bytes waiting in a pipe; false when the pipe is broken (every write end closed and nothing left).
bool Available(HANDLE pipe, DWORD& available) {
    available = 0;
    return ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) != FALSE;
}

// CancelIoEx cancels a read whichever thread started it; Windows XP has only CancelIo (the calling thread's).
BOOL CancelRead(HANDLE file, OVERLAPPED* overlapped) {
    using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
    static const CancelIoExFn cancelIoEx = [] {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        return kernel != nullptr
                   ? reinterpret_cast<CancelIoExFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "CancelIoEx")))
                   : nullptr;
    }();
    return cancelIoEx != nullptr ? cancelIoEx(file, overlapped) : ::CancelIo(file);
}

} // namespace

void CConsoleProcess::PipeRead::Attach(HANDLE pipe, Utils::UniqueHandle completed) {
    Cancel();
    pipe_ = pipe;
    completed_ = std::move(completed);
    ended_ = pipe == nullptr;
}

bool CConsoleProcess::PipeRead::Start(size_t size) {
    if (ended_ || pending_) {
        return !ended_;
    }
    DWORD want = size < 0x10000000u ? static_cast<DWORD>(size) : 0x10000000u;
    buffer_.resize(want);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = completed_.get();
    // Done at once or pending, the outcome is collected by Finish either way (the event is set on completion).
    if (::ReadFile(pipe_, buffer_.data(), want, nullptr, &overlapped_) || ::GetLastError() == ERROR_IO_PENDING) {
        pending_ = true;
        return true;
    }
    ended_ = true; // ERROR_BROKEN_PIPE: every write end is closed and nothing is left
    return false;
}

CConsoleProcess::PipeRead::Result CConsoleProcess::PipeRead::Finish(std::string& bytes, bool wait) {
    bytes.clear();
    if (!pending_) {
        return ended_ ? Result::kEnded : Result::kNothing;
    }
    DWORD got = 0;
    if (!::GetOverlappedResult(pipe_, &overlapped_, &got, wait ? TRUE : FALSE)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            return Result::kNothing;
        }
        pending_ = false;
        if (error == ERROR_OPERATION_ABORTED) {
            return Result::kNothing;
        }
        ended_ = true;
        return Result::kEnded;
    }
    pending_ = false;
    bytes.assign(buffer_.data(), got);
    return got > 0 ? Result::kData : Result::kNothing;
}

CConsoleProcess::PipeRead::Result CConsoleProcess::PipeRead::Cancel(std::string& bytes) {
    bytes.clear();
    if (!pending_) {
        return Result::kNothing;
    }
    // Fails only when the read has completed meanwhile; its outcome is collected all the same.
    CancelRead(pipe_, &overlapped_);
    return Finish(bytes, true);
}

void CConsoleProcess::PipeRead::Cancel() {
    std::string discard;
    Cancel(discard);
}

Utils::Status CConsoleProcess::Launch(const std::wstring& line, const std::wstring& applicationName) {
    Close();
    if (line.size() >= kCommandLineCapacity) {
        return Status::Failed(L"the command line of " + Utils::Decimal(line.size()) + L" characters is too long");
    }
    Result<ChildPipes> pipes = CreateChildPipes();
    if (!pipes) {
        return pipes.Failure();
    }
    auto& [err, out, in, errCompleted, outCompleted] = *pipes;

    wchar_t buffer[kCommandLineCapacity] = {};
    std::wmemcpy(buffer, line.c_str(), line.size());

    // The child inherits its three pipe ends and nothing else, whatever else the installer holds inheritable
    // (another job's pipes included).
    HANDLE inherited[3] = {in.read.get(), out.write.get(), err.write.get()};
    Utils::ProcThreadAttributes attributes(1);
    if (!attributes.Update(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited))) {
        return Status::LastError(L"UpdateProcThreadAttribute failed");
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
        return Status::LastError(L"CreateProcessW failed");
    }

    // Success: hand everything to the object. The child's ends are closed here so that the output pipes break
    // when the child ends. Nothing is ever written to the child's standard input: our end goes at once, so a
    // child that reads it meets its end instead of waiting for ever while the job waits for the child.
    out.write.reset();
    err.write.reset();
    in.read.reset();
    in.write.reset();
    std::wmemcpy(commandLine_, buffer, kCommandLineCapacity);
    stdErrPipe_ = std::move(err);
    stdOutPipe_ = std::move(out);
    process_.reset(pi.hProcess);
    thread_.reset(pi.hThread);
    processId_ = pi.dwProcessId;
    threadId_ = pi.dwThreadId;
    outRead_.Attach(stdOutPipe_.read.get(), std::move(outCompleted));
    errRead_.Attach(stdErrPipe_.read.get(), std::move(errCompleted));
    errRead_.Start(kStdErrReadSize);
    return {};
}

void CConsoleProcess::ServiceStdErr() {
    std::string discard;
    while (errRead_.Pending() && errRead_.Finish(discard, false) != PipeRead::Result::kEnded && !errRead_.Pending()) {
        errRead_.Start(kStdErrReadSize);
    }
}

CConsoleProcess::Read CConsoleProcess::ReadOutput(std::string& chunk, size_t maxBytes, DWORD silenceMs) {
    chunk.clear();
    if (!stdOutPipe_.read || !process_ || maxBytes == 0) {
        return Read::kEnded;
    }
    if (!outRead_.Start(maxBytes)) {
        return Read::kEnded; // broken: the child and everything that inherited its output have ended
    }
    const ULONGLONG since = ::GetTickCount64();
    for (;;) {
        // The output comes first: what the child wrote before it ended is read before its end is noticed.
        HANDLE waitFor[3] = {outRead_.Completed(), process_.get(), errRead_.Completed()};
        const DWORD count = errRead_.Pending() ? 3 : 2;
        DWORD timeout = INFINITE;
        if (silenceMs != INFINITE) {
            ULONGLONG waited = ::GetTickCount64() - since;
            timeout = waited >= silenceMs ? 0 : static_cast<DWORD>(silenceMs - waited);
        }
        DWORD signalled = ::WaitForMultipleObjects(count, waitFor, FALSE, timeout);
        if (signalled == WAIT_OBJECT_0) {
            PipeRead::Result result = outRead_.Finish(chunk, true); // done: its event is set
            if (result == PipeRead::Result::kData) {
                return Read::kData;
            }
            if (result == PipeRead::Result::kEnded) {
                return Read::kEnded;
            }
            if (!outRead_.Pending() && !outRead_.Start(maxBytes)) {
                return Read::kEnded; // an empty write, and the pipe broke after it
            }
        } else if (signalled == WAIT_OBJECT_0 + 1) {
            return ChildEnded(chunk, maxBytes);
        } else if (signalled == WAIT_OBJECT_0 + 2) {
            ServiceStdErr();
        } else if (signalled == WAIT_TIMEOUT) {
            PipeRead::Result result = outRead_.Cancel(chunk);
            if (result == PipeRead::Result::kData) {
                return Read::kData; // it arrived just as the wait gave up
            }
            return result == PipeRead::Result::kEnded ? Read::kEnded : Read::kSilent;
        } else {
            DWORD error = ::GetLastError();
            DEBUG_LOG(L"WaitForMultipleObjects failed: %lu", error);
            outRead_.Cancel();
            return Read::kEnded;
        }
    }
}

CConsoleProcess::Read CConsoleProcess::ChildEnded(std::string& chunk, size_t maxBytes) {
    // Whatever the child wrote before it ended is in the pipe by now: read it, but do not wait for anything a
    // grandchild that inherited the pipe might still write.
    PipeRead::Result result = outRead_.Cancel(chunk);
    if (result != PipeRead::Result::kNothing) {
        return result == PipeRead::Result::kData ? Read::kData : Read::kEnded;
    }
    DWORD available = 0;
    if (!Available(stdOutPipe_.read.get(), available) || available == 0) {
        ServiceStdErr();
        return Read::kEnded;
    }
    // The bytes are there: this read completes without waiting for a writer.
    if (!outRead_.Start(available < maxBytes ? available : maxBytes)) {
        return Read::kEnded;
    }
    return outRead_.Finish(chunk, true) == PipeRead::Result::kData ? Read::kData : Read::kEnded;
}

DWORD CConsoleProcess::WaitForExit() {
    if (!process_) {
        return STILL_ACTIVE;
    }
    // A child that closed its standard output early may still write to standard error: keep draining it.
    for (;;) {
        HANDLE waitFor[2] = {process_.get(), errRead_.Completed()};
        DWORD signalled = ::WaitForMultipleObjects(errRead_.Pending() ? 2 : 1, waitFor, FALSE, INFINITE);
        if (signalled != WAIT_OBJECT_0 + 1) {
            break;
        }
        ServiceStdErr();
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool CConsoleProcess::Running() const {
    DWORD code = 0;
    return process_ && ::GetExitCodeProcess(process_.get(), &code) && code == STILL_ACTIVE;
}

void CConsoleProcess::Close() {
    // The system may still write into a pending read's buffer: cancel it before the pipe and buffer go.
    outRead_.Attach(nullptr, {});
    errRead_.Attach(nullptr, {});
    thread_.reset();
    process_.reset();
    stdErrPipe_ = Pipe{};
    stdOutPipe_ = Pipe{};
    processId_ = 0;
    threadId_ = 0;
}

Utils::Result<std::unique_ptr<CConsoleProcess>> LaunchConsoleChild(const std::wstring& commandLine,
                                                                   const std::wstring& exe, const wchar_t* what) {
    auto child = std::make_unique<CConsoleProcess>();
    Status launched =
        commandLine.empty() ? Status::Failed(L"the command line is too long") : child->Launch(commandLine, exe);
    if (!launched) {
        launched = Status::Failed(std::wstring(what) + L" not launched: " + launched.What(), launched.Code());
        DEBUG_LOG(L"%s", launched.What().c_str());
        return launched;
    }
    return child;
}
