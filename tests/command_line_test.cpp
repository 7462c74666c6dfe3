// The command-line grammar: the tail after the program path, the switches and the handles.
#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "tests/code_pages.h"

namespace {

using code_pages::DoubleByte;
using code_pages::SingleByte;

std::string Tail(const char *line, CharAdvance next = SingleByte) {
  return CommandTail(line, next);
}

TEST(CommandTail, SkipsThePathAndTheBlanksAfterIt) {
  EXPECT_EQ(Tail("vandrel.scr /s"), "/s");
  EXPECT_EQ(Tail("C:\\WINDOWS\\VANDREL.SCR   \t /p 1234"), "/p 1234");
  EXPECT_EQ(Tail("\"C:\\Program Files\\Vandrel.scr\" /c:55"), "/c:55");
  EXPECT_EQ(Tail("\"C:\\Program Files\\Vandrel.scr\"/s"), "/s");
  EXPECT_EQ(Tail("vandrel.scr"), "");
  EXPECT_EQ(Tail("vandrel.scr \x01\x02\x1F \t"), "");
  EXPECT_EQ(Tail(""), "");
  EXPECT_EQ(Tail("\"C:\\never closed /s"), "");  // an open quote swallows the line
  EXPECT_EQ(Tail("\"\" /s"), "/s");
}

TEST(CommandTail, StartsAtTheLineItselfWhenItBeginsWithABlank) {
  // No path is skipped, so the path itself becomes the tail.
  EXPECT_EQ(Tail("  scr.scr /p 5"), "scr.scr /p 5");
  EXPECT_EQ(DecodeCommand(CommandTail(" saver.scr /c", SingleByte), false).kind,
            SaverCommandKind::RunFullScreen);
  EXPECT_EQ(DecodeCommand(CommandTail("\tcolors.scr /s", SingleByte), false).kind,
            SaverCommandKind::ConfigureForeground);
}

TEST(CommandTail, StepsOverWholeCharactersOfADoubleByteCodePage) {
  // A trail byte that looks like a quote, a blank or a NUL-free 0x20 belongs to its character.
  EXPECT_EQ(Tail("\"C:\\\x81\x22saver\" /s", DoubleByte), "/s");
  EXPECT_EQ(Tail("C:\\\x81\x20saver.scr /s", DoubleByte), "/s");
  EXPECT_EQ(Tail("C:\\\x81\x20saver.scr /s", SingleByte), "saver.scr /s");
  EXPECT_EQ(Tail("\xE0\x41\xE0\x42 /p 9", DoubleByte), "/p 9");
  EXPECT_EQ(Tail("abc\x81", DoubleByte), "");  // a lead byte at the very end
}

struct Decoded {
  SaverCommandKind kind;
  std::string handleText;
};

Decoded Decode(const char *tail, bool onWin95 = false) {
  SaverCommand command = DecodeCommand(tail, onWin95);
  return {command.kind, command.handleText};
}

TEST(DecodeCommand, ReadsTheFirstSwitchAfterBlanksDashesAndSlashes) {
  for (const char *tail : {"", " ", "   ", "-", "/", "/ /", "--//- "})
    EXPECT_EQ(Decode(tail).kind, SaverCommandKind::ConfigureNoOwner) << tail;
  for (const char *tail : {"/s", "-S", "s", "//s", "- /s", "/s:5", "/sx", "S /p 5"})
    EXPECT_EQ(Decode(tail).kind, SaverCommandKind::RunFullScreen) << tail;
  for (const char *tail : {"/c", "/C", "/c:1234", "c 99", "-c /s"})
    EXPECT_EQ(Decode(tail).kind, SaverCommandKind::ConfigureForeground) << tail;
  for (const char *tail : {"/x", "q", "-\ts", "\t/s", "0", "/\x81s", "?", ":"})
    EXPECT_EQ(Decode(tail).kind, SaverCommandKind::Invalid) << tail;
}

TEST(DecodeCommand, PreviewTakesTheRestAfterItsSpaces) {
  EXPECT_EQ(Decode("/p 1234").handleText, "1234");
  EXPECT_EQ(Decode("/l1234").handleText, "1234");
  EXPECT_EQ(Decode("/P   77 x").handleText, "77 x");
  EXPECT_EQ(Decode("/L").handleText, "");
  EXPECT_EQ(Decode("/p:1234").handleText, ":1234");
  EXPECT_EQ(Decode("/p\t5").handleText, "\t5");  // only spaces are skipped
  for (const char *tail : {"/p 1", "l", "-P", "/l 0"})
    EXPECT_EQ(Decode(tail).kind, SaverCommandKind::RunPreview) << tail;
  EXPECT_EQ(Decode("/s 1234").handleText, "");
}

TEST(DecodeCommand, PasswordChangeOnlyOnTheWindows95Family) {
  EXPECT_EQ(Decode("/a 5678").kind, SaverCommandKind::Invalid);
  EXPECT_EQ(Decode("/A", false).kind, SaverCommandKind::Invalid);
  Decoded change = Decode("/a   5678", true);
  EXPECT_EQ(change.kind, SaverCommandKind::ChangePassword);
  EXPECT_EQ(change.handleText, "5678");
  EXPECT_EQ(Decode("-A", true).handleText, "");
  EXPECT_EQ(Decode("/s", true).kind, SaverCommandKind::RunFullScreen);
}

TEST(ParseDecimalHandle, ReadsLeadingDigitsOnly) {
  EXPECT_EQ(ParseDecimalHandle("1234"), 1234u);
  EXPECT_EQ(ParseDecimalHandle("1234abc"), 1234u);
  EXPECT_EQ(ParseDecimalHandle("0001"), 1u);
  EXPECT_EQ(ParseDecimalHandle(""), 0u);
  EXPECT_EQ(ParseDecimalHandle(":1234"), 0u);
  EXPECT_EQ(ParseDecimalHandle(" 12"), 0u);
  EXPECT_EQ(ParseDecimalHandle("-12"), 0u);
  EXPECT_EQ(ParseDecimalHandle("+12"), 0u);
  EXPECT_EQ(ParseDecimalHandle("12 34"), 12u);
}

TEST(ParseDecimalHandle, NamesNoWindowWhenTheNumberDoesNotFitIn32Bits) {
  EXPECT_EQ(ParseDecimalHandle("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDecimalHandle("00000000004294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDecimalHandle("4294967296"), 0u);
  EXPECT_EQ(ParseDecimalHandle("4294967297"), 0u);  // would wrap to 1
  EXPECT_EQ(ParseDecimalHandle("8589934593"), 0u);  // would wrap to 1
  EXPECT_EQ(ParseDecimalHandle("99999999999999999999999"), 0u);
  EXPECT_EQ(ParseDecimalHandle("429496729"), 429496729u);
  EXPECT_EQ(ParseDecimalHandle("4294967290"), 4294967290u);
}

TEST(ElapsedMs, MeasuresAcrossTheTickCountersWrap) {
  EXPECT_EQ(ElapsedMs(100, 250), 150u);
  EXPECT_EQ(ElapsedMs(0xFFFFFF00u, 0x10u), 0x110u);
  EXPECT_EQ(ElapsedMs(5, 5), 0u);
}

}  // namespace
