// One hidden child process whose standard input, output and error are pipes.
//
// The parent reads the child's standard output and error through the server ends of two named pipes opened for
// overlapped I/O (the child's ends are plain, as those of an anonymous pipe): the reading thread then waits on the
// output, standard error and the child's process at once and sleeps until one of them has something to say.
// Anonymous pipes cannot be read that way, and a reader thread blocked in ReadFile could not be woken when the
// child ends while a grandchild still holds the pipe open.
//
// Teardown paths, all through the owners of utils/ScopedWin.h:
// - Launch fails at any step: everything it created so far is closed as it returns; the object keeps
//   nothing (it is handed the pipes and the process only when the whole launch succeeded).
// - Close (or destruction): the read still pending on standard error is cancelled and waited for, then the child's
//   process and thread handles and every pipe end still held are closed. No read of standard output is pending
//   between two calls of ReadOutput. The child itself is not terminated: the jobs wait for it to end first
//   (WaitForExit).
// - The parent's copies of the child's pipe ends are closed right after CreateProcessW, so the output pipes report
//   "broken" as soon as the child (and anything that inherited its handles) has ended; so is the parent's (write)
//   end of standard input, so a child that reads its input reads end-of-file rather than waiting for ever.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "utils/ScopedWin.h"
#include "utils/Status.h"

class CConsoleProcess {
public:
    // The command line buffer handed to CreateProcessW: 1023 characters and the terminator.
    static constexpr size_t kCommandLineCapacity = 1024;

    struct Pipe {
        Utils::UniqueHandle write;
        Utils::UniqueHandle read;
    };

    CConsoleProcess() = default;
    CConsoleProcess(const CConsoleProcess&) = delete;
    CConsoleProcess& operator=(const CConsoleProcess&) = delete;
    ~CConsoleProcess() { Close(); }

    // Starts `commandLine` hidden with the three pipes. `applicationName`, when not empty, is the executable's
    // path: CreateProcessW then runs exactly that file instead of searching the unquoted command line's
    // blank-separated prefixes ("C:\Program.exe" before "C:\Program Files\..."). A command line that does not
    // fit the buffer is refused rather than run cut short.
    Utils::Status Launch(const std::wstring& commandLine, const std::wstring& applicationName = L"");

    // Returns the next piece of the child's standard output (at most `maxBytes`), waiting for it; false once the
    // output has ended: the pipe is broken, or the child has ended and nothing it wrote is left in the pipe
    // (a grandchild that inherited the pipe cannot keep the job waiting). Standard error is drained and
    // discarded on the way, so a child that writes much to it never blocks on a full pipe.
    bool ReadOutput(std::string& chunk, size_t maxBytes) {
        return ReadOutput(chunk, maxBytes, INFINITE) == Read::kData;
    }

    enum class Read { kData, kEnded, kSilent };
    // The same, but gives up with kSilent (and an empty chunk) once the running child has written nothing for
    // `silenceMs` milliseconds.
    Read ReadOutput(std::string& chunk, size_t maxBytes, DWORD silenceMs);

    // Waits without limit for the child to end, draining standard error meanwhile; its exit code, or
    // STILL_ACTIVE when there is no child.
    DWORD WaitForExit();
    [[nodiscard]] bool Running() const;
    [[nodiscard]] DWORD ProcessId() const { return processId_; }
    [[nodiscard]] HANDLE Process() const { return process_.get(); }

    void Close();

    wchar_t commandLine_[kCommandLineCapacity] = {};
    Pipe stdErrPipe_;
    Pipe stdOutPipe_;
    Utils::UniqueHandle process_;
    Utils::UniqueHandle thread_;
    DWORD processId_ = 0;
    DWORD threadId_ = 0;

private:
    // One overlapped read at a time on the parent's end of an output pipe. The buffer and the OVERLAPPED belong
    // to the system while `pending`: they are left alone until the read has completed or been cancelled.
    class PipeRead {
    public:
        enum class Result { kData, kNothing, kEnded };
        PipeRead() = default;
        PipeRead(const PipeRead&) = delete;
        PipeRead& operator=(const PipeRead&) = delete;
        ~PipeRead() { Cancel(); }

        void Attach(HANDLE pipe, Utils::UniqueHandle completed);
        // Starts a read of up to `size` bytes; false when the pipe has ended (or nothing is attached).
        bool Start(size_t size);
        // The pending read's outcome once it has completed, waiting for it when `wait`: kData with the bytes,
        // kNothing while it is still pending (never when waiting) or when it completed empty, kEnded when the pipe
        // has ended.
        Result Finish(std::string& bytes, bool wait);
        // Cancels the pending read and waits until the system is done with it; bytes that arrived first are still
        // returned (kData). kNothing when nothing was pending or nothing had arrived.
        Result Cancel(std::string& bytes);
        void Cancel();
        [[nodiscard]] bool Pending() const { return pending_; }
        [[nodiscard]] HANDLE Completed() const { return completed_.get(); }

    private:
        HANDLE pipe_ = nullptr;
        Utils::UniqueHandle completed_;
        OVERLAPPED overlapped_{};
        std::string buffer_;
        bool pending_ = false;
        bool ended_ = true;
    };

    // Collects what standard error delivered and keeps one read pending on it until it ends.
    void ServiceStdErr();
    Read ChildEnded(std::string& chunk, size_t maxBytes);

    PipeRead outRead_;
    PipeRead errRead_;
};

// Starts `commandLine` (an empty one is refused: it was too long to build) as a hidden console child of `exe`.
// Fails, logged, when it cannot be started: "<what> not launched: <why>".
Utils::Result<std::unique_ptr<CConsoleProcess>> LaunchConsoleChild(const std::wstring& commandLine,
                                                                   const std::wstring& exe, const wchar_t* what);
