#include "LogTail.h"

#include "AlarmRules.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t BLOCK_BYTES = 64 * 1024;

// The file's bytes from its end toward its start, read in blocks that each end where the one
// before began: every byte is read once, however long its line.
class CBackwardReader {
public:
    explicit CBackwardReader(const LogByteReader& readAt) : m_readAt(readAt) {}

    // The byte at pos; positions are asked for from the end toward the start.
    bool At(std::uint64_t pos, char& byte)
    {
        if (pos < m_nStart || pos >= m_nStart + m_block.size()) {
            const std::uint64_t end = pos + 1;
            m_nStart = end > BLOCK_BYTES ? end - BLOCK_BYTES : 0;
            m_block.resize(static_cast<std::size_t>(end - m_nStart));
            if (!m_readAt(m_nStart, m_block.size(), m_block.data())) {
                m_block.clear();
                return false;
            }
        }
        byte = m_block[static_cast<std::size_t>(pos - m_nStart)];
        return true;
    }

private:
    const LogByteReader& m_readAt;
    std::uint64_t m_nStart = 0;
    std::string m_block;
};

// Walks back over the line that ends at end (its own LF, if any, is its last byte; the LF
// before it, or the file's start, begins it). Returns where it starts, and keeps its last
// nKeep bytes in tail, in the file's order.
bool ReadLineBack(CBackwardReader& reader, std::uint64_t end, std::size_t nKeep, std::uint64_t& start,
                  std::string& tail)
{
    tail.clear();
    char byte = 0;
    for (start = end; start > 0; --start) {
        if (!reader.At(start - 1, byte))
            return false;
        if (byte == '\n' && start < end)
            break;
        if (tail.size() < nKeep)
            tail.push_back(byte);
    }
    std::reverse(tail.begin(), tail.end());
    return true;
}

// Adds the rows of the line [start, end), newest piece first, from its last bytes in tail. A
// CR before the closing LF is read as part of the line break; pieces are LOG_PIECE_MAX bytes
// from the line's start. tail must hold every piece still wanted.
void AddLineRows(std::uint64_t start, std::uint64_t end, std::string& tail, std::size_t nMaxRows,
                 std::vector<std::vector<std::string>>& rows)
{
    std::uint64_t nLength = end - start;
    if (tail.size() >= 2 && tail[tail.size() - 1] == '\n' && tail[tail.size() - 2] == '\r') {
        tail.erase(tail.size() - 2, 1);
        --nLength;
    }
    // Where the kept bytes begin in the line as read, CR LF as LF.
    const std::uint64_t nTailStart = nLength - tail.size();
    std::vector<std::string> columns;
    for (std::uint64_t first = (nLength - 1) / LOG_PIECE_MAX * LOG_PIECE_MAX; first >= nTailStart;
         first -= LOG_PIECE_MAX) {
        const std::size_t nOffset = static_cast<std::size_t>(first - nTailStart);
        if (ParseLogPiece(tail.substr(nOffset, LOG_PIECE_MAX), columns)) {
            rows.push_back(std::move(columns));
            if (rows.size() == nMaxRows)
                return;
        }
        if (first == 0)
            return;
    }
}

} // namespace

std::vector<std::vector<std::string>> ReadLogTail(std::uint64_t fileSize, const LogByteReader& readAt,
                                                  std::size_t nMaxRows)
{
    std::vector<std::vector<std::string>> rows;
    CBackwardReader reader(readAt);
    std::string tail;
    for (std::uint64_t end = fileSize; end > 0 && rows.size() < nMaxRows;) {
        // A line is walked back to its start, since its pieces are cut from there; of a long one
        // only the end the rows still wanted need is kept. Every piece but the last is whole and
        // a row, so that is one piece more than the rows, and the line's last one.
        const std::size_t nPieces =
            std::min(nMaxRows - rows.size(), std::numeric_limits<std::size_t>::max() / LOG_PIECE_MAX - 3);
        std::uint64_t start = 0;
        if (!ReadLineBack(reader, end, (nPieces + 2) * LOG_PIECE_MAX + 1, start, tail))
            break;
        AddLineRows(start, end, tail, nMaxRows, rows);
        end = start;
    }
    return rows;
}
