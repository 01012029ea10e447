// standin: a console program that stands in for the installation package or the previous installation's
// uninstaller. It appends the command line it received (UTF-8, one line) to SCRIPT.cmdline and the path of the
// file that actually runs to SCRIPT.module, then plays SCRIPT.
//
// The script's path comes from a "-standin=PATH" argument (so a test can pass it through the configuration's
// InstCmd), or else from the file EXE.script beside the program (UTF-8: the script's path; for a program the
// desktop shell starts, since explorer's environment is the one it started with), or else from the environment
// variable TUNIVOX_STANDIN_SCRIPT (for the uninstaller, whose command line is fixed). Without a script the program
// exits with 0.
//
// Script: UTF-8 text, one directive per line; TEXT may hold \n \r \t \\ \0 and \xHH escapes.
//   print TEXT        append TEXT to the output buffer (not yet written)
//   flush             write the buffer to standard output in one write
//   say TEXT          print TEXT, then flush
//   stderr TEXT       write TEXT to standard error at once
//   sleep MS          sleep
//   create PATH       create (or empty) a file; delete PATH removes one
//   waitfile PATH     wait until PATH exists (lets a test hold the program at a point)
//   chatter MIB [err] write MIB MiB of "Progress=0.99" lines to standard output (or error), in 64 KiB writes
//   closeout          flush and close standard output (the program goes on)
//   exit CODE         flush and exit with CODE
//   hang              flush and wait until killed
//   readstdin         flush, then read standard input until it ends (end of file or an error)
//   setevent HANDLE   SetEvent on that handle value (decimal): shows whether the handle was inherited
//   spawn SCRIPT      flush, then start another stand-in playing SCRIPT with this one's standard handles (a
//                     grandchild of whoever reads them) and go on without waiting for it
// The end of the script flushes and exits with 0. Standard output is written with WriteFile, so each flush is
// one write into the pipe.
#include <windows.h>

#include <utility>

#include "utils/ScopedWin.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text) {
    int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n);
    }
    return out;
}

std::string ReadFileBytes(const std::wstring& path) {
    Utils::UniqueFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!f) {
        return bytes;
    }
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(f.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

void AppendFile(const std::wstring& path, const std::string& bytes) {
    Utils::UniqueFileHandle f(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, 0, nullptr));
    if (!f) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteAll(HANDLE h, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
            return;
        }
        done += written;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char e = text[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'x':
            if (i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
                out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
                i += 2;
            } else {
                out += 'x';
            }
            break;
        default:
            out += e;
            break;
        }
    }
    return out;
}

// The value of "-standin=" in the command line: up to the next blank, or within quotes.
std::wstring ScriptFromCommandLine(const std::wstring& line) {
    const std::wstring key = L"-standin=";
    size_t at = line.find(key);
    if (at == std::wstring::npos) {
        return {};
    }
    size_t start = at + key.size();
    if (start < line.size() && line[start] == L'"') {
        size_t end = line.find(L'"', start + 1);
        return line.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    size_t end = line.find(L' ', start);
    return line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

} // namespace

// The script to play: named on the command line, else in "<exe>.script" beside the program, else in
// TUNIVOX_STANDIN_SCRIPT; empty when none is given.
std::wstring FindScript(const std::wstring& commandLine) {
    std::wstring script = ScriptFromCommandLine(commandLine);
    wchar_t self[MAX_PATH * 2] = {};
    DWORD selfLength = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    if (script.empty() && selfLength > 0 && selfLength < MAX_PATH * 2) {
        std::string beside = ReadFileBytes(std::wstring(self) + L".script");
        while (!beside.empty() && (beside.back() == '\n' || beside.back() == '\r')) {
            beside.pop_back();
        }
        script = FromUtf8(beside);
    }
    if (script.empty()) {
        wchar_t env[MAX_PATH * 2] = {};
        DWORD n = ::GetEnvironmentVariableW(L"TUNIVOX_STANDIN_SCRIPT", env, MAX_PATH * 2);
        if (n > 0 && n < MAX_PATH * 2) {
            script = env;
        }
    }
    return script;
}

// Plays the script's operations one line at a time on the program's standard output and error.
class Player {
public:
    // Runs one operation; false when the program is to end now with `exitCode`.
    bool Step(const std::string& op, const std::string& arg, int& exitCode) {
        if (op == "print") {
            buffer_ += Unescape(arg);
        } else if (op == "flush") {
            Flush();
        } else if (op == "say") {
            buffer_ += Unescape(arg);
            Flush();
        } else if (op == "stderr") {
            WriteAll(err_, Unescape(arg));
        } else if (op == "sleep") {
            ::Sleep(static_cast<DWORD>(std::strtoul(arg.c_str(), nullptr, 10)));
        } else if (op == "create") {
            AppendFile(FromUtf8(arg), "");
        } else if (op == "delete") {
            ::DeleteFileW(FromUtf8(arg).c_str());
        } else if (op == "waitfile") {
            while (::GetFileAttributesW(FromUtf8(arg).c_str()) == INVALID_FILE_ATTRIBUTES) {
                ::Sleep(20);
            }
        } else if (op == "exit") {
            Flush();
            exitCode = static_cast<int>(std::strtol(arg.c_str(), nullptr, 10));
            return false;
        } else if (op == "setevent") {
            ::SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(arg.c_str(), nullptr, 10))));
        } else {
            Flush();
            Control(op, arg);
        }
        return true;
    }
    void Flush() {
        if (!buffer_.empty()) {
            WriteAll(out_, buffer_);
            buffer_.clear();
        }
    }

