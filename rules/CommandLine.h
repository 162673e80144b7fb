// Command lines as Windows splits them (CommandLineToArgvW and the C runtime agree on this).
// Plain C++: it builds natively.
#pragma once

#include <string>

// One argument quoted so that the split gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg);
