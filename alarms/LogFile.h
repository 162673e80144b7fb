// The file calls the log is made of: opening it while other programs use it, renames that wait
// for a program that holds it a moment, whole small files written durably, and the archives.
#pragma once

#include "Handle.h"

#include <windows.h>

#include <string>

// The log, or an empty owner and the error. A program that holds it without sharing it (rare:
// viewers, backup and indexing share it) gets a moment to let go unless bRetry is false; the
// wait ends early once hStop (may be null) is set.
CFile OpenLog(DWORD dwAccess, DWORD dwDisposition, bool bRetry, HANDLE hStop, DWORD& dwError);
// Renames the file, waiting the same way for a program whose open handle refuses it. Returns
// the error, or ERROR_SUCCESS.
DWORD MoveWhileHeld(const wchar_t* pszFrom, const wchar_t* pszTo, bool bRetry, HANDLE hStop);
// Writes the bytes at the file's position; false unless every one of them was written.
bool WriteAll(HANDLE hFile, const std::string& bytes);
// False when the file is not there or cannot be read.
bool ReadWholeFile(const wchar_t* pszPath, std::string& bytes);
// Writes the file whole and durably through a temporary beside it, so that a failure leaves the
// old one as it was.
bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes);
std::string FormatTime(const SYSTEMTIME& time, const char* pszFormat);
// A name the log takes on its way out, never taken before.
std::wstring LeavingName();
// Removes the oldest archives beyond the bytes kept, never the one just made.
void PruneArchives(const std::string& strJustMade);
