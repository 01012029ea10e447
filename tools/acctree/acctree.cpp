// acctree.exe TITLE [--do NAME]
// Prints the accessible tree of the visible skinned window titled TITLE, one element a line (UTF-8):
//   role "name" [states] value="…" @x,y wxh
// With --do, presses the child named NAME through its default action instead. Waits up to 10 s for the window.
// Exit 1 when there is no such window or it has no accessible object, 2 for a usage error, 3 when no child has
// the name or its default action fails.
#include <windows.h>

#include <objbase.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tools/acctree/AccTree.h"

int wmain(int argc, wchar_t** argv) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    if (!(argc == 2 || (argc == 4 && std::wcscmp(argv[2], L"--do") == 0))) {
        std::fputs("usage: acctree.exe TITLE [--do NAME]\n", stderr);
        return 2;
    }
    if (FAILED(::CoInitialize(nullptr))) {
        return 1;
    }
    int code = 0;
    HWND hwnd = AccTree::FindSkinnedWindow(argv[1], 10000);
    std::vector<AccTree::Node> nodes;
    if (hwnd == nullptr) {
        std::fputs("acctree: no such window\n", stderr);
        code = 1;
    } else if (argc == 4) {
        HRESULT hr = AccTree::DoDefaultAction(hwnd, argv[3]);
        if (FAILED(hr)) {
            std::fprintf(stderr, "acctree: default action failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            code = 3;
        }
    } else if (!AccTree::Read(hwnd, nodes)) {
        std::fputs("acctree: the window has no accessible object\n", stderr);
        code = 1;
    } else {
        for (const AccTree::Node& node : nodes) {
            std::string line = AccTree::Format(node) + "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return code;
}
