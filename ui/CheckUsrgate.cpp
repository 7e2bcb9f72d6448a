// SPDX-License-Identifier: MIT
#include "CheckUsrgate.h"

#include "GbkCodec.h"
#include "MLEngine.h"
#include "MessageBoxes.h"

#include <QCoreApplication>
#include <QFile>
#include <cstring>
#include <dlfcn.h>
#include <utility>

namespace {

using InitializeFn = int32_t (*)(int32_t mode, const char* storePath);
using LoginDlgFn = int32_t (*)(
    int32_t reserved, char* userName, int32_t userSize, char* password, int32_t passwordSize);
using VerifyFn = int32_t (*)(
    const char* userName, const char* password, uint8_t* reserved, int32_t* rights, int32_t* count);
using FinalizeFn = void (*)();

// The library handle for the length of one check.
class LoadedLibrary
{
public:
    explicit LoadedLibrary(const QStringList& candidates)
    {
        for (const QString& candidate : candidates) {
            m_handle = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
            if (m_handle) {
                break;
            }
        }
    }
    ~LoadedLibrary()
    {
        if (m_handle) {
            ::dlclose(m_handle);
        }
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool isLoaded() const { return m_handle != nullptr; }
    template <class Fn>
    Fn entry(const char* name) const
    {
        return reinterpret_cast<Fn>(::dlsym(m_handle, name));
    }

private:
    void* m_handle = nullptr;
};

// Wipes a credentials buffer so the password does not stay in memory after the check.
void wipe(char* buffer, size_t size)
{
    volatile char* p = buffer;
    for (size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

} // namespace

bool HasRight(const int32_t (&rights)[RightsCapacity], int32_t count, int32_t rightCode)
{
    // The whole array may be used: a count of exactly 100 is searched too.
    if (count < 1 || count > RightsCapacity) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (rights[i] == 0) {
            return false;
        }
        if (rights[i] == rightCode) {
            return true;
        }
    }
    return false;
}

TCheckUsrgate::TCheckUsrgate(QStringList libraryCandidates, QString storePath)
    : m_candidates(std::move(libraryCandidates))
    , m_storePath(std::move(storePath))
{
}

QStringList TCheckUsrgate::defaultCandidates()
{
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/libUsrgate.so"), QStringLiteral("libUsrgate.so")};
}

bool TCheckUsrgate::CheckExitRight(QWidget* parent, int32_t rightCode, bool& granted) const
{
    granted = false;
    bool decided = false;
    const LoadedLibrary library(m_candidates);
    if (!library.isLoaded()) {
        return false;
    }
    const auto initialize = library.entry<InitializeFn>("UGT_Initialize");
    const auto loginDlg = library.entry<LoginDlgFn>("UGT_LoginDlg");
    const auto verify = library.entry<VerifyFn>("UGT_VerifyUsrPwdReadAuths");
    const auto finalize = library.entry<FinalizeFn>("UGT_Finalize");

    char userName[256] = {};
    char password[256] = {};
    [&] {
        if (initialize) {
            const QByteArray path = QFile::encodeName(m_storePath);
            if (initialize(2, path.constData()) != 0) {
                return;
            }
            decided = true;
        }
        if (loginDlg && loginDlg(0, userName, sizeof userName, password, sizeof password) != 0) {
            return; // cancelled: no message
        }
        // The library may fill the buffers to the brim; they are read as NUL-terminated texts.
        userName[sizeof userName - 1] = 0;
        password[sizeof password - 1] = 0;
        if (verify) {
            int32_t rights[RightsCapacity] = {};
            int32_t count = RightsCapacity;
            uint8_t reserved = 0;
            if (verify(userName, password, &reserved, rights, &count) != 0) {
                MessageBoxes::error(parent, GetLangText(LangText::Strings_CheckUsrgate::Str1));
            } else if (HasRight(rights, count, rightCode)) {
                granted = true;
            } else {
                MessageBoxes::error(parent, GetLangText(LangText::Strings_CheckUsrgate::Str0));
            }
        }
    }();
    wipe(password, sizeof password);
    if (finalize) {
        finalize();
    }
    return decided;
}
