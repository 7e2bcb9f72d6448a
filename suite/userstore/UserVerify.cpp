// SPDX-License-Identifier: MIT
#include "UserVerify.h"

#include "GbkCodec.h"

#include <sodium.h>

namespace UserStore {

namespace {

// Hash of a random, forgotten password with the same limits as real entries: an unknown name is verified
// against it so that it costs the same time as a known one.
constexpr char DummyHash[] =
    "$argon2id$v=19$m=65536,t=2,p=1$q6ybT4C07rjFLBfJHHDq7A$IZc/P3uJhhbvN2u8eySfeqqrmxhFYEhICmXT6Qa0i1s";

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool verifyHash(const QByteArray& hash, const QByteArray& password)
{
    // crypto_pwhash_str_verify reads a NUL-terminated string; QByteArray data always carries one.
    return crypto_pwhash_str_verify(
               hash.constData(), password.constData(), static_cast<unsigned long long>(password.size()))
        == 0;
}

} // namespace

std::optional<QByteArray> HashPassword(const QByteArray& passwordGbk)
{
    if (!sodiumReady()) {
        return std::nullopt;
    }
    char out[crypto_pwhash_STRBYTES] = {};
    if (crypto_pwhash_str(out,
            passwordGbk.constData(),
            static_cast<unsigned long long>(passwordGbk.size()),
            crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0) {
        return std::nullopt;
    }
    return QByteArray(out);
}

TVerifyResult VerifyUser(const QString& storePath, const QByteArray& nameGbk, const QByteArray& passwordGbk)
{
    TVerifyResult result;
    if (!sodiumReady()) {
        return result;
    }
    TLoadResult loaded = Load(storePath);
    result.StoreStatus = loaded.Status;
    if (loaded.Status != LoadStatus::Ok) {
        return result;
    }
    // Names compare as the GBK bytes the caller gave: a stored name is always a valid GBK text, so bytes that
    // are not one can never match by decoding to a look-alike.
    const TUserEntry* found = nullptr;
    if (nameGbk.size() <= MaxNameBytes && !nameGbk.contains('\0')) {
        for (const TUserEntry& user : loaded.Table.Users) {
            if (Gbk::encode(user.Name) == nameGbk) {
                found = &user;
                break;
            }
        }
    }
    const bool passwordFits = passwordGbk.size() <= MaxPasswordBytes && !passwordGbk.contains('\0');
    const bool match = verifyHash(found ? found->Hash : QByteArray(DummyHash), passwordGbk);
    if (found && passwordFits && match) {
        result.Status = VerifyStatus::Valid;
        result.Rights = found->Rights;
    } else {
        result.Status = VerifyStatus::Invalid;
    }
    return result;
}

void WipeBytes(QByteArray& bytes)
{
    if (!bytes.isEmpty()) {
        sodium_memzero(bytes.data(), static_cast<size_t>(bytes.size())); // data() detaches: wipes our copy
    }
    bytes.clear();
}

void WipeString(QString& text)
{
    if (!text.isEmpty()) {
        sodium_memzero(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
    }
    text.clear();
}

} // namespace UserStore
