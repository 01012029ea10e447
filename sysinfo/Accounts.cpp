#include "sysinfo/Accounts.h"

#include <windows.h>
#include <lm.h>
#include <wtsapi32.h>

bool GetConsoleUserName(std::wstring& name) {
    DWORD session = ::WTSGetActiveConsoleSessionId();
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &buffer, &bytes) ||
        buffer == nullptr) {
        return false;
    }
    name = buffer;
    ::WTSFreeMemory(buffer);
    return true;
}

bool IsUserAdmin(const std::wstring& name) {
    LPBYTE buffer = nullptr;
    if (::NetUserGetInfo(nullptr, name.c_str(), 1, &buffer) != NERR_Success || buffer == nullptr) {
        return false;
    }
    bool admin = reinterpret_cast<USER_INFO_1*>(buffer)->usri1_priv == USER_PRIV_ADMIN;
    ::NetApiBufferFree(buffer);
    return admin;
}

bool IsProcessAdmin() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member)) {
        member = FALSE;
    }
    ::FreeSid(administrators);
    return member != FALSE;
}
