// The formatted print, the screen model and the flusher.
#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/format.h"
#include "platform/sim/test_console.h"
#include "support.h"

namespace kvq {
namespace {

using test::narrow;
using test::row_text;
using test::text_at;

template <class... A>
std::string fmt(const char16_t* f, const A&... args) {
  char16_t buf[256];
  sformat(buf, 256, f, args...);
  return narrow(buf);
}

TEST(FormatTest, FollowsThePrintConventions) {
  EXPECT_EQ(fmt(u"Bus:%02d Dev:%02d Fun:%02d", 0, 31, 7), "Bus:00 Dev:31 Fun:07");
  EXPECT_EQ(fmt(u"%08X", 0x8000F805u), "8000F805");
  EXPECT_EQ(fmt(u"%X", 0xABCu), "ABC");
  EXPECT_EQ(fmt(u"%x", 0xABCu), "abc");
  EXPECT_EQ(fmt(u"%02X%02X", static_cast<uint8_t>(0x80), static_cast<uint8_t>(0x86)), "8086");
  EXPECT_EQ(fmt(u"%03d/%03d", 26, 30), "026/030");
  EXPECT_EQ(fmt(u"%d", -5), "-5");
  EXPECT_EQ(fmt(u"%04d", -5), "-005");
  EXPECT_EQ(fmt(u"%5d|%-5d|", 42, 42), "   42|42   |");
  EXPECT_EQ(fmt(u"%s and %a", u"wide", "narrow"), "wide and narrow");
  EXPECT_EQ(fmt(u"%c%c", u'z', 0x30), "z0");
  EXPECT_EQ(fmt(u"100%%"), "100%");
  // A signed byte printed in hex keeps its width: FF, not FFFFFFFF.
  EXPECT_EQ(fmt(u"%X", static_cast<signed char>(-1)), "FF");
  EXPECT_EQ(fmt(u"%lX", 0x123456789ABCDEF0ull), "123456789ABCDEF0");
  EXPECT_EQ(fmt(u"%d", 4294967295u), "4294967295");
  // \n is CR LF, as the firmware's print library emits it.
  EXPECT_EQ(fmt(u"a\nb"), "a\r\nb");
}

TEST(FormatTest, MismatchedOrMissingArgumentsPrintSafely) {
  EXPECT_EQ(fmt(u"%d %s", u"x"), "? ?");
  EXPECT_EQ(fmt(u"%s", static_cast<const char16_t*>(nullptr)), "<null string>");
  EXPECT_EQ(fmt(u"%q"), "%q");
  EXPECT_EQ(fmt(u"end%"), "end");
  char16_t small[4];
  EXPECT_EQ(sformat(small, 4, u"%08X", 0x12345678u), 3);
  EXPECT_EQ(narrow(small), "123");
}

class ScreenTest : public test::KvqTest {};

TEST_F(ScreenTest, PrintWrapsAtTheRightEdgeAndNeverScrolls) {
  con::set_cursor(75, 3);
  con::print(u"0123456789");
  EXPECT_EQ(text_at(75, 3, 5), "01234");
  EXPECT_EQ(text_at(0, 4, 5), "56789");
  EXPECT_EQ(con::screen().col(), 5);
  // An 8-bit line with its newline ends on the next row at column 0.
  con::set_cursor(0, 18);
  con::put_text8("Intel name\n");
  EXPECT_EQ(row_text(18), "Intel name");
  EXPECT_EQ(con::screen().row(), 19);
  EXPECT_EQ(con::screen().col(), 0);
  // Past the last row text is dropped, not scrolled.
  con::set_cursor(70, 24);
  con::print(u"0123456789ABCDEF");
  EXPECT_EQ(text_at(70, 24, 10), "0123456789");
  EXPECT_EQ(row_text(0), "");
  EXPECT_EQ(text_at(0, 4, 5), "56789");
  // Positions outside the screen are refused.
  con::set_cursor(3, 3);
  con::set_cursor(80, 3);
  EXPECT_EQ(con::screen().col(), 3);
}

TEST_F(ScreenTest, UnchangedFrameSendsNothingAndAChangedCellOnlyItself) {
  con::enable_cursor(false);  // as kvq runs
  con::set_attr(0x0F);
  con::clear_screen();
  con::set_cursor(0, 0);
  con::print(u"Bus:00 Dev:00 Fun:00");
  con::flush();
  EXPECT_FALSE(console().ops.empty());

  console().clear_ops();
  con::set_cursor(0, 0);
  con::print(u"Bus:00 Dev:00 Fun:00");
  con::flush();
  EXPECT_TRUE(console().ops.empty());
  EXPECT_EQ(console().serial_bytes(), 0u);

  con::set_cursor(0, 0);
  con::print(u"Bus:00 Dev:01 Fun:00");
  con::flush();
  ASSERT_EQ(console().ops.size(), 2u);
  EXPECT_EQ(console().ops[0].kind, sim::ConsoleOp::kCursor);
  EXPECT_EQ(console().ops[0].a, 12);
  EXPECT_EQ(console().ops[1].kind, sim::ConsoleOp::kOutput);
  EXPECT_EQ(narrow(console().ops[1].text), "1");

  // Blank cells in another foreground colour look the same: nothing sent.
  console().clear_ops();
  con::set_attr(0x07);
  con::set_cursor(40, 10);
  con::print(u"   ");
  con::flush();
  EXPECT_TRUE(console().ops.empty());
}

TEST_F(ScreenTest, MirrorMatchesTheModelAndTheCornerIsNeverWritten) {
  con::set_attr(0x1F);
  con::clear_screen();
  for (int row = 0; row < 25; ++row) {
    con::set_cursor(0, row);
    con::set_attr(static_cast<uint8_t>(row % 2 ? 0x0E : 0x2F));
    for (int i = 0; i < 80; ++i) con::put_char(static_cast<char16_t>(u'A' + (row + i) % 26));
  }
  con::flush();
  EXPECT_FALSE(console().mirror_scrolled);
  for (int row = 0; row < 24; ++row) EXPECT_EQ(narrow(console().mirror_row(row)), text_at(0, row, 80)) << row;
  // The bottom-right cell is left as cleared: writing it would scroll.
  EXPECT_EQ(narrow(console().mirror_row(24)).substr(0, 79), text_at(0, 24, 79));
  EXPECT_EQ(console().mirror_row(24)[79], u' ');
  EXPECT_EQ(console().mirror_attr(10, 3), 0x0E);
  EXPECT_EQ(console().mirror_attr(10, 4), 0x2F);
}

TEST_F(ScreenTest, ControlCharactersReachTheConsoleAsQuestionMarks) {
  con::set_attr(0x0F);
  con::clear_screen();
  con::set_cursor(0, 5);
  con::put_char(0x1B);
  con::put_char(0x07);
  con::put_char(u'x');
  con::flush();
  EXPECT_EQ(narrow(console().mirror_row(5)).substr(0, 3), "??x");
}

TEST_F(ScreenTest, ListModeIsModeTwoWhenLargeEnough) {
  console().install({{80, 25}, {0, 0}, {100, 31}});
  EXPECT_EQ(con::real_mode(con::kListMode), 2);
  con::set_mode(con::kListMode);
  EXPECT_EQ(con::screen().cols(), 100);
  EXPECT_EQ(con::screen().rows(), 31);
}

TEST_F(ScreenTest, ListModeFallsBackToTheSmallestModeOfAtLeast100By30) {
  console().install({{80, 25}, {80, 50}, {100, 25}, {132, 60}, {128, 40}});
  EXPECT_EQ(con::real_mode(con::kListMode), 4);
  con::set_mode(con::kListMode);
  con::clear_screen();
  con::flush();
  EXPECT_EQ(console().mirror_mode, 4);
  EXPECT_EQ(console().mirror_cols, 128);
}

TEST_F(ScreenTest, WithoutAWideModeTheListIsDrawnInModeZeroAndClipped) {
  console().install({{80, 25}, {80, 50}});
  EXPECT_EQ(con::real_mode(con::kListMode), 0);
  con::set_mode(con::kListMode);
  con::clear_screen();
  EXPECT_EQ(con::screen().cols(), 100);
  EXPECT_EQ(con::screen().rows(), 30);
  con::set_attr(0x1F);
  con::set_cursor(0, 0);
  for (int i = 0; i < 100; ++i) con::put_char(static_cast<char16_t>(u'0' + i % 10));
  con::set_cursor(31, 29);
  con::print(u"footer");
  con::flush();
  EXPECT_FALSE(console().mirror_scrolled);
  EXPECT_EQ(narrow(console().mirror_row(0)), text_at(0, 0, 80));
  for (const auto& op : console().ops) {
    if (op.kind == sim::ConsoleOp::kCursor) {
      EXPECT_LT(op.a, 80);
      EXPECT_LT(op.b, 25);
    }
  }
}

}  // namespace
}  // namespace kvq
