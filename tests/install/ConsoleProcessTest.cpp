#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "install/ConsoleProcess.h"
#include "tests/install/StandIn.h"
#include "tests/support/TestSupport.h"
#include "utils/Security.h"

using TestSupport::TempDir;

namespace {

bool Inheritable(HANDLE h) {
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

std::string ReadAll(CConsoleProcess& child) {
    std::string all;
    std::string chunk;
    while (child.ReadOutput(chunk, 1024)) {
        EXPECT_LE(chunk.size(), 1024u);
        all += chunk;
    }
    return all;
}

// The DACL part of a descriptor read back as SDDL ("D:..."), the owner left out.
std::wstring DaclOf(HANDLE pipe) {
    std::wstring sddl = Utils::ReadBackSddl(pipe, SE_KERNEL_OBJECT);
    size_t at = sddl.find(L"D:");
    return at == std::wstring::npos ? std::wstring() : sddl.substr(at);
}

} // namespace

TEST(ConsoleProcess, KeepsOnlyTheParentsEndsAndThoseAreNotInherited) {
    TempDir dir(L"cp");
    std::wstring script = StandIn::WriteScript(dir / L"s.txt", "say hello\\r\\n\nexit 7\n");
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + StandIn::Exe() + L"\" " + StandIn::Argument(script)));
    EXPECT_TRUE(child.process_);
    EXPECT_TRUE(child.stdOutPipe_.read && child.stdErrPipe_.read);
    EXPECT_FALSE(child.stdOutPipe_.write || child.stdErrPipe_.write)
        << "the child's ends are closed in the parent, so the output pipe breaks when the child ends";
    EXPECT_FALSE(Inheritable(child.stdOutPipe_.read.get()));
    EXPECT_FALSE(Inheritable(child.stdErrPipe_.read.get()));
    // Both output pipes admit the installer's own user alone, with nothing inherited: an elevated installer's
    // default descriptor would admit every program of the Administrators group.
    const std::wstring user = Utils::TokenUserSid();
    ASSERT_FALSE(user.empty());
    for (HANDLE pipe : {child.stdOutPipe_.read.get(), child.stdErrPipe_.read.get()}) {
        std::wstring dacl = DaclOf(pipe);
        EXPECT_EQ(dacl.rfind(L"D:P(A;;", 0), 0u) << TestSupport::Utf8(dacl);
        EXPECT_EQ(std::count(dacl.begin(), dacl.end(), L'('), 1) << TestSupport::Utf8(dacl);
        EXPECT_NE(dacl.find(L";;;" + user + L")"), std::wstring::npos) << TestSupport::Utf8(dacl);
    }
    EXPECT_EQ(ReadAll(child), "hello\r\n");
    EXPECT_EQ(child.WaitForExit(), 7u);
    child.Close();
    EXPECT_FALSE(child.process_ || child.stdOutPipe_.read);
}

TEST(ConsoleProcess, ChildInheritsOnlyItsOwnPipeEnds) {
    // An inheritable handle the installer holds for something else (another job's pipe, say) stays out of reach.
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    Utils::UniqueHandle event(::CreateEventW(&sa, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    TempDir dir(L"cp");
    std::string value = std::to_string(reinterpret_cast<uintptr_t>(event.get()));
    std::wstring script = StandIn::WriteScript(dir / L"s.txt", "setevent " + value + "\nsay done\\n\n");
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + StandIn::Exe() + L"\" " + StandIn::Argument(script)));
    EXPECT_EQ(ReadAll(child), "done\n");
    EXPECT_EQ(child.WaitForExit(), 0u);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the child could signal an event it should never have received";
}

TEST(ConsoleProcess, OutputWrittenJustBeforeTheEndIsReadAfterIt) {
    TempDir dir(L"cp");
    std::wstring script = StandIn::WriteScript(dir / L"s.txt", "print last words\nexit 0\n");
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + StandIn::Exe() + L"\" " + StandIn::Argument(script)));
    ASSERT_EQ(::WaitForSingleObject(child.Process(), 20000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadAll(child), "last words");
}

