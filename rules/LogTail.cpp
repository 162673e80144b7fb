#include "LogTail.h"

#include "AlarmRules.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

constexpr std::size_t FIRST_READ_BYTES = 64 * 1024;
// Lines that give no row are passed over in windows of this many lines' starts, and a long line
// this many bytes at a time on the way back to its start. Small enough that a window next to a
// row costs little when it has to be looked at line by line.
constexpr std::size_t WINDOW_BYTES = 128;
// The bytes a window looks at: whether a line that starts at its last byte gives a row shows
// in the two bytes after it.
constexpr std::size_t WINDOW_SPAN = WINDOW_BYTES + 2;

// When true, no line that lies whole in the window gives a row: each one's text, CR LF read as
// LF, is shorter than 3 bytes. Such lines are a LF, one byte and a LF, or one byte, a CR and a
// LF, so of any byte and the one after it, one is a LF, or the second is a CR that ends the
// line. Without branches, over a window of fixed size, in bytes, so that the compiler looks at
// sixteen or more bytes at once.
bool IsRowless(const char* window)
{
    unsigned char rowless = 1;
    for (std::size_t i = 0; i < WINDOW_BYTES; ++i) {
        const unsigned char bLineFeed = window[i] == '\n';
        const unsigned char bNextLineFeed = window[i + 1] == '\n';
        const unsigned char bNextEnds = (window[i + 1] == '\r') & (window[i + 2] == '\n');
        rowless &= bLineFeed | bNextLineFeed | bNextEnds;
    }
    return rowless != 0;
}

bool HasLineFeed(const char* window)
{
    unsigned char found = 0;
    for (std::size_t i = 0; i < WINDOW_BYTES; ++i)
        found |= static_cast<unsigned char>(window[i] == '\n');
    return found != 0;
}

// The last LF in [first, last), or null.
const char* LastLineFeed(const char* first, const char* last)
{
    while (static_cast<std::size_t>(last - first) >= WINDOW_BYTES && !HasLineFeed(last - WINDOW_BYTES))
        last -= WINDOW_BYTES;
    while (last != first) {
        if (*--last == '\n')
            return last;
    }
    return nullptr;
}

// The file's bytes from its end toward its start, held as one block. A new block ends where the
// one before began, or keeps the first bytes of the one before after its own: every byte is
// read once.
class CBackwardBlocks {
public:
    CBackwardBlocks(const LogByteReader& readAt, std::uint64_t fileSize, std::size_t nReadMax)
        : m_readAt(readAt), m_nReadMax(std::max<std::size_t>(nReadMax, 1)),
          m_nNextRead(std::min(FIRST_READ_BYTES, m_nReadMax)), m_nStart(fileSize)
    {
    }

    const char* At(std::uint64_t pos) const { return m_block.data() + (pos - m_nStart); }

    // Reads the bytes before the block and keeps its bytes up to keepEnd after them.
    bool ReadBefore(std::uint64_t keepEnd)
    {
        const auto nKept = static_cast<std::size_t>(keepEnd - m_nStart);
        const auto nRead = static_cast<std::size_t>(std::min<std::uint64_t>(m_nNextRead, m_nStart));
        m_nNextRead = std::min(m_nNextRead * 2, m_nReadMax);
        // The buffer only grows, so that it is filled with zeros once, not for every read.
        if (m_block.size() < nRead + nKept)
            m_block.resize(nRead + nKept);
        std::memmove(&m_block[nRead], m_block.data(), nKept);
        m_nStart -= nRead;
        return m_readAt(m_nStart, nRead, &m_block[0]);
    }

    // Moves end back over every line that gives no row, as far as whole windows of them reach.
    bool SkipRowless(std::uint64_t& end)
    {
        for (;;) {
            while (end - m_nStart >= WINDOW_SPAN) {
                const char* window = At(end - WINDOW_SPAN);
                if (!IsRowless(window))
                    return true;
                // One of its first three bytes is a LF, and the lines after it are whole.
                const std::size_t nFirstLineFeed = window[0] == '\n' ? 0 : window[1] == '\n' ? 1 : 2;
                end -= WINDOW_SPAN - nFirstLineFeed - 1;
            }
            if (m_nStart == 0)
                return true;
            if (!ReadBefore(end))
                return false;
        }
    }

    // Walks back over the line that ends at end (its own LF, if any, is its last byte; the LF
    // before it, or the file's start, begins it). Returns where it starts, and keeps its last
    // nKeep bytes in tail, in the file's order.
    bool ReadLineBack(std::uint64_t end, std::size_t nKeep, std::uint64_t& start, std::string& tail)
    {
        tail.clear();
        for (std::uint64_t pos = end;; pos = m_nStart) {
            if (pos == 0) {
                start = 0;
                break;
            }
            if (pos == m_nStart && !ReadBefore(pos))
                return false;
            const char* first = At(m_nStart);
            const char* last = At(pos);
            const char* lineFeed = LastLineFeed(first, pos == end ? last - 1 : last);
            const char* from = lineFeed ? lineFeed + 1 : first;
            const auto nTaken = std::min(static_cast<std::size_t>(last - from), nKeep - tail.size());
            tail.append(std::make_reverse_iterator(last), std::make_reverse_iterator(last - nTaken));
            if (lineFeed) {
                start = m_nStart + static_cast<std::uint64_t>(from - first);
                break;
            }
        }
        std::reverse(tail.begin(), tail.end());
        return true;
    }

private:
    const LogByteReader& m_readAt;
    const std::size_t m_nReadMax;
    std::size_t m_nNextRead;
    std::uint64_t m_nStart;
    std::string m_block;
};

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
                                                  std::size_t nMaxRows, std::size_t nReadMax)
{
    std::vector<std::vector<std::string>> rows;
    CBackwardBlocks blocks(readAt, fileSize, nReadMax);
    std::string tail;
    for (std::uint64_t end = fileSize; end > 0 && rows.size() < nMaxRows;) {
        if (!blocks.SkipRowless(end) || end == 0)
            break;
        // A line is walked back to its start, since its pieces are cut from there; of a long one
        // only the end the rows still wanted need is kept. Every piece but the last is whole and
        // a row, so that is one piece more than the rows, and the line's last one.
        const std::size_t nPieces =
            std::min(nMaxRows - rows.size(), std::numeric_limits<std::size_t>::max() / LOG_PIECE_MAX - 3);
        std::uint64_t start = 0;
        if (!blocks.ReadLineBack(end, (nPieces + 2) * LOG_PIECE_MAX + 1, start, tail))
            break;
        AddLineRows(start, end, tail, nMaxRows, rows);
        end = start;
    }
    return rows;
}
