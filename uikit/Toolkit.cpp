#include "uikit/Toolkit.h"

namespace UiKit {

namespace {

HINSTANCE g_instance = nullptr;
std::wstring g_resourcePath;

} // namespace

void SetInstance(HINSTANCE instance) {
    g_instance = instance;
}

HINSTANCE GetInstance() {
    return g_instance != nullptr ? g_instance : ::GetModuleHandleW(nullptr);
}

void SetResourcePath(const std::wstring& folder) {
    g_resourcePath = folder;
    if (!g_resourcePath.empty() && g_resourcePath.back() != L'\\' && g_resourcePath.back() != L'/') {
        g_resourcePath += L'\\';
    }
}

const std::wstring& GetResourcePath() {
    return g_resourcePath;
}

} // namespace UiKit
