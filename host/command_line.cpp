// The command-line grammar. Only the character step comes from the platform, so the grammar
// itself runs and is tested anywhere.
#include "host.h"

static bool IsBlank(char c) {
  unsigned char code = static_cast<unsigned char>(c);
  return code >= 0x01 && code <= 0x20;
}

const char *CommandTail(const char *commandLine, CharAdvance next) {
  const char *p = commandLine;
  if (*p == '"') {
    p = next(p);
    while (*p != '\0' && *p != '"') p = next(p);
    if (*p == '"') p = next(p);
  } else if (static_cast<unsigned char>(*p) > 0x20) {
    while (static_cast<unsigned char>(*p) > 0x20) p = next(p);
  }
  while (IsBlank(*p)) p = next(p);
  return p;
}

static const char *SkipSpaces(const char *p) {
  while (*p == ' ') ++p;
  return p;
}

SaverCommand DecodeCommand(const char *tail, bool onWin95) {
  for (const char *p = tail;; ++p) {
    switch (*p) {
      case '\0':
        return {SaverCommandKind::ConfigureNoOwner, ""};
      case ' ':
      case '-':
      case '/':
        continue;
      case 'a':
      case 'A':
        if (!onWin95) return {SaverCommandKind::Invalid, ""};
        return {SaverCommandKind::ChangePassword, SkipSpaces(p + 1)};
      case 'c':
      case 'C':
        return {SaverCommandKind::ConfigureForeground, ""};
      case 'l':
      case 'L':
      case 'p':
      case 'P':
        return {SaverCommandKind::RunPreview, SkipSpaces(p + 1)};
      case 's':
      case 'S':
        return {SaverCommandKind::RunFullScreen, ""};
      default:
        return {SaverCommandKind::Invalid, ""};
    }
  }
}

uint32_t ParseDecimalHandle(const char *text) {
  uint32_t value = 0;
  for (const char *p = text; *p >= '0' && *p <= '9'; ++p) {
    uint32_t digit = static_cast<uint32_t>(*p - '0');
    if (value > (0xFFFFFFFFu - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}
