#include "sysinfo/WindowsVersion.h"

#include <windows.h>

#include "utils/TextConv.h"

namespace SysInfo {

namespace {

std::wstring Dotted(unsigned major, unsigned minor, unsigned build) {
    return Utils::Decimal(major) + L"." + Utils::Decimal(minor) + L"." + Utils::Decimal(build);
}

} // namespace

std::optional<std::wstring> VersionNameFromRuntime(unsigned major, unsigned minor, unsigned build) {
    if (major == 6 && minor == 3) {
        return L"8.1";
    }
    if (major == 10 && minor == 0) {
        return L"10";
    }
    if (major > 10) {
        return Dotted(major, minor, build);
    }
    return std::nullopt;
}

std::wstring VersionNameFromRecord(const std::optional<VersionRecord>& record) {
    if (!record) {
        return L"Unknown Version";
    }
    const VersionRecord& r = *record;
    const bool workstation = r.productType == VER_NT_WORKSTATION;
    switch (r.major * 100 + r.minor) {
    case 400:
        if (r.platformId == VER_PLATFORM_WIN32_NT) {
            return L"NT4.0";
        }
        if (r.platformId == VER_PLATFORM_WIN32_WINDOWS) {
            return L"95";
        }
        break;
    case 410:
        return L"98";
    case 490:
        return L"WinMe";
    case 500:
        return L"2K";
    case 501:
        return L"XP";
    case 502:
        if (workstation && r.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
            return L"XP64";
        }
        return r.serverR2Metric != 0 ? L"Server 2003 R2" : L"Server 2003";
    case 600:
        return workstation ? L"Vista" : L"Server 2008";
    case 601:
        return workstation ? L"7" : L"Server 2008 R2";
    case 602:
        return workstation ? L"8" : L"Server 2012";
    default:
        break;
    }
    return Dotted(r.major, r.minor, r.build);
}

unsigned NativeProcessorArchitecture() {
    // GetSystemInfo answers for the emulated machine under WoW64 (always INTEL for this 32-bit program).
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

} // namespace SysInfo

std::wstring GetWindowsVersionName() {
    using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    // ntdll is always mapped; the handle is not ours to free.
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        auto fn = reinterpret_cast<RtlGetNtVersionNumbersFn>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
        if (fn != nullptr) {
            DWORD major = 0, minor = 0, build = 0;
            fn(&major, &minor, &build);
            if (auto name = SysInfo::VersionNameFromRuntime(major, minor, build & 0xFFFF)) {
                return *name;
            }
        }
    }

    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    std::optional<SysInfo::VersionRecord> record;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
#pragma GCC diagnostic pop
        record = SysInfo::VersionRecord{version.dwMajorVersion,         version.dwMinorVersion,
                                        version.dwBuildNumber,          version.dwPlatformId,
                                        version.wProductType,           SysInfo::NativeProcessorArchitecture(),
                                        ::GetSystemMetrics(SM_SERVERR2)};
    }
    return SysInfo::VersionNameFromRecord(record);
}
