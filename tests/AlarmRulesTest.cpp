#include "AlarmRules.h"
#include "Health.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

namespace {

// GBK bytes, kept as separate literals so a following letter never extends the hex escape.
const std::string g_strZhong = "\xD6\xD0";            // 中
const std::string g_strGuo = "\xB9\xFA";              // 国
const std::string g_strGaojing = "\xB8\xE6\xBE\xAF";  // 告警
const std::string g_strX30(30, 'x');

using Fields = std::array<std::string, 4>;

Fields FieldsOf(const AlarmRecord& record)
{
    return {record.szApName, record.szLogTime, record.szAlarmType, record.szAlarmContent};
}

struct DatagramCase {
    const char* pszName;
    std::string strPayload;
    bool bAlarm;
    Fields fields;
};

TEST(AlarmRulesTest, DatagramsBecomeAlarmFields)
{
    const std::vector<DatagramCase> cases = {
        {"plain", "a;b;c;d;", true, {"a", "b", "c", "d"}},
        {"tail ignored", "a;b;c;d;tail", true, {"a", "b", "c", "d"}},
        {"all empty", ";;;;", true, {"", "", "", ""}},
        {"three semicolons", "a;b;c;", false, {}},
        {"five semicolons", "a;b;c;d;e;", false, {}},
        {"empty datagram", "", false, {}},
        {"NUL hides fifth semicolon", "a;b;c;d;\0;"s, true, {"a", "b", "c", "d"}},
        {"NUL hides two semicolons", "a;b\0;c;d;"s, false, {}},
        {"40-byte field", std::string(40, 'x') + ";b;c;d;", true, {std::string(31, 'x'), "b", "c", "d"}},
        {"Chinese char starts at byte 31", g_strX30 + g_strZhong + g_strGuo + ";b;c;d;", true,
         {g_strX30, "b", "c", "d"}},
        {"Chinese char ends at byte 31", g_strX30.substr(1) + g_strZhong + g_strGuo + ";b;c;d;", true,
         {g_strX30.substr(1) + g_strZhong, "b", "c", "d"}},
        {"invalid bytes kept, semicolons still counted", "\x81;\xFF;\x80\x80;\x81" "0;", true,
         {"\x81", "\xFF", "\x80\x80", "\x81" "0"}},
        {"line breaks show as spaces", "a\rb;c\nd;;e\r\n;", true, {"a b", "c d", "", "e  "}},
        {"Chinese alarm",
         "AP" + g_strZhong + ";2024-05-01 08:30:00;" + g_strGaojing + ";" + g_strZhong + g_strGuo + ";x", true,
         {"AP" + g_strZhong, "2024-05-01 08:30:00", g_strGaojing, g_strZhong + g_strGuo}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string text = DatagramText(c.strPayload.data(), c.strPayload.size());
        AlarmRecord record;
        std::memset(&record, 0x5A, sizeof record);
        EXPECT_EQ(ParseAlarm(text, record), c.bAlarm);
        EXPECT_EQ(IsAlarmText(text), c.bAlarm);
        EXPECT_EQ(FieldsOf(record), c.fields);
    }
}

TEST(AlarmRulesTest, DatagramTextStopsAtNulAnd255Bytes)
{
    const struct {
        const char* pszName;
        std::string strPayload;
        std::size_t nExpected;
    } cases[] = {
        {"empty", "", 0},
        {"embedded NUL", "abc\0def"s, 3},
        {"exactly 255", std::string(255, 'a'), 255},
        {"NUL at 255", std::string(255, 'a') + "\0zz"s, 255},
        {"300 bytes", std::string(300, 'a'), 255},
        {"Chinese char straddles byte 255", std::string(254, 'a') + g_strZhong + std::string(44, 'a'), 254},
        {"Chinese char ends at byte 255", std::string(253, 'a') + g_strZhong + std::string(45, 'a'), 255},
        {"lone lead byte at 255", std::string(254, 'a') + "\x81" "0" + std::string(44, 'a'), 255},
        {"largest UDP payload", std::string(65507, 'q'), 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(DatagramText(c.strPayload.data(), c.strPayload.size()), c.strPayload.substr(0, c.nExpected));
    }
}

TEST(AlarmRulesTest, CutKeepsWholeCharactersOnly)
{
    const struct {
        std::string strText;
        std::size_t nExpected;
    } cases[] = {
        // Trail bytes at the edges of both ranges pair up with a lead byte...
        {g_strX30 + "\x81\x40", 30}, {g_strX30 + "\x81\x7E", 30}, {g_strX30 + "\x81\x80", 30},
        {g_strX30 + "\xFE\xFE", 30},
        // ...bytes just outside them, and 0x80/0xFF as first byte, do not.
        {g_strX30 + "\x81\x7F", 31}, {g_strX30 + "\x81\xFF", 31}, {g_strX30 + "\xFF\x40", 31},
        {g_strX30 + "\x80\x40", 31},
        {g_strX30.substr(2) + "\x81\x81\x81\x40", 30}, {g_strX30.substr(1) + "\x81\x81\x81\x40", 31},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cp936CutLength(c.strText.data(), c.strText.size(), 31), c.nExpected) << c.strText;

    // Sweeping the odd byte across every cut position of both limits.
    for (std::size_t limit : {ALARM_FIELD_SIZE - 1, DATAGRAM_TEXT_MAX}) {
        for (std::size_t pos = 0; pos <= limit + 2; ++pos) {
            const std::string lone = std::string(pos, 'x') + "\x81" + std::string(limit, '!');
            EXPECT_EQ(Cp936CutLength(lone.data(), lone.size(), limit), limit) << "lone lead at " << pos;
            const std::string pair = std::string(pos, 'x') + g_strZhong + std::string(limit, '!');
            EXPECT_EQ(Cp936CutLength(pair.data(), pair.size(), limit), pos + 1 == limit ? pos : limit)
                << "pair at " << pos;
        }
    }
}

TEST(AlarmRulesTest, LogLineIsAlwaysOneLine)
{
    EXPECT_EQ(LogLine("a;b;c;d;"), "a;b;c;d;\r\n");
    EXPECT_EQ(LogLine(""), "\r\n");
    EXPECT_EQ(LogLine("a\rb\nc\r\n;"), "a b c  ;\r\n");
}

TEST(AlarmRulesTest, LogFileSplitsLikeTextModeFgets)
{
    const std::string longLine(2500, 'L');
    const struct {
        const char* pszName;
        std::string strFile;
        std::vector<std::string> pieces;
    } cases[] = {
        {"empty file", "", {}},
        {"CR LF and LF", "a;b\r\nc\n", {"a;b\n", "c\n"}},
        {"lone CR stays", "a\rb\n\r", {"a\rb\n", "\r"}},
        {"CR CR LF", "a\r\r\n", {"a\r\n"}},
        {"last line without LF", "x\nyz", {"x\n", "yz"}},
        {"1022 bytes and CR LF fit one piece", std::string(1022, 'a') + "\r\n", {std::string(1022, 'a') + "\n"}},
        {"1023 bytes and LF leave the LF alone", std::string(1023, 'a') + "\n", {std::string(1023, 'a'), "\n"}},
        {"long line in pieces", longLine + "\r\nz\n",
         {longLine.substr(0, 1023), longLine.substr(1023, 1023), longLine.substr(2046) + "\n", "z\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(SplitLogPieces(c.strFile), c.pieces);
    }
}

TEST(AlarmRulesTest, LogPiecesBecomeColumns)
{
    const struct {
        std::string strPiece;
        bool bKept;
        std::vector<std::string> columns;
    } cases[] = {
        {"a;b;c;d;\n", true, {"a", "b", "c", "d"}},
        {";b;c;d;\n", true, {"", "b", "c", "d"}},
        {"a;;c;d;\n", true, {"a", "", "c", "d"}},
        {";;;;\n", true, {"", "", "", ""}},
        {"a;b;c;d;e;f\n", true, {"a", "b", "c", "d"}},
        {"hello\n", true, {"hello"}},
        {"a;b\n", true, {"a", "b"}},
        {"a;\n", true, {"a"}},
        {";;\n", true, {"", ""}},
        {"a;b\r\n", true, {"a", "b"}},
        {"abc", true, {"abc"}},
        {"ab\r", true, {"ab "}},
        {std::string(40, 'y') + ";" + g_strX30 + g_strZhong + ";\n", true, {std::string(31, 'y'), g_strX30}},
        {"x\n", false, {}},
        {"\n", false, {}},
        {"ab", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> columns = {"stale"};
        EXPECT_EQ(ParseLogPiece(c.strPiece, columns), c.bKept) << c.strPiece;
        EXPECT_EQ(columns, c.columns) << c.strPiece;
    }
}

TEST(AlarmRulesTest, LoggedAlarmReadsBackAsLive)
{
    const std::string texts[] = {
        ";;;;", "a;b;c;d;tail", std::string(40, 'x') + ";" + g_strX30 + g_strZhong + ";\r;\n\n;",
        "AP" + g_strZhong + g_strGuo + ";2024-05-01 08:30:00;" + g_strGaojing + ";\x81;" + std::string(300, 'z'),
    };
    for (const auto& raw : texts) {
        const std::string text = DatagramText(raw.data(), raw.size());
        AlarmRecord record;
        ASSERT_TRUE(ParseAlarm(text, record)) << text;
        const auto pieces = SplitLogPieces(LogLine(text));
        ASSERT_EQ(pieces.size(), 1u);
        std::vector<std::string> columns;
        ASSERT_TRUE(ParseLogPiece(pieces[0], columns));
        const Fields live = FieldsOf(record);
        EXPECT_EQ(columns, std::vector<std::string>(live.begin(), live.end())) << text;
    }
}

TEST(HealthTest, EachConditionTellsWhatStopsMonitoringAndEachChangeIsAnnouncedOnce)
{
    CHealthDetail v4Held = ErrorDetail(10048), v6Only, bothDiffer = ErrorDetail(10048), session = ErrorDetail(10048);
    v4Held.nErrorV6 = NO_SUCH_FAMILY;
    v6Only.nErrorV6 = 10013;
    bothDiffer.nErrorV6 = 10013;
    session.nSession = 2;
    CHealthDetail memory = CountDetail(100000), folder = ErrorDetail(2);
    memory.nDropped = 7;
    folder.strFolder = "D:\\告警";
    const std::vector<std::pair<std::string, std::string>> texts = {
        {HealthText(HealthKind::Port, v4Held), "未在接收告警：UDP 6000 被另一个程序占用（Winsock 错误 10048）"},
        {HealthText(HealthKind::Port, ErrorDetail(10048)), "未在接收 IPv4 告警：UDP 6000 被另一个程序占用（Winsock 错误 10048）"},
        {HealthText(HealthKind::Port, v6Only), "未在接收 IPv6 告警：UDP 6000 被系统保留或禁止访问（Winsock 错误 10013）"},
        {HealthText(HealthKind::Port, bothDiffer),
         "未在接收告警：IPv4 UDP 6000 被另一个程序占用（Winsock 错误 10048），IPv6 UDP 6000 被系统保留或禁止访问（Winsock 错误 10013）"},
        {HealthText(HealthKind::Port, session), "未在接收告警：UDP 6000 由会话 2 中运行的进程监控程序使用，告警发往那里"},
        {HealthText(HealthKind::Log, ErrorDetail(32)), "无法写入告警日志 myfile.txt，另一个程序正在使用它（Windows 错误 32），告警暂存于内存中"},
        {HealthText(HealthKind::Log, ErrorDetail(112)), "无法写入告警日志 myfile.txt，磁盘已满（Windows 错误 112），告警暂存于内存中"},
        {HealthText(HealthKind::Memory, memory), "100000 条数据报暂存于内存中，尚未写入告警日志，最早的 7 条已丢弃"},
        {HealthText(HealthKind::Stalled, {}), "告警日志的文件操作已超过 10 秒未完成，新告警暂不显示"},
        {HealthText(HealthKind::History, ErrorDetail(5)),
         "无法读取告警日志 myfile.txt 中的历史记录，没有权限，或另一个程序正在使用它（Windows 错误 5），日志页只列出本次收到的告警"},
        {HealthText(HealthKind::Folder, folder), "无法进入工作文件夹 D:\\告警（Windows 错误 2），告警日志改写在程序所在的文件夹中"},
        {HealthText(HealthKind::Archive, ErrorDetail(1)), "无法归档告警日志 myfile.txt（Windows 错误 1），日志继续写入原文件"},
        {HealthText(HealthKind::Dropped, CountDetail(12)), "告警过多，接收队列已满，已丢弃 12 条数据报"},
        {HealthText(HealthKind::DeleteFailed, ErrorDetail(32)),
         "无法删除告警日志 myfile.txt，另一个程序正在使用它（Windows 错误 32），其中的记录仍全部保留"},
    };
    for (const auto& [text, expected] : texts)
        EXPECT_EQ(text, expected);

    CHealth health;
    const auto announced = [&health](std::uint64_t nNow) {
        std::vector<std::string> shown;
        for (const CAnnouncement& announcement : health.Due(nNow)) {
            shown.push_back(announcement.text);
            health.Announced(announcement.kind, nNow);
        }
        return shown;
    };
    EXPECT_TRUE(health.Apply({HealthKind::Port, true, v4Held}, 0));
    EXPECT_TRUE(health.Apply({HealthKind::Memory, true, CountDetail(3)}, 0)) << "the line shows the lines held";
    EXPECT_FALSE(health.Apply({HealthKind::Port, true, v4Held}, 0)) << "a retry that fails the same way is no change";
    EXPECT_TRUE(health.Apply({HealthKind::Port, false, {}}, 0));
    EXPECT_TRUE(health.Apply({HealthKind::Port, true, ErrorDetail(10013)}, 0));
    EXPECT_EQ(health.Line(), "未在接收 IPv4 告警：UDP 6000 被系统保留或禁止访问（Winsock 错误 10013）；3 条数据报暂存于内存中，尚未写入告警日志");
    EXPECT_TRUE(health.IsFailing());
    EXPECT_EQ(announced(0), std::vector<std::string>{HealthText(HealthKind::Port, ErrorDetail(10013))})
        << "one slot per kind, the latest wins; lines held say nothing of their own until some are dropped";
    EXPECT_TRUE(health.Apply({HealthKind::Memory, true, memory}, 0));
    EXPECT_TRUE(health.Apply({HealthKind::Port, false, {}}, 0));
    EXPECT_TRUE(health.Apply({HealthKind::Memory, false, {}}, 0));
    EXPECT_EQ(announced(0), std::vector<std::string>{"已开始监听 UDP 端口 6000"});
    EXPECT_FALSE(health.IsFailing());
    EXPECT_EQ(health.Line(), "");
    // Events come at most once a minute, with their running total.
    health.Apply({HealthKind::Dropped, true, CountDetail(5)}, 1000);
    EXPECT_EQ(announced(1000), std::vector<std::string>{HealthText(HealthKind::Dropped, CountDetail(5))});
    health.Apply({HealthKind::Dropped, true, CountDetail(2)}, 2000);
    health.Apply({HealthKind::Dropped, true, CountDetail(3)}, 3000);
    EXPECT_TRUE(announced(60999).empty());
    EXPECT_EQ(announced(61000), std::vector<std::string>{HealthText(HealthKind::Dropped, CountDetail(10))});
}

} // namespace
