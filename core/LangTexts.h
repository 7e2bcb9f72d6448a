// SPDX-License-Identifier: MIT
#pragma once

// Every text the station shows or logs, with its language-file section, key and built-in default. Code asks
// for a text by one of these names (GetLangText(LangText::QorsmailMain_Str::Str24)), so a default can never be
// mistyped or drift apart between two callers. Defaults are UTF-8 here; the language file itself is GBK.

namespace LangText {

struct Entry
{
    const char* Section;
    const char* Key;
    const char* Default;
};

// A text whose built-in default the code gives at each look-up: mostly the join of the older texts it once joined
// by hand (so a site's language file that sets those pieces keeps them), else a text from elsewhere (the
// event-log library's). A language file's value replaces the whole default.
struct JoinedEntry
{
    const char* Section;
    const char* Key;
};

#define QORSMAIL_TEXT(section, key, text) inline constexpr Entry key{#section, #key, text};
// A text with a count in it: the key holds the plural form (in Chinese the only one), the key with "_1" the
// singular (GetCountText).
#define QORSMAIL_COUNT_TEXT(section, key, text) QORSMAIL_TEXT(section, key, text)
#define QORSMAIL_JOINED(section, key) inline constexpr JoinedEntry key{#section, #key};
#define QORSMAIL_JOINED_COUNT(section, key) QORSMAIL_JOINED(section, key)

namespace EventMail_Str {
QORSMAIL_TEXT(EventMail_Str, Str0, "Qorvane 事件报告邮件")
QORSMAIL_TEXT(EventMail_Str, Str1, "标题名称不能为空！")
QORSMAIL_TEXT(EventMail_Str, Str2, "收件人地址未填写或输入有误，请检查！")
QORSMAIL_TEXT(EventMail_Str, Str4, "退出将放弃所做的修改，是否真的退出？")
} // namespace EventMail_Str

namespace ReportMail_Str {
QORSMAIL_TEXT(ReportMail_Str, Str0, "Qorvane 报表邮件")
QORSMAIL_TEXT(ReportMail_Str, Str1, "标题名称不能为空！")
QORSMAIL_TEXT(ReportMail_Str, Str2, "收件人地址未填写或输入有误，请检查！")
QORSMAIL_TEXT(ReportMail_Str, Str3, "需要自动发送的报表文件尚未指定，请检查！")
QORSMAIL_TEXT(ReportMail_Str, Str4, "月份填写有误！")
QORSMAIL_TEXT(ReportMail_Str, Str5, "日填写有误！")
QORSMAIL_TEXT(ReportMail_Str, Str6, "小时填写有误！")
QORSMAIL_TEXT(ReportMail_Str, Str7, "分钟填写有误！")
QORSMAIL_TEXT(ReportMail_Str, Str8, "数字填写有误")
QORSMAIL_TEXT(ReportMail_Str, Str9, "退出将放弃所做的修改，是否真的退出？")
QORSMAIL_TEXT(ReportMail_Str, Str10, "EXCEL表格(*.xls)|*.xls|JPEG报表图像(*.jpg,*.jpeg)|*.jpg;*.jpeg")
QORSMAIL_TEXT(ReportMail_Str, Str11, "所选定的文件不存在，请重新选择！")
} // namespace ReportMail_Str

namespace SMTPSetup_Str {
QORSMAIL_TEXT(SMTPSetup_Str, Str0, "服务器地址不能为空！")
QORSMAIL_TEXT(SMTPSetup_Str, Str1, "SMTP 端口号填写有误，必须在 1-65535之间")
QORSMAIL_TEXT(SMTPSetup_Str, Str2, "本地EMAIL地址不能为空！")
QORSMAIL_TEXT(SMTPSetup_Str, Str3, "本地EMAIL 地址不是一个有效的EMAIL地址，请检查！")
QORSMAIL_TEXT(SMTPSetup_Str, Str4, "邮件发送服务器需要身份认证，请输入用户名和口令")
QORSMAIL_TEXT(SMTPSetup_Str, Str5, "端口号填写有误！")
QORSMAIL_TEXT(SMTPSetup_Str, Str6, "退出将放弃所做的修改，是否真的退出？")
} // namespace SMTPSetup_Str

namespace AddressBook_Str {
QORSMAIL_TEXT(AddressBook_Str, Str0, "退出将放弃所做的修改，是否真的退出？")
QORSMAIL_TEXT(AddressBook_Str, Str1, "EMAIL地址格式有误，请检查后重新输入")
QORSMAIL_TEXT(AddressBook_Str, Str2, " 已存在，请重新输入一个新的姓名！")
QORSMAIL_TEXT(AddressBook_Str, Str3, "修改姓名")
QORSMAIL_TEXT(AddressBook_Str, Str4, "请输入新的姓名： ")
QORSMAIL_TEXT(AddressBook_Str, Str5, "姓名不能空，本次修改已取消！")
QORSMAIL_TEXT(AddressBook_Str, Str6, " 已存在，请重新输入一个新的姓名！")
QORSMAIL_TEXT(AddressBook_Str, Str7, "修改EMAIl地址")
QORSMAIL_TEXT(AddressBook_Str, Str8, "请输入新的地址：  ")
QORSMAIL_TEXT(AddressBook_Str, Str9, "输入的地址有误，请检查！")
QORSMAIL_TEXT(AddressBook_Str, Str10, "确认删除")
} // namespace AddressBook_Str

namespace QorsmailMain_Str {
QORSMAIL_TEXT(QorsmailMain_Str, Str0, "Qorsmail 启动")
QORSMAIL_TEXT(QorsmailMain_Str, Str1, "邮件自动发送功能已启动！")
QORSMAIL_TEXT(QorsmailMain_Str, Str2, "Qorsmail 退出运行")
QORSMAIL_TEXT(QorsmailMain_Str, Str4, "程序退出后，将无法自动发送事件和报表邮件，是否真的退出？")
QORSMAIL_TEXT(QorsmailMain_Str, Str5, "符合以下类型：")
QORSMAIL_TEXT(QorsmailMain_Str, Str6, "包含文字：")
QORSMAIL_TEXT(QorsmailMain_Str, Str7, "符合以下等级：")
QORSMAIL_TEXT(QorsmailMain_Str, Str8, "事故  ")
QORSMAIL_TEXT(QorsmailMain_Str, Str9, "故障  ")
QORSMAIL_TEXT(QorsmailMain_Str, Str10, "一般事件  ")
QORSMAIL_TEXT(QorsmailMain_Str, Str11, "其他事件  ")
QORSMAIL_TEXT(QorsmailMain_Str, Str12, "每天自动发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str13, "每月自动发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str14, "每年自动发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str15, "等间隔时间发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str16, "不自动发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str17, "年")
QORSMAIL_TEXT(QorsmailMain_Str, Str18, "月")
QORSMAIL_TEXT(QorsmailMain_Str, Str19, "日")
QORSMAIL_TEXT(QorsmailMain_Str, Str20, "时")
QORSMAIL_TEXT(QorsmailMain_Str, Str21, "分")
QORSMAIL_TEXT(QorsmailMain_Str, SendInterval_Str0, "年")
QORSMAIL_TEXT(QorsmailMain_Str, SendInterval_Str1, "月")
QORSMAIL_TEXT(QorsmailMain_Str, SendInterval_Str2, "日")
QORSMAIL_TEXT(QorsmailMain_Str, SendInterval_Str3, "时")
QORSMAIL_TEXT(QorsmailMain_Str, SendInterval_Str4, "分")
QORSMAIL_TEXT(QorsmailMain_Str, Str22, "您必须通过Setuphall才能修改邮件发送设置！")
QORSMAIL_TEXT(QorsmailMain_Str, Str23, "确认删除")
QORSMAIL_TEXT(QorsmailMain_Str, Str24, "发送事件邮件")
QORSMAIL_TEXT(QorsmailMain_Str, Str25, " 成功！")
QORSMAIL_TEXT(QorsmailMain_Str, Str26, "失败！")
QORSMAIL_TEXT(QorsmailMain_Str, Str27, "发送报表邮件")
QORSMAIL_TEXT(QorsmailMain_Str, Str28, " 时未找到报表文件，取消发送！")
QORSMAIL_TEXT(QorsmailMain_Str, Str29, "QORVANE 邮件中心")
QORSMAIL_TEXT(QorsmailMain_Str, Str30, "未知")
QORSMAIL_TEXT(QorsmailMain_Str, Str31, "用户验证")
QORSMAIL_TEXT(QorsmailMain_Str, Str32, "正在取消发送工作")
QORSMAIL_TEXT(QorsmailMain_Str, Str33, "取消发送失败")
QORSMAIL_TEXT(QorsmailMain_Str, Str34, "无法取消正在进行的邮件发送，请检查！")
QORSMAIL_TEXT(QorsmailMain_Str, Str35, "取消发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str36, "恢复发送")
QORSMAIL_TEXT(QorsmailMain_Str, Str37, "事件邮件")
QORSMAIL_TEXT(QorsmailMain_Str, Str38, "报表邮件")
} // namespace QorsmailMain_Str

namespace Strings_CheckUsrgate {
QORSMAIL_TEXT(Strings_CheckUsrgate, Str0, "您无此退出权限！")
QORSMAIL_TEXT(Strings_CheckUsrgate, Str1, "输入有误，不能退出！")
} // namespace Strings_CheckUsrgate

namespace program_Str {
QORSMAIL_TEXT(program_Str, program_Str0, "找不到系统设置文件，请检查工作目录！")
QORSMAIL_TEXT(program_Str, program_Str1, "调用权限管理程序出错，请检查系统文件！")
QORSMAIL_TEXT(program_Str, program_Str2, "创建系统文件出错，请检查！")
QORSMAIL_TEXT(program_Str, program_Str3, "网络未连通，或后台未启动，请检查！")
QORSMAIL_TEXT(program_Str, program_Str4, "后台机未正确登录，请检查！")
QORSMAIL_TEXT(program_Str, program_Str5, "启动出错")
} // namespace program_Str

// Texts of ours for the marks kept across a restart (the file of pending mails in the working directory).
// %1 is the kind of mail (Format_Str Str26 or Str27), %2 the task's title.
namespace TaskMarkStore_Str {
QORSMAIL_COUNT_TEXT(TaskMarkStore_Str, Str0, "继续发送上次运行中未发送完的%1\"%2\"（已尝试 %3 次）")
QORSMAIL_TEXT(TaskMarkStore_Str, Str1, "放弃上次运行中未发送完的%1\"%2\"：任务已被修改")
QORSMAIL_TEXT(TaskMarkStore_Str, Str2, "放弃上次运行中未发送完的%1\"%2\"：任务已不存在")
QORSMAIL_TEXT(TaskMarkStore_Str, Str3, "放弃上次运行中未发送完的%1\"%2\"：其事件已被新事件覆盖")
QORSMAIL_TEXT(TaskMarkStore_Str, Str4, "待发邮件状态文件 %1 无法读取或已损坏（%2），已改名为 %3，未恢复任何待发邮件")
QORSMAIL_TEXT(TaskMarkStore_Str, Str5, "待发邮件状态文件 %1 无法读取或已损坏（%2），且无法改名，未恢复任何待发邮件")
QORSMAIL_TEXT(TaskMarkStore_Str, Str6, "待发邮件状态文件 %1 写入失败（%2），程序退出后将无法恢复待发邮件")
} // namespace TaskMarkStore_Str

// Texts of ours for the address checks before a mail is sent (the log line continues with "——" and the subject).
namespace MailCheck_Str {
QORSMAIL_TEXT(MailCheck_Str, Str0, "发件人地址 %1 不是有效的EMAIL地址")
QORSMAIL_TEXT(MailCheck_Str, Str1, "收件人地址 %1 不是有效的EMAIL地址，未向其发送")
QORSMAIL_TEXT(MailCheck_Str, Str2, "邮件没有有效的收件人")
QORSMAIL_TEXT(MailCheck_Str, Str3, "收件人被邮件服务器拒绝：")
} // namespace MailCheck_Str

// Texts of ours for input that does not fit a 40-byte field (39 bytes of GBK; a Chinese character takes two).
namespace FieldLength_Str {
QORSMAIL_TEXT(FieldLength_Str, Str0, "姓名过长（最多39个字节，一个汉字占2个字节），本次修改已取消！")
QORSMAIL_TEXT(FieldLength_Str, Str1, "EMAIL地址过长（最多39个字节，一个汉字占2个字节），本次修改已取消！")
QORSMAIL_TEXT(FieldLength_Str, Str2, "收件人 \"%1\" 过长（最多39个字节，一个汉字占2个字节），请删除后再确定！")
} // namespace FieldLength_Str

// Texts of ours for the report mail dialog's checks.
namespace ReportMailCheck_Str {
// %1 the memo line's number, %2 the bytes an entry holds, %3 the line.
QORSMAIL_TEXT(ReportMailCheck_Str, Str0, "第 %1 行的报表文件名超过 %2 个字节，无法保存，请缩短：%3")
} // namespace ReportMailCheck_Str

// Texts of ours for events the ring no longer held when they were to be read: the log line of an overrun and the
// first body line of an event mail whose range the ring no longer holds in full.
namespace EventRing_Str {
QORSMAIL_COUNT_TEXT(EventRing_Str, Str0, "事件记录缓冲区溢出，约 %1 条事件未能检查")
QORSMAIL_COUNT_TEXT(EventRing_Str, Str1, "此前还有 %1 条事件已被新事件覆盖，未能列出")
} // namespace EventRing_Str

// Texts of ours for faults of the ring file itself, each logged once when it begins (and once when it ends);
// %1 is the ring file's path. Str5 is the first body line of an event mail whose ring is gone.
namespace RingWatch_Str {
QORSMAIL_TEXT(
    RingWatch_Str, Str0, "事件环 %1 被一个写入程序长时间占用（可能已被暂停），暂不读取事件，已到期的邮件照常发送")
QORSMAIL_TEXT(RingWatch_Str, Str1, "事件环 %1 不存在（已被删除？），暂不读取事件，等待新的事件环")
QORSMAIL_TEXT(RingWatch_Str, Str2, "事件环 %1 已损坏或被截断，暂不读取事件，等待有效的事件环")
QORSMAIL_TEXT(RingWatch_Str, Str3, "已打开新的事件环 %1，从其第一个位置开始读取事件")
QORSMAIL_TEXT(RingWatch_Str, Str4, "事件环 %1 已恢复正常，继续读取事件")
QORSMAIL_COUNT_TEXT(RingWatch_Str, Str5, "%1 条事件所在的事件环文件已被删除、截断或替换，未能列出")
} // namespace RingWatch_Str

// Texts of ours for marks of the last run that no mark of the send loop could be: %1 is the kind of mail
// (Format_Str Str26 or Str27), %2 the task's title.
namespace MarkRestore_Str {
QORSMAIL_COUNT_TEXT(MarkRestore_Str, Str2, "另有 %1 个上次运行中未发送完的邮件因任务已不存在、已被修改或状态无效而放弃")
} // namespace MarkRestore_Str

// Texts of ours for marks of the last run that are resumed although their numbers look odd now: %1 the kind of
// mail, %2 the task's title; Str0: %3 the attempts made, %4 the MaxSendTries now; Str1: %3 the mark's time, %4
// the clock's time now.
namespace MarkResume_Str {
QORSMAIL_TEXT(MarkResume_Str, Str0, "上次运行中未发送完的%1\"%2\"已尝试 %3 次，达到现在允许的 %4 次，只再尝试一次")
QORSMAIL_TEXT(MarkResume_Str,
    Str1,
    "上次运行中未发送完的%1\"%2\"的时间 %3 晚于当前时间 %4（系统时钟可能慢了），其等待和重试从现在起计算")
} // namespace MarkResume_Str

// Texts of ours for a ring file that cannot be opened and for a ring file replaced while it was read: %1 is the
// ring file's path; Str1: %2 the events read from the file that went.
namespace RingSwitch_Str {
QORSMAIL_TEXT(RingSwitch_Str, Str0, "事件环 %1 无法打开（没有权限或读写错误），暂不读取事件，等待可以读取的事件环")
QORSMAIL_TEXT(RingSwitch_Str, Str1, "已从被删除或替换的事件环 %1 的原文件中读取其尚未读取的 %2 条事件")
QORSMAIL_TEXT(
    RingSwitch_Str, Str2, "事件环 %1 被换成了它自己的副本，副本中已读过的事件不再读取，从其第一个新事件开始读取")
} // namespace RingSwitch_Str

// Texts of ours for the export of the configuration held in memory.
namespace ConfigExport_Str {
QORSMAIL_TEXT(ConfigExport_Str, Str0, "导出配置")
QORSMAIL_TEXT(ConfigExport_Str, Str1, "JSON 配置文件 (*.json)")
QORSMAIL_TEXT(ConfigExport_Str, Str2, "%1 是本站自己的任务文件或设置文件，不能导出到该文件！")
QORSMAIL_TEXT(ConfigExport_Str, Str3, "导出配置失败：%1")
QORSMAIL_TEXT(ConfigExport_Str, Str4, "配置已导出到 %1")
} // namespace ConfigExport_Str

// Texts of ours for saving the configuration held in memory as the task file. %1 is the task file's path.
namespace ConfigSave_Str {
QORSMAIL_TEXT(ConfigSave_Str, Str0, "配置已保存到 %1")
QORSMAIL_TEXT(ConfigSave_Str, Str1, "保存配置失败：%1\n任务文件未被改动。")
QORSMAIL_TEXT(ConfigSave_Str, Str2, "保存配置失败：%1")
QORSMAIL_TEXT(ConfigSave_Str,
    Str3,
    "任务文件 %1 在本站读取之后已被修改，保存会覆盖这些修改，因此没有保存。\n可以先导出当前配置，比较后再决定。")
QORSMAIL_TEXT(ConfigSave_Str, Str4, "任务文件 %1 在本站读取之后已被修改，没有保存配置")
// %1 the settings file, %2 its keys.
QORSMAIL_TEXT(ConfigSave_Str, Str5, "配置已保存。设置文件 %1 中的以下设置会在每次启动时替代所保存的值：%2")
QORSMAIL_TEXT(ConfigSave_Str, Str6, "配置有未保存的修改，是否在退出前保存？")
QORSMAIL_TEXT(ConfigSave_Str, Str7, "程序被终止，未保存的配置修改已放弃")
QORSMAIL_TEXT(ConfigSave_Str, Str8, "退出时放弃了未保存的配置修改")
QORSMAIL_TEXT(ConfigSave_Str, Str9, "没有工作目录，无法保存配置")
QORSMAIL_TEXT(ConfigSave_Str, Str10, "保存")
QORSMAIL_TEXT(ConfigSave_Str, Str11, "不保存")
QORSMAIL_TEXT(ConfigSave_Str, Str12, "取消")
QORSMAIL_TEXT(ConfigSave_Str, Str13, "导出配置…")
} // namespace ConfigSave_Str

// Texts of ours for a start without a task file. %1 is the path the station looked for.
namespace FirstStart_Str {
QORSMAIL_TEXT(FirstStart_Str, Str0, "未找到任务文件 %1：请添加任务、设置发件箱，然后用“设置 → 保存配置”保存")
QORSMAIL_TEXT(FirstStart_Str,
    Str1,
    "还没有邮件任务。\n\n请添加事件邮件或报表邮件（任务菜单），设置发件箱（设置菜单），"
    "然后保存配置（Ctrl+S），下次启动时仍然有效。")
} // namespace FirstStart_Str

// Texts of ours for a task file that is there but did not load in whole. %1 is its path, %2 what is wrong with
// it (a diagnostic of the reader: "the version field holds 1999, not 2000").
namespace TaskFileLoad_Str {
// %3 and %4: the event and report mail tasks read in whole.
QORSMAIL_TEXT(
    TaskFileLoad_Str, Str0, "任务文件 %1 未能完整读取：%2。只使用其中完整读出的 %3 个事件邮件任务和 %4 个报表邮件任务")
QORSMAIL_TEXT(TaskFileLoad_Str,
    Str1,
    "任务文件 %1 未能完整读取：\n%2\n\n只使用其中完整读出的任务。修复或替换该文件后重新启动本站；"
    "“保存配置”会先询问，并把原文件另存为 %1.damaged-<日期>-<时间>。")
QORSMAIL_TEXT(TaskFileLoad_Str,
    Str2,
    "任务文件 %1 在启动时未能完整读取（%2）。\n保存会用当前配置替换它，原文件将另存为 "
    "%1.damaged-<日期>-<时间>。是否保存？")
QORSMAIL_TEXT(TaskFileLoad_Str, Str3, "未能完整读取的任务文件已另存为 %1")
} // namespace TaskFileLoad_Str

// Texts of ours for the first user, which the station offers to make while no user store exists: its dialog, the
// dialog's checks and the lines and hint that tell of it. %1 is the store's path where one is named.
namespace FirstUser_Str {
QORSMAIL_TEXT(FirstUser_Str,
    Str0,
    "还没有用户库 %1。停止发送和退出程序都要求用户登录。现在可以创建第一个用户，他具有退出权限（12）和停止发送权限"
    "（1025）；以后的用户用命令 qorvane-user 添加。")
QORSMAIL_TEXT(
    FirstUser_Str, Str1, "用户名须为 1 到 20 个字节（GBK 编码：20 个字母或 10 个汉字），不含控制字符，首尾不能是空格。")
QORSMAIL_TEXT(FirstUser_Str, Str2, "口令不能为空。")
QORSMAIL_TEXT(FirstUser_Str, Str3, "口令最多 255 个字节（GBK 编码）。")
QORSMAIL_TEXT(FirstUser_Str, Str4, "两次输入的口令不一致。")
QORSMAIL_TEXT(FirstUser_Str, Str5, "用户库 %1 已经存在，未创建用户。请用其中的用户登录。")
// %1 why, as the store code says it.
QORSMAIL_TEXT(FirstUser_Str, Str6, "无法创建用户：%1。")
QORSMAIL_TEXT(FirstUser_Str, Str7, "创建第一个用户失败：%1")
// %1 the user's name, %2 the store.
QORSMAIL_TEXT(FirstUser_Str, Str8, "已创建第一个用户 %1（权限 12 和 1025），用户库 %2")
QORSMAIL_TEXT(FirstUser_Str,
    Str9,
    "未找到用户库 %1：停止发送和退出要求用户登录；“停止发送”会提供创建第一个用户，其他用户用 qorvane-user add NAME "
    "12 1025 添加")
QORSMAIL_TEXT(FirstUser_Str,
    Str10,
    "保存后重新启动，任务即自动发送；之后修改任务前需先“停止发送”，这要求用户登录。还没有用户库：“停止发送”时可创建"
    "第一个用户。")
QORSMAIL_TEXT(FirstUser_Str, Str11, "无法计算口令的散列值，计算机的内存可能不足。")
} // namespace FirstUser_Str

// Texts of ours for what each task is doing (the detail panel's status line, the tree's tool tips, the status
// bar and the tray icon's tool tip).
namespace TaskStatus_Str {
QORSMAIL_TEXT(TaskStatus_Str, Str0, "状态：")
QORSMAIL_TEXT(TaskStatus_Str, Str1, "空闲")
QORSMAIL_TEXT(TaskStatus_Str, Str2, "等待发送（还有 %1 秒）")
QORSMAIL_TEXT(TaskStatus_Str, Str3, "正在发送")
QORSMAIL_TEXT(TaskStatus_Str, Str4, "第 %1 次重试，共 %2 次，下次 %3")
QORSMAIL_TEXT(TaskStatus_Str, Str5, "；上次 %1 %2")
QORSMAIL_TEXT(TaskStatus_Str, Str6, "成功")
QORSMAIL_TEXT(TaskStatus_Str, Str7, "失败：%1")
QORSMAIL_TEXT(TaskStatus_Str, Str8, "失败，已放弃：%1")
QORSMAIL_TEXT(TaskStatus_Str, Str9, "未找到报表文件")
QORSMAIL_TEXT(TaskStatus_Str, Str10, "没有可读取的事件")
QORSMAIL_TEXT(TaskStatus_Str, Str12, "，正在发送")
QORSMAIL_TEXT(TaskStatus_Str, Str13, "；最近一次失败：%1 \"%2\" %3")
// The summary: %1 and %2 are counts of tasks as Str14 writes them (this replaces the former Str11).
QORSMAIL_COUNT_TEXT(TaskStatus_Str, Str14, "%1 个任务")
QORSMAIL_TEXT(TaskStatus_Str, Str15, "等待发送：%1，正在重试：%2")
} // namespace TaskStatus_Str

// Texts of ours for the test mail command.
namespace TestMail_Str {
QORSMAIL_TEXT(TestMail_Str, Str0, "[测试] ")
QORSMAIL_TEXT(TestMail_Str, Str1, "这是一封测试邮件，用于检查任务\"%1\"的邮件能否送达，不是真实的报警或报表。")
QORSMAIL_TEXT(TestMail_Str, Str2, "触发条件：")
QORSMAIL_TEXT(TestMail_Str, Str3, "    任何事件")
QORSMAIL_TEXT(TestMail_Str, Str4, "测试邮件\"%1\"发送成功")
QORSMAIL_TEXT(TestMail_Str, Str5, "测试邮件\"%1\"发送失败")
QORSMAIL_TEXT(TestMail_Str, Str6, "测试邮件\"%1\"未发送：该任务的报表文件现在一个也找不到")
QORSMAIL_TEXT(TestMail_Str, Str7, "测试邮件\"%1\"未发送：另一封邮件正在发送，请稍后再试")
QORSMAIL_TEXT(TestMail_Str, Str8, "附件为该任务的报表文件现在找到的最新版本。")
} // namespace TestMail_Str

// Texts of ours for the report file chooser, which had them fixed in Chinese.
namespace ChFile_Str {
QORSMAIL_TEXT(ChFile_Str, Str0, "尚未选定文件！")
QORSMAIL_TEXT(ChFile_Str, Str1, "请输入准确的文件名！")
QORSMAIL_TEXT(ChFile_Str, Str2, "所有文件 (*)")
} // namespace ChFile_Str

// Texts of ours for the station's own settings file. Str0: %1 the file, %2 the section, %3 the key, %4 the
// value, %5 what it should be (Str1..Str8), %6 what follows (Str9..Str12).
namespace StationSettings_Str {
QORSMAIL_TEXT(StationSettings_Str, Str0, "设置文件 %1：[%2] %3 的值“%4”无效（应为：%5），%6")
QORSMAIL_TEXT(StationSettings_Str, Str1, "0、1 或 2")
QORSMAIL_TEXT(StationSettings_Str, Str2, "1 到 65535 之间的端口号")
QORSMAIL_TEXT(StationSettings_Str, Str3, "主机名或 IP 地址")
QORSMAIL_TEXT(StationSettings_Str, Str4, "以逗号分隔的 EMAIL 地址")
QORSMAIL_TEXT(StationSettings_Str, Str5, "hh:mm 形式的时刻")
QORSMAIL_TEXT(StationSettings_Str, Str6, "1 到 8760 之间的小时数")
QORSMAIL_TEXT(StationSettings_Str, Str7, "0 或 1")
QORSMAIL_TEXT(StationSettings_Str, Str8, "UTF-8 文本")
QORSMAIL_TEXT(StationSettings_Str, Str9, "不使用备用发件服务器")
QORSMAIL_TEXT(StationSettings_Str, Str10, "不发送运行状况邮件")
QORSMAIL_TEXT(StationSettings_Str, Str11, "该通知不发送")
QORSMAIL_TEXT(StationSettings_Str, Str12, "沿用 QorMail.ini 或默认设置")
QORSMAIL_TEXT(
    StationSettings_Str, Str13, "设置文件 %1：[Health] 的 Time 与 EveryHours 只能设置其中一项；不发送运行状况邮件")
QORSMAIL_TEXT(
    StationSettings_Str, Str14, "设置文件 %1 无法读取（%2）：不使用备用发件服务器，不发送运行状况邮件，不发通知")
QORSMAIL_TEXT(StationSettings_Str, Str15, "（不显示）")
// %1 the file.
QORSMAIL_TEXT(StationSettings_Str,
    Str16,
    "设置文件 %1 在本站读取之后已被修改，保存会覆盖这些修改，因此没有保存配置。\n请重新启动本站以读取新的文件。")
QORSMAIL_TEXT(StationSettings_Str, Str17, "设置文件 %1 在本站读取之后已被修改，没有保存配置")
QORSMAIL_TEXT(StationSettings_Str, Str18, "设置已保存到 %1")
} // namespace StationSettings_Str

// Texts of ours for the second relay. %1 and %3 are relays (host:port), %2 the first one's error.
namespace Relay_Str {
QORSMAIL_TEXT(Relay_Str, Str0, "发件服务器 %1 不可用（%2），邮件已经备用发件服务器 %3 发出")
QORSMAIL_TEXT(Relay_Str, Str1, "备用发件服务器 %1 也未能发送：%2")
} // namespace Relay_Str

// Texts of ours for the connection security and the fallback relay in the SMTP setup dialog.
namespace SmtpRelay_Str {
QORSMAIL_TEXT(SmtpRelay_Str, Str0, "CA 证书文件不存在或不可读！")
QORSMAIL_TEXT(SmtpRelay_Str, Str1, "备用服务器的端口号填写有误，必须在 1-65535之间")
// %1 the settings file, %2 its keys.
QORSMAIL_TEXT(SmtpRelay_Str, Str2, "%1 中的 %2 会在每次启动时替代这里的连接安全设置。")
QORSMAIL_TEXT(SmtpRelay_Str, Str3, "备用服务器地址只能由字母、数字、点、连字符和冒号组成！")
} // namespace SmtpRelay_Str

// Texts of ours for the station run as a service (no window): the status line the service manager shows, the
// refusal to start a window without a display.
namespace Service_Str {
// %1 tasks, %2 mails waiting to be sent, %3 when the last mail went out (or Str1).
QORSMAIL_TEXT(Service_Str, Str0, "任务 %1 个，待发 %2 个，最近发出：%3")
QORSMAIL_TEXT(Service_Str, Str1, "无")
QORSMAIL_TEXT(Service_Str,
    Str2,
    "qormail：没有可用的显示（DISPLAY 和 WAYLAND_DISPLAY 均未设置），无法打开窗口。不带窗口运行请用 qormail "
    "--headless")
QORSMAIL_TEXT(Service_Str, Str3, "不带窗口运行（--headless），日志同时输出到标准输出")
} // namespace Service_Str

// Texts of ours for the health mail. %1 a value.
namespace Health_Str {
// %1 the host, %2 the date and time.
QORSMAIL_TEXT(Health_Str, Str0, "邮件站运行报告 [%1] %2")
QORSMAIL_TEXT(Health_Str, Str1, "主机：%1")
// %1 days, %2 hours, %3 minutes.
QORSMAIL_TEXT(Health_Str, Str2, "%1 天 %2 小时 %3 分")
QORSMAIL_TEXT(Health_Str, Str3, "运行时间：%1")
QORSMAIL_TEXT(Health_Str, Str4, "以下数字统计自：%1")
QORSMAIL_TEXT(Health_Str, Str5, "读取的事件：%1")
QORSMAIL_TEXT(Health_Str, Str6, "发出的邮件：%1")
QORSMAIL_TEXT(Health_Str, Str7, "重试的发送：%1")
QORSMAIL_TEXT(Health_Str, Str8, "放弃的邮件：%1")
QORSMAIL_TEXT(Health_Str, Str9, "事件环故障：%1")
QORSMAIL_TEXT(Health_Str, Str10, "待发的任务：%1")
} // namespace Health_Str

// Texts of ours for the notices: mails given up, report files missing or stale.
namespace Notice_Str {
// %1 the host, %2 the date and time.
QORSMAIL_TEXT(Notice_Str, Str0, "邮件发送失败通知 [%1] %2")
QORSMAIL_TEXT(Notice_Str, Str1, "任务：%1")
QORSMAIL_TEXT(Notice_Str, Str2, "收件人：%1")
QORSMAIL_TEXT(Notice_Str, Str3, "最后的错误：%1")
// %1 the task's title, %2 the date and time.
QORSMAIL_TEXT(Notice_Str, Str4, "报表文件缺失：%1 %2")
QORSMAIL_TEXT(Notice_Str, Str5, "报表邮件任务\"%1\"已到发送时间，但以下报表文件名没有找到文件，报表邮件未发送：")
QORSMAIL_TEXT(Notice_Str, Str6, "报表文件名 %1 没有找到文件")
// %1 the file, %2 when it was last written, %3 the previous due time.
QORSMAIL_TEXT(Notice_Str, Str7, "报表文件 %1 最后写于 %2，早于上次发送时间 %3，可能已过期")
// %1 the mail's subject.
QORSMAIL_TEXT(Notice_Str, Str8, "站点邮件\"%1\"已发送")
QORSMAIL_TEXT(Notice_Str, Str9, "站点邮件\"%1\"发送失败，已放弃")
// %1 the titles of the tasks.
QORSMAIL_TEXT(Notice_Str, Str10, "邮件发送失败，已放弃：%1")
QORSMAIL_TEXT(Notice_Str, Str11, "邮件已放弃")
} // namespace Notice_Str

// Texts of ours for the health and notice dialog.
namespace HealthNotice_Str {
QORSMAIL_TEXT(HealthNotice_Str, Str0, "收件人地址有误：多个地址之间用逗号分隔，每个地址形如 name@example.cn！")
QORSMAIL_TEXT(HealthNotice_Str, Str1, "健康邮件和放弃通知都发给这里的收件人，请至少填写一个收件人！")
} // namespace HealthNotice_Str

// Texts the code once joined from pieces, as format texts (%1, %2, ...). Where the pieces are texts of the older
// sections, the default is their join (see JoinedEntry), the same text as before for every language file.
namespace Format_Str {
// The send loop's lines; %1 the task's title. Joined from QorsmailMain_Str Str24..Str28.
QORSMAIL_JOINED(Format_Str, Str0) // event mail sent
QORSMAIL_JOINED(Format_Str, Str1) // event mail given up
QORSMAIL_JOINED(Format_Str, Str2) // report mail sent
QORSMAIL_JOINED(Format_Str, Str3) // report mail without a report file
QORSMAIL_JOINED(Format_Str, Str4) // report mail given up
// The sender's display name; %1 the computer name. Joined from QorsmailMain_Str Str29.
QORSMAIL_JOINED(Format_Str, Str5)
// The subject: %1 the task's title, %2 the date and time.
QORSMAIL_TEXT(Format_Str, Str6, "%1(%2)")
// The log line of a mail that failed or was refused in part: %1 why, %2 the subject.
QORSMAIL_TEXT(Format_Str, Str7, "%1——%2")
// Between two event type names, and between two event levels (the levels' own texts end in blanks).
QORSMAIL_TEXT(Format_Str, Str8, ",")
QORSMAIL_TEXT(Format_Str, Str9, "")
// The send time, part by part (year, month and day only when not 0); joined from QorsmailMain_Str Str17..Str21.
// The time of day: %1 the hour, %2 the minute, %3 and %4 the same with two digits.
QORSMAIL_JOINED(Format_Str, Str10)
QORSMAIL_JOINED(Format_Str, Str11)
QORSMAIL_JOINED(Format_Str, Str12)
QORSMAIL_JOINED(Format_Str, Str13)
// The interval, part by part: years, months, days (only when not 0), hours, minutes; joined from
// QorsmailMain_Str SendInterval_Str0..SendInterval_Str4.
QORSMAIL_JOINED_COUNT(Format_Str, Str14)
QORSMAIL_JOINED_COUNT(Format_Str, Str15)
QORSMAIL_JOINED_COUNT(Format_Str, Str16)
QORSMAIL_JOINED_COUNT(Format_Str, Str17)
QORSMAIL_JOINED_COUNT(Format_Str, Str18)
// Questions before a delete; %1 the task's title (QorsmailMain_Str Str23), the name (AddressBook_Str Str10).
QORSMAIL_JOINED(Format_Str, Str19)
QORSMAIL_JOINED(Format_Str, Str20)
// A name the address book holds already, when adding (AddressBook_Str Str2) and renaming (Str6); %1 the name.
QORSMAIL_JOINED(Format_Str, Str21)
QORSMAIL_JOINED(Format_Str, Str22)
// Sending stopped; %1 the verified user (QorsmailMain_Str Str35).
QORSMAIL_JOINED(Format_Str, Str23)
// The start-up error; %1 the event-log library's text (program_Str program_Str5).
QORSMAIL_JOINED(Format_Str, Str24)
// A task node's tool tip; %1 what the task is doing (TaskStatus_Str Str0, which is also the panels' label).
QORSMAIL_JOINED(Format_Str, Str25)
// The kind of a task inside a sentence (QorsmailMain_Str Str37 and Str38, the tree's roots).
QORSMAIL_JOINED(Format_Str, Str26)
QORSMAIL_JOINED(Format_Str, Str27)
} // namespace Format_Str

// The suite's login dialog (the exit rights check, stopping the sending); the defaults are its designed texts.
namespace LoginDlg_Str {
QORSMAIL_TEXT(LoginDlg_Str, Str0, "用户登录")
QORSMAIL_TEXT(LoginDlg_Str, Str1, "用户名")
QORSMAIL_TEXT(LoginDlg_Str, Str2, "口令")
QORSMAIL_TEXT(LoginDlg_Str, Str3, "确定")
QORSMAIL_TEXT(LoginDlg_Str, Str4, "取消")
} // namespace LoginDlg_Str

// Texts of ours for a login that cannot succeed or did not: the login dialog's library shows them in a box. %1 is
// the user store's path, or the user's name in Str1; %2 the right asked for.
namespace LoginCheck_Str {
QORSMAIL_TEXT(LoginCheck_Str, Str0, "用户名或口令错误，登录失败。")
QORSMAIL_TEXT(
    LoginCheck_Str, Str1, "用户 %1 没有权限 %2，登录失败。管理员可用命令 qorvane-user grant %1 %2 授予此权限。")
QORSMAIL_TEXT(LoginCheck_Str,
    Str2,
    "没有用户库 %1，无人能够登录。请用命令 qorvane-user add NAME 12 1025 创建用户（NAME 为用户名；12 可退出程序，"
    "1025 可停止发送）。")
QORSMAIL_TEXT(LoginCheck_Str,
    Str3,
    "用户库 %1 中没有具有权限 %2 的用户，无人能够登录。请用命令 qorvane-user add NAME 12 1025 创建用户，或用 "
    "qorvane-user grant NAME %2 授予权限。")
// %2 why, as the store code says it.
QORSMAIL_TEXT(LoginCheck_Str, Str4, "用户库 %1 无法使用（%2），无人能够登录。")
} // namespace LoginCheck_Str

// The event-log library's texts for its result codes, which the library gives in Chinese only: the key is
// "Error" + the code without its sign, the default the library's own text; ErrorOther, any other code (%1).
namespace LogLibrary_Str {
QORSMAIL_JOINED(LogLibrary_Str, Error1)
QORSMAIL_JOINED(LogLibrary_Str, Error5)
QORSMAIL_JOINED(LogLibrary_Str, Error8)
QORSMAIL_JOINED(LogLibrary_Str, Error9)
QORSMAIL_JOINED(LogLibrary_Str, Error10)
QORSMAIL_JOINED(LogLibrary_Str, Error12)
QORSMAIL_JOINED(LogLibrary_Str, Error13)
QORSMAIL_JOINED(LogLibrary_Str, Error14)
QORSMAIL_JOINED(LogLibrary_Str, ErrorOther)
} // namespace LogLibrary_Str

#undef QORSMAIL_JOINED_COUNT
#undef QORSMAIL_JOINED
#undef QORSMAIL_COUNT_TEXT
#undef QORSMAIL_TEXT

// Section of the event type names; the key is "EventTypeName" + the list index 0..16, the default the list's
// built-in name (EventTypeList in QorsmailDef.h).
inline constexpr const char* EventTypeName_Section = "EventTypeName_Str";

} // namespace LangText
