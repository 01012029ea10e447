// Helpers shared by the test executables: capture of debug-log lines, private temporary folders, child runs of
// the test executable itself, small file helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace TestSupport {

// Swaps the log sink for the lifetime of the object and keeps every line (one entry per debug-output call).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::wstring> Lines() const;
    // Lines whose tag (the text between the first "(" and ")<") equals `tag`.
    std::vector<std::wstring> LinesOf(const std::wstring& tag) const;
    // The message part: the text after the prefix's ">: ".
    static std::wstring Message(const std::wstring& line);
    // The thread id of a line's prefix.
    static unsigned long ThreadIdOf(const std::wstring& line);

private:
    static void Sink(const wchar_t* line, void* context);
    mutable std::mutex mutex_;
    std::vector<std::wstring> lines_;
};

// A new empty folder under the temporary folder, removed with its contents on destruction.
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
std::wstring ExePath();
std::wstring ExeFolder();
std::string Utf8(const std::wstring& text);

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output; // standard output and error, as bytes
};
// Runs a command line with redirected output, waiting up to `timeoutMs`.
ProcessResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 60000,
                         const std::wstring& applicationName = L"");

// Child modes of a test executable: `exe --child=NAME args...` runs the registered function instead of the tests.
using ChildFunction = std::function<int(const std::vector<std::wstring>& args)>;
std::map<std::wstring, ChildFunction>& ChildModes();
struct RegisterChild {
    RegisterChild(const wchar_t* name, ChildFunction fn) { ChildModes()[name] = std::move(fn); }
};
// Runs this test executable in a child mode and returns its output.
ProcessResult RunChild(const std::wstring& mode, const std::wstring& args = L"", const std::wstring& exe = L"");

// Runs a Linux program (absolute path) with arguments under /bin/sh and waits up to `timeoutMs`; true when it was
// started and ended in time.
bool RunHost(const std::wstring& commandLine, DWORD timeoutMs = 20000);
// The Linux path of a Windows path (through Wine's wine_get_unix_file_name); empty when there is none.
std::wstring HostPath(const std::wstring& windowsPath);
// A symbolic link made from Linux (Wine's CreateSymbolicLinkW makes nothing): `link` names `target`. Wine shows
// it with FILE_ATTRIBUTE_REPARSE_POINT.
bool HostSymlink(const std::wstring& target, const std::wstring& link);

} // namespace TestSupport