TEST(ConsoleProcess, LongSilencesAreWaitedThroughAndNoByteIsLostWhenAWaitGivesUp) {
    // The reader sleeps until the child writes. A read given up after a silence is cancelled: bytes arriving just
    // then must come with the next read, not vanish with the cancelled one.
    TempDir dir(L"cp");
    std::wstring script =
        StandIn::WriteScript(dir / L"s.txt", "say first\nsleep 1500\nsay late\\n\nsleep 1500\nsay last\nexit 0\n");
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + StandIn::Exe() + L"\" " + StandIn::Argument(script)));
    std::string all;
    std::string chunk;
    int silences = 0;
    for (;;) {
        CConsoleProcess::Read read = child.ReadOutput(chunk, 1024, 50);
        if (read == CConsoleProcess::Read::kEnded) {
            break;
        }
        if (read == CConsoleProcess::Read::kSilent) {
            EXPECT_TRUE(chunk.empty());
            ++silences;
        }
        all += chunk;
    }
    EXPECT_EQ(all, "firstlate\nlast");
    EXPECT_GT(silences, 0) << "a silence of 1.5 s was never reported";
    EXPECT_EQ(child.WaitForExit(), 0u);
}

TEST(ConsoleProcess, OutputEndsWithTheChildWhileAGrandchildStillHoldsItsPipes) {
    // The package may start a program that inherits its output and error pipes and outlives it: the job must not
    // wait for that program, and closing the child must not wait for (or leave the system writing into) the read
    // still pending on standard error.
    TempDir dir(L"cp");
    std::wstring started = dir / L"started";
    std::wstring gate = dir / L"gate";
    std::wstring ended = dir / L"ended";
    std::wstring grandchild = StandIn::WriteScript(
        dir / L"g.txt", "create " + TestSupport::Utf8(started) + "\nwaitfile " + TestSupport::Utf8(gate) +
                            "\nsay from the grandchild\nstderr and its error\ncreate " + TestSupport::Utf8(ended) +
                            "\n");
    std::wstring script =
        StandIn::WriteScript(dir / L"s.txt", "spawn " + TestSupport::Utf8(grandchild) + "\nwaitfile " +
                                                 TestSupport::Utf8(started) + "\nsay child\\n\nexit 3\n");
    // Should the reader wait for the grandchild after all, the gate opens after a minute and the test fails
    // instead of hanging.
    Utils::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(stop);
    std::thread watchdog([&] {
        if (::WaitForSingleObject(stop.get(), 60000) == WAIT_TIMEOUT) {
            TestSupport::WriteBytes(gate, "");
        }
    });
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + StandIn::Exe() + L"\" " + StandIn::Argument(script)));
    EXPECT_EQ(ReadAll(child), "child\n");
    EXPECT_EQ(child.WaitForExit(), 3u);
    child.Close();
    EXPECT_FALSE(TestSupport::FileExists(gate)) << "the reader waited until the grandchild let go of the pipes";
    ::SetEvent(stop.get());
    watchdog.join();
    // The grandchild ends, writing into pipes nobody reads any more; the folder goes only after it has.
    TestSupport::WriteBytes(gate, "go");
    for (int i = 0; i < 1500 && !TestSupport::FileExists(ended); ++i) {
        ::Sleep(20);
    }
    EXPECT_TRUE(TestSupport::FileExists(ended)) << "the grandchild did not end";
}

TEST(ConsoleProcess, FailedLaunchThrowsAndKeepsNothing) {
    TempDir dir(L"cp");
    const std::pair<std::wstring, std::wstring> cases[] = {
        {dir / L"missing.exe", L""},
        {L"\"" + StandIn::Exe() + L"\" " + std::wstring(1100, L'x'), L""}, // longer than the buffer
        {L"anything", dir / L"missing.exe"},                               // application name missing
    };
    for (const auto& [line, app] : cases) {
        CConsoleProcess child;
        EXPECT_FALSE(child.Launch(line, app));
        EXPECT_FALSE(child.process_ || child.thread_ || child.stdOutPipe_.read || child.stdErrPipe_.read);
        EXPECT_EQ(child.commandLine_[0], L'\0');
    }
}

TEST(ConsoleProcess, ASixtyFourBitChildOfThisThirtyTwoBitParentIsFollowedToo) {
    // The package or an earlier uninstaller may be 64-bit programs. From this 32-bit process system32 is the
    // 32-bit folder (redirected); the 64-bit system programs are reached through "sysnative".
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    if (!wow64) {
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";
    }
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    CConsoleProcess child;
    ASSERT_TRUE(child.Launch(L"\"" + std::wstring(windows) + L"\\sysnative\\cmd.exe\" /c echo State=Success"));
    BOOL childWow64 = TRUE;
    ASSERT_TRUE(::IsWow64Process(child.Process(), &childWow64));
    EXPECT_FALSE(childWow64) << "the child is a native 64-bit process";
    EXPECT_EQ(ReadAll(child), "State=Success\r\n");
    EXPECT_EQ(child.WaitForExit(), 0u);
}
