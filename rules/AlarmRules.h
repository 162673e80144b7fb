// How Wendle turns UDP datagrams and lines of its log file into alarm rows.
// Every text is code page 936 (GBK) bytes; nothing here depends on Windows,
// so the same rules build natively for sanitizer runs and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr unsigned short ALARM_PORT = 6000;
constexpr int ALARM_LIST_CAP = 3000;          // rows per list
constexpr std::size_t ALARM_FIELD_SIZE = 32;  // 31 bytes of text and the terminating NUL
constexpr std::size_t DATAGRAM_TEXT_MAX = 255;
constexpr std::size_t LOG_PIECE_MAX = 1023;

struct AlarmRecord {            // each buffer zeroed before parsing
    char szApName[ALARM_FIELD_SIZE];
    char szLogTime[ALARM_FIELD_SIZE];
    char szAlarmType[ALARM_FIELD_SIZE];
    char szAlarmContent[ALARM_FIELD_SIZE];
};

// Length of the longest prefix of text[0, size) that ends on a CP936 character
// boundary and fits in maxBytes, so a cut never leaves half a double-byte character.
std::size_t Cp936CutLength(const char* text, std::size_t size, std::size_t maxBytes);

// The bytes before the first NUL, cut to DATAGRAM_TEXT_MAX bytes.
std::string DatagramText(const char* payload, std::size_t size);

// True when the text holds exactly four ';' bytes.
bool IsAlarmText(const std::string& text);

// Zeroes the record and, when the text is an alarm, fills the four fields.
// CR and LF inside a field show as a space, exactly as the log line keeps them,
// so a row looks the same live and after a restart. Returns IsAlarmText(text).
bool ParseAlarm(const std::string& text, AlarmRecord& record);

// The text as one log line: CR and LF inside become a space, then "\r\n".
std::string LogLine(const std::string& text);

// The log file's bytes as the C library's text-mode fgets with a 1024-byte
// buffer reads them: CR LF becomes LF, and each piece is a line with its LF,
// or at most LOG_PIECE_MAX bytes of a longer line.
std::vector<std::string> SplitLogPieces(const std::string& fileBytes);

// The columns of one piece, split like a live datagram. Returns false (and no
// columns) for a piece shorter than 3 bytes, which is skipped.
bool ParseLogPiece(const std::string& piece, std::vector<std::string>& columns);

// The name of the log's archive made at the stamp "YYYYMMDD-hhmmss": "myfile-<stamp>.txt", and
// "myfile-<stamp>-<n>.txt" for the n-th one within the same second (n from 2).
std::string ArchiveName(const std::string& stamp, unsigned n);

// A key that orders archive names oldest first; false for a name that is no archive's.
bool ArchiveOrderKey(const std::string& name, std::string& key);

// The archives together may fill this much of the disk: about 20 million lines, an hour of a
// storm at the intake's limit and years of normal traffic.
constexpr std::uint64_t ARCHIVE_BYTES_KEPT = std::uint64_t{1} << 30;

struct CArchiveFile {
    std::string name;
    std::uint64_t nBytes = 0;
};

// The archives to delete so that those kept, newest first, hold at most nBytesKept between
// them. The archive just made is never deleted nor counted. Archives stamped later than it were
// made before the clock went back (a clock that ran ahead, a restored virtual machine, the
// repeated hour at the end of daylight saving time), so they count as the oldest and go first.
// Names that are no archive's are left alone.
std::vector<std::string> ArchivesToPrune(const std::vector<CArchiveFile>& files, const std::string& strJustMade,
                                         std::uint64_t nBytesKept);
