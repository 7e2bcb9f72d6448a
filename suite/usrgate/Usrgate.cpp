// SPDX-License-Identifier: MIT
#include "usrgate.h"

#include "GbkCodec.h"
#include "LoginDlg.h"
#include "UserVerify.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <cstring>

namespace {

struct TGateState
{
    QMutex Lock;
    bool Ready = false;
    QString StorePath;
};

TGateState& state()
{
    static TGateState gate;
    return gate;
}

int32_t storeCode(UserStore::LoadStatus status)
{
    switch (status) {
    case UserStore::LoadStatus::Ok:
        return UGT_OK;
    case UserStore::LoadStatus::Missing:
        return UGT_ERR_STORE_MISSING;
    case UserStore::LoadStatus::Unreadable:
        return UGT_ERR_STORE_UNREADABLE;
    case UserStore::LoadStatus::Malformed:
        break;
    }
    return UGT_ERR_STORE_MALFORMED;
}

// Copies bytes and a NUL into a caller's buffer of size bytes, zeroing the rest; false when they do not fit.
bool fillBuffer(char* buffer, int32_t size, const QByteArray& bytes)
{
    std::memset(buffer, 0, static_cast<size_t>(size));
    if (bytes.size() >= size || bytes.contains('\0')) {
        return false;
    }
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

} // namespace

extern "C" int32_t UGT_Initialize(int32_t mode, const char* storePath)
{
    TGateState& gate = state();
    QMutexLocker locker(&gate.Lock);
    gate.Ready = false;
    gate.StorePath.clear();
    if (mode != UGT_MODE_CLIENT) {
        return UGT_ERR_ARGUMENT;
    }
    QStringList candidates;
    if (storePath && *storePath) {
        // A path is file-system bytes to most callers, but GBK to those that built it from the suite's GBK
        // working directory; the two differ only for non-ASCII paths, so try both.
        const QByteArray bytes(storePath);
        candidates.append(QFile::decodeName(bytes));
        if (const QString gbk = Gbk::decode(bytes); gbk != candidates.first()) {
            candidates.append(gbk);
        }
    } else if (const QString workDir = UserStore::SuiteWorkDir(); !workDir.isEmpty()) {
        candidates.append(UserStore::StorePathIn(workDir));
    } else {
        return UGT_ERR_STORE_MISSING; // no working directory known: never fall back to the current directory
    }
    QString path = candidates.first();
    UserStore::LoadStatus status = UserStore::Load(path).Status;
    if (status == UserStore::LoadStatus::Missing && candidates.size() > 1) {
        path = candidates.last();
        status = UserStore::Load(path).Status;
    }
    const int32_t code = storeCode(status);
    if (code == UGT_OK) {
        gate.Ready = true;
        gate.StorePath = path;
    }
    return code;
}

extern "C" int32_t UGT_LoginDlg(
    int32_t reserved, char* userName, int32_t userSize, char* password, int32_t passwordSize)
{
    Q_UNUSED(reserved);
    if (!userName || !password || userSize < 1 || passwordSize < 1) {
        return UGT_ERR_ARGUMENT;
    }
    userName[0] = '\0';
    password[0] = '\0';
    QString user;
    QString secret;
    const UserStore::LoginOutcome outcome = UserStore::RunLoginDialog(nullptr, QString(), &user, &secret);
    if (outcome != UserStore::LoginOutcome::Entered) {
        return outcome == UserStore::LoginOutcome::NoGui ? UGT_ERR_NO_GUI : UGT_CANCELLED;
    }
    const QByteArray name = Gbk::encode(user);
    QByteArray secretGbk = Gbk::encode(secret);
    UserStore::WipeString(secret);
    const bool fits = fillBuffer(userName, userSize, name) && fillBuffer(password, passwordSize, secretGbk);
    UserStore::WipeBytes(secretGbk);
    if (!fits) {
        std::memset(userName, 0, static_cast<size_t>(userSize));
        std::memset(password, 0, static_cast<size_t>(passwordSize));
        return UGT_ERR_TOO_LONG;
    }
    return UGT_OK;
}

extern "C" int32_t UGT_VerifyUsrPwdReadAuths(
    const char* userName, const char* password, uint8_t* reserved, int32_t* rights, int32_t* count)
{
    if (reserved) {
        *reserved = 0;
    }
    if (!count) {
        return UGT_ERR_ARGUMENT;
    }
    const int32_t capacity = *count;
    *count = 0;
    if (!userName || !password || capacity < 0 || (capacity > 0 && !rights)) {
        return UGT_ERR_ARGUMENT;
    }
    TGateState& gate = state();
    QMutexLocker locker(&gate.Lock);
    if (!gate.Ready) {
        return UGT_ERR_NOT_INIT;
    }
    // Read no further than one byte past what a stored entry can hold: longer texts are refused by length.
    const QByteArray name(userName, static_cast<qsizetype>(strnlen(userName, UserStore::MaxNameBytes + 1)));
    QByteArray secret(password, static_cast<qsizetype>(strnlen(password, UserStore::MaxPasswordBytes + 1)));
    const UserStore::TVerifyResult verified = UserStore::VerifyUser(gate.StorePath, name, secret);
    UserStore::WipeBytes(secret);
    if (verified.Status == UserStore::VerifyStatus::NotReady) {
        return storeCode(verified.StoreStatus);
    }
    if (verified.Status != UserStore::VerifyStatus::Valid) {
        return UGT_INVALID;
    }
    const int32_t delivered = std::min<int32_t>(capacity, static_cast<int32_t>(verified.Rights.size()));
    for (int32_t i = 0; i < delivered; ++i) {
        rights[i] = verified.Rights[i];
    }
    *count = delivered;
    if (reserved) {
        *reserved = 1;
    }
    return UGT_OK;
}

extern "C" void UGT_Finalize(void)
{
    TGateState& gate = state();
    QMutexLocker locker(&gate.Lock);
    gate.Ready = false;
    UserStore::WipeString(gate.StorePath);
}
