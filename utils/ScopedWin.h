// Owners of every handle kind the installer uses. Move-only, with get() and release().
// Nothing outside this header closes a handle, key, GDI object, file or curl handle directly.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <bcrypt.h>
#include <winhttp.h>
#include <wintrust.h>

#include <cstdio>
#include <utility>
#include <vector>

#include <curl/curl.h>

namespace Utils {

// Traits: `Type`, `Invalid()` and `Close(Type)`.
template <class Traits> class Unique {
public:
    using Type = typename Traits::Type;

    Unique() noexcept = default;
    explicit Unique(Type value) noexcept : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~Unique() { reset(); }

    [[nodiscard]] Type get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

    // For out-parameters: closes what is held and hands out the slot.
    [[nodiscard]] Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
// Handles where the API reports failure as INVALID_HANDLE_VALUE (files, find handles).
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type k) noexcept { ::RegCloseKey(k); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { ::FreeLibrary(m); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type o) noexcept { ::DeleteObject(o); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type dc) noexcept { ::DeleteDC(dc); }
};
struct LocalMemTraits {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { ::LocalFree(m); }
};
struct CoTaskMemTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { ::CoTaskMemFree(m); }
};
struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type b) noexcept { ::SysFreeString(b); }
};
struct StdioFileTraits {
    using Type = FILE*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type f) noexcept { ::fclose(f); }
};
// Memory the system hands out for GlobalFree (WinHTTP's proxy strings).
struct GlobalMemTraits {
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { ::GlobalFree(m); }
};
struct WinHttpTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
struct CurlEasyTraits {
    using Type = CURL*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type c) noexcept { ::curl_easy_cleanup(c); }
};
struct CurlMultiTraits {
    using Type = CURLM*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type m) noexcept { ::curl_multi_cleanup(m); }
};
struct CurlSlistTraits {
    using Type = curl_slist*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type l) noexcept { ::curl_slist_free_all(l); }
};

struct CertStoreTraits {
    using Type = HCERTSTORE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type s) noexcept { ::CertCloseStore(s, 0); }
};
struct CertContextTraits {
    using Type = PCCERT_CONTEXT;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type c) noexcept { ::CertFreeCertificateContext(c); }
};
struct CertChainTraits {
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type c) noexcept { ::CertFreeCertificateChain(c); }
};
struct BCryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type a) noexcept { ::BCryptCloseAlgorithmProvider(a, 0); }
};
struct BCryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

using UniqueHandle = Unique<HandleTraits>;
using UniqueFileHandle = Unique<FileHandleTraits>;
using UniqueFindHandle = Unique<FindHandleTraits>;
using UniqueHKey = Unique<RegKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueGdiObject = Unique<GdiObjectTraits>;
using UniqueMemoryDc = Unique<MemoryDcTraits>;
using UniqueLocalMem = Unique<LocalMemTraits>;
using UniqueCoTaskMem = Unique<CoTaskMemTraits>;
using UniqueGlobalMem = Unique<GlobalMemTraits>;
using UniqueWinHttp = Unique<WinHttpTraits>;
using UniqueFile = Unique<StdioFileTraits>;
using UniqueBstr = Unique<BstrTraits>;
using UniqueCurl = Unique<CurlEasyTraits>;
using UniqueCurlSlist = Unique<CurlSlistTraits>;
using UniqueCurlMulti = Unique<CurlMultiTraits>;
using UniqueCertStore = Unique<CertStoreTraits>;
using UniqueCertContext = Unique<CertContextTraits>;
using UniqueCertChain = Unique<CertChainTraits>;
using UniqueBCryptAlgorithm = Unique<BCryptAlgorithmTraits>;
using UniqueBCryptHash = Unique<BCryptHashTraits>;

// Closes a file whose closing matters (the last of its data reaches the system then): false when the system says
// it failed. The handle is given up either way.
inline bool CloseFileHandle(UniqueFileHandle& file) noexcept {
    HANDLE h = file.release();
    return h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != FALSE;
}

