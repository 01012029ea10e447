// Small stateless probes: network connectivity, free space of a folder's volume, a random device identifier.
#pragma once

#include <cstdint>
#include <string>

namespace Utils {

constexpr int NET_NOT_CONNECTED = 0x10000;
constexpr int NET_NO_INTERNET = 0x20000;

// Low 16 bits: the network list manager's connectivity flags; plus NET_NOT_CONNECTED when they are 0, or
// NET_NO_INTERNET when there is connectivity without the internet. 0 when the manager is unavailable (no COM on
// the calling thread). The calling thread initialises COM.
int CheckNetwork();

// The result rule of CheckNetwork, apart from the system: `connected` is the manager's internet answer.
int CombineNetworkResult(int connectivity, bool connected);

class HardDiskManager {
public:
    virtual ~HardDiskManager() = default;

    // Fills the three counts for the volume of `folder`; false (and a log line with the system error code)
    // when the volume cannot be queried, leaving the counts as they were.
    bool CheckFreeSpace(const wchar_t* folder);

    uint64_t freeBytesAvailable = 0;
    uint64_t totalBytes = 0;
    uint64_t totalFreeBytes = 0;
};

constexpr uint64_t kBytesPerGiB = 0x40000000;

// 32 hex digits of a new GUID; the third group (characters 13-16) in lower case, the rest in upper case.
std::wstring CreateDeviceId();

} // namespace Utils
