// Collects a downloader's reports with the thread and the wall-clock second each arrived on.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "download/Downloader.h"

struct Report {
    int code;
    double value;
    std::wstring message;
    DWORD threadId;
    long long second;
    ULONGLONG tick;
};

class Recorder {
public:
    DownloadCallback Callback() {
        return [this](int code, double value, const wchar_t* message) {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back({code, value, message != nullptr ? message : L"", ::GetCurrentThreadId(),
                                static_cast<long long>(::time(nullptr)), ::GetTickCount64()});
            changed_.notify_all();
        };
    }
    // Waits until `count` terminal reports (success or fail) have arrived.
    bool WaitTerminals(size_t count, DWORD timeoutMs = 60000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return TerminalsLocked() >= count; });
    }
    std::vector<Report> Reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (const Report& r : Reports()) {
            if (r.code != DL_CODE_PROGRESS) {
                codes.push_back(r.code);
            }
        }
        return codes;
    }
    std::vector<Report> Progress() const {
        std::vector<Report> progress;
        for (const Report& r : Reports()) {
            if (r.code == DL_CODE_PROGRESS) {
                progress.push_back(r);
            }
        }
        return progress;
    }
    Report Last() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_.empty() ? Report{0, 0.0, L"", 0, 0, 0} : reports_.back();
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_.size();
    }

private:
    size_t TerminalsLocked() const {
        size_t n = 0;
        for (const Report& r : reports_) {
            n += (r.code == DL_CODE_SUCCESS || r.code == DL_CODE_FAIL) ? 1 : 0;
        }
        return n;
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
};
