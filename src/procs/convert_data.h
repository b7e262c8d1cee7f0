// Copying one value between the text and binary forms a fetch exit's
// result set uses.
#pragma once

namespace qvx {

// Types: 1 character, 2 binary integer.
enum : int { kConvChar = 1, kConvBinary = 2 };

// Flags.
enum : int {
    kConvPad = 1,           // pad with blanks to the destination length
    kConvRight = 2,         // right-justify
    kConvNoRight = 4,       // no implicit right-justification
    kConvQuote = 8,         // quote a value containing blanks
    kConvTrim = 16,         // remove trailing blanks
    kConvNoTerminator = 32, // do not terminate with a zero byte
};

// Copies and converts one value; returns the length written, 0 on a
// conversion error (diu4030). A negative src_len means the source text's
// length. A character destination needs dst_len + 1 bytes unless
// kConvNoTerminator is given; a binary one 1, 2 or 4 bytes (any other
// width receives 4).
int convertData(int dst_len, char* dst, int dst_type, int src_len, const char* src, int src_type, int flags);

} // namespace qvx
