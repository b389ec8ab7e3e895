// The command-line parser: one table of good and bad command lines.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "support.h"

namespace kvq {
namespace {

// A command line split at blanks (the Shell has done that for kvq).
std::vector<std::u16string> split(const char* line) {
  std::vector<std::u16string> args;
  std::istringstream in(line);
  std::string word;
  while (in >> word) args.emplace_back(word.begin(), word.end());
  return args;
}

cli::ParseResult parse_line(const char* line, int address_bits = 64) {
  const std::vector<std::u16string> words = split(line);
  std::vector<const char16_t*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  return cli::parse(static_cast<int>(argv.size()), argv.data(), address_bits);
}

// What a good line parsed to, in one string: "read pci 00:1f.2 where=3c size=2 value=0".
std::string summary(const cli::Command& c) {
  std::ostringstream s;
  s << test::narrow(c.form->verb);
  if (c.form->space != nullptr) s << ' ' << test::narrow(c.form->space);
  if (c.form->target == cli::Space::kPci) s << ' ' << +c.function.bus << ':' << +c.function.device << '.' << +c.function.function;
  s << std::hex << " where=" << c.where << " size=" << c.size << " value=" << c.value;
  return s.str();
}

struct Case {
  const char* line;
  const char* expected;  // the summary of a good line, or the message of a bad one
  int address_bits = 64;  // the x64 image's; 32 for the IA-32 image's
};

TEST(CommandLineTest, GoodAndBadLines) {
  const Case kCases[] = {
      // Good lines; numbers with or without 0x, words in any case, byte unless told.
      {"-h", "-h where=0 size=1 value=0"},
      {"dump pci", "dump pci 0:0.0 where=0 size=1 value=0"},
      {"DUMP PCI", "dump pci 0:0.0 where=0 size=1 value=0"},
      {"read pci 00:1f.2 3c", "read pci 0:31.2 where=3c size=1 value=0"},
      {"read pci ff:1F.7 0xffc d", "read pci 255:31.7 where=ffc size=4 value=0"},
      {"read pci 0:4.0 0E w", "read pci 0:4.0 where=e size=2 value=0"},
      {"read mem FFFFFFFC d", "read mem where=fffffffc size=4 value=0"},
      {"read io 0x80", "read io where=80 size=1 value=0"},
      {"write pci 00:04.0 3c 5a", "write pci 0:4.0 where=3c size=1 value=5a"},
      {"write mem 1001 0x1234 W", "write mem where=1001 size=2 value=1234"},
      {"write io fffc AABBCCDD d", "write io where=fffc size=4 value=aabbccdd"},
      {"write io 70 0000000000FF", "write io where=70 size=1 value=ff"},
      {"dump cpuid", "dump cpuid where=0 size=1 value=0"},
      {"read msr 0xC0000080", "read msr where=c0000080 size=8 value=0"},
      {"write msr 6e1 100000000", "write msr where=6e1 size=8 value=100000000"},
      {"write msr 1b FFFFFFFFFFFFFFFF Confirm", "write msr where=1b size=8 value=ffffffffffffffff"},
      {"time msr 1b 1000", "time msr where=1b size=8 value=1000"},
      // Bad lines: one message naming the argument.
      {"frob", "kvq: unknown command \"frob\""},
      {"read", "kvq: read needs a space: pci, mem, io, msr or var"},
      {"dump mem", "kvq: dump takes pci, acpi, cpuid, vars or setup, not \"mem\""},
      {"write disk 0 0", "kvq: write takes pci, mem, io, msr, var or setup, not \"disk\""},
      {"read pci 00:1f.2", "kvq: OFFSET is missing"},
      {"write mem 1000", "kvq: VALUE is missing"},
      {"read io 80 b b", "kvq: unexpected argument \"b\""},
      {"-h now", "kvq: unexpected argument \"now\""},
      {"read mem 10g0", "kvq: ADDRESS \"10g0\" is not a hexadecimal number"},
      {"read mem 0x", "kvq: ADDRESS \"0x\" is not a hexadecimal number"},
      {"read mem 100000000", "read mem where=100000000 size=1 value=0"},
      {"read mem 10000000000000000000", "kvq: ADDRESS \"10000000000000000000\" is above FFFFFFFFFFFFFFFF"},
      {"read mem 100000000", "kvq: ADDRESS \"100000000\" is above FFFFFFFF", 32},
      {"read mem 10000000000000000000", "kvq: ADDRESS \"10000000000000000000\" is above FFFFFFFF", 32},
      {"read io 10000", "kvq: PORT \"10000\" is above FFFF"},
      {"read pci 00:04.0 1000", "kvq: OFFSET \"1000\" is above FFF"},
      {"read pci 00:20.0 0", "kvq: BB:DD.F \"00:20.0\" has a device above 1F"},
      {"read pci 00:1f.8 0", "kvq: BB:DD.F \"00:1f.8\" has a function above 7"},
      {"read pci 100:00.0 0", "kvq: BB:DD.F \"100:00.0\" has a bus above FF"},
      {"read pci 00.1f:2 0", "kvq: BB:DD.F \"00.1f:2\" is not a function address like 00:1f.2"},
      {"read pci 00:1f 0", "kvq: BB:DD.F \"00:1f\" is not a function address like 00:1f.2"},
      {"read pci 0:0:0:1f.2 0", "kvq: BB:DD.F \"0:0:0:1f.2\" is not a function address like 00:1f.2"},
      {"read pci 10000:00:1f.2 0", "kvq: BB:DD.F \"10000:00:1f.2\" has a segment above FFFF"},
      {"read pci :1f.2 0", "kvq: BB:DD.F \":1f.2\" is not a function address like 00:1f.2"},
      {"read io 80 q", "kvq: width \"q\" is not b, w or d"},
      {"write io 80 1ff", "kvq: VALUE \"1ff\" does not fit in a byte"},
      {"write mem 0 10000 w", "kvq: VALUE \"10000\" does not fit in a word"},
      {"read pci 00:04.0 3d w", "kvq: OFFSET \"3d\" is not aligned to a word"},
      {"write pci 00:04.0 3e 0 d", "kvq: OFFSET \"3e\" is not aligned to a dword"},
      {"read mem ffffffff w", "kvq: ADDRESS \"ffffffff\": a word there runs past FFFFFFFF", 32},
      {"read mem ffffffffffffffff w", "kvq: ADDRESS \"ffffffffffffffff\": a word there runs past FFFFFFFFFFFFFFFF"},
      {"write io fffe 0 d", "kvq: PORT \"fffe\": a dword there runs past FFFF"},
      {"read msr 100000000", "kvq: INDEX \"100000000\" is above FFFFFFFF"},
      {"write msr 1b 10000000000000000", "kvq: VALUE \"10000000000000000\" is above FFFFFFFFFFFFFFFF"},
      {"write msr 1b 1 d", "kvq: unexpected argument \"d\""},
      // Writes that can hang or reset the board need confirm.
      {"write msr 1b fee00900", "kvq: MSR 1b: moving the local APIC stops the board; add confirm to write it"},
      {"write msr 0x2ff c06", "kvq: MSR 0x2ff: MTRR: only this CPU changes, all must match; add confirm to write it"},
      // Variables: a GUID or the Shell's name for it; OFFSET may be left out of a read.
      {"read var Lang EFIGlobalVariable", "read var where=0 size=1 value=0"},
      {"write var Timeout 8be4df61-93ca-11d2-aa0d-00e098032b8c 1 0203 w", "write var where=1 size=2 value=203"},
      {"undo", "undo where=0 size=1 value=0"},
      {"undo fs0:\\old.txt", "undo where=0 size=1 value=0"},
      {"read var Lang 8BE4DF61-93CA-11D2-AA0D-00E098032B8", "kvq: GUID \"8BE4DF61-93CA-11D2-AA0D-00E098032B8\" is "
                                                         "neither a GUID like 8BE4DF61-93CA-11D2-AA0D-00E098032B8C nor "
                                                         "a name such as EFIGlobalVariable"},
      {"read var Lang", "kvq: GUID is missing"},
      {"write var Lang EFIGlobalVariable 0", "kvq: VALUE is missing"},
      {"read var Lang EFIGlobalVariable 40000", "kvq: OFFSET \"40000\" is above 3FFFF"},
  };
  for (const Case& c : kCases) {
    const cli::ParseResult r = parse_line(c.line, c.address_bits);
    const std::string got = r.ok ? summary(r.command) : test::narrow(r.message);
    EXPECT_EQ(got, c.expected) << c.line;
  }
}

TEST(CommandLineTest, UsageNamesTheCommandOnceVerbAndSpaceAreKnown) {
  char16_t text[96];
  const cli::ParseResult r = parse_line("write pci 00:04.0 3c");
  ASSERT_NE(r.usage, nullptr);
  cli::synopsis(*r.usage, text, 96);
  EXPECT_EQ(test::narrow(text), "write pci BB:DD.F OFFSET VALUE [b|w|d]");
  EXPECT_EQ(parse_line("write disk 0 0").usage, nullptr);
  cli::synopsis(*parse_line("read var").usage, text, 96);
  EXPECT_EQ(test::narrow(text), "read var NAME GUID [OFFSET [b|w|d]]");
}

}  // namespace
}  // namespace kvq
