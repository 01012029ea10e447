// Process-wide settings of the toolkit, made once on the UI thread before the first window.
#pragma once

#include <windows.h>

#include <string>

namespace UiKit {

// The module whose resources hold the layouts and images (the executable unless set).
void SetInstance(HINSTANCE instance);
HINSTANCE GetInstance();

// The folder that image and layout file paths are relative to when a window names no skin folder of its own.
// A trailing path separator is added when missing.
void SetResourcePath(const std::wstring& folder);
const std::wstring& GetResourcePath();

} // namespace UiKit
