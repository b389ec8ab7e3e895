// xterm input decoding and the PC-ANSI encoding the firmware decodes.
#include "platform/host/xterm_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvq::host {
namespace {

// A Key that compares and prints, for the expectations.
struct K {
  uint16_t scan;
  uint16_t ch;
  bool operator==(const K&) const = default;
  friend void PrintTo(const K& k, std::ostream* os) {
    *os << "{scan " << k.scan << ", ch " << k.ch << "}";
  }
};

constexpr K scan(uint16_t s) { return K{s, 0}; }
constexpr K chr(uint16_t c) { return K{kScanNone, c}; }
Key key(K k) { return Key{k.scan, k.ch}; }

std::vector<K> drain(XtermKeyDecoder& d) {
  std::vector<K> keys;
  Key k;
  while (d.pop(&k)) keys.push_back(K{k.scan, k.ch});
  return keys;
}

// Feeds the bytes in one go, then lets the escape time-out pass.
std::vector<K> decode(const std::string& bytes) {
  XtermKeyDecoder d;
  d.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (d.pending()) d.timeout();
  return drain(d);
}

// Feeds the bytes one at a time, checking nothing comes out early.
std::vector<K> decode_bytewise(const std::string& bytes) {
  XtermKeyDecoder d;
  for (size_t i = 0; i < bytes.size(); ++i) {
    d.feed(static_cast<uint8_t>(bytes[i]));
    if (i + 1 < bytes.size()) {
      Key k;
      EXPECT_FALSE(d.pop(&k)) << "key before the sequence ended, byte " << i;
    }
  }
  return drain(d);
}

std::string encode(K k) {
  uint8_t out[8] = {};
  const int n = encode_pc_ansi(key(k), out);
  return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
}

using Keys = std::vector<K>;

TEST(XtermKeyDecoderTest, CursorKeysInBothCursorModes) {
  const struct {
    const char* normal;
    const char* application;
    uint16_t scan;
  } cases[] = {
      {"\x1b[A", "\x1bOA", kScanUp},     {"\x1b[B", "\x1bOB", kScanDown},
      {"\x1b[C", "\x1bOC", kScanRight},  {"\x1b[D", "\x1bOD", kScanLeft},
      {"\x1b[H", "\x1bOH", kScanHome},   {"\x1b[F", "\x1bOF", kScanEnd},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode(c.normal), Keys{scan(c.scan)}) << c.normal + 1;
    EXPECT_EQ(decode(c.application), Keys{scan(c.scan)}) << c.application + 1;
  }
}

TEST(XtermKeyDecoderTest, EditingKeysInEveryForm) {
  EXPECT_EQ(decode("\x1b[1~"), Keys{scan(kScanHome)});
  EXPECT_EQ(decode("\x1b[7~"), Keys{scan(kScanHome)});  // rxvt
  EXPECT_EQ(decode("\x1b[4~"), Keys{scan(kScanEnd)});
  EXPECT_EQ(decode("\x1b[8~"), Keys{scan(kScanEnd)});   // rxvt
  EXPECT_EQ(decode("\x1b[2~"), Keys{scan(kScanInsert)});
  EXPECT_EQ(decode("\x1b[3~"), Keys{scan(kScanDelete)});
  EXPECT_EQ(decode("\x1b[5~"), Keys{scan(kScanPageUp)});
  EXPECT_EQ(decode("\x1b[6~"), Keys{scan(kScanPageDown)});
  // With modifiers: Ctrl+PageUp, Shift+PageDown.
  EXPECT_EQ(decode("\x1b[5;5~"), Keys{scan(kScanPageUp)});
  EXPECT_EQ(decode("\x1b[6;2~"), Keys{scan(kScanPageDown)});
}

TEST(XtermKeyDecoderTest, FunctionKeysInEveryForm) {
  EXPECT_EQ(decode("\x1bOP\x1bOQ\x1bOR\x1bOS"),
            (Keys{scan(kScanF1), scan(kScanF2), scan(kScanF3), scan(kScanF4)}));
  EXPECT_EQ(decode("\x1b[11~\x1b[12~\x1b[13~\x1b[14~"),
            (Keys{scan(kScanF1), scan(kScanF2), scan(kScanF3), scan(kScanF4)}));
  EXPECT_EQ(decode("\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~"),
            (Keys{scan(kScanF5), scan(kScanF6), scan(kScanF7), scan(kScanF8), scan(kScanF9),
                  scan(kScanF10)}));
  EXPECT_EQ(decode("\x1b[23~\x1b[24~"), (Keys{scan(kScanF11), scan(kScanF12)}));
  // Linux console.
  EXPECT_EQ(decode("\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E"),
            (Keys{scan(kScanF1), scan(kScanF2), scan(kScanF3), scan(kScanF4), scan(kScanF5)}));
  // The gap code between F5 and F6 is no key.
  EXPECT_EQ(decode("\x1b[16~"), Keys{});
}

