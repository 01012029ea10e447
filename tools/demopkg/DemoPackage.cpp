// The demo installation package: a console program that installs a small demo product the way a real package
// does for the installer, and that doubles as the product's uninstaller.
//
//   DemoPackage.exe /S -console=show -version=1.0.0 -dsc=true -ssc=false -instdir="D:\My Apps\Tunivox" /D=...
//     installs into the folder: Tunivox.exe (carried as resource 1), this program again as "uninst.ep", the
//     desktop and quick-launch shortcuts when asked, and "uninst.lst", the list of what it created.
//   uninst.ep /S -console=show _?=D:\My Apps\Tunivox
//     removes everything "uninst.lst" names, the installer's set.ini and partial download, and the folder once it
//     is empty.
//
// Progress and results go to standard output in the installer's line protocol, one WriteFile per line (nothing
// is buffered, so the installer sees each step as it happens), in the ANSI code page, ended by CR LF.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "tools/demopkg/PackageArgs.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

namespace {

const wchar_t kProductExe[] = L"Tunivox.exe";
const wchar_t kUninstaller[] = L"uninst.ep";
const wchar_t kFileList[] = L"uninst.lst";
const wchar_t kShortcutName[] = L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668.lnk";

void Emit(const std::wstring& line) {
    const std::string bytes = Utils::WideToMultiByte(line + L"\r\n", 0);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void EmitProgress(double fraction) {
    wchar_t text[32];
    _snwprintf(text, 32, L"Progress=%.2f", fraction);
    text[31] = L'\0';
    Emit(text);
}

std::wstring SystemMessage(DWORD error) {
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, 256, nullptr);
    std::wstring message = text;
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
        message.pop_back();
    }
    return message + L" (" + std::to_wstring(error) + L")";
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') {
        return folder + name;
    }
    return folder + L"\\" + name;
}

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

bool WriteResourceToFile(int id, const std::wstring& path) {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL handle = info ? LoadResource(nullptr, info) : nullptr;
    const void* data = handle ? LockResource(handle) : nullptr;
    if (data == nullptr) {
        return false;
    }
    Utils::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return false;
    }
    DWORD written = 0;
    const DWORD size = SizeofResource(nullptr, info);
    return WriteFile(file.get(), data, size, &written, nullptr) && written == size;
}

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& folder) {
    Utils::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
        return false;
    }
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(folder.c_str());
    link->SetDescription(L"Lumetra\u97f3\u9891\u8f6c\u6362\u5668");
    link->SetIconLocation(target.c_str(), 0);
    Utils::ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) {
        return false;
    }
    return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE)) {
        return {};
    }
    return path;
}

// The list is UTF-16 with one full path per line, so Chinese folder names survive whatever the code page.
bool WriteFileList(const std::wstring& path, const std::vector<std::wstring>& files) {
    std::wstring text = L"\uFEFF";
    for (const std::wstring& f : files) {
        text += f + L"\r\n";
    }
    Utils::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    return file.valid() && WriteFile(file.get(), text.data(), size, &written, nullptr) && written == size;
}

std::vector<std::wstring> ReadFileList(const std::wstring& path) {
    std::vector<std::wstring> files;
    Utils::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return files;
    }
    std::wstring text(GetFileSize(file.get(), nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr)) {
        return files;
    }
    size_t start = !text.empty() && text[0] == L'\uFEFF' ? 1 : 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        if (end > start) {
            files.push_back(text.substr(start, end - start));
        }
        start = end + 2;
    }
    return files;
}

int Fail(const std::wstring& message) {
    Emit(L"Error=" + message);
    return 1;
}

