// The main window under test: created from its real template in a temporary working directory,
// with its real receiver on UDP port 6000.
#pragma once

#include "AlarmLog.h"
#include "MonitorDlg.h"
#include "ReceiverNotices.h"
#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class CMonitorWindowTest : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    // Creates the window and waits until its receiver takes datagrams and the history it read
    // is listed.
    void Open()
    {
        m_pDlg = std::make_unique<CMonitorDlg>();
        ASSERT_TRUE(m_pDlg->Create(IDD_MAIN, nullptr));
        ASSERT_TRUE(PumpUntil([this] { return m_pDlg->m_pReceiver->IsListening() && m_pDlg->m_pReceiver->Feed().IsIdle(); }));
    }
    void Close()
    {
        if (m_pDlg && m_pDlg->GetSafeHwnd())
            m_pDlg->DestroyWindow();
        m_pDlg.reset();
    }
    CMonitorDlg& Dlg() { return *m_pDlg; }
    CListCtrl& AlarmList() { return m_pDlg->m_alarmList; }
    CListCtrl& LogList() { return g_pLogPage->m_logList; }

    // Sends the datagrams, then one alarm as a marker, and waits until the marker is row 0 of
    // the alarm list, so that everything sent before it has been handled.
    void SendAndSettle(const std::vector<std::string>& datagrams)
    {
        // A marker row of an earlier call must not count as this call's.
        if (AlarmList().GetItemText(0, 0) == "marker")
            AlarmList().SetItemText(0, 0, "earlier marker");
        for (const std::string& datagram : datagrams)
            SendDatagram(datagram);
        SendDatagram(MARKER);
        ASSERT_TRUE(PumpUntil([this] { return AlarmList().GetItemText(0, 0) == "marker"; }))
            << "the marker is not row 0 of the alarm list; row 0 is '" << AlarmList().GetItemText(0, 0) << "'";
    }
    static std::vector<std::string> Row(CListCtrl& list, int nRow)
    {
        std::vector<std::string> columns;
        for (int nColumn = 0; nColumn < 4; ++nColumn)
            columns.push_back(list.GetItemText(nRow, nColumn));
        return columns;
    }
    static void FillRows(CListCtrl& list, int nCount)
    {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<wchar_t*>(L"old");
        list.SetRedraw(FALSE);
        for (int i = 0; i < nCount; ++i) {
            item.iItem = i;
            list.InsertItem(item);
        }
        list.SetRedraw(TRUE);
    }
    // Alarm lines "h;<i>;t;c;" for i in [nFrom, nFrom + nCount), as the file keeps them.
    static std::string HistoryLines(int nFrom, int nCount)
    {
        std::string lines;
        for (int i = nFrom; i < nFrom + nCount; ++i)
            lines += "h;" + std::to_string(i) + ";t;c;\r\n";
        return lines;
    }
    // The log's archives in the working directory, oldest first.
    static std::vector<std::string> Archives()
    {
        std::vector<std::string> names;
        for (const std::wstring& archive : ListArchives())
            names.push_back(Narrow(archive));
        return names;
    }
    // Waits until the log holds these bytes, or is gone for "<absent>". Looking for a file that
    // should be gone does not open it: an open handle would hold up its deletion.
    static bool WaitForLog(const std::string& bytes)
    {
        if (bytes == "<absent>")
            return PumpUntil([] { return !FileExists(L"myfile.txt"); });
        return PumpUntil([&bytes] { return ReadFileBytes(L"myfile.txt") == bytes; });
    }
    std::string DetailText(int nID) const
    {
        wchar_t text[256] = {};
        ::GetWindowTextW(m_pDlg->GetDlgItem(nID), text, 256);
        return Narrow(text);
    }

    static constexpr const char* MARKER = "marker;m;m;m;";
    CTempDir m_dir;
    std::unique_ptr<CMonitorDlg> m_pDlg;
};
