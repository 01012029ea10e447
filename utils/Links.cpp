#include "utils/Links.h"

#include "utils/TextConv.h"

namespace Utils {

Status CheckNoLink(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        return Status::LastError(L"file information unavailable");
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return Status::Failed(L"a reparse point");
    }
    if (info.nNumberOfLinks != 1) {
        return Status::Failed(L"a file with " + Decimal(info.nNumberOfLinks) + L" hard links");
    }
    return {};
}

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Length of the part of `path` that names no folder of its own: "C:\", or "\\server\share\".
size_t RootLength(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') {
        return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t server = path.find_first_of(L"\\/", 2);
        size_t share = server == std::wstring::npos ? server : path.find_first_of(L"\\/", server + 1);
        return share == std::wstring::npos ? path.size() : share + 1;
    }
    return 0;
}

} // namespace

Status CheckNoReparsePointOnPath(const std::wstring& path) {
    for (size_t at = RootLength(path); at < path.size();) {
        size_t next = path.find_first_of(L"\\/", at);
        if (next != at) {
            std::wstring prefix = path.substr(0, next);
            DWORD attributes = ::GetFileAttributesW(prefix.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                return {};
            }
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                return Status::Failed(prefix + L" is a reparse point");
            }
        }
        if (next == std::wstring::npos) {
            break;
        }
        at = next + 1;
    }
    return {};
}

Result<UniqueFileHandle> OpenWithoutLinks(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
    if (Status onPath = CheckNoReparsePointOnPath(path); !onPath) {
        return onPath;
    }
    UniqueFileHandle file(::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return Status::LastError(L"not opened");
    }
    if (Status linked = CheckNoLink(file.get()); !linked) {
        return linked;
    }
    return file;
}

Status CheckNoLinkAt(const std::wstring& path) {
    Status onPath = CheckNoReparsePointOnPath(path);
    if (!onPath || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return onPath;
    }
    return OpenWithoutLinks(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            OPEN_EXISTING)
        .Failure();
}

Status DeleteWithoutLinks(const std::wstring& path) {
    using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    // Vista and later; looked up so that the import table holds nothing Windows XP lacks.
    static const auto setInformation = reinterpret_cast<SetInformationFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {};
        }
    }
    if (setInformation == nullptr) {
        return Status::Failed(L"no SetFileInformationByHandle");
    }
    Result<UniqueFileHandle> file =
        OpenWithoutLinks(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!file) {
        return file.Failure();
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!setInformation(file->get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        return Status::LastError(L"not deleted");
    }
    return {};
}

} // namespace Utils
