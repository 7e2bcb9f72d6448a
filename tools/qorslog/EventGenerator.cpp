// SPDX-License-Identifier: MIT
#include "EventGenerator.h"

#include <array>

namespace {

struct TTemplate
{
    int32_t Type;
    int32_t Level;
    const char16_t* Pattern; // %1 device, %2 a measured value
};

constexpr std::array<const char16_t*, 12> Devices = {u"1号主变",
    u"2号主变",
    u"10kV I段母线",
    u"10kV II段母线",
    u"35kV 进线一",
    u"35kV 进线二",
    u"1#电容器组",
    u"3#馈线",
    u"5#馈线",
    u"站用变",
    u"直流屏",
    u"2号发电机"};

constexpr std::array<TTemplate, 17> Templates = {{
    {1, 2, u"%1 电流越上限动作，当前值 %2 A"},
    {2, 3, u"%1 电流越限返回，当前值 %2 A"},
    {3, 3, u"%1 断路器合位"},
    {4, 1, u"%1 断路器跳闸"},
    {5, 2, u"%1 电压越上限（上位机判定），%2 kV"},
    {6, 3, u"%1 电压恢复正常（上位机判定），%2 kV"},
    {7, 0, u"%1 保护装置自检正常"},
    {8, 3, u"%1 遥控分闸执行成功"},
    {9, 0, u"%1 定值区切换至 %2 区"},
    {10, 2, u"%1 录波器启动"},
    {11, 3, u"%1 投入运行"},
    {12, 2, u"子站 %2 退出运行"},
    {13, 2, u"前台机 %2 号投入"},
    {14, 0, u"操作员修改 %1 历史数据"},
    {15, 1, u"%1 通信中断"},
    {16, 0, u"主域服务器切换，%2 号机为主机"},
    {20, 1, u"SEL 保护 %1 差动保护动作，差流 %2 A"},
}};

} // namespace

TEventGenerator::TEventGenerator(uint32_t seed)
    : m_rng(seed)
{
}

TGeneratedEvent TEventGenerator::next()
{
    ++m_serial;
    const TTemplate& t = Templates[std::uniform_int_distribution<size_t>(0, Templates.size() - 1)(m_rng)];
    const char16_t* device = Devices[std::uniform_int_distribution<size_t>(0, Devices.size() - 1)(m_rng)];
    const int value = std::uniform_int_distribution<int>(1, 999)(m_rng);
    QString text = QString::fromUtf16(t.Pattern);
    text.replace(QLatin1String("%1"), QString::fromUtf16(device)).replace(QLatin1String("%2"), QString::number(value));
    // Now and then a more severe version of the same event.
    int32_t level = t.Level;
    if (level > 1 && std::uniform_int_distribution<int>(0, 9)(m_rng) == 0) {
        --level;
    }
    return {t.Type, level, text};
}
