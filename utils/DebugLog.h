// The installer's diagnostic channel: one debug-output call per line, each line prefixed with the process and
// thread ids, the local time, the qualified name of the logging function and the source line.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>
#include <string_view>

namespace Utils {

// Bounded wide formatter: formats into `buffer` of `capacity` characters (terminator included) and returns the
// number of characters written, or -1 when formatting fails or the text does not fit. In the latter case the
// buffer holds as much of the text as fits, terminated. `%s` takes a wide string, as in the Windows runtime.
int FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
int FormatBoundedV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);
template <size_t N> int FormatBounded(wchar_t (&buffer)[N], const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatBoundedV(buffer, N, format, args);
    va_end(args);
    return n;
}

// Formats one line sized exactly to its text and hands it to the current sink.
void WriteDebugLog(const wchar_t* format, ...);

// The function tag of a log line, derived from the compiler's full function signature:
// "static unsigned int Utils::Thread::CallBack(void*)" -> "Utils::Thread::CallBack";
// a lambda's signature "void Foo::Start()::<lambda(int)>" -> "Foo::Start::<lambda>::operator()".
std::wstring LogTagFromSignature(std::string_view signature);

// Where finished lines go: OutputDebugStringW unless a test has swapped in its own sink.
// The sink is called once per line, from the logging thread.
using LogSink = void (*)(const wchar_t* line, void* context);
void SetLogSink(LogSink sink, void* context);
void ResetLogSink();
// A second destination that every finished line also goes to, whatever the sink (the log file); null: none.
using LogTee = void (*)(const wchar_t* line);
void SetLogTee(LogTee tee);

} // namespace Utils

#define DEBUG_LOG_PREFIX L"<P%05d><T%05d><%04d-%02d-%02d %02d:%02d:%02d.%03d>(%s)<%04d>: "

// The local time is read first, then the ids, as every line of the log does.
#define DEBUG_LOG_IMPL(terminator, format, ...)                                                                        \
    do {                                                                                                               \
        SYSTEMTIME debugLogTime_;                                                                                      \
        ::GetLocalTime(&debugLogTime_);                                                                                \
        ::Utils::WriteDebugLog(DEBUG_LOG_PREFIX format terminator, static_cast<int>(::GetCurrentProcessId()),          \
                               static_cast<int>(::GetCurrentThreadId()), debugLogTime_.wYear, debugLogTime_.wMonth,    \
                               debugLogTime_.wDay, debugLogTime_.wHour, debugLogTime_.wMinute, debugLogTime_.wSecond,  \
                               debugLogTime_.wMilliseconds, ::Utils::LogTagFromSignature(__PRETTY_FUNCTION__).c_str(), \
                               __LINE__ __VA_OPT__(, ) __VA_ARGS__);                                                   \
    } while (0)

// Terminated form: the line ends in "\r\n".
#define DEBUG_LOG(format, ...) DEBUG_LOG_IMPL(L"\r\n", format __VA_OPT__(, ) __VA_ARGS__)
// Raw form: the message carries its own line end, or none.
#define DEBUG_LOG_RAW(format, ...) DEBUG_LOG_IMPL(L"", format __VA_OPT__(, ) __VA_ARGS__)
