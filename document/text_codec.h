// Texts between the reader (GBK, code page 936) and the outside world
// (UTF-8: the terminal, JSON files, the command line).
#pragma once
#include <string>

// False when gbk is not valid GBK; *utf8 is then left empty.
bool GbkToUtf8(const std::string& gbk, std::string* utf8);

// False when utf8 is not valid UTF-8 or holds a character GBK cannot
// represent; *gbk is then left empty.
bool Utf8ToGbk(const std::string& utf8, std::string* gbk);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(const std::string& text);

// For display: the UTF-8 form of a reader's text, or its bytes in hex
// ("hex:C4E3") when they are not valid GBK.
std::string GbkForDisplay(const std::string& gbk);

std::string HexBytes(const unsigned char* bytes, size_t count, const char* separator);
