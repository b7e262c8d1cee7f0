// Turns date texts as databases and exits deliver them into the 16-character
// timestamp form YYYMMDDhhmmssmmm (years since 1900).
#pragma once

namespace qvx {

// length below 1: the text is zero-terminated; at most 99 characters are
// considered. Writes exactly 16 characters to out (no terminator); returns
// 0, or an error code after writing the error form into out.
int us_normalizeDateTime(const char* text, int length, char* out);

} // namespace qvx
