#include <gtest/gtest.h>

#include <windows.h>

#include "app/Startup.h"
#include "tests/support/TestSupport.h"
#include "utils/DebugLog.h"
#include "utils/Thread.h"

namespace {

// Logs through the real debug-output channel (no test sink in a child) and names a thread.
TestSupport::RegisterChild logSome(L"log-some", [](const std::vector<std::wstring>&) {
    DEBUG_LOG(L"第一行 %d", 1);
    DEBUG_LOG_RAW(L"no line end");
    {
        Utils::Thread t(nullptr, L"下载线程", [](void*) -> unsigned long { return 0; });
        if (!t.Resume()) {
            return 1;
        }
    }
    return 7;
});

// Asks the delay-load hook for a library the system folder lacks: 1 when it answers null (the delay-load helper
// would then load it by name), 2 when it found one somewhere.
TestSupport::RegisterChild delayLoadMissing(L"delay-load-missing", [](const std::vector<std::wstring>&) {
    DelayLoadInfo info{};
    info.cb = sizeof(info);
    info.szDll = "tunivox-nowhere.dll";
    return App::DelayLoadNotify(dliNotePreLoadLibrary, &info) == nullptr ? 1 : 2;
});

std::wstring DbgCapturePath() {
    std::wstring folder = TestSupport::ExeFolder(); // build/tests/app
    return folder.substr(0, folder.rfind(L"\\tests\\")) + L"\\tools\\dbgcapture\\" DBGCAPTURE_EXE_W;
}

} // namespace

TEST(Startup, AdminDiagnosticText) {
    EXPECT_EQ(App::AdminDiagnosticText(L"alice", true, false),
              L"管理员权限：1.用户名=alice；2.用户权限=是；3.进程权限=否");
    EXPECT_EQ(App::AdminDiagnosticText(L"", false, true), L"管理员权限：1.用户名=；2.用户权限=否；3.进程权限=是");
}

TEST(Startup, WindowsSevenServicePackOneWithTheLoaderUpdateIsTheFloor) {
    struct Case {
        unsigned major, minor, sp;
        bool loaderUpdate; // SetDefaultDllDirectories exists (KB2533623)
        bool supported;
    } cases[] = {
        {5, 1, 3, false, false}, {5, 2, 2, false, false},  {6, 0, 2, false, false}, {6, 1, 0, true, false},
        {6, 1, 1, true, true},   {6, 1, 1, false, false},  {6, 2, 0, true, true},   {6, 3, 0, true, true},
        {10, 0, 0, true, true},  {10, 0, 0, false, false}, {11, 0, 0, true, true},  {4, 10, 0, true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(App::MeetsWindowsFloor(c.major, c.minor, c.sp, c.loaderUpdate), c.supported)
            << c.major << "." << c.minor << " SP" << c.sp << " loader update " << c.loaderUpdate;
    }
    // The test prefix reports Windows 7 SP1.
    EXPECT_TRUE(App::RunsOnSupportedWindows());
}

TEST(Startup, OnlyOneInstanceOwnsTheLockAndItIsFreeAgainAfterwards) {
    {
        App::SingleInstance first;
        ASSERT_TRUE(first.owned());
        App::SingleInstance second;
        EXPECT_FALSE(second.owned());
        // Another process sees it taken as well.
        HANDLE other = ::OpenMutexW(SYNCHRONIZE, FALSE, App::kInstanceMutexName);
        EXPECT_NE(other, nullptr);
        Utils::UniqueHandle owner(other);
    }
    App::SingleInstance again;
    EXPECT_TRUE(again.owned());
}

TEST(Startup, PreloadLoadsWhatExistsAndSkipsWhatDoesNot) {
    App::PreloadSystemLibraries();
    EXPECT_NE(::GetModuleHandleW(L"version.dll"), nullptr);
    EXPECT_NE(::GetModuleHandleW(L"dwmapi.dll"), nullptr);
    // Loads by name still work afterwards (from the system folder).
    HMODULE shlwapi = ::LoadLibraryW(L"shlwapi.dll");
    EXPECT_NE(shlwapi, nullptr);
}

TEST(Startup, DelayLoadHookNeverLeavesALibraryToALoadByName) {
    EXPECT_EQ(TestSupport::RunChild(L"delay-load-missing").exitCode, App::kExitLibraryMissing);
}

TEST(DbgCapture, WritesEveryDebugLineAndThreadNameAsUtf8) {
    TestSupport::TempDir dir;
    std::wstring out = dir / L"log.txt";
    auto result = TestSupport::RunCommand(L"\"" + DbgCapturePath() + L"\" \"" + out + L"\" \"" +
                                          TestSupport::ExePath() + L"\" --child=log-some");
    EXPECT_EQ(result.exitCode, 7u) << result.output;
    std::string log = TestSupport::ReadBytes(out);
    EXPECT_NE(log.find(")<"), std::string::npos) << log;
    EXPECT_NE(log.find(": 第一行 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": no line end\n"), std::string::npos) << log;
    EXPECT_NE(log.find("THREADNAME "), std::string::npos) << log;
    EXPECT_NE(log.find(" 下载线程\n"), std::string::npos) << log;
    EXPECT_NE(log.find("(Utils::Thread::CallBack)"), std::string::npos) << log;
}
