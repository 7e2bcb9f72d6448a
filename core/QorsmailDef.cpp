// SPDX-License-Identifier: MIT
#include "QorsmailDef.h"

#include "GbkCodec.h"

const TEventTypeEntry EventTypeList[EventTypeListCount] = {
    {1, "设备越限动作"},
    {2, "设备越限返回"},
    {3, "开关量闭合"},
    {4, "开关量打开"},
    {5, "上位机判定越限动作"},
    {6, "上位机判定越限返回"},
    {7, "设备自检事件"},
    {8, "控制及调整"},
    {9, "系统设置/参数整定"},
    {10, "设备触发事件"},
    {11, "设备投退事件"},
    {12, "子站投退事件"},
    {13, "前台机投退事件"},
    {14, "修改历史数据"},
    {15, "通信故障及恢复"},
    {16, "主域服务器事件"},
    {20, "SEL保护事件"},
};

int EventTypeIndex(int32_t typeNumber)
{
    for (int i = 0; i < EventTypeListCount; ++i) {
        if (EventTypeList[i].Number == typeNumber) {
            return i;
        }
    }
    return -1;
}

QString TMailTables::workDirPath() const
{
    return Gbk::fieldText(WorkDir);
}
