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

Thread::Thread(void* arg, const wchar_t* name, Body fn)
    : fn_(std::move(fn)), arg_(arg), name_(name != nullptr ? name : L"") {
    uintptr_t h = ::_beginthreadex(nullptr, 0, &Thread::CallBack, this, CREATE_SUSPENDED, &threadId_);
    handle_.reset(reinterpret_cast<HANDLE>(h));
    if (!handle_) {
        return;
    }
    SetDebuggerThreadName(threadId_, DebuggerThreadName(name_, threadId_));
}

Thread::~Thread() {
    if (handle_) {
        ::WaitForSingleObject(handle_.get(), INFINITE);
        handle_.reset();
    }
    threadId_ = static_cast<unsigned>(-1);
}

Status Thread::Resume() {
    if (!handle_) {
        return Status::Failed(L"no thread to resume");
    }
    if (::ResumeThread(handle_.get()) == static_cast<DWORD>(-1)) {
        return Status::LastError(L"ResumeThread failed");
    }
    return {};
}

ThreadCreationSeam& ThreadCreation() {
    static ThreadCreationSeam seam([](void* arg, const wchar_t* name, Thread::Body fn) {
        auto thread = std::make_unique<Thread>(arg, name, std::move(fn));
        if (!thread->Handle()) {
            return Result<std::unique_ptr<Thread>>(Status::LastError(L"no thread created"));
        }
        return Result<std::unique_ptr<Thread>>(std::move(thread));
    });
    return seam;
}

Result<std::unique_ptr<Thread>> NewThread(void* arg, const wchar_t* name, Thread::Body fn) {
    return ThreadCreation()(arg, name, std::move(fn));
}

Result<std::unique_ptr<Thread>> StartThread(void* arg, const wchar_t* name, Thread::Body fn) {
    Result<std::unique_ptr<Thread>> thread = NewThread(arg, name, std::move(fn));
    if (!thread) {
        return thread;
    }
    if (Status resumed = (*thread)->Resume(); !resumed) {
        return resumed;
    }
    return thread;
}

unsigned __stdcall Thread::CallBack(void* param) {
    auto* self = static_cast<Thread*>(param);
    DEBUG_LOG(L"THREAD BEGIN");
    self->fn_(self->arg_);
    DEBUG_LOG(L"THREAD END");
    ::_endthreadex(0);
    return 0;
}

} // namespace Utils
