// SPDX-License-Identifier: MIT
#include "WorkDir.h"

#include "qorslog2.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorslog {

namespace {

bool convert(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    out.assign(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0) {
        out.clear();
        return false;
    }
    out.resize(out.size() - dstLeft);
    return true;
}

// mkdir -p for one absolute or relative path; true when it exists as a directory afterwards.
bool makePath(const std::string& path)
{
    struct stat st
    {
    };
    if (stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') {
            continue;
        }
        const std::string prefix = path.substr(0, i);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool utf8ToGbk(const std::string& utf8, std::string& gbk)
{
    return convert("GB18030", "UTF-8", utf8, gbk);
}

bool gbkToUtf8(const std::string& gbk, std::string& utf8)
{
    return convert("UTF-8", "GB18030", gbk, utf8);
}

int openWorkDir(WorkDirInfo& info)
{
    info = {};
    std::string path;
    const char* env = getenv("QORVANE_WORKDIR");
    if (env && *env) {
        path = env;
    } else {
        const char* home = getenv("HOME");
        if (!home || !*home) {
            return QORSLOG_ERR_WORKDIR;
        }
        path = home;
        if (path.back() != '/') {
            path += '/';
        }
        path += ".local/share/qorvane/";
    }
    if (path.front() != '/') {
        // A relative name would change meaning with the current directory; hold it as an absolute path.
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            return QORSLOG_ERR_WORKDIR;
        }
        path = std::string(cwd) + (cwd[1] ? "/" : "") + path;
    }
    if (path.back() != '/') {
        path += '/';
    }
    // Callers hold the path in a 128-byte buffer with its NUL.
    std::string gbk;
    if (!utf8ToGbk(path, gbk) || gbk.size() > 127) {
        return QORSLOG_ERR_WORKDIR;
    }
    if ((path.size() > 1 && !makePath(path.substr(0, path.size() - 1))) || access(path.c_str(), W_OK | X_OK) != 0) {
        return QORSLOG_ERR_WORKDIR;
    }
    for (const char* sub : {"CfgCache", "Debug", "EventLog"}) {
        if (!makePath(path + sub)) {
            return QORSLOG_ERR_WORKDIR;
        }
    }
    info.nativePath = path;
    info.gbkPath = gbk;
    return QORSLOG_OK;
}

} // namespace qorslog