TEST(XtermKeyDecoderTest, ModifiersGiveTheUnmodifiedKey) {
  EXPECT_EQ(decode("\x1b[1;5A"), Keys{scan(kScanUp)});
  EXPECT_EQ(decode("\x1b[1;2D"), Keys{scan(kScanLeft)});
  EXPECT_EQ(decode("\x1b[1;3H"), Keys{scan(kScanHome)});
  EXPECT_EQ(decode("\x1b[15;2~"), Keys{scan(kScanF5)});
  EXPECT_EQ(decode("\x1b[17;5~"), Keys{scan(kScanF6)});
  EXPECT_EQ(decode("\x1b[1;2P"), Keys{scan(kScanF1)});  // Shift+F1, xterm
  EXPECT_EQ(decode("\x1bO5S"), Keys{scan(kScanF4)});    // Ctrl+F4, older xterms
  EXPECT_EQ(decode("\x1b[Z"), Keys{chr('\t')});         // Shift+Tab
  EXPECT_EQ(decode("\x1b[27;5;13~"), Keys{chr(kCharEnter)});  // modifyOtherKeys
  EXPECT_EQ(decode("\x1b[97;5u"), Keys{chr('a')});
}

TEST(XtermKeyDecoderTest, LoneEscNeedsTheTimeout) {
  XtermKeyDecoder d;
  Key k;
  d.feed(0x1b);
  EXPECT_TRUE(d.pending());
  EXPECT_FALSE(d.pop(&k));
  d.timeout();
  EXPECT_FALSE(d.pending());
  EXPECT_EQ(drain(d), Keys{scan(kScanEsc)});

  // The same ESC followed in time by the rest of a sequence is no Esc.
  d.feed(0x1b);
  d.feed('[');
  EXPECT_TRUE(d.pending());
  d.feed('A');
  EXPECT_FALSE(d.pending());
  EXPECT_EQ(drain(d), Keys{scan(kScanUp)});

  // A time-out with nothing pending does nothing.
  d.timeout();
  EXPECT_EQ(drain(d), Keys{});
}

TEST(XtermKeyDecoderTest, EscBeforeAnotherKey) {
  // Esc then a cursor key, typed faster than the time-out.
  EXPECT_EQ(decode("\x1b\x1b[B"), (Keys{scan(kScanEsc), scan(kScanDown)}));
  // Esc twice.
  EXPECT_EQ(decode("\x1b\x1b"), (Keys{scan(kScanEsc), scan(kScanEsc)}));
  // ESC + letter is Alt+letter: the letter.
  EXPECT_EQ(decode("\x1bx"), Keys{chr('x')});
  EXPECT_EQ(decode("\x1b\x7f"), Keys{chr(kCharBackspace)});
  // Alt+[ and Alt+O, recognised only when nothing follows.
  EXPECT_EQ(decode("\x1b["), Keys{chr('[')});
  EXPECT_EQ(decode("\x1bO"), Keys{chr('O')});
}

TEST(XtermKeyDecoderTest, IncompleteAndUnknownSequencesAreDropped) {
  EXPECT_EQ(decode("\x1b[1"), Keys{});
  EXPECT_EQ(decode("\x1b[15;"), Keys{});
  EXPECT_EQ(decode("\x1b[99~x"), Keys{chr('x')});
  EXPECT_EQ(decode("\x1b[?1;2cq"), Keys{chr('q')});         // device attributes reply
  EXPECT_EQ(decode("\x1b[<0;10;5Mq"), Keys{chr('q')});      // SGR mouse report
  EXPECT_EQ(decode("\x1b[200~hi\x1b[201~"), (Keys{chr('h'), chr('i')}));  // paste markers
  EXPECT_EQ(decode("\x1b[ q"), Keys{});                      // intermediate byte
  // A runaway parameter string does not swallow what follows it.
  EXPECT_EQ(decode("\x1b[" + std::string(40, '1') + "~z"), Keys{chr('z')});
  // A control byte aborts the sequence and counts on its own.
  EXPECT_EQ(decode("\x1b[1\r"), Keys{chr(kCharEnter)});
  EXPECT_EQ(decode("\x1b[1\x1b[C"), Keys{scan(kScanRight)});
}

