#include "utils/Status.h"

#include <windows.h>

namespace Utils {

Status Status::Failed(std::wstring what, long code) {
    Status s;
    s.failed_ = true;
    s.code_ = code;
    s.what_ = std::move(what);
    return s;
}

Status Status::LastError(std::wstring what) {
    const long error = static_cast<long>(GetLastError());
    return SystemError(std::move(what), error);
}

Status Status::SystemError(std::wstring what, long error) {
    return Failed(std::move(what) + L": " + SystemErrorText(error), error);
}

std::wstring SystemErrorText(long error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length != 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!result.empty() &&
           (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' ' || result.back() == L'.')) {
        result.pop_back();
    }
    return result.empty() ? L"error " + std::to_wstring(error) : result;
}

} // namespace Utils
