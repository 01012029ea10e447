// Creation of the downloaders' worker threads ("ABDEF"), behind one replaceable factory so that the path taken
// when no thread can be created is exercised by the tests.
#pragma once

#include <memory>

#include "utils/Thread.h"

namespace DownloadWorker {

using Body = unsigned long (*)(void* arg);
using Factory = std::unique_ptr<Utils::Thread> (*)(void* arg, Body body);

// A suspended worker, or null when the system could not create a thread.
std::unique_ptr<Utils::Thread> Create(void* arg, Body body);

// Installs another factory (tests); returns the previous one.
Factory SetFactory(Factory factory);

} // namespace DownloadWorker
