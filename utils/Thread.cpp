#include "utils/Thread.h"

#include <process.h>

#include "utils/DebugLog.h"
#include "utils/TextConv.h"

namespace Utils {

namespace {

#pragma pack(push, 8)
struct ThreadNameInfo {
    ULONG_PTR type; // 0x1000
    ULONG_PTR name; // narrow name
    ULONG_PTR threadId;
    ULONG_PTR flags;
};
#pragma pack(pop)

// GCC has no __try/__except: a vectored handler, present only while the exception is raised, lets the name
// exception continue when no debugger took it.
LONG CALLBACK ContinueThreadNameException(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == kSetThreadNameException) {
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

std::string DebuggerThreadName(const std::wstring& name, unsigned threadId) {
    if (name.empty()) {
        return "t" + std::to_string(threadId);
    }
    return WideToMultiByte(name, kCodePageAnsi);
}

void SetDebuggerThreadName(unsigned threadId, const std::string& name) {
    ThreadNameInfo info{0x1000, reinterpret_cast<ULONG_PTR>(name.c_str()), threadId, 0};
    PVOID handler = ::AddVectoredExceptionHandler(0, ContinueThreadNameException);
    if (handler == nullptr) {
        return;
    }
    ::RaiseException(kSetThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                     reinterpret_cast<const ULONG_PTR*>(&info));
    ::RemoveVectoredExceptionHandler(handler);
}

Thread::Thread(void* arg_, const wchar_t* name_, Body fn_)
    : fn(std::move(fn_)), arg(arg_), name(name_ != nullptr ? name_ : L"") {
    uintptr_t h = ::_beginthreadex(nullptr, 0, &Thread::CallBack, this, CREATE_SUSPENDED, &threadId);
    handle.reset(reinterpret_cast<HANDLE>(h));
    if (!handle) {
        return;
    }
    SetDebuggerThreadName(threadId, DebuggerThreadName(name, threadId));
}

Thread::~Thread() {
    if (handle) {
        ::WaitForSingleObject(handle.get(), INFINITE);
        handle.reset();
    }
    threadId = static_cast<unsigned>(-1);
}

bool Thread::Resume() {
    return handle && ::ResumeThread(handle.get()) != static_cast<DWORD>(-1);
}

unsigned __stdcall Thread::CallBack(void* param) {
    auto* self = static_cast<Thread*>(param);
    DEBUG_LOG(L"THREAD BEGIN");
    self->fn(self->arg);
    DEBUG_LOG(L"THREAD END");
    ::_endthreadex(0);
    return 0;
}

} // namespace Utils
