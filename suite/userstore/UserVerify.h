// SPDX-License-Identifier: MIT
#pragma once

// Password hashing and user verification against the store. Passwords are the GBK bytes the suite's buffers
// carry; only their Argon2id hashes are ever kept.

#include "UserStore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace UserStore {

// crypto_pwhash_str with the interactive limits; nullopt when libsodium cannot start or runs out of memory.
std::optional<QByteArray> HashPassword(const QByteArray& passwordGbk);

enum class VerifyStatus
{
    Valid,
    Invalid,
    NotReady
};

struct TVerifyResult
{
    VerifyStatus Status = VerifyStatus::NotReady;
    QList<int32_t> Rights; // the user's rights when Valid
    LoadStatus StoreStatus = LoadStatus::Missing; // why the store is NotReady
};

// Checks a user name and password (both GBK) against the store file. Every name, known or not, costs exactly
// one hash verification, so the time taken does not tell which names exist. A store that is missing,
// unreadable or malformed gives NotReady and is not touched.
TVerifyResult VerifyUser(const QString& storePath, const QByteArray& nameGbk, const QByteArray& passwordGbk);

// Overwrites the bytes of a buffer (sodium_memzero), for password copies.
void WipeBytes(QByteArray& bytes);
void WipeString(QString& text);

} // namespace UserStore
