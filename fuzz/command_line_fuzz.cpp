// The command-line grammar on arbitrary bytes, in single-byte and double-byte code pages.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/host.h"
#include "tests/code_pages.h"

namespace {

using code_pages::DoubleByte;
using code_pages::SingleByte;

void Require(bool condition) {
  if (!condition) std::abort();
}

// The handle value by the book, in 64 bits: what fits in 32 bits, else 0.
uint32_t ReferenceHandle(const char *text) {
  uint64_t value = 0;
  for (const char *p = text; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFu) return 0;
  }
  return static_cast<uint32_t>(value);
}

void Check(const char *line, size_t length, CharAdvance next) {
  const char *tail = CommandTail(line, next);
  Require(tail >= line && tail <= line + length);
  for (bool onWin95 : {false, true}) {
    SaverCommand command = DecodeCommand(tail, onWin95);
    bool takesHandle = command.kind == SaverCommandKind::RunPreview ||
                       command.kind == SaverCommandKind::ChangePassword;
    if (takesHandle) {
      Require(command.handleText > tail && command.handleText <= line + length);
      Require(command.handleText[0] != ' ');
    } else {
      Require(command.handleText[0] == '\0');
    }
    if (command.kind == SaverCommandKind::ChangePassword) Require(onWin95);
    Require(ParseDecimalHandle(command.handleText) == ReferenceHandle(command.handleText));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that reading past the terminator is caught.
  std::vector<char> line(data, data + size);
  line.push_back('\0');
  size_t length = strlen(line.data());
  Check(line.data(), length, SingleByte);
  Check(line.data(), length, DoubleByte);
  Require(ParseDecimalHandle(line.data()) == ReferenceHandle(line.data()));
  return 0;
}
