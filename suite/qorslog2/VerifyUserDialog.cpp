// SPDX-License-Identifier: MIT
// VerifyUserDialog: the suite's login dialog, checked against the user store in the working directory.

#include "GbkCodec.h"
#include "LoginDlg.h"
#include "UserStore.h"
#include "qorslog2.h"

#include <QWidget>
#include <cstring>

extern "C" int32_t VerifyUserDialog(void* owner, char* userName, int32_t* rightCode, const char* captionGbk)
{
    if (!userName || !rightCode) {
        return 0;
    }
    std::memset(userName, 0, 21);
    // The working directory as this library found it; before InitLogLibrary, by the same rule.
    char workDirGbk[128] = {};
    GetWorkDir(workDirGbk);
    const QString workDir = workDirGbk[0] ? Gbk::fieldText(workDirGbk) : UserStore::SuiteWorkDir();
    if (workDir.isEmpty()) {
        return 0;
    }
    const QString caption = captionGbk ? Gbk::decode(captionGbk, std::strlen(captionGbk)) : QString();
    QByteArray name;
    if (!UserStore::VerifyUserWithDialog(
            static_cast<QWidget*>(owner), caption, UserStore::StorePathIn(workDir), *rightCode, &name)) {
        return 0;
    }
    Gbk::storeFieldBytes(userName, 21, name); // a stored name: at most 20 bytes, never cut
    return 1;
}
