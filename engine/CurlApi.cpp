#include "CurlApi.h"

#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace {

template <class Function>
bool resolve(void* library, const char* name, Function& function, QString* error)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (function == nullptr && error) {
        *error = QStringLiteral("The mail library lacks %1").arg(QString::fromLatin1(name));
    }
    return function != nullptr;
}

} // namespace

bool LoadCurlApi(const char* fileName, TCurlApi& api, QString* error)
{
    // Local scope: its dependencies stay out of the symbol search of everything loaded later. Never closed, as
    // curl's set-up cannot be undone safely while other libraries may still hold OpenSSL state.
    void* library = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (error) {
            const char* reason = ::dlerror();
            *error = QStringLiteral("The mail library %1 cannot be loaded: %2")
                         .arg(QString::fromLocal8Bit(fileName), QString::fromLocal8Bit(reason ? reason : "unknown"));
        }
        return false;
    }
    TCurlApi loaded;
    const bool complete = resolve(library, "curl_global_init", loaded.global_init, error)
        && resolve(library, "curl_easy_init", loaded.easy_init, error)
        && resolve(library, "curl_easy_setopt", loaded.easy_setopt, error)
        && resolve(library, "curl_easy_perform", loaded.easy_perform, error)
        && resolve(library, "curl_easy_getinfo", loaded.easy_getinfo, error)
        && resolve(library, "curl_easy_strerror", loaded.easy_strerror, error)
        && resolve(library, "curl_easy_cleanup", loaded.easy_cleanup, error)
        && resolve(library, "curl_slist_append", loaded.slist_append, error)
        && resolve(library, "curl_slist_free_all", loaded.slist_free_all, error)
        && resolve(library, "curl_mime_init", loaded.mime_init, error)
        && resolve(library, "curl_mime_free", loaded.mime_free, error)
        && resolve(library, "curl_mime_addpart", loaded.mime_addpart, error)
        && resolve(library, "curl_mime_data", loaded.mime_data, error)
        && resolve(library, "curl_mime_filedata", loaded.mime_filedata, error)
        && resolve(library, "curl_mime_filename", loaded.mime_filename, error)
        && resolve(library, "curl_mime_type", loaded.mime_type, error)
        && resolve(library, "curl_mime_encoder", loaded.mime_encoder, error)
        && resolve(library, "curl_mime_headers", loaded.mime_headers, error);
    if (!complete) {
        ::dlclose(library); // nothing of it has run yet
        return false;
    }
    if (loaded.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        if (error) {
            *error =
                QStringLiteral("The mail library %1 could not be initialised").arg(QString::fromLocal8Bit(fileName));
        }
        return false;
    }
    api = loaded;
    return true;
}

const TCurlApi* CurlApi(QString* error)
{
    // A failed load is tried again at the next send, so installing the library mends a running station.
    static std::mutex mutex;
    static TCurlApi api;
    static std::atomic<bool> loaded{false};
    if (loaded.load(std::memory_order_acquire)) {
        return &api;
    }
    const std::lock_guard lock(mutex);
    if (!loaded.load(std::memory_order_relaxed)) {
        if (!LoadCurlApi("libcurl.so.4", api, error)) {
            return nullptr;
        }
        loaded.store(true, std::memory_order_release);
    }
    return &api;
}
