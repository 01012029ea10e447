#!/usr/bin/env bash
# Reads the import table of the built installer and fails on
#  - any library that is not a KnownDLL on every Windows it supports (7 SP1 to 11): the loader takes any other name
#    from the executable's own folder first, before the entry point runs (those are delay-loaded instead);
#  - any function that Windows XP SP3 lacks: the loader refuses such an exe before our code runs, so an older
#    Windows would never hear which Windows it needs.
# Usage: imports.sh OBJDUMP EXE [all|knowndlls-only]   (knowndlls-only: the first rule alone, for the x86_64 exe)
set -euo pipefail
objdump=${1:?usage: imports.sh OBJDUMP EXE [all|knowndlls-only]}
exe=${2:?usage: imports.sh OBJDUMP EXE [all|knowndlls-only]}
rule=${3:-all}

# DLL:function of every static import (lower-case DLL names).
imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ {dll = tolower($3); next}
    /^[[:space:]]*$/ {dll = ""}
    dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print dll ":" $3}')
[ -n "$imports" ] || { echo "no imports read from $exe"; exit 1; }

known=" kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 shlwapi ws2_32 msvcrt comdlg32 imm32 rpcrt4 sechost
 setupapi psapi normaliz nsi wldap32 msctf imagehlp clbcatq difxapi "
bad=0
for name in $(printf '%s\n' "$imports" | cut -d: -f1 | sed 's/\.dll$//' | sort -u); do
    case "$known" in
    *[[:space:]]"$name"[[:space:]]*) echo "ok      $name" ;;
    *) echo "NOT A KNOWNDLL: $name"; bad=1 ;;
    esac
done

if [ "$rule" = knowndlls-only ]; then
    echo "$(printf '%s\n' "$imports" | wc -l) imports (the Windows XP rule applies to the 32-bit exe only)"
    exit $bad
fi

# Libraries that do not exist before Vista at all.
newer_dlls='^(bcrypt|ncrypt|dwmapi|api-ms-win-[^:]*|ext-ms-win-[^:]*|winhttp_vista)\.dll:'
# Functions added after XP SP3 that toolchains and libraries tend to pull in.
newer_functions=(
    GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
    ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared InitializeConditionVariable
    SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable
    InitOnceExecuteOnce InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx FlsAlloc FlsFree
    FlsGetValue FlsSetValue CreateEventExW CreateMutexExW CreateSemaphoreExW InitializeProcThreadAttributeList
    UpdateProcThreadAttribute DeleteProcThreadAttributeList SetDefaultDllDirectories AddDllDirectory
    RemoveDllDirectory GetFileInformationByHandleEx SetFileInformationByHandle CreateSymbolicLinkW
    GetFinalPathNameByHandleW QueryFullProcessImageNameW CancelIoEx GetLocaleInfoEx LCIDToLocaleName
    LocaleNameToLCID CompareStringEx LCMapStringEx GetUserDefaultLocaleName GetErrorMode GetCurrentProcessorNumber
    GetSystemTimePreciseAsFileTime CreateThreadpoolWork SubmitThreadpoolWork inet_pton inet_ntop InetPtonW
    InetNtopW WSAPoll GetAddrInfoExW RegGetValueW RegGetValueA RegDeleteTreeW RegSetKeyValueW RegDeleteKeyExW
    SetProcessDPIAware IsProcessDPIAware ChangeWindowMessageFilter ChangeWindowMessageFilterEx GetDpiForWindow
    SetProcessDpiAwarenessContext SHGetKnownFolderPath SHCreateItemFromParsingName WerRegisterRuntimeExceptionModule
    CompareStringOrdinal
)
pattern="^[^:]*:($(IFS='|'; echo "${newer_functions[*]}"))\$"

found=$(printf '%s\n' "$imports" | grep -E -e "$newer_dlls" -e "$pattern" || true)
count=$(printf '%s\n' "$imports" | wc -l)
if [ -n "$found" ]; then
    echo "imports that Windows XP lacks (look them up at run time instead):"
    printf '  %s\n' $found
    exit 1
fi
echo "$count imports, none newer than Windows XP SP3"
exit $bad
