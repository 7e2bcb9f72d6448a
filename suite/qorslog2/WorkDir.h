// SPDX-License-Identifier: MIT
#pragma once

// The suite's working directory: where it is, and making sure it and its folders exist.

#include <string>

namespace qorslog {

struct WorkDirInfo
{
    std::string nativePath; // file-system bytes, trailing '/'
    std::string gbkPath; // the same path as GBK bytes, trailing '/', at most 127 bytes
};

// Resolves $QORVANE_WORKDIR or $HOME/.local/share/qorvane/, creates it with CfgCache/, Debug/ and EventLog/,
// and checks that it can be written. Returns 0 or a negative result code.
int openWorkDir(WorkDirInfo& info);

// Converts between UTF-8 and GBK (GB18030) with iconv; false when the text cannot be converted.
bool utf8ToGbk(const std::string& utf8, std::string& gbk);
bool gbkToUtf8(const std::string& gbk, std::string& utf8);

} // namespace qorslog
