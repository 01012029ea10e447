// Lets Windows XP and Vista load the 32-bit installer far enough to be told that it needs Windows 7 SP1: the loader
// refuses an exe whose import table names a function the system lacks, before any of our code runs.
//
// The thread library of the toolchain imports GetTickCount64 (Vista and later). This file defines the import slot
// the linker would otherwise take from kernel32's import library, filled with a function that asks kernel32 at run
// time and falls back to GetTickCount (which wraps after 49.7 days; only the start-up check runs on those systems).
#include <windows.h>

#if defined(__i386__)

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

// Looked up on every call (the thread library asks only when it waits with a time-out): no shared state.
ULONGLONG WINAPI TickCount64() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto system =
        kernel != nullptr
            ? reinterpret_cast<TickCount64Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount64")))
            : nullptr;
    return system != nullptr ? system() : ::GetTickCount();
}

} // namespace

extern "C" {
// The import slot's decorated name (stdcall, no arguments).
TickCount64Fn tunivoxTickCount64Slot __asm__("__imp__GetTickCount64@0") = TickCount64;
// The function's own name, which the link-time optimiser may ask for instead of the slot: without it the linker
// would take kernel32's import member, which defines the slot a second time.
ULONGLONG WINAPI tunivoxTickCount64Thunk() __asm__("_GetTickCount64@0");
ULONGLONG WINAPI tunivoxTickCount64Thunk() {
    return tunivoxTickCount64Slot();
}
}

#endif
