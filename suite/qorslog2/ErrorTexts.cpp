// SPDX-License-Identifier: MIT
// The library's result texts, kept here in UTF-8 and converted to GBK once.

#include "WorkDir.h"
#include "qorslog2.h"

#include <array>
#include <cstdint>
#include <string>

namespace {

struct ErrorText
{
    int32_t code;
    const char* utf8;
};

constexpr ErrorText Texts[] = {
    {QORSLOG_OK, "操作成功"},
    {QORSLOG_ERR_WORKDIR, "工作目录不存在、路径过长或无法写入"},
    {QORSLOG_ERR_RING_IO, "事件库文件无法打开、读取或映射"},
    {QORSLOG_ERR_RING_FORMAT, "事件库文件大小或格式标识不符，文件已保留，未作改动"},
    {QORSLOG_ERR_NOT_INIT, "事件日志库尚未初始化"},
    {QORSLOG_ERR_RIGHTS, "用户权限库无法使用"},
    {QORSLOG_ERR_LOGIN, "后台机尚未登录"},
    {QORSLOG_ERR_NETWORK, "网络中断或后台程序未运行"},
    {QORSLOG_ERR_ARGUMENT, "参数错误（事件类型、级别或文本不合法）"},
    {QORSLOG_ERR_RING_BUSY, "事件库文件被另一进程锁定，超过 1 秒未释放，事件未写入"},
};
constexpr const char* UnknownText = "未知错误";
constexpr size_t TextCount = sizeof Texts / sizeof Texts[0];

const char* utf8Text(int32_t code)
{
    for (const ErrorText& t : Texts) {
        if (t.code == code) {
            return t.utf8;
        }
    }
    return UnknownText;
}

// GBK forms, built on first use (function-local statics are initialised once, thread-safely).
const std::array<std::string, TextCount + 1>& gbkTexts()
{
    static const std::array<std::string, TextCount + 1> texts = [] {
        std::array<std::string, TextCount + 1> out;
        for (size_t i = 0; i <= TextCount; ++i) {
            const char* utf8 = i < TextCount ? Texts[i].utf8 : UnknownText;
            if (!qorslog::utf8ToGbk(utf8, out[i])) {
                out[i].assign(1, '?');
            }
        }
        return out;
    }();
    return texts;
}

} // namespace

extern "C" const char* GetErrorText(int32_t code)
{
    const auto& gbk = gbkTexts();
    for (size_t i = 0; i < TextCount; ++i) {
        if (Texts[i].code == code) {
            return gbk[i].c_str();
        }
    }
    return gbk[TextCount].c_str();
}

extern "C" const char* GetErrorTextUtf8(int32_t code)
{
    return utf8Text(code);
}
