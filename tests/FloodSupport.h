// A flood of numbered alarms for the tests of closing and ending the session, and the check
// that what it left in the log is whole lines that follow each other.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

// Floods UDP 6000 with numbered alarms until told to stop.
class CFlood {
public:
    CFlood()
        : m_sender([this] {
              CUdpSender udp;
              for (int i = 0; m_bRunning; ++i) {
                  udp.Send("flood;" + std::to_string(i) + ";t;c;");
                  // About 2,000 a second: a pause of a millisecond after every other datagram.
                  if (i % 2)
                      ::Sleep(1);
              }
          })
    {
    }
    CFlood(const CFlood&) = delete;
    CFlood& operator=(const CFlood&) = delete;
    ~CFlood() { Stop(); }
    void Stop()
    {
        m_bRunning = false;
        if (m_sender.joinable())
            m_sender.join();
    }

private:
    std::atomic<bool> m_bRunning{true};
    std::thread m_sender;
};

// How the line begins that a close writes for what it took in and could not write in time.
constexpr char CLOSE_LOSS_LINE[] = "程序关闭时未及写入，丢失 ";

inline bool IsCloseLossLine(const std::string& line)
{
    return line.compare(0, sizeof(CLOSE_LOSS_LINE) - 1, CLOSE_LOSS_LINE) == 0 && line.find(';') == std::string::npos;
}

// The log's bytes, archives first, are whole flood lines, each the one after the line before;
// the one line a close may write for what it could not write in time may stand among them.
inline void ExpectWholeConsecutiveFloodLines(const std::string& bytes)
{
    ASSERT_GT(bytes.size(), 2u);
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    int nExpected = -1;
    int nLossLines = 0;
    for (std::size_t nStart = 0; nStart < bytes.size();) {
        const std::size_t nEnd = bytes.find("\r\n", nStart);
        const std::string line = bytes.substr(nStart, nEnd - nStart);
        nStart = nEnd + 2;
        if (IsCloseLossLine(line)) {
            ASSERT_EQ(++nLossLines, 1) << "a second loss line: " << line;
            continue;
        }
        ASSERT_EQ(line.compare(0, 6, "flood;"), 0) << line;
        const int n = std::stoi(line.substr(6));
        ASSERT_TRUE(nExpected < 0 || n == nExpected) << "line " << n << " where " << nExpected << " was due";
        nExpected = n + 1;
    }
}
