// The utility layer's one exception type: thrown when a pipe or child process cannot be created, caught by the
// job that launched it. what() gives the message in the ANSI code page.
#pragma once

#include <exception>
#include <string>

namespace Utils {

class Exception : public std::exception {
public:
    explicit Exception(const std::wstring& message);
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

} // namespace Utils
