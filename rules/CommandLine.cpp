#include "CommandLine.h"

std::wstring QuoteArgument(const std::wstring& arg)
{
    // Backslashes are plain unless a quote follows them: then each is doubled, and the quote
    // escaped with one more.
    std::wstring quoted = L"\"";
    std::size_t nBackslashes = 0;
    for (wchar_t ch : arg) {
        if (ch == L'\\') {
            ++nBackslashes;
            continue;
        }
        quoted.append(ch == L'"' ? nBackslashes * 2 + 1 : nBackslashes, L'\\');
        nBackslashes = 0;
        quoted += ch;
    }
    quoted.append(nBackslashes * 2, L'\\');
    return quoted + L"\"";
}
