// Character steps of two kinds of code page, standing in for CharNextA away from Windows.
#pragma once

namespace code_pages {

inline const char *SingleByte(const char *p) {
  return *p ? p + 1 : p;
}

// A double-byte code page in the manner of Shift-JIS: 0x81-0x9F and 0xE0-0xFC lead a
// two-byte character, whose second byte may be anything but NUL.
inline const char *DoubleByte(const char *p) {
  unsigned char c = static_cast<unsigned char>(*p);
  if (c == 0) return p;
  if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && p[1] != '\0') return p + 2;
  return p + 1;
}

}  // namespace code_pages
