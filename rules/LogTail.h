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

// The columns of at most nMaxRows rows of a file of fileSize bytes, newest first. A read error
// ends the load with the rows found so far.
std::vector<std::vector<std::string>> ReadLogTail(std::uint64_t fileSize, const LogByteReader& readAt,
                                                  std::size_t nMaxRows);
