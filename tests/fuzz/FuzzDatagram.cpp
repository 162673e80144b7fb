// Feeds raw UDP payloads through the live rules and the log round trip.
#include "AlarmRules.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Explicit so the checks survive builds where assert is compiled out.
void Require(bool bHolds, const char* pszProperty)
{
    if (!bHolds) {
        std::fprintf(stderr, "property violated: %s\n", pszProperty);
        std::abort();
    }
}

// Character boundaries of the original bytes, walked independently of the rules under test.
std::vector<bool> CharBoundaries(const unsigned char* bytes, std::size_t size)
{
    std::vector<bool> boundaries(size + 1, false);
    boundaries[0] = true;
    for (std::size_t pos = 0; pos < size;) {
        const bool bLead = bytes[pos] >= 0x81 && bytes[pos] <= 0xFE;
        const bool bTrail = pos + 1 < size &&
            ((bytes[pos + 1] >= 0x40 && bytes[pos + 1] <= 0x7E) || (bytes[pos + 1] >= 0x80 && bytes[pos + 1] <= 0xFE));
        pos += (bLead && bTrail) ? 2 : 1;
        boundaries[pos] = true;
    }
    return boundaries;
}

// The cut must end on a boundary and be the longest such prefix within the limit.
void RequireCut(const std::vector<bool>& boundaries, std::size_t start, std::size_t available, std::size_t cut,
                std::size_t limit, const char* pszWhat)
{
    Require(cut <= limit && cut <= available, pszWhat);
    Require(boundaries[start + cut], pszWhat);
    if (cut < available) {
        std::size_t next = start + cut + 1;
        while (!boundaries[next])
            ++next;
        Require(next - start > limit, pszWhat);
    }
}

std::string AsCell(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* payload = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(data, 0, size);
    const std::size_t beforeNul = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    const std::vector<bool> boundaries = CharBoundaries(data, beforeNul);

    const std::string text = DatagramText(payload, size);
    Require(text.find('\0') == std::string::npos, "datagram text holds no NUL");
    Require(std::memcmp(text.data(), payload, text.size()) == 0, "datagram text is a prefix of the payload");
    RequireCut(boundaries, 0, beforeNul, text.size(), DATAGRAM_TEXT_MAX, "datagram text is cut at a character");

    AlarmRecord record;
    std::memset(&record, 0xA5, sizeof record);
    const bool bAlarm = ParseAlarm(text, record);
    Require(bAlarm == (std::count(text.begin(), text.end(), ';') == 4), "alarm means exactly four semicolons");
    const char* fields[] = {record.szApName, record.szLogTime, record.szAlarmType, record.szAlarmContent};
    std::size_t start = 0;
    for (const char* field : fields) {
        const char* terminator = static_cast<const char*>(std::memchr(field, 0, ALARM_FIELD_SIZE));
        Require(terminator != nullptr, "field is NUL-terminated inside its buffer");
        const std::size_t length = static_cast<std::size_t>(terminator - field);
        for (std::size_t i = length; i < ALARM_FIELD_SIZE; ++i)
            Require(field[i] == 0, "field buffer is zeroed past its text");
        if (!bAlarm) {
            Require(length == 0, "no fields without an alarm");
            continue;
        }
        const std::size_t end = text.find(';', start);
        RequireCut(boundaries, start, end - start, length, ALARM_FIELD_SIZE - 1, "field is cut at a character");
        Require(std::string(field) == AsCell(text.substr(start, length)), "field is the start of its segment");
        start = end + 1;
    }

    const std::string line = LogLine(text);
    Require(line.size() == text.size() + 2 && line.compare(text.size(), 2, "\r\n") == 0, "log line ends in CR LF");
    Require(line.find_first_of("\r\n") == text.size(), "log line has no other CR or LF");

    const std::vector<std::string> pieces = SplitLogPieces(line);
    Require(pieces.size() == 1 && pieces[0] == AsCell(text) + "\n", "log line reads back as one piece");
    if (bAlarm) {
        std::vector<std::string> columns;
        Require(ParseLogPiece(pieces[0], columns), "logged alarm is not skipped");
        Require(columns.size() == 4, "logged alarm has four columns");
        for (std::size_t i = 0; i < 4; ++i)
            Require(columns[i] == fields[i], "logged alarm reads back as live");
    }
    return 0;
}
