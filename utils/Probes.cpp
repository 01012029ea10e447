#include "utils/Probes.h"

#include <windows.h>
#include <initguid.h>
#include <netlistmgr.h>
#include <objbase.h>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace Utils {

int CombineNetworkResult(int connectivity, bool connected) {
    if (connectivity == 0) {
        return NET_NOT_CONNECTED;
    }
    if (!connected) {
        return NET_NO_INTERNET | connectivity;
    }
    return connectivity;
}

int CheckNetwork() {
    int result = 0;
    {
        ComPtr<INetworkListManager> manager;
        HRESULT hr = ::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                                        manager.put_void());
        if (SUCCEEDED(hr) && manager) {
            NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
            // When the query itself fails the flags are undefined; they are read as "disconnected".
            if (FAILED(manager->GetConnectivity(&connectivity))) {
                connectivity = NLM_CONNECTIVITY_DISCONNECTED;
            }
            int flags = static_cast<int>(connectivity) & 0xFFFF;
            if (flags == 0) {
                DEBUG_LOG_RAW(L"GetConnectivity %d", flags);
                result = CombineNetworkResult(0, false);
            } else {
                VARIANT_BOOL connected = VARIANT_FALSE;
                if (FAILED(manager->IsConnectedToInternet(&connected))) {
                    connected = VARIANT_FALSE;
                }
                if (connected == VARIANT_FALSE) {
                    DEBUG_LOG_RAW(L"get_IsConnectedToInternet:%d", 0);
                }
                result = CombineNetworkResult(flags, connected != VARIANT_FALSE);
            }
        }
    }
    ::CoFreeUnusedLibraries();
    return result;
}

bool HardDiskManager::CheckFreeSpace(const wchar_t* folder) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExW(folder, &available, &total, &totalFree)) {
        DEBUG_LOG_RAW(L"HardDiskManager::CheckFreeSpace FAIL code=%ld\r\n", static_cast<long>(::GetLastError()));
        return false;
    }
    freeBytesAvailable = available.QuadPart;
    totalBytes = total.QuadPart;
    totalFreeBytes = totalFree.QuadPart;
    return true;
}

std::wstring CreateDeviceId() {
    GUID guid{};
    (void)::CoCreateGuid(&guid);
    wchar_t buffer[50];
    FormatBounded(buffer, L"%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(guid.Data1),
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return buffer;
}

} // namespace Utils
