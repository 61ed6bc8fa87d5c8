// Every text the user interface shows, in one place. UTF-8 literals; the
// dialog layer converts them to UTF-16 and shows them with the wide calls,
// so they read the same on every system code page.
#pragma once

constexpr const char CONNECT_SUCCEEDED_TEXT[] = u8"Connection succeed!";
constexpr const char CONNECT_FAILED_TEXT[] = u8"Connection failed!";

constexpr const char CONNECT_SUCCESS_STATUS[] = u8"成功连接服务器.";
// The success detail "连接: %s, %dbps\r\n服务器类型: %s\r\n存储系统剩余空间: %dKB"
// around its port name, line rate, server type and free space in KB.
constexpr const char* const CONNECT_SUCCESS_DETAIL_PARTS[] = {
    u8"连接: ", u8", ", u8"bps\r\n服务器类型: ", u8"\r\n存储系统剩余空间: ", u8"KB",
};
constexpr const char CONNECT_FAILURE_STATUS[] = u8"连接服务器失败.";
constexpr const char CONNECT_FAILURE_DETAIL[] =
    u8"请按照如下步骤检查:\r\n"
    u8"1. 计算机与PDA的连接线是否稳固连接.\r\n"
    u8"2. PDA的电源是否已经开启,并进入等待连接画面.\r\n"
    u8"3. 进入系统菜单中的通讯设置,检查通讯端口是否已经正确设置.";

// Follows the percentage, "37%".
constexpr const char PERCENT_SIGN[] = u8"%";
constexpr const char LINE_FAULT_MESSAGE[] = u8"线路故障，请检查线路！";
constexpr const char RECORD_REFUSED_MESSAGE[] = u8"此纪录数据传送失败";
