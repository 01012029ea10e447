// The stand-in console program (tools/standin) as the tests use it: scripts, copies, and what it recorded.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "download/Downloader.h"

namespace StandIn {

// The stand-in copied beside the test executable by the build.
std::wstring Exe();
// The stand-in signed otherwise, copied beside the test executable by the build: "unsigned", "other" (another
// publisher of the trusted test CA), "rogue" (the same publisher name from a CA nobody trusts).
std::wstring Variant(const wchar_t* name);
// Copies the stand-in to `target` (a package or an uninstaller).
bool CopyTo(const std::wstring& target);
// Writes a script; returns its path.
std::wstring WriteScript(const std::wstring& path, const std::string& text);
// The command lines the stand-in received with this script, one per run, and the files that ran.
std::vector<std::wstring> CommandLines(const std::wstring& script);
std::vector<std::wstring> Modules(const std::wstring& script);
// "-standin=PATH" for InstCmd, quoted when the path holds a blank.
std::wstring Argument(const std::wstring& script);

// Sets TUNIVOX_STANDIN_SCRIPT for the lifetime of the object (the uninstaller's command line has no room).
class ScriptEnvironment {
public:
    explicit ScriptEnvironment(const std::wstring& script);
    ~ScriptEnvironment();
};

} // namespace StandIn

struct Event {
    int code = 0;
    double value = 0.0;
    std::wstring message;
    bool operator==(const Event&) const = default;
};
void PrintTo(const Event& e, std::ostream* os);

// Collects the events a job reports, from whatever thread reports them.
class EventLog {
public:
    DownloadCallback Callback();
    std::vector<Event> Events() const;
    std::vector<int> Codes() const;
    // Waits until an event with `code` has arrived (or the time is up).
    bool WaitFor(int code, DWORD timeoutMs);
    void Add(int code, double value, const wchar_t* message);

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;
};
