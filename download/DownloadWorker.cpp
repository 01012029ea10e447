#include "download/DownloadWorker.h"

#include <atomic>

namespace DownloadWorker {

namespace {

std::unique_ptr<Utils::Thread> CreateSystemThread(void* arg, Body body) {
    auto thread = std::make_unique<Utils::Thread>(arg, L"ABDEF", body);
    if (!thread->handle) {
        return nullptr;
    }
    return thread;
}

std::atomic<Factory> g_factory{&CreateSystemThread};

} // namespace

std::unique_ptr<Utils::Thread> Create(void* arg, Body body) {
    return g_factory.load()(arg, body);
}

Factory SetFactory(Factory factory) {
    return g_factory.exchange(factory != nullptr ? factory : &CreateSystemThread);
}

} // namespace DownloadWorker