private:
    // The operations that act on the program's pipes or process (what was printed is flushed first).
    void Control(const std::string& op, const std::string& arg) {
        if (op == "chatter") {
            Chatter(arg);
        } else if (op == "closeout") {
            Utils::UniqueHandle(std::exchange(out_, INVALID_HANDLE_VALUE)).reset();
        } else if (op == "spawn") {
            Spawn(arg);
        } else if (op == "readstdin") {
            HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
            char sink[256];
            DWORD got = 0;
            while (::ReadFile(in, sink, sizeof(sink), &got, nullptr) && got > 0) {
            }
        } else if (op == "hang") {
            for (;;) {
                ::Sleep(INFINITE);
            }
        }
    }
    // "chatter MIB [err]": that many MiB of lines nobody should still parse, on standard output or error.
    void Chatter(const std::string& arg) {
        size_t blank = arg.find(' ');
        unsigned long mib = std::strtoul(arg.c_str(), nullptr, 10);
        bool toErr = blank != std::string::npos && arg.substr(blank + 1) == "err";
        std::string block;
        while (block.size() < 65536) {
            block += "Progress=0.99\n"; // would be reported if anyone still parsed it
        }
        block.resize(65536);
        for (unsigned long i = 0; i < mib * 16; ++i) {
            WriteAll(toErr ? err_ : out_, block);
        }
    }
    // "spawn SCRIPT": a grandchild playing SCRIPT that inherits this program's pipes and outlives it.
    void Spawn(const std::string& arg) {
        wchar_t self[MAX_PATH * 2] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
        std::wstring line = L"\"" + std::wstring(self) + L"\" -standin=\"" + FromUtf8(arg) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out_;
        si.hStdError = err_;
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            Utils::UniqueHandle(pi.hProcess).reset();
            Utils::UniqueHandle(pi.hThread).reset();
        }
    }

    HANDLE out_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err_ = ::GetStdHandle(STD_ERROR_HANDLE);
    std::string buffer_;
};

int main() {
    const std::wstring commandLine = ::GetCommandLineW();
    const std::wstring script = FindScript(commandLine);
    if (script.empty()) {
        return 0;
    }
    AppendFile(script + L".cmdline", ToUtf8(commandLine) + "\n");
    wchar_t module[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH * 2);
    AppendFile(script + L".module", ToUtf8(module) + "\n");

    Player player;
    const std::string text = ReadFileBytes(script);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t blank = line.find(' ');
        int exitCode = 0;
        if (!player.Step(line.substr(0, blank), blank == std::string::npos ? std::string() : line.substr(blank + 1),
                         exitCode)) {
            return exitCode;
        }
    }
    player.Flush();
    return 0;
}
