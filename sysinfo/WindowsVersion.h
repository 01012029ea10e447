// Short name of the running Windows version ("XP", "7", "10", ...), used to pick the package route.
#pragma once

#include <optional>
#include <string>

namespace SysInfo {

// First stage: the runtime's own numbers (build already cut to its low 16 bits). No value: ask the second stage.
std::optional<std::wstring> VersionNameFromRuntime(unsigned major, unsigned minor, unsigned build);

// The classic version record, as far as the name depends on it.
struct VersionRecord {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    unsigned platformId = 0;
    unsigned productType = 0; // VER_NT_WORKSTATION (1) or a server type
    unsigned processorArchitecture = 0;
    int serverR2Metric = 0; // GetSystemMetrics(SM_SERVERR2)
};

// Second stage: a name from the table, else the dotted number; "Unknown Version" without a record.
std::wstring VersionNameFromRecord(const std::optional<VersionRecord>& record);

// The machine's processor architecture (PROCESSOR_ARCHITECTURE_*), not the one the process is emulated as: a
// 32-bit installer on 64-bit Windows sees AMD64, as "XP64" needs.
unsigned NativeProcessorArchitecture();

} // namespace SysInfo

// Asks the system on every call.
std::wstring GetWindowsVersionName();
