// Every text the program handles is a byte string in code page 936; windows are Unicode.
// These two functions are the only place where the two meet.
#pragma once

#include <string>

constexpr unsigned TEXT_CODE_PAGE = 936;

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
