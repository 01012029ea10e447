// Test entry: runs the registered child mode when started as `exe --child=NAME ...`, the tests otherwise.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"

int main(int argc, char** argv) {
    int wargc = 0;
    LPWSTR* wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
    Utils::UniqueLocalMem owner(reinterpret_cast<HLOCAL>(wargv));
    if (wargv != nullptr && wargc >= 2 && std::wstring(wargv[1]).rfind(L"--child=", 0) == 0) {
        std::wstring mode = std::wstring(wargv[1]).substr(8);
        std::vector<std::wstring> args(wargv + 2, wargv + wargc);
        auto it = TestSupport::ChildModes().find(mode);
        return it == TestSupport::ChildModes().end() ? 97 : it->second(args);
    }
    // A copy of a test executable started by the shell (which passes no arguments) names its mode in the
    // environment instead.
    wchar_t mode[64] = {};
    if (::GetEnvironmentVariableW(L"TUNIVOX_CHILD_MODE", mode, 64) > 0 && mode[0] != L'\0') {
        auto it = TestSupport::ChildModes().find(mode);
        return it == TestSupport::ChildModes().end() ? 97 : it->second({});
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
