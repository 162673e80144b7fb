#include "Text.h"

#include <windows.h>

namespace {

// Converts one run of text that may hold bytes code page 936 cannot map. Each character is
// converted on its own so that an invalid byte becomes one replacement character and never
// swallows or shifts its neighbours.
std::wstring WidenByCharacter(const std::string& text)
{
    std::wstring result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        if (lead >= 0x81 && lead <= 0xFE && i + 1 < text.size()) {
            const auto trail = static_cast<unsigned char>(text[i + 1]);
            if ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE))
                length = 2;
        }
        wchar_t converted[2];
        const int count = MultiByteToWideChar(TEXT_CODE_PAGE, MB_ERR_INVALID_CHARS, text.data() + i,
                                              static_cast<int>(length), converted, 2);
        if (count > 0)
            result.append(converted, count);
        else
            result.push_back(L'\xFFFD');
        i += length;
    }
    return result;
}

} // namespace

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(TEXT_CODE_PAGE, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return WidenByCharacter(text);
    std::wstring result(length, L'\0');
    MultiByteToWideChar(TEXT_CODE_PAGE, MB_ERR_INVALID_CHARS, text.data(), size, result.data(), length);
    return result;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(TEXT_CODE_PAGE, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(length, '\0');
    WideCharToMultiByte(TEXT_CODE_PAGE, 0, text.data(), size, result.data(), length, nullptr, nullptr);
    return result;
}
