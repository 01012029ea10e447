// Owner of one native worker thread. The thread is created suspended so the owner can store this object before
// the body runs; the owner resumes `handle`. Destruction waits for the body without a time limit, so it must not
// run on the thread itself, and the owner must make the body finish first.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "utils/ScopedWin.h"
#include "utils/Seam.h"
#include "utils/Status.h"

namespace Utils {

class Thread {
public:
    using Body = std::function<unsigned long(void*)>;

    // Never throws for a failed creation: Handle() is then empty and nothing is to be resumed (NewThread says why).
    Thread(void* arg, const wchar_t* name, Body fn);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

    // Resumes the suspended thread.
    Status Resume();

    [[nodiscard]] HANDLE Handle() const { return handle_.get(); }
    [[nodiscard]] unsigned Id() const { return threadId_; }

private:
    // Native entry: logs THREAD BEGIN / THREAD END around the body, on the new thread.
    static unsigned __stdcall CallBack(void* param);

    unsigned threadId_ = 0;
    UniqueHandle handle_;
    Body fn_;
    void* arg_ = nullptr;
    std::wstring name_;
};

// How every worker of the product is made: a suspended Thread, or why there is none.
using ThreadCreationSeam = Seam<Result<std::unique_ptr<Thread>>(void* arg, const wchar_t* name, Thread::Body fn)>;
ThreadCreationSeam& ThreadCreation();

// A suspended worker through ThreadCreation().
Result<std::unique_ptr<Thread>> NewThread(void* arg, const wchar_t* name, Thread::Body fn);

// A worker through ThreadCreation(), resumed.
Result<std::unique_ptr<Thread>> StartThread(void* arg, const wchar_t* name, Thread::Body fn);

// The narrow name shown to a debugger: the ANSI form of `name`, or "t" + the decimal id when it is empty.
std::string DebuggerThreadName(const std::wstring& name, unsigned threadId);

// Names a thread for debuggers with the exception convention (0x406D1388); without a debugger nothing happens.
void SetDebuggerThreadName(unsigned threadId, const std::string& name);

constexpr DWORD kSetThreadNameException = 0x406D1388;

} // namespace Utils