TEST(XtermKeyDecoderTest, EnterAndBackspaceVariants) {
  EXPECT_EQ(decode("\r"), Keys{chr(kCharEnter)});
  EXPECT_EQ(decode("\n"), Keys{chr(kCharEnter)});
  EXPECT_EQ(decode("\r\n"), Keys{chr(kCharEnter)});
  EXPECT_EQ(decode("\r\r"), (Keys{chr(kCharEnter), chr(kCharEnter)}));
  EXPECT_EQ(decode("\n\n"), (Keys{chr(kCharEnter), chr(kCharEnter)}));
  EXPECT_EQ(decode("\x1bOM"), Keys{chr(kCharEnter)});  // keypad Enter
  EXPECT_EQ(decode("\x7f"), Keys{chr(kCharBackspace)});
  EXPECT_EQ(decode("\x08"), Keys{chr(kCharBackspace)});

  // An LF long after a CR is a second Enter.
  XtermKeyDecoder d;
  d.feed('\r');
  d.timeout();
  d.feed('\n');
  EXPECT_EQ(drain(d), (Keys{chr(kCharEnter), chr(kCharEnter)}));
}

TEST(XtermKeyDecoderTest, CharactersAndUtf8) {
  EXPECT_EQ(decode("a1 ~"), (Keys{chr('a'), chr('1'), chr(' '), chr('~')}));
  EXPECT_EQ(decode("\t\x01\x03"), (Keys{chr('\t'), chr(1), chr(3)}));
  EXPECT_EQ(decode(std::string(1, '\0')), Keys{});
  EXPECT_EQ(decode("\xc3\xa9"), Keys{chr(0xE9)});     // é
  EXPECT_EQ(decode("\xe2\x94\x80"), Keys{chr(0x2500)});  // box drawing
  EXPECT_EQ(decode_bytewise("\xe2\x82\xac"), Keys{chr(0x20AC)});  // €
  EXPECT_EQ(decode("\xf0\x9f\x98\x80"), Keys{});        // outside the BMP
  EXPECT_EQ(decode("\xc0\xaf"), Keys{});                // overlong '/'
  EXPECT_EQ(decode("\xe0\x80\xaf"), Keys{});            // overlong '/'
  EXPECT_EQ(decode("\xed\xa0\x80"), Keys{});            // surrogate half
  EXPECT_EQ(decode("\x80z"), Keys{chr('z')});           // stray continuation
  EXPECT_EQ(decode("\xc3z"), Keys{chr('z')});           // cut short
  EXPECT_EQ(decode("\xe2\x94"), Keys{});                // cut short by time-out
}

TEST(XtermKeyDecoderTest, SequencesSplitAcrossReads) {
  for (const char* seq : {"\x1b[A", "\x1bOB", "\x1b[15~", "\x1b[1;5C", "\x1b[[E", "\x1b[6~"}) {
    EXPECT_EQ(decode_bytewise(seq), decode(seq)) << seq + 1;
    EXPECT_EQ(decode_bytewise(seq).size(), 1u) << seq + 1;
  }
  XtermKeyDecoder d;
  d.feed(0x1b);
  d.feed('[');
  d.feed('1');
  d.feed('7');
  EXPECT_TRUE(d.pending());
  d.feed('~');
  EXPECT_EQ(drain(d), Keys{scan(kScanF6)});
}

