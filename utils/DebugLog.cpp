#include "utils/DebugLog.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

namespace Utils {

namespace {

void DebugOutputSink(const wchar_t* line, void*) {
    ::OutputDebugStringW(line);
}

// Swapped only by tests, before the threads that log are started.
LogSink g_sink = DebugOutputSink;
void* g_sinkContext = nullptr;
// Set once the log file is open, while worker threads may already log.
std::atomic<LogTee> g_tee{nullptr};

} // namespace

int FormatBoundedV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
    if (buffer == nullptr || capacity == 0 || format == nullptr) {
        return -1;
    }
    // The runtime's _vsnwprintf reads %s as a wide string. It leaves the buffer unterminated when the text fills
    // it exactly or does not fit, so the last slot is reserved for the terminator.
    va_list copy;
    va_copy(copy, args);
    int n = ::_vsnwprintf(buffer, capacity - 1, format, copy);
    va_end(copy);
    buffer[capacity - 1] = L'\0';
    if (n < 0) {
        return -1;
    }
    buffer[n] = L'\0';
    return n;
}

int FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatBoundedV(buffer, capacity, format, args);
    va_end(args);
    return n;
}

void WriteDebugLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    va_list counting;
    va_copy(counting, args);
    int length = ::_vscwprintf(format, counting);
    va_end(counting);
    if (length >= 0) {
        size_t capacity = static_cast<size_t>(length) + 2;
        std::unique_ptr<wchar_t[]> line(new (std::nothrow) wchar_t[capacity]);
        if (line && FormatBoundedV(line.get(), capacity, format, args) >= 0) {
            // The file first: a line a debugger has seen is a line the log file holds, even when the process is
            // killed right after.
            if (LogTee tee = g_tee.load()) {
                tee(line.get());
            }
            g_sink(line.get(), g_sinkContext);
        }
    }
    va_end(args);
}

void SetLogSink(LogSink sink, void* context) {
    g_sink = sink != nullptr ? sink : DebugOutputSink;
    g_sinkContext = context;
}

void ResetLogSink() {
    SetLogSink(nullptr, nullptr);
}

void SetLogTee(LogTee tee) {
    g_tee.store(tee);
}

namespace {

// Index of the '(' that opens the parameter list of the outermost function: the first '(' outside angle brackets.
size_t FindParameterList(std::string_view s, size_t from) {
    int angle = 0;
    for (size_t i = from; i < s.size(); ++i) {
        char c = s[i];
        if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == '(' && angle == 0) {
            // "operator()" names a function whose parameter list follows its own "()".
            if (s.substr(0, i).ends_with("operator") && s.substr(i).starts_with("()")) {
                ++i;
                continue;
            }
            return i;
        }
    }
    return std::string_view::npos;
}

size_t SkipBalanced(std::string_view s, size_t open, char openChar, char closeChar) {
    int depth = 0;
    for (size_t i = open; i < s.size(); ++i) {
        if (s[i] == openChar) {
            ++depth;
        } else if (s[i] == closeChar && --depth == 0) {
            return i + 1;
        }
    }
    return s.size();
}

} // namespace

std::wstring LogTagFromSignature(std::string_view signature) {
    // Template functions carry " [with T = ...]" at the end.
    if (size_t with = signature.find(" [with "); with != std::string_view::npos) {
        signature = signature.substr(0, with);
    }
    // A lambda appears as "<lambda(int, double)>"; its parameters are not part of the tag.
    std::string s;
    for (size_t i = 0; i < signature.size();) {
        if (signature.substr(i).starts_with("<lambda(")) {
            size_t close = SkipBalanced(signature, i + 7, '(', ')');
            s += "<lambda";
            i = close;
        } else {
            s += signature[i++];
        }
    }
    std::string_view view(s);
    size_t paren = FindParameterList(view, 0);
    size_t end = paren == std::string_view::npos ? view.size() : paren;
    // The name starts after the last blank (outside angle brackets) that precedes the parameter list: whatever
    // comes before it is the return type and specifiers.
    size_t start = 0;
    int angle = 0;
    for (size_t i = 0; i < end; ++i) {
        char c = view[i];
        if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == ' ' && angle == 0) {
            start = i + 1;
        }
    }
    while (start < end && (view[start] == '*' || view[start] == '&')) {
        ++start;
    }
    std::string tag(view.substr(start, end - start));
    // A lambda inside a function continues after the function's parameters: "Foo::Start()::<lambda>".
    size_t rest = paren == std::string_view::npos ? view.size() : SkipBalanced(view, paren, '(', ')');
    while (view.substr(rest).starts_with("::")) {
        size_t next = FindParameterList(view, rest);
        size_t componentEnd = next == std::string_view::npos ? view.size() : next;
        tag += view.substr(rest, componentEnd - rest);
        rest = next == std::string_view::npos ? view.size() : SkipBalanced(view, next, '(', ')');
    }
    if (tag.ends_with("<lambda>")) {
        tag += "::operator()";
    }
    return std::wstring(tag.begin(), tag.end());
}

} // namespace Utils