int Install(const DemoPackage::PackageArgs& args) {
    const std::wstring folder = DemoPackage::TargetFolder(args);
    EmitProgress(0.0);
    if (folder.empty()) {
        return Fail(L"no install folder (-instdir= or /D=)");
    }
    const int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) {
        return Fail(L"cannot create " + folder + L": " + SystemMessage(static_cast<DWORD>(created)));
    }
    Sleep(static_cast<DWORD>(args.stepPauseMs));
    EmitProgress(0.1);

    std::vector<std::wstring> files;
    const std::wstring product = Join(folder, kProductExe);
    if (!WriteResourceToFile(1, product)) {
        return Fail(L"cannot write " + product + L": " + SystemMessage(GetLastError()));
    }
    files.push_back(product);
    Sleep(static_cast<DWORD>(args.stepPauseMs));
    EmitProgress(0.4);

    const std::wstring uninstaller = Join(folder, kUninstaller);
    if (!CopyFileW(OwnPath().c_str(), uninstaller.c_str(), FALSE)) {
        return Fail(L"cannot write " + uninstaller + L": " + SystemMessage(GetLastError()));
    }
    files.push_back(uninstaller);
    Sleep(static_cast<DWORD>(args.stepPauseMs));
    EmitProgress(0.6);

    Utils::ComInit com;
    if (args.desktopShortcut) {
        const std::wstring link = Join(ShellFolder(CSIDL_DESKTOPDIRECTORY), kShortcutName);
        if (!CreateShortcut(link, product, folder)) {
            return Fail(L"cannot create the desktop shortcut " + link);
        }
        files.push_back(link);
    }
    if (args.quickLaunch) {
        const std::wstring launchFolder =
            Join(ShellFolder(CSIDL_APPDATA), L"Microsoft\\Internet Explorer\\Quick Launch");
        SHCreateDirectoryExW(nullptr, launchFolder.c_str(), nullptr);
        const std::wstring link = Join(launchFolder, kShortcutName);
        if (!CreateShortcut(link, product, folder)) {
            return Fail(L"cannot create the quick-launch shortcut " + link);
        }
        files.push_back(link);
    }
    Sleep(static_cast<DWORD>(args.stepPauseMs));
    EmitProgress(0.8);

    const std::wstring list = Join(folder, kFileList);
    files.push_back(list);
    if (!WriteFileList(list, files)) {
        return Fail(L"cannot write " + list + L": " + SystemMessage(GetLastError()));
    }
    EmitProgress(1.0);

    Emit(L"InstPath=" + folder);
    Emit(L"StartExe=" + product);
    Emit(L"UninstEp=" + uninstaller);
    Emit(L"StartupStyle=UserStartup");
    Emit(L"State=Success");
    return 0;
}

int Uninstall(const DemoPackage::PackageArgs& args) {
    const std::wstring folder = DemoPackage::NormaliseFolder(args.uninstallDir);
    EmitProgress(0.0);
    const std::wstring list = Join(folder, kFileList);
    std::vector<std::wstring> files = ReadFileList(list);
    if (files.empty()) {
        return Fail(L"no installation recorded in " + folder);
    }
    // The installer writes its own record beside the product, and may have left a partial download of a newer
    // package there (with the state file that lets it resume): they go with the product.
    files.push_back(Join(folder, L"set.ini"));
    files.push_back(Join(folder, L"__Package_Tunivox.exe.part"));
    files.push_back(Join(folder, L"__Package_Tunivox.exe.part.state"));

    const std::wstring self = OwnPath();
    bool selfInside = false;
    size_t done = 0;
    for (const std::wstring& path : files) {
        ++done;
        if (lstrcmpiW(path.c_str(), self.c_str()) == 0) {
            // Run in place: a running program cannot delete itself; it goes at the next start of the system.
            selfInside = true;
            MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            continue;
        }
        if (path == list) {
            continue; // the list goes last, so that a failed run can be repeated
        }
        if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
            GetLastError() != ERROR_PATH_NOT_FOUND) {
            return Fail(L"cannot remove " + path + L": " + SystemMessage(GetLastError()));
        }
        EmitProgress(0.9 * static_cast<double>(done) / static_cast<double>(files.size()));
    }
    DeleteFileW(list.c_str());
    if (!selfInside && !RemoveDirectoryW(folder.c_str()) && GetLastError() != ERROR_DIR_NOT_EMPTY) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return Fail(L"cannot remove " + folder + L": " + SystemMessage(error));
        }
    }
    EmitProgress(1.0);
    Emit(L"State=Success");
    return 0;
}

} // namespace

int main() {
    const DemoPackage::PackageArgs args = DemoPackage::ParsePackageCommandLine(GetCommandLineW());
    if (!args.uninstallDir.empty()) {
        return Uninstall(args);
    }
    return Install(args);
}
