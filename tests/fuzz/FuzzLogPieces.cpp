// Feeds arbitrary log file bytes through the start-up read of the log.
#include "AlarmRules.h"
#include "LogTail.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fileBytes(reinterpret_cast<const char*>(data), size);
    std::string textMode;
    for (std::size_t i = 0; i < size; ++i) {
        if (!(fileBytes[i] == '\r' && i + 1 < size && fileBytes[i + 1] == '\n'))
            textMode += fileBytes[i];
    }

    const std::vector<std::string> pieces = SplitLogPieces(fileBytes);
    std::string joined;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        joined += piece;
        Require(!piece.empty() && piece.size() <= LOG_PIECE_MAX, "piece is 1 to 1023 bytes");
        const std::size_t lineFeed = piece.find('\n');
        Require(lineFeed == std::string::npos || lineFeed + 1 == piece.size(), "LF only ends a piece");
        Require(lineFeed != std::string::npos || piece.size() == LOG_PIECE_MAX || i + 1 == pieces.size(),
                "only a full piece or the last one lacks its LF");

        const bool bKept = ParseLogPiece(piece, columns);
        Require(bKept == (piece.size() >= 3), "short pieces and only they are skipped");
        Require(bKept || columns.empty(), "a skipped piece has no columns");
        Require(columns.size() <= 4, "at most four columns");
        if (bKept)
            rows.push_back(columns);
        for (const std::string& column : columns) {
            Require(column.size() <= 31, "column fits its field");
            Require(column.find_first_of(";\n") == std::string::npos, "column holds no ';' or LF");
        }
    }
    Require(joined == textMode, "pieces rebuild the file with CR LF read as LF");

    // Read from the end, the newest rows are the same rows, newest first.
    std::reverse(rows.begin(), rows.end());
    const LogByteReader readAt = [&fileBytes](std::uint64_t offset, std::size_t count, char* out) {
        std::memcpy(out, fileBytes.data() + offset, count);
        return true;
    };
    const std::size_t nMax = size % 50;
    // Small reads put the edges between reads everywhere, inside CR LF and inside the windows
    // that lines without rows are passed over in.
    for (const std::size_t nReadMax : {LOG_TAIL_READ_MAX, 1 + size / 50 % 200}) {
        const auto tail = ReadLogTail(size, readAt, nMax, nReadMax);
        Require(tail.size() == std::min(nMax, rows.size()) && std::equal(tail.begin(), tail.end(), rows.begin()),
                "the tail read lists the newest rows as the whole read does");
    }
    return 0;
}
