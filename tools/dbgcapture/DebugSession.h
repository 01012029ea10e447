// A minimal debugger around one child process: collects every debug-output line and every thread name the
// program announces, as UTF-8, and its exit code. The installer has no log file; this is how support tools and the
// end-to-end tests read its log.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Tools {

class DebugSession {
public:
    // Starts `commandLine` (application `exe`) under the debugger on a thread of its own; `onLine` (optional) sees
    // each record as it arrives, on that thread.
    DebugSession(const std::wstring& exe, const std::wstring& commandLine,
                 std::function<void(const std::string&)> onLine = {});
    ~DebugSession(); // kills a program that still runs, then joins
    DebugSession(const DebugSession&) = delete;
    DebugSession& operator=(const DebugSession&) = delete;

    bool started() const;
    DWORD processId() const;
    // One entry per debug-output call ("THREADNAME <id> <name>" for thread names), without the trailing newline.
    std::vector<std::string> Lines() const;
    // Waits until a line containing `needle` arrives (searching from line `from`); returns its index or -1.
    int WaitForLine(const std::string& needle, DWORD timeoutMs, size_t from = 0) const;
    // Waits for the program's end; false on timeout.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    void Kill();

private:
    void Run(std::wstring exe, std::wstring commandLine);

    std::function<void(const std::string&)> onLine_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool startDone_ = false;
    bool started_ = false;
    bool exited_ = false;
    DWORD exitCode_ = 0;
    DWORD pid_ = 0;
    HANDLE process_ = nullptr; // owned by the debugger thread, valid while it runs
    std::thread thread_;
};

// Quotes one argument by the Windows command-line rules.
std::wstring QuoteArgument(const std::wstring& arg);

} // namespace Tools
