// Code-page conversion of fetched character data to UTF-8 (and back).
// The system code page is that of the locale the environment names
// (LC_ALL, LC_CTYPE, LANG), read once; a UTF-8 or plain ASCII code page
// needs no conversion and the bytes are taken as they are.
#pragma once

#include <string>

namespace qvx {

// Name of the system code page ("UTF-8", "ISO-8859-1", ...); empty when
// the locale cannot be read.
const std::string& getCodepageInfo();

// True when text in the system code page is already UTF-8.
bool codepage_is_utf8();

// Each converts src_len bytes into at most dst_len bytes and returns the
// bytes produced, 0 on failure. options: 256 stops at the first
// character that does not fit or does not convert, keeping what was
// converted before it; otherwise such a conversion fails.
int Convert_toUTF8_wopt(char* dst, int dst_len, const char* src, int src_len, int options);
int Convert_fromUTF8(char* dst, int dst_len, const char* src, int src_len);
// From the two-byte Unicode encoding of national-character columns.
int Convert_UnicodeToUTF8_wopt(char* dst, int dst_len, const char* src, int src_len, int options);

// The same between named code pages (iconv names).
int convert_codepage(const char* from, const char* to, char* dst, int dst_len, const char* src,
                     int src_len, int options);

// Length of the longest prefix of text (len bytes) that holds at most
// max_chars whole UTF-8 characters.
int utf8_prefix(const char* text, int len, int max_chars);

// Reads the locale again (tests).
void reset_codepage();

} // namespace qvx
