#pragma once

// Command-line parsing for alarmsend, kept free of sockets and files so that
// every accepted and rejected form can be checked without sending anything.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

namespace alarmsend {

// The receiver decodes datagrams as GBK no matter what the sending machine's
// ANSI code page is, so the code page is fixed here rather than taken from the system.
constexpr UINT kAlarmCodePage = 936;
constexpr unsigned long kMaxCount = 1000000000UL;

enum class ESource { Fields, Raw, File };

struct CSendOptions {
    std::wstring m_strHost = L"127.0.0.1";
    unsigned short m_usPort = 6000;
    unsigned long m_ulCount = 1;
    double m_dRate = 0.0;  // 0 leaves sending unpaced
    bool m_bReport = false;
    bool m_bHelp = false;
    ESource m_eSource = ESource::Fields;
    std::vector<std::string> m_vecPayloads;  // filled later from the file for ESource::File
    std::wstring m_strFile;
};

struct CParseResult {
    bool m_bOk = false;
    CSendOptions m_opts;
    std::wstring m_strError;
};

// Fails rather than substituting '?' for characters GBK lacks: an alarm that
// arrives subtly different from what the operator typed is worse than none.
inline bool ToAlarmCodePage(const std::wstring& strText, std::string& strOut)
{
    strOut.clear();
    if (strText.empty())
        return true;
    BOOL bDefaulted = FALSE;
    const int cchText = static_cast<int>(strText.size());
    const int cbOut = WideCharToMultiByte(kAlarmCodePage, WC_NO_BEST_FIT_CHARS, strText.data(), cchText,
                                          nullptr, 0, nullptr, &bDefaulted);
    if (cbOut <= 0 || bDefaulted)
        return false;
    strOut.resize(static_cast<size_t>(cbOut));
    WideCharToMultiByte(kAlarmCodePage, WC_NO_BEST_FIT_CHARS, strText.data(), cchText, &strOut[0], cbOut,
                        nullptr, nullptr);
    return true;
}

// A final line ending does not start another (empty) datagram, but blank lines
// inside the file do: each of them is a line, and testing empty datagrams is useful.
inline std::vector<std::string> SplitLines(const std::string& strData)
{
    std::vector<std::string> vecLines;
    size_t nStart = 0;
    while (nStart < strData.size()) {
        size_t nEnd = strData.find('\n', nStart);
        const size_t nNext = (nEnd == std::string::npos) ? strData.size() : nEnd + 1;
        if (nEnd == std::string::npos)
            nEnd = strData.size();
        else if (nEnd > nStart && strData[nEnd - 1] == '\r')
            --nEnd;
        vecLines.push_back(strData.substr(nStart, nEnd - nStart));
        nStart = nNext;
    }
    return vecLines;
}

// Digits only: wcstoul would quietly accept signs, blanks and trailing junk.
inline bool ParseWhole(const std::wstring& strText, unsigned long ulMin, unsigned long ulMax, unsigned long& ulOut)
{
    if (strText.empty() || strText.size() > 10)
        return false;
    unsigned long long ullValue = 0;
    for (wchar_t ch : strText) {
        if (ch < L'0' || ch > L'9')
            return false;
        ullValue = ullValue * 10 + static_cast<unsigned>(ch - L'0');
    }
    if (ullValue < ulMin || ullValue > ulMax)
        return false;
    ulOut = static_cast<unsigned long>(ullValue);
    return true;
}

// Plain decimals only, so "1e3", "inf" and hex forms that wcstod accepts are refused.
inline bool ParseRate(const std::wstring& strText, double& dOut)
{
    int nDigits = 0;
    int nDots = 0;
    for (wchar_t ch : strText) {
        if (ch >= L'0' && ch <= L'9')
            ++nDigits;
        else if (ch == L'.')
            ++nDots;
        else
            return false;
    }
    if (nDigits == 0 || nDots > 1)
        return false;
    const double dValue = std::wcstod(strText.c_str(), nullptr);
    if (!std::isfinite(dValue) || dValue <= 0.0)
        return false;
    dOut = dValue;
    return true;
}

class CArgParser {
public:
    explicit CArgParser(const std::vector<std::wstring>& vecArgs) : m_vecArgs(vecArgs) {}

    CParseResult Parse()
    {
        bool bOptionsEnded = false;
        while (m_nNext < m_vecArgs.size()) {
            const std::wstring& strArg = m_vecArgs[m_nNext++];
            if (!bOptionsEnded && strArg == L"--")
                bOptionsEnded = true;
            else if (!bOptionsEnded && (strArg == L"-h" || strArg == L"--help")) {
                m_result.m_opts.m_bHelp = true;
                m_result.m_bOk = true;
                return m_result;
            } else if (!bOptionsEnded && strArg.compare(0, 2, L"--") == 0) {
                if (!TakeOption(strArg))
                    return m_result;
            } else
                m_vecFields.push_back(strArg);
        }
        m_result.m_bOk = Finish();
        return m_result;
    }

private:
    bool Fail(const std::wstring& strError)
    {
        m_result.m_strError = strError;
        return false;
    }