TEST(EncodePcAnsiTest, MatchesTheFirmwareInputTable) {
  EXPECT_EQ(encode(scan(kScanUp)), "\x1b[A");
  EXPECT_EQ(encode(scan(kScanDown)), "\x1b[B");
  EXPECT_EQ(encode(scan(kScanRight)), "\x1b[C");
  EXPECT_EQ(encode(scan(kScanLeft)), "\x1b[D");
  EXPECT_EQ(encode(scan(kScanHome)), "\x1b[H");
  EXPECT_EQ(encode(scan(kScanEnd)), "\x1b[F");
  EXPECT_EQ(encode(scan(kScanInsert)), "\x1b[@");
  EXPECT_EQ(encode(scan(kScanDelete)), "\x1b[X");
  EXPECT_EQ(encode(scan(kScanPageUp)), "\x1b[I");
  EXPECT_EQ(encode(scan(kScanPageDown)), "\x1b[G");
  EXPECT_EQ(encode(scan(kScanF1)), "\x1b[M");
  EXPECT_EQ(encode(scan(kScanF2)), "\x1b[N");
  EXPECT_EQ(encode(scan(kScanF3)), "\x1b[O");
  EXPECT_EQ(encode(scan(kScanF4)), "\x1b[P");
  EXPECT_EQ(encode(scan(kScanF5)), "\x1b[Q");
  EXPECT_EQ(encode(scan(kScanF6)), "\x1b[R");
  EXPECT_EQ(encode(scan(kScanF7)), "\x1b[S");
  EXPECT_EQ(encode(scan(kScanF8)), "\x1b[T");
  EXPECT_EQ(encode(scan(kScanF9)), "\x1b[U");
  EXPECT_EQ(encode(scan(kScanF10)), "\x1b[V");
  EXPECT_EQ(encode(scan(kScanEsc)), "\x1b");
  EXPECT_EQ(encode(scan(kScanF11)), "");
  EXPECT_EQ(encode(scan(kScanF12)), "");
}

TEST(EncodePcAnsiTest, CharactersTheFirmwareReadsBack) {
  EXPECT_EQ(encode(chr(kCharEnter)), "\r");
  EXPECT_EQ(encode(chr(kCharBackspace)), "\x08");
  EXPECT_EQ(encode(chr('q')), "q");
  EXPECT_EQ(encode(chr('\t')), "\t");
  EXPECT_EQ(encode(chr(1)), "\x01");  // Ctrl-A reaches QEMU's serial mux
  EXPECT_EQ(encode(chr(0xE9)), "\xe9");
  // DEL would read as the Delete key and 0x9B as CSI; no byte for these.
  EXPECT_EQ(encode(chr(0x7F)), "");
  EXPECT_EQ(encode(chr(0x9B)), "");
  EXPECT_EQ(encode(chr(0x2500)), "");
  EXPECT_EQ(encode(chr(0)), "");
}

// What the user types in an xterm reaches the firmware as the PC-ANSI form
// of the same key, for every key kvq reads.
TEST(XtermToPcAnsiTest, RoundTripForEveryKeyKvqUses) {
  const struct {
    const char* xterm;
    const char* pc_ansi;
  } cases[] = {
      {"\x1b[A", "\x1b[A"},   {"\x1bOA", "\x1b[A"},   {"\x1b[B", "\x1b[B"},
      {"\x1bOB", "\x1b[B"},   {"\x1b[C", "\x1b[C"},   {"\x1bOC", "\x1b[C"},
      {"\x1b[D", "\x1b[D"},   {"\x1bOD", "\x1b[D"},   {"\x1b[H", "\x1b[H"},
      {"\x1bOH", "\x1b[H"},   {"\x1b[1~", "\x1b[H"},  {"\x1b[F", "\x1b[F"},
      {"\x1bOF", "\x1b[F"},   {"\x1b[4~", "\x1b[F"},  {"\x1b[2~", "\x1b[@"},
      {"\x1b[3~", "\x1b[X"},  {"\x1b[5~", "\x1b[I"},  {"\x1b[6~", "\x1b[G"},
      {"\x1bOP", "\x1b[M"},   {"\x1bOQ", "\x1b[N"},   {"\x1bOR", "\x1b[O"},
      {"\x1bOS", "\x1b[P"},   {"\x1b[15~", "\x1b[Q"}, {"\x1b[[E", "\x1b[Q"},
      {"\x1b[17~", "\x1b[R"}, {"\x1b[18~", "\x1b[S"}, {"\x1b[19~", "\x1b[T"},
      {"\x1b[20~", "\x1b[U"}, {"\x1b[21~", "\x1b[V"}, {"\x1b", "\x1b"},
      {"\r", "\r"},           {"\n", "\r"},           {"\x7f", "\x08"},
      {"\x08", "\x08"},       {"q", "q"},             {"0", "0"},
      {"\x01", "\x01"},
  };
  for (const auto& c : cases) {
    std::string bytes;
    for (K k : decode(c.xterm)) bytes += encode(k);
    EXPECT_EQ(bytes, c.pc_ansi) << "xterm bytes " << (c.xterm[0] == 0x1b ? c.xterm + 1 : c.xterm);
  }
}

}  // namespace
}  // namespace kvq::host
