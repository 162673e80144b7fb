// The sender's command line: every way of giving the datagrams, and the refusals.
#include "AlarmSendArgs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace alarmsend;
using namespace std::string_literals;

namespace {

using Args = std::vector<std::wstring>;

struct CGoodForm {
    Args m_vecArgs;
    std::wstring m_strHost;
    unsigned short m_usPort;
    unsigned long m_ulCount;
    double m_dRate;
    ESource m_eSource;
    std::vector<std::string> m_vecPayloads;
};

TEST(AlarmSendArgs, AcceptsEveryWayOfGivingTheDatagrams)
{
    const CGoodForm rgForms[] = {
        {{L"a", L"b", L"c", L"d"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields, {"a;b;c;d;"}},
        {{L"--host", L"alarms.example", L"--port", L"1", L"--count", L"3", L"--rate", L"2.5", L"a", L"b", L"", L"d"},
         L"alarms.example", 1, 3, 2.5, ESource::Fields, {"a;b;;d;"}},
        {{L"a", L"b", L"--port=65535", L"c", L"d"}, L"127.0.0.1", 65535, 1, 0.0, ESource::Fields, {"a;b;c;d;"}},
        {{L"AP", L"T", L"中国", L"温度"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields,
         {"AP;T;\xD6\xD0\xB9\xFA;\xCE\xC2\xB6\xC8;"}},
        {{L"-5", L"--", L"--x", L"-", L"d"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Fields, {"-5;--x;-;d;"}},
        {{L"--raw", L""}, L"127.0.0.1", 6000, 1, 0.0, ESource::Raw, {""}},
        {{L"--raw", L"x;y;中"}, L"127.0.0.1", 6000, 1, 0.0, ESource::Raw, {"x;y;\xD6\xD0"}},
        {{L"--count", L"1000000000", L"--file", L"-"}, L"127.0.0.1", 6000, 1000000000, 0.0, ESource::File, {}},
    };
    for (const CGoodForm& form : rgForms) {
        const CParseResult result = ParseArgs(form.m_vecArgs);
        SCOPED_TRACE(form.m_vecArgs.front());
        ASSERT_TRUE(result.m_bOk) << result.m_strError;
        EXPECT_EQ(result.m_opts.m_strHost, form.m_strHost);
        EXPECT_EQ(result.m_opts.m_usPort, form.m_usPort);
        EXPECT_EQ(result.m_opts.m_ulCount, form.m_ulCount);
        EXPECT_EQ(result.m_opts.m_dRate, form.m_dRate);
        EXPECT_EQ(result.m_opts.m_eSource, form.m_eSource);
        EXPECT_EQ(result.m_opts.m_vecPayloads, form.m_vecPayloads);
        EXPECT_EQ(result.m_opts.m_bReport, form.m_ulCount != 1 || form.m_dRate != 0.0);
    }
    EXPECT_EQ(ParseArgs({L"--file", L"alarms.txt"}).m_opts.m_strFile, L"alarms.txt");
    EXPECT_TRUE(ParseArgs({L"--port", L"1", L"--help", L"--bogus"}).m_opts.m_bHelp);
    EXPECT_TRUE(ParseArgs({L"-h"}).m_opts.m_bHelp);
}

struct CBadForm {
    Args m_vecArgs;
    std::wstring m_strErrorPart;
};

TEST(AlarmSendArgs, RejectsBadFormsWithAPointedMessage)
{
    const CBadForm rgForms[] = {
        {{}, L"nothing to send"},
        {{L"a", L"b", L"c"}, L"expected 4 fields (AP TIME TYPE CONTENT), got 3"},
        {{L"--bogus", L"a", L"b", L"c", L"d"}, L"unknown option '--bogus'"},
        {{L"a", L"b", L"c", L"d", L"--port"}, L"--port needs a value"},
        {{L"--host", L"", L"a", L"b", L"c", L"d"}, L"--host needs a value"},
        {{L"--file="}, L"--file needs a value"},
        {{L"--port", L"0", L"a", L"b", L"c", L"d"}, L"not '0'"},
        {{L"--port", L"65536", L"a", L"b", L"c", L"d"}, L"from 1 to 65535"},
        {{L"--port", L"+80", L"a", L"b", L"c", L"d"}, L"--port"},
        {{L"--count", L"0", L"a", L"b", L"c", L"d"}, L"--count must be a whole number"},
        {{L"--count", L"1000000001", L"a", L"b", L"c", L"d"}, L"--count"},
        {{L"--rate", L"0", L"a", L"b", L"c", L"d"}, L"--rate must be a positive number"},
        {{L"--rate", L"1e3", L"a", L"b", L"c", L"d"}, L"--rate"},
        {{L"--rate", L"1.2.3", L"a", L"b", L"c", L"d"}, L"--rate"},
        {{L"--port", L"1", L"--port", L"1", L"a", L"b", L"c", L"d"}, L"--port given more than once"},
        {{L"--raw", L"x", L"a", L"b", L"c", L"d"}, L"cannot be combined"},
        {{L"--raw", L"x", L"--file", L"f"}, L"cannot be combined"},
        {{L"a", L"b;c", L"d", L"e"}, L"the TIME field contains ';'"},
        {{L"a", L"b", L"c", L"\U0001F600"}, L"the CONTENT field has characters that code page 936"},
        {{L"--raw", L"\U0001F600"}, L"code page 936"},
    };
    for (const CBadForm& form : rgForms) {
        const CParseResult result = ParseArgs(form.m_vecArgs);
        EXPECT_FALSE(result.m_bOk);
        EXPECT_NE(result.m_strError.find(form.m_strErrorPart), std::wstring::npos)
            << "expected '" << form.m_strErrorPart << "' in '" << result.m_strError << "'";
    }
}

TEST(AlarmSendArgs, SplitsLinesKeepingBytesAndBlankLines)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("\n"), Lines{""});
    EXPECT_EQ(SplitLines("a"), Lines{"a"});
    EXPECT_EQ(SplitLines("a\r\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\n\r\n\nb"), (Lines{"a", "", "", "b"}));
    EXPECT_EQ(SplitLines("a\rb\r\r\n"), Lines{"a\rb\r"});
    EXPECT_EQ(SplitLines("\xD6\xD0\0\xFF\n"s), Lines{"\xD6\xD0\0\xFF"s});
}

} // namespace
