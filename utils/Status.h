// How our own functions say that they failed: one type, the same everywhere (CONVENTIONS.md).
//
// A function that can fail and has nothing else to give returns a Status; one that gives a value returns a
// Result<T>, the value or the Status saying why there is none. A failure carries a sentence saying what failed, fit
// for the log or a message, and a code: the system's error (GetLastError), an HRESULT, a CURLcode or one of our own
// named codes; 0 when no number applies. A system call is wrapped where it is made: LastError reads the system's
// code and appends its text once, there.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace Utils {

class [[nodiscard]] Status {
public:
    Status() = default; // success

    static Status Failed(std::wstring what, long code = 0);
    // `what` failed in the system call just made: GetLastError() is read now, and its text appended to `what`.
    static Status LastError(std::wstring what);
    // `what` failed with the system error `error` (a Win32 error or an HRESULT), its text appended.
    static Status SystemError(std::wstring what, long error);

    [[nodiscard]] bool Ok() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    [[nodiscard]] long Code() const { return code_; }
    // What failed, in words (empty for a success).
    [[nodiscard]] const std::wstring& What() const { return what_; }

private:
    bool failed_ = false;
    long code_ = 0;
    std::wstring what_;
};

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    // Only from a failed Status: a Result holds a value or says why it has none.
    Result(Status failure) : status_(std::move(failure)) {}

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // Why there is no value (a success when there is one).
    [[nodiscard]] const Status& Failure() const { return status_; }

private:
    std::optional<T> value_;
    Status status_;
};

// The system's text for a Win32 error or an HRESULT, without its line end; "error N" when it has none.
std::wstring SystemErrorText(long error);

} // namespace Utils
