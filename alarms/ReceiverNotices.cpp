#include "ReceiverNotices.h"

#include <winsock2.h>
#include <windows.h>

const char NOTICE_PORT_OPEN[] = "已开始监听 UDP 端口 6000";
const char NOTICE_LOG_FAILING[] = "无法写入告警日志 myfile.txt，告警暂存于内存中";
const char NOTICE_LOG_RECOVERED[] = "告警日志 myfile.txt 已恢复写入";
const char NOTICE_ARCHIVE_FAILING[] = "无法归档告警日志 myfile.txt，日志继续写入原文件";
const char NOTICE_RECEIVE_FAULT[] = "接收告警时出错，部分数据报可能未收到，正在继续接收";
const char NOTICE_WRITE_FAULT[] = "写入告警日志时出错，部分数据报可能未记录";

std::string PortNotice(int nWinsockError)
{
    std::string cause = "出错";
    if (nWinsockError == WSAEADDRINUSE)
        cause = "端口被占用";
    // Not "in use": Windows reserves port ranges for Hyper-V, WSL 2 and Docker, and refuses a
    // port another program holds for exclusive use.
    else if (nWinsockError == WSAEACCES)
        cause = "端口被系统保留或拒绝访问";
    return "无法监听 UDP 端口 6000，" + cause + "（Winsock 错误 " + std::to_string(nWinsockError) + "），正在重试...";
}

std::string DroppedNotice(std::size_t nDropped)
{
    return "告警过多，接收队列已满，已丢弃 " + std::to_string(nDropped) + " 条数据报";
}

std::string DeleteFailedNotice(unsigned long dwError)
{
    std::string cause = "出错";
    if (dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION)
        cause = "另一个程序正在使用它";
    else if (dwError == ERROR_ACCESS_DENIED)
        cause = "没有权限，或另一个程序正在使用它";
    return "无法删除告警日志 myfile.txt，" + cause + "（Windows 错误 " + std::to_string(dwError) +
           "），其中的记录仍全部保留";
}
