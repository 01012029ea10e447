#include "utils/Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/TextConv.h"

namespace Utils {

const wchar_t kAdministratorsOnlySddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::wstring TokenUserSid() {
    UniqueHandle token;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"OpenProcessToken failed: %lu", error);
        return {};
    }
    token.reset(raw);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer{};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, &buffer, sizeof(buffer), &size)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"GetTokenInformation(TokenUser) failed: %lu", error);
        return {};
    }
    UniqueLocalMem text;
    LPWSTR sid = nullptr;
    if (!::ConvertSidToStringSidW(buffer.user.User.Sid, &sid)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"ConvertSidToStringSidW failed: %lu", error);
        return {};
    }
    text.reset(sid);
    return sid;
}

std::wstring UserOnlySddl(const std::wstring& userSid) {
    return L"D:P(A;;GA;;;" + userSid + L")";
}

Result<UniqueLocalMem> DescriptorFromSddl(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, nullptr)) {
        return Status::LastError(L"security descriptor " + sddl + L" not made");
    }
    return UniqueLocalMem(made);
}

std::wstring ReadBackSddl(HANDLE handle, SE_OBJECT_TYPE type) {
    PSECURITY_DESCRIPTOR read = nullptr;
    DWORD error = ::GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, nullptr, &read);
    if (error != ERROR_SUCCESS) {
        DEBUG_LOG(L"GetSecurityInfo failed: %lu", error);
        return {};
    }
    UniqueLocalMem owned(read);
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            read, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return {};
    }
    UniqueLocalMem textOwner(text);
    return text;
}

namespace {

bool IsAdministratorsOrSystem(const std::wstring& sid) {
    return sid == L"BA" || sid == L"SY" || sid == L"S-1-5-32-544" || sid == L"S-1-5-18";
}

} // namespace

bool IsAdministratorsOnlySddl(const std::wstring& sddl) {
    if (sddl.rfind(L"O:", 0) != 0) {
        return false;
    }
    size_t daclAt = sddl.find(L"D:");
    size_t ownerEnd = std::min(sddl.find(L"G:"), daclAt);
    if (daclAt == std::wstring::npos || !IsAdministratorsOrSystem(sddl.substr(2, ownerEnd - 2))) {
        return false;
    }
    // "D:<flags>(ace)(ace)...": P among the flags, every allowing entry for SYSTEM or Administrators.
    std::wstring dacl = sddl.substr(daclAt + 2);
    size_t firstAce = dacl.find(L'(');
    if (firstAce == std::wstring::npos || dacl.substr(0, firstAce).find(L'P') == std::wstring::npos) {
        return false;
    }
    for (size_t open = firstAce; open != std::wstring::npos; open = dacl.find(L'(', open + 1)) {
        size_t close = dacl.find(L')', open);
        if (close == std::wstring::npos) {
            return false;
        }
        std::wstring ace = dacl.substr(open + 1, close - open - 1);
        size_t type = ace.find(L';');
        size_t sid = ace.rfind(L';');
        if (type == std::wstring::npos || sid == type) {
            return false;
        }
        const std::wstring kind = ace.substr(0, type);
        if (kind == L"D") {
            continue; // denying takes nothing away from this rule
        }
        if (kind != L"A" || !IsAdministratorsOrSystem(ace.substr(sid + 1))) {
            return false;
        }
    }
    return true;
}

namespace {

// Creates `path` with kAdministratorsOnlySddl (a failure's code is the system's error).
Status CreateAdministratorsOnly(const std::wstring& path) {
    Result<UniqueLocalMem> descriptor = DescriptorFromSddl(kAdministratorsOnlySddl);
    if (!descriptor) {
        return descriptor.Failure();
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor->get(), FALSE};
    if (!::CreateDirectoryW(path.c_str(), &attributes)) {
        return Status::LastError(L"not created");
    }
    // Set once more on the new folder: Wine keeps a descriptor set on a file, not one given at its creation.
    constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!::SetFileSecurityW(path.c_str(), kOwnerAndDacl, descriptor->get())) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"SetFileSecurityW(%s) failed: %lu", path.c_str(), error);
    }
    return {};
}

// The folder `path` opened without following a reparse point at its end, for reading its descriptor; refused when
// it is anything but a plain folder.
Result<UniqueFileHandle> OpenPlainFolder(const std::wstring& path) {
    UniqueFileHandle folder(::CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        return Status::LastError(L"not opened");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Status::Failed(L"not a plain folder");
    }
    return folder;
}

// The folder `path` made with kAdministratorsOnlySddl (or, with `mayExist`, found there), opened as a plain folder.
Result<UniqueFileHandle> MakeAdministratorsOnly(const std::wstring& path, bool mayExist) {
    if (Status onPath = CheckNoReparsePointOnPath(path); !onPath) {
        return onPath;
    }
    if (Status made = CreateAdministratorsOnly(path); !made && !(mayExist && made.Code() == ERROR_ALREADY_EXISTS)) {
        return made;
    }
    return OpenPlainFolder(path);
}

// The folder made (or, with `mayExist`, found) and its descriptor read back. A folder found there must read back
// as administrators-only; a new one was given that descriptor at creation, so another reading is only logged.
Status MakeAndCheck(const std::wstring& path, bool mayExist) {
    Result<UniqueFileHandle> folder = MakeAdministratorsOnly(path, mayExist);
    if (!folder) {
        return folder.Failure();
    }
    const std::wstring sddl = ReadBackSddl(folder->get(), SE_FILE_OBJECT);
    if (IsAdministratorsOnlySddl(sddl)) {
        return {};
    }
    if (mayExist) {
        return Status::Failed(L"not for administrators only: " + sddl);
    }
    DEBUG_LOG(L"new folder %s reads back as %s", path.c_str(), sddl.c_str());
    return {};
}

} // namespace

Status AdministratorsOnlyFolder(const std::wstring& path) {
    return MakeAndCheck(path, true);
}

Status NewAdministratorsOnlyFolder(const std::wstring& path) {
    return MakeAndCheck(path, false);
}

} // namespace Utils