// Builds `cert`'s chain (with the certificates of its own store and the trusted roots) into `chain`, requiring the
// extended key usage `usageOid`; false, with the last error set, when no chain could be built.
inline bool GetCertificateChain(PCCERT_CONTEXT cert, const char* usageOid, DWORD flags,
                                UniqueCertChain& chain) noexcept {
    LPSTR usages[] = {const_cast<LPSTR>(usageOid)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    return ::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, flags, nullptr, chain.put()) !=
           FALSE;
}

// A process-creation attribute list with room for `count` attributes; deleted on destruction. `get()` is null
// when it could not be initialised. The list functions (Vista and later) are looked up at run time, so that the
// import table holds nothing an older Windows lacks (such a Windows is only told which one the installer needs).
class ProcThreadAttributes {
public:
    explicit ProcThreadAttributes(DWORD count) noexcept {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        initialize_ = Lookup<InitializeFn>(kernel, "InitializeProcThreadAttributeList");
        update_ = Lookup<UpdateFn>(kernel, "UpdateProcThreadAttribute");
        delete_ = Lookup<DeleteFn>(kernel, "DeleteProcThreadAttributeList");
        if (initialize_ == nullptr || update_ == nullptr || delete_ == nullptr) {
            return;
        }
        SIZE_T size = 0;
        initialize_(nullptr, count, 0, &size);
        try {
            buffer_.resize(size);
        } catch (...) {
            return;
        }
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (size != 0 && initialize_(list, count, 0, &size)) {
            list_ = list;
        }
    }
    ProcThreadAttributes(const ProcThreadAttributes&) = delete;
    ProcThreadAttributes& operator=(const ProcThreadAttributes&) = delete;
    ~ProcThreadAttributes() {
        if (list_ != nullptr) {
            delete_(list_);
        }
    }
    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST get() const noexcept { return list_; }
    // UpdateProcThreadAttribute on this list; false (with the last error set) when the list does not exist.
    [[nodiscard]] bool Update(DWORD_PTR attribute, void* value, SIZE_T size) const noexcept {
        if (list_ == nullptr) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return false;
        }
        return update_(list_, 0, attribute, value, size, nullptr, nullptr) != FALSE;
    }

private:
    using InitializeFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
    using UpdateFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
    using DeleteFn = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);
    template <class Fn> static Fn Lookup(HMODULE module, const char* name) noexcept {
        return module == nullptr ? nullptr
                                 : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    }

    InitializeFn initialize_ = nullptr;
    UpdateFn update_ = nullptr;
    DeleteFn delete_ = nullptr;
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The provider state of one WinVerifyTrust verification (WTD_STATEACTION_VERIFY), closed on destruction.
// `data` must outlive the owner.
class WinTrustState {
public:
    WinTrustState(GUID action, WINTRUST_DATA& data) noexcept : action_(action), data_(&data) {}
    WinTrustState(const WinTrustState&) = delete;
    WinTrustState& operator=(const WinTrustState&) = delete;
    ~WinTrustState() {
        if (data_->hWVTStateData != nullptr) {
            data_->dwStateAction = WTD_STATEACTION_CLOSE;
            ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, data_);
        }
    }

private:
    GUID action_;
    WINTRUST_DATA* data_;
};

// COM interface pointer: one reference, released on destruction.
template <class T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    [[nodiscard]] T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (p_ != nullptr) {
            std::exchange(p_, nullptr)->Release();
        }
    }
    [[nodiscard]] T** put() noexcept {
        reset();
        return &p_;
    }
    [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// COM initialisation of the calling thread, undone on destruction when it succeeded.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept : hr_(::CoInitializeEx(nullptr, model)) {}
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    ~ComInit() {
        if (SUCCEEDED(hr_)) {
            ::CoUninitialize();
        }
    }
    [[nodiscard]] HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

} // namespace Utils
