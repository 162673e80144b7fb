#include "AlarmRules.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

constexpr std::size_t ALARM_FIELD_COUNT = 4;
constexpr std::size_t ALARM_FIELD_MAX = ALARM_FIELD_SIZE - 1;

bool IsLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsTrailByte(unsigned char byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// A lead byte without a valid trail is a character of its own, so a broken
// sender can never make one byte swallow the next.
std::size_t CharLength(const char* text, std::size_t size, std::size_t pos)
{
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (IsLeadByte(byte) && pos + 1 < size && IsTrailByte(static_cast<unsigned char>(text[pos + 1])))
        return 2;
    return 1;
}

char CellByte(char byte)
{
    return (byte == '\r' || byte == '\n') ? ' ' : byte;
}

void CopyField(const char* source, std::size_t size, char (&field)[ALARM_FIELD_SIZE])
{
    const std::size_t length = Cp936CutLength(source, size, ALARM_FIELD_MAX);
    std::transform(source, source + length, field, CellByte);
    field[length] = '\0';
}

std::string ColumnText(const std::string& piece, std::size_t start, std::size_t end)
{
    std::string column(piece, start, Cp936CutLength(piece.data() + start, end - start, ALARM_FIELD_MAX));
    std::transform(column.begin(), column.end(), column.begin(), CellByte);
    return column;
}

} // namespace

std::size_t Cp936CutLength(const char* text, std::size_t size, std::size_t maxBytes)
{
    if (size <= maxBytes)
        return size;
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = CharLength(text, size, pos);
        if (pos + length > maxBytes)
            break;
        pos += length;
    }
    return pos;
}

std::string DatagramText(const char* payload, std::size_t size)
{
    if (payload == nullptr)
        return std::string();
    // One byte past the limit decides whether the last byte that fits is half a pair.
    const std::size_t scanned = std::min(size, DATAGRAM_TEXT_MAX + 1);
    const void* nul = std::memchr(payload, '\0', scanned);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - payload) : scanned;
    return std::string(payload, Cp936CutLength(payload, length, DATAGRAM_TEXT_MAX));
}

bool IsAlarmText(const std::string& text)
{
    return std::count(text.begin(), text.end(), ';') == static_cast<std::ptrdiff_t>(ALARM_FIELD_COUNT);
}

bool ParseAlarm(const std::string& text, AlarmRecord& record)
{
    record = AlarmRecord{};
    if (!IsAlarmText(text))
        return false;
    char (*fields[ALARM_FIELD_COUNT])[ALARM_FIELD_SIZE] = {
        &record.szApName, &record.szLogTime, &record.szAlarmType, &record.szAlarmContent};
    std::size_t start = 0;
    for (auto* field : fields) {
        const std::size_t end = text.find(';', start);
        CopyField(text.data() + start, end - start, *field);
        start = end + 1;
    }
    return true;
}

std::string LogLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size() + 2);
    std::transform(text.begin(), text.end(), std::back_inserter(line), CellByte);
    line += "\r\n";
    return line;
}

std::vector<std::string> SplitLogPieces(const std::string& fileBytes)
{
    std::vector<std::string> pieces;
    std::string piece;
    const std::size_t size = fileBytes.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char byte = fileBytes[i];
        if (byte == '\r' && i + 1 < size && fileBytes[i + 1] == '\n')
            continue;
        piece.push_back(byte);
        if (byte == '\n' || piece.size() == LOG_PIECE_MAX) {
            pieces.push_back(std::move(piece));
            piece.clear();
        }
    }
    if (!piece.empty())
        pieces.push_back(std::move(piece));
    return pieces;
}

bool ParseLogPiece(const std::string& piece, std::vector<std::string>& columns)
{
    columns.clear();
    if (piece.size() < 3)
        return false;
    std::size_t end = piece.size();
    if (piece[end - 1] == '\n') {
        --end;
        if (piece[end - 1] == '\r')
            --end;
    }
    std::size_t start = 0;
    while (columns.size() < ALARM_FIELD_COUNT) {
        const auto semicolon = std::find(piece.begin() + start, piece.begin() + end, ';');
        const auto stop = static_cast<std::size_t>(semicolon - piece.begin());
        if (stop == end) {
            // What follows a final ';' is a column only when something is there.
            if (start < end)
                columns.push_back(ColumnText(piece, start, end));
            break;
        }
        columns.push_back(ColumnText(piece, start, stop));
        start = stop + 1;
    }
    return true;
}

std::string ArchiveName(const std::string& stamp, unsigned n)
{
    return "myfile-" + stamp + (n > 1 ? "-" + std::to_string(n) : std::string()) + ".txt";
}

bool ArchiveOrderKey(const std::string& name, std::string& key)
{
    constexpr std::size_t STAMP_SIZE = 15; // YYYYMMDD-hhmmss
    const std::string prefix = "myfile-", suffix = ".txt";
    if (name.size() < prefix.size() + STAMP_SIZE + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string stamp = name.substr(prefix.size(), STAMP_SIZE);
    for (std::size_t i = 0; i < STAMP_SIZE; ++i) {
        if (i == 8 ? stamp[i] != '-' : !std::isdigit(static_cast<unsigned char>(stamp[i])))
            return false;
    }
    const std::string rest = name.substr(prefix.size() + STAMP_SIZE, name.size() - prefix.size() - STAMP_SIZE - suffix.size());
    std::string sequence = "1";
    if (!rest.empty()) {
        sequence = rest.substr(1);
        if (rest[0] != '-' || sequence.empty() || sequence.size() > 9 || sequence[0] == '0' ||
            !std::all_of(sequence.begin(), sequence.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return false;
    }
    key = stamp + std::string(10 - sequence.size(), '0') + sequence;
    return true;
}

std::vector<std::string> ArchivesToPrune(const std::vector<CArchiveFile>& files, const std::string& strJustMade,
                                         std::uint64_t nBytesKept)
{
    std::string justMadeKey;
    const bool bJustMade = ArchiveOrderKey(strJustMade, justMadeKey);
    // Each archive with its age: stamped after the one just made comes before everything else.
    std::vector<std::pair<std::pair<bool, std::string>, const CArchiveFile*>> archives;
    for (const CArchiveFile& file : files) {
        std::string key;
        if (file.name == strJustMade || !ArchiveOrderKey(file.name, key))
            continue;
        const bool bBeforeClockWentBack = bJustMade && key > justMadeKey;
        archives.push_back({{!bBeforeClockWentBack, key}, &file});
    }
    std::sort(archives.begin(), archives.end());
    std::vector<std::string> pruned;
    std::uint64_t nKept = 0;
    for (auto it = archives.rbegin(); it != archives.rend(); ++it) {
        const std::uint64_t nBytes = it->second->nBytes;
        if (pruned.empty() && nBytes <= nBytesKept - nKept)
            nKept += nBytes;
        else
            pruned.push_back(it->second->name);
    }
    return pruned;
}
