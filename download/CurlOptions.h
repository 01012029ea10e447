// Options of one libcurl handle set in a row: the first one libcurl refuses is kept as the result, and none is
// set after it. A helper that sets options of its own returns its first refusal, which Add takes the same way.
#pragma once

#include <curl/curl.h>

class CurlOptions {
public:
    explicit CurlOptions(CURL* handle) : handle_(handle) {}

    template <class T> CurlOptions& Set(CURLoption option, T value) {
        if (first_ == CURLE_OK) {
            first_ = ::curl_easy_setopt(handle_, option, value);
        }
        return *this;
    }
    CurlOptions& Add(int code) {
        if (first_ == CURLE_OK) {
            first_ = code;
        }
        return *this;
    }
    // CURLE_OK (0) when every option was taken; otherwise the first refusal.
    [[nodiscard]] int First() const { return first_; }

private:
    CURL* handle_;
    int first_ = CURLE_OK;
};
