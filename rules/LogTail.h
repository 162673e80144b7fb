// Reads the newest rows of the alarm log from its end, split and skipped exactly as a read of
// the whole file from its start would, so that start-up time and memory do not grow with the
// file. Plain C++: it builds natively for sanitizer runs and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Fills out with the file's bytes [offset, offset + size); false on a read error.
using LogByteReader = std::function<bool(std::uint64_t offset, std::size_t size, char* out)>;

// The largest read asked of a LogByteReader. The first reads are smaller, since the newest rows
// of a log of alarms lie in its last kilobytes; a log whose end holds long runs of lines that
// give no row is read in reads this large: few enough that their own cost (under Wine each is
// a round trip to its server) is small beside the bytes', and small enough that a block is
// still in the processor's cache when it is looked at.
constexpr std::size_t LOG_TAIL_READ_MAX = std::size_t{1} << 20;

// The columns of at most nMaxRows rows of a file of fileSize bytes, newest first. A read error
// ends the load with the rows found so far. No read asks for more than nReadMax bytes.
std::vector<std::vector<std::string>> ReadLogTail(std::uint64_t fileSize, const LogByteReader& readAt,
                                                  std::size_t nMaxRows, std::size_t nReadMax = LOG_TAIL_READ_MAX);
