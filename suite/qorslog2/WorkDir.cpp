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

// mkdir -p for one absolute or relative path; true when it exists as a directory afterwards. The last folder,
// when it is made here, gets `mode` whatever the umask, and the group of the folder it is made in.
bool makePath(const std::string& path, mode_t mode = 0755)
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
    if (mkdir(path.c_str(), 0700) == 0) {
        const size_t slash = path.find_last_of('/');
        struct stat parent
        {
        };
        if (slash != std::string::npos && stat(slash == 0 ? "/" : path.substr(0, slash).c_str(), &parent) == 0) {
            [[maybe_unused]] const int rc = chown(path.c_str(), uid_t(-1), parent.st_gid);
        }
        chmod(path.c_str(), mode);
    } else if (errno != EEXIST) {
        return false;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The ring's folder: the suite's writers, the members of the working directory's group, make the ring in it
// (set-group-ID, so what they make there keeps the group); other users have no access. A folder this process
// owns that still gives others access (made before this rule) loses it.
bool makeRingFolder(const std::string& path)
{
    if (!makePath(path, 02770)) {
        return false;
    }
    struct stat st
    {
    };
    if (stat(path.c_str(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 0007) != 0) {
        chmod(path.c_str(), st.st_mode & 07770);
    }
    return true;
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
    // A working directory made here gives other users no access; its group may reach the ring's folder.
    if ((path.size() > 1 && !makePath(path.substr(0, path.size() - 1), 0750))
        || access(path.c_str(), W_OK | X_OK) != 0) {
        return QORSLOG_ERR_WORKDIR;
    }
    for (const char* sub : {"CfgCache", "Debug"}) {
        if (!makePath(path + sub)) {
            return QORSLOG_ERR_WORKDIR;
        }
    }
    if (!makeRingFolder(path + "EventLog")) {
        return QORSLOG_ERR_WORKDIR;
    }
    info.nativePath = path;
    info.gbkPath = gbk;
    return QORSLOG_OK;
}

} // namespace qorslog