    // Accepts both "--port 6000" and "--port=6000".
    bool TakeOption(const std::wstring& strArg)
    {
        const size_t nEquals = strArg.find(L'=');
        const std::wstring strName = strArg.substr(0, nEquals);
        if (!IsKnownOption(strName))
            return Fail(L"unknown option '" + strName + L"'");
        for (const std::wstring& strSeen : m_vecSeen)
            if (strSeen == strName)
                return Fail(strName + L" given more than once");
        m_vecSeen.push_back(strName);

        std::wstring strValue;
        if (nEquals != std::wstring::npos)
            strValue = strArg.substr(nEquals + 1);
        else if (m_nNext < m_vecArgs.size())
            strValue = m_vecArgs[m_nNext++];
        else
            return Fail(strName + L" needs a value");
        // An empty --raw is a deliberate empty datagram; empty anything else is a slip.
        if (strValue.empty() && strName != L"--raw")
            return Fail(strName + L" needs a value");
        return ApplyOption(strName, strValue);
    }

    static bool IsKnownOption(const std::wstring& strName)
    {
        static const wchar_t* const s_rgNames[] = {L"--host", L"--port", L"--count", L"--rate", L"--raw", L"--file"};
        for (const wchar_t* pszName : s_rgNames)
            if (strName == pszName)
                return true;
        return false;
    }

    bool ApplyOption(const std::wstring& strName, const std::wstring& strValue)
    {
        CSendOptions& opts = m_result.m_opts;
        unsigned long ulValue = 0;
        if (strName == L"--host")
            opts.m_strHost = strValue;
        else if (strName == L"--port") {
            if (!ParseWhole(strValue, 1, 65535, ulValue))
                return Fail(L"--port must be a whole number from 1 to 65535, not '" + strValue + L"'");
            opts.m_usPort = static_cast<unsigned short>(ulValue);
        } else if (strName == L"--count") {
            if (!ParseWhole(strValue, 1, kMaxCount, opts.m_ulCount))
                return Fail(L"--count must be a whole number from 1 to 1000000000, not '" + strValue + L"'");
            opts.m_bReport = true;
        } else if (strName == L"--rate") {
            if (!ParseRate(strValue, opts.m_dRate))
                return Fail(L"--rate must be a positive number of datagrams per second, not '" + strValue + L"'");
            opts.m_bReport = true;
        } else if (strName == L"--raw") {
            m_bRaw = true;
            m_strRaw = strValue;
        } else {
            opts.m_strFile = strValue;
        }
        return true;
    }

    bool Finish()
    {
        const int nSources = (m_bRaw ? 1 : 0) + (m_result.m_opts.m_strFile.empty() ? 0 : 1) +
                             (m_vecFields.empty() ? 0 : 1);
        if (nSources > 1)
            return Fail(L"--raw, --file and the four fields cannot be combined");
        if (nSources == 0)
            return Fail(L"nothing to send: give AP TIME TYPE CONTENT, --raw TEXT or --file PATH");
        if (m_bRaw)
            return FinishRaw();
        if (!m_result.m_opts.m_strFile.empty()) {
            m_result.m_opts.m_eSource = ESource::File;
            return true;
        }
        return FinishFields();
    }

    bool FinishRaw()
    {
        std::string strPayload;
        if (!ToAlarmCodePage(m_strRaw, strPayload))
            return Fail(L"the --raw text has characters that code page 936 (GBK) cannot represent");
        m_result.m_opts.m_eSource = ESource::Raw;
        m_result.m_opts.m_vecPayloads.push_back(strPayload);
        return true;
    }

    bool FinishFields()
    {
        static const wchar_t* const s_rgFieldNames[] = {L"AP", L"TIME", L"TYPE", L"CONTENT"};
        if (m_vecFields.size() != 4)
            return Fail(L"expected 4 fields (AP TIME TYPE CONTENT), got " + std::to_wstring(m_vecFields.size()));
        std::string strPayload;
        for (size_t i = 0; i < m_vecFields.size(); ++i) {
            const std::wstring strName = s_rgFieldNames[i];
            if (m_vecFields[i].find(L';') != std::wstring::npos)
                return Fail(L"the " + strName + L" field contains ';', which would shift the fields"
                                                L" (use --raw to send text as it is)");
            std::string strEncoded;
            if (!ToAlarmCodePage(m_vecFields[i], strEncoded))
                return Fail(L"the " + strName + L" field has characters that code page 936 (GBK) cannot represent");
            strPayload += strEncoded;
            strPayload += ';';
        }
        m_result.m_opts.m_eSource = ESource::Fields;
        m_result.m_opts.m_vecPayloads.push_back(strPayload);
        return true;
    }

    const std::vector<std::wstring>& m_vecArgs;
    size_t m_nNext = 0;
    CParseResult m_result;
    std::vector<std::wstring> m_vecFields;
    std::vector<std::wstring> m_vecSeen;
    bool m_bRaw = false;
    std::wstring m_strRaw;
};

// The arguments after the program name.
inline CParseResult ParseArgs(const std::vector<std::wstring>& vecArgs)
{
    return CArgParser(vecArgs).Parse();
}

}  // namespace alarmsend
