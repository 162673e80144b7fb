#include "LogTail.h"

#include "AlarmRules.h"

#include <algorithm>

namespace {

constexpr std::size_t WINDOW_BYTES = 64 * 1024;

// Byte access that reads the file in windows, one ending at the byte asked for, since the
// reader walks backwards.
class CBackwardReader {
public:
    CBackwardReader(std::uint64_t fileSize, const LogByteReader& readAt) : m_nFileSize(fileSize), m_readAt(readAt) {}

    bool At(std::uint64_t pos, char& byte)
    {
        if (pos < m_nStart || pos >= m_nStart + m_window.size()) {
            const std::uint64_t end = std::min(m_nFileSize, pos + 1);
            m_nStart = end > WINDOW_BYTES ? end - WINDOW_BYTES : 0;
            m_window.resize(static_cast<std::size_t>(end - m_nStart));
            if (!m_readAt(m_nStart, m_window.size(), m_window.data())) {
                m_window.clear();
                return false;
            }
        }
        byte = m_window[static_cast<std::size_t>(pos - m_nStart)];
        return true;
    }

private:
    const std::uint64_t m_nFileSize;
    const LogByteReader& m_readAt;
    std::uint64_t m_nStart = 0;
    std::string m_window;
};

// Adds the rows of the line [start, end), newest piece first. A CR before the closing LF is
// read as part of the line break; pieces are LOG_PIECE_MAX bytes from the line's start.
bool AddLineRows(CBackwardReader& reader, std::uint64_t start, std::uint64_t end, std::size_t nMaxRows,
                 std::vector<std::vector<std::string>>& rows)
{
    char last = 0, beforeLast = 0;
    if (!reader.At(end - 1, last))
        return false;
    const bool bCrLf = last == '\n' && end - start >= 2 && reader.At(end - 2, beforeLast) && beforeLast == '\r';
    const std::uint64_t nKept = (end - start) - (bCrLf ? 1 : 0);
    std::vector<std::string> columns;
    for (std::uint64_t first = (nKept - 1) / LOG_PIECE_MAX * LOG_PIECE_MAX;; first -= LOG_PIECE_MAX) {
        std::string piece;
        const std::uint64_t stop = std::min<std::uint64_t>(nKept, first + LOG_PIECE_MAX);
        for (std::uint64_t i = first; i < stop; ++i) {
            char byte = 0;
            // With the CR left out, the kept LF is the line's last byte.
            const std::uint64_t pos = bCrLf && i == nKept - 1 ? end - 1 : start + i;
            if (!reader.At(pos, byte))
                return false;
            piece.push_back(byte);
        }
        if (ParseLogPiece(piece, columns)) {
            rows.push_back(std::move(columns));
            if (rows.size() == nMaxRows)
                return true;
        }
        if (first == 0)
            return true;
    }
}

} // namespace

std::vector<std::vector<std::string>> ReadLogTail(std::uint64_t fileSize, const LogByteReader& readAt,
                                                  std::size_t nMaxRows)
{
    std::vector<std::vector<std::string>> rows;
    CBackwardReader reader(fileSize, readAt);
    std::uint64_t end = fileSize;
    while (end > 0 && rows.size() < nMaxRows) {
        char byte = 0;
        if (!reader.At(end - 1, byte))
            break;
        // The line's own LF ends it; the LF before it, or the file's start, begins it.
        std::uint64_t start = byte == '\n' ? end - 1 : end;
        while (start > 0 && reader.At(start - 1, byte) && byte != '\n')
            --start;
        if (start > 0 && byte != '\n')
            break;
        if (!AddLineRows(reader, start, end, nMaxRows, rows))
            break;
        end = start;
    }
    return rows;
}
