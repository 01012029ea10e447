#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/TestSupport.h"
#include "utils/Exception.h"
#include "utils/Thread.h"

using TestSupport::LogCapture;

namespace {

// Records the names that threads announce to a debugger through the naming exception; it runs before the
// thread wrapper's own handler and lets the search go on to it.
std::mutex g_namesMutex;
std::vector<std::pair<DWORD, std::string>> g_names;

LONG CALLBACK RecordThreadName(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == Utils::kSetThreadNameException && r->NumberParameters == 4 &&
        r->ExceptionInformation[0] == 0x1000) {
        std::lock_guard<std::mutex> lock(g_namesMutex);
        g_names.emplace_back(static_cast<DWORD>(r->ExceptionInformation[2]),
                             reinterpret_cast<const char*>(r->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::string AnnouncedName(DWORD id) {
    std::lock_guard<std::mutex> lock(g_namesMutex);
    for (auto& [tid, name] : g_names) {
        if (tid == id) {
            return name;
        }
    }
    return "<none>";
}

} // namespace

TEST(Thread, BodyRunsOnlyAfterResumeAndLogsBeginAndEndFromTheNewThread) {
    LogCapture capture;
    std::atomic<int> runs{0};
    std::atomic<DWORD> bodyThread{0};
    int value = 0;
    {
        Utils::Thread thread(&value, L"ABDEF", [&](void* arg) -> unsigned long {
            *static_cast<int*>(arg) = 7;
            bodyThread = ::GetCurrentThreadId();
            ++runs;
            return 5;
        });
        ASSERT_TRUE(thread.Handle());
        ::Sleep(100);
        EXPECT_EQ(runs.load(), 0) << "created suspended";
        EXPECT_TRUE(thread.Resume());
    } // joins
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(value, 7);
    auto lines = capture.LinesOf(L"Utils::Thread::CallBack");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(LogCapture::Message(lines[0]), L"THREAD BEGIN\r\n");
    EXPECT_EQ(LogCapture::Message(lines[1]), L"THREAD END\r\n");
    for (auto& line : lines) {
        EXPECT_EQ(LogCapture::ThreadIdOf(line), bodyThread.load());
        EXPECT_NE(LogCapture::ThreadIdOf(line), ::GetCurrentThreadId());
    }
}

TEST(Thread, AnnouncesItsNameToDebuggersInTheAnsiCodePage) {
    PVOID handler = ::AddVectoredExceptionHandler(1, RecordThreadName);
    unsigned namedId = 0, emptyId = 0;
    {
        Utils::Thread named(nullptr, L"下载", [](void*) -> unsigned long { return 0; });
        Utils::Thread unnamed(nullptr, L"", [](void*) -> unsigned long { return 0; });
        namedId = named.Id();
        emptyId = unnamed.Id();
        EXPECT_TRUE(named.Resume());
        EXPECT_TRUE(unnamed.Resume());
    }
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(AnnouncedName(namedId), "\xCF\xC2\xD4\xD8"); // "下载" in code page 936
    EXPECT_EQ(AnnouncedName(emptyId), "t" + std::to_string(emptyId));
    EXPECT_EQ(Utils::DebuggerThreadName(L"", 4660), "t4660");
    EXPECT_EQ(Utils::DebuggerThreadName(L"UnInstaller", 1), "UnInstaller");
}

TEST(Thread, DestroyingAFinishedThreadDoesNotBlock) {
    auto* finished = new Utils::Thread(nullptr, L"x", [](void*) -> unsigned long { return 0; });
    EXPECT_TRUE(finished->Resume());
    ::WaitForSingleObject(finished->Handle(), 5000);
    DWORD start = ::GetTickCount();
    delete finished;
    EXPECT_LT(::GetTickCount() - start, 2000u);
}

TEST(Exception, WhatGivesTheMessageInTheAnsiCodePage) {
    try {
        throw Utils::Exception(L"管道");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "\xB9\xDC\xB5\xC0");
    }
    EXPECT_STREQ(Utils::Exception(L"").what(), "");
}
