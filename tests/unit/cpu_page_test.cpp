// The CPU page, the MSR commands and the CPUID dump on simulated processors
// that implement a set of MSRs and raise #GP on the rest.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/colors.h"
#include "app/commands.h"
#include "platform/sim/cpu_models.h"
#include "platform/sim/q35.h"
#include "platform/text_out.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::guard_off;
using sim::guard_on;
using sim::rdmsr;
using sim::refused;
using sim::wrmsr;
using test::attr_at;
using test::row_text;
using test::text_at;

class CpuPageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
  }
  void open(uint32_t base) {
    start();
    state.page = PageId::kCpu;
    state.cpu.base = base;
    con::clear_screen();
    pass();
  }
  // The MSR accesses of the log, without the guard's entries.
  std::vector<Access> msr_log() const {
    std::vector<Access> out;
    for (const Access& a : board.log()) {
      if (a.op == sim::Op::kMsrRead || a.op == sim::Op::kMsrWrite) out.push_back(a);
    }
    return out;
  }
};

TEST_F(CpuPageTest, HeaderRowsNamesAndRulerOfTheQemu64Model) {
  open(0x10);
  EXPECT_EQ(row_text(0), "MSR Base: 00000010  CPU 0 of 1     AuthenticAMD  Family 0Fh Model 6Bh Stepping 1");
  EXPECT_EQ(row_text(1), "QEMU Virtual CPU version 2.5+                                 Microcode 01000065");
  EXPECT_EQ(row_text(2), "00000010  0000000123456789  IA32_TIME_STAMP_COUNTER");
  EXPECT_EQ(row_text(3), "00000011  --");
  EXPECT_EQ(row_text(13), "0000001B  00000000FEE00900  IA32_APIC_BASE");
  EXPECT_EQ(attr_at(10, 2), kAttrWhiteOnBlue);  // the selected row's value
  EXPECT_EQ(attr_at(10, 3), kAttrGray);
  EXPECT_EQ(text_at(41, 19, 32), "0x00000010 -> 0x0000000123456789");
  EXPECT_EQ(text_at(2, 20, 71), "00000000 00000000 00000000 00000001 00100011 01000101 01100111 10001001");
  EXPECT_EQ(attr_at(72, 20), kAttrYellow);  // bit 0
  EXPECT_EQ(row_text(22), " 63 60  56   52  48   44  40   36  32   28  24   20  16   12   8    4   0");
  EXPECT_EQ(row_text(18), "");
}

// A pass is one batch on the processor shown: one guard, one wake-up of
// another processor, and each access with its own fault flag (1Ch is
// refused, the rows after it are still read).
TEST_F(CpuPageTest, APassIsOneBatchInsideOneGuardAndOneWakeUp) {
  sim::set_cpus(board, sim::qemu64_cpu, 2);
  for (int cpu : {0, 1}) {
    open(0x1B);
    if (cpu == 1) pass_char(u'>');
    board.clear_log();
    board.cpu.wakeups = 0;
    pass();
    const std::vector<Access>& log = board.log();
    ASSERT_EQ(log.size(), 18u) << cpu;
    EXPECT_EQ(log[0], guard_on(cpu));
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(log[1 + i].addr, 0x1B + i);
    EXPECT_EQ(log[1], rdmsr(0x1B, cpu == 0 ? 0xFEE00900 : 0xFEE00800, cpu));
    EXPECT_EQ(log[2], refused(rdmsr(0x1C, 0, cpu)));
    EXPECT_EQ(log[17], guard_off(cpu));
    EXPECT_EQ(board.cpu.wakeups, cpu) << cpu;
    EXPECT_EQ(row_text(3), "0000001C  --");
    board.clear_log();
    pass_scan(kScanDown);  // drawn from those values: the next pass reads
    EXPECT_TRUE(board.log().empty()) << cpu;
  }
}

TEST_F(CpuPageTest, WritesReadBackAndARefusedWriteLeavesTheMsr) {
  struct Case {
    const char* typed;
    uint64_t value;
    bool refused;
    const char* row;
  };
  const Case cases[] = {
      {"0000000000000005", 0x5, false, "000006E1  0000000000000005  IA32_PKRS"},
      {"0000000100000000", 0x100000000, true, "000006E1  0000000000000005  IA32_PKRS"},
      {"0000000000001\b1234", 0x1234, false, "000006E1  0000000000001234  IA32_PKRS"},
  };
  open(0x6E0);
  pass_scan(kScanDown);
  for (const Case& c : cases) {
    console().push_char(kCharEnter);
    console().push_text(std::u16string(c.typed, c.typed + std::char_traits<char>::length(c.typed)));
    board.clear_log();
    pass();
    // The write, then its read-back among the rows, in the pass it was typed.
    EXPECT_EQ(msr_log()[0], (c.refused ? refused(wrmsr(0x6E1, c.value)) : wrmsr(0x6E1, c.value))) << c.typed;
    EXPECT_EQ(row_text(3), c.row) << c.typed;
    EXPECT_EQ(row_text(18), c.refused ? "#GP: the processor refused 0000000100000000 for MSR 000006E1; it is unchanged."
                                      : "")
        << c.typed;
  }
}

TEST_F(CpuPageTest, KeysStepRowsBasesAndProcessors) {
  sim::set_cpus(board, sim::qemu64_cpu, 2);
  open(0);
  pass_scan(kScanUp);
  EXPECT_EQ(state.cpu.row, 15);
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.cpu.base, 0xFFFFFFF0u);
  console().push_char(u'p');
  console().push_text(u"0000001B");
  pass();
  EXPECT_EQ(state.cpu.base, 0x1Bu);
  // The AP: its APIC base without the BSP flag, read on processor 1 with
  // its patch level, in the same wake-up (the first is CPUID's).
  board.clear_log();
  board.cpu.wakeups = 0;
  pass_char(u'>');
  EXPECT_EQ(text_at(20, 0, 10), "CPU 1 of 2");
  EXPECT_EQ(row_text(2), "0000001B  00000000FEE00800  IA32_APIC_BASE");
  EXPECT_EQ(board.log()[0], guard_on(1));
  EXPECT_EQ(msr_log()[0], rdmsr(0x8B, 0x01000065, 1));  // the microcode revision of CPU 1
  EXPECT_EQ(msr_log()[1], rdmsr(0x1B, 0xFEE00800, 1));
  EXPECT_EQ(board.cpu.wakeups, 2);
  pass_char(u'>');
  EXPECT_EQ(state.cpu.cpu, 0u);
}

TEST_F(CpuPageTest, WithoutTheGuardNoMsrIsReadAndRow18SaysWhy) {
  struct Case {
    bool cpu_protocol;
    bool guard_refused;
    const char* message;
  };
  const Case cases[] = {
      {false, false, "No MSR read on CPU 0: no CPU architectural protocol to install a #GP handler."},
      {true, true, "No MSR read on CPU 0: the firmware refused a #GP handler (vector 13)."},
  };
  for (const Case& c : cases) {
    board.cpu.cpu_protocol = c.cpu_protocol;
    board.cpu.guard_refused = c.guard_refused;
    board.clear_log();
    open(0x10);
    EXPECT_TRUE(msr_log().empty());
    EXPECT_EQ(row_text(2), "00000010  not read          IA32_TIME_STAMP_COUNTER");
    EXPECT_EQ(row_text(1).substr(62), "Microcode --");
    EXPECT_EQ(row_text(18), c.message);
  }
}

// Processors kvq must not touch: one whose exception table would not reach
// the #GP handler (its MSRs --, a typed value not written), and ones the
// firmware disabled or found unhealthy, which < and > step over. One that
// never came back is woken once, not on every pass.
TEST_F(CpuPageTest, ProcessorsWithoutAGuardOrThatTheFirmwareSkipsAreNotTouched) {
  sim::set_cpus(board, sim::qemu64_cpu, 5);
  board.cpu.cpus[1].gp_gate = 0xDEAD;
  board.cpu.cpus[2].disabled = true;
  board.cpu.cpus[3].unhealthy = true;
  board.cpu.cpus[4].down = true;
  open(0x1B);
  board.clear_log();
  pass_char(u'>');
  console().push_text(u"\r00000000FEE00800");  // Enter and a value
  pass();
  EXPECT_TRUE(msr_log().empty());
  EXPECT_EQ(row_text(2), "0000001B  --                IA32_APIC_BASE");
  EXPECT_EQ(row_text(18), "No MSR read on CPU 1: no #GP guard on this processor.");
  board.cpu.wakeups = 0;
  pass_char(u'>');
  pass();
  pass();
  EXPECT_EQ(state.cpu.cpu, 4u);
  EXPECT_EQ(board.cpu.wakeups, 1);
  EXPECT_EQ(row_text(18), "No MSR read on CPU 4: the processor did not run the access.");
  pass_char(u'>');
  EXPECT_EQ(state.cpu.cpu, 0u);
}

// A write that can hang or reset the board waits for y on row 18; any other
// key leaves the MSR alone.
TEST_F(CpuPageTest, ADangerousWriteIsMadeOnlyWhenConfirmed) {
  struct Case {
    uint32_t base;
    const char16_t* typed;
    char16_t answer;
    const char16_t* prompt;
    const char* after;
  };
  const Case cases[] = {
      {0x1B, u"00000000FEE00900", u'y', u"MSR 0000001B: moving the local APIC stops the board. y to write", ""},
      {0x1B, u"0000000000000000", u'n', u"MSR 0000001B: moving the local APIC stops the board. y to write",
       "Cancelled: nothing written to MSR 0000001B."},
      {0x2FF, u"0000000000000C06", u'y', u"MSR 000002FF: MTRR: only this CPU changes, all must match. y to write", ""},
  };
  for (const Case& c : cases) {
    open(c.base);
    console().clear_ops();
    board.clear_log();
    console().push_text(u"\r" + std::u16string(c.typed) + c.answer);  // Enter, the value, the answer
    pass();
    std::u16string sent;
    for (const sim::ConsoleOp& op : console().ops) sent += op.text;
    EXPECT_NE(sent.find(c.prompt), std::u16string::npos) << c.base;
    EXPECT_EQ(msr_log()[0].op == sim::Op::kMsrWrite, c.answer == u'y') << c.base;
    EXPECT_EQ(row_text(18), c.after) << c.base;
  }
}

TEST_F(CpuPageTest, IntelMicrocodeIsReadAfterClearingAndCpuid) {
  sim::set_cpus(board, sim::intel_cpu, 1);
  board.clear_log();
  open(0x3A);
  EXPECT_EQ(text_at(35, 0, 45), "GenuineIntel  Family 06h Model 9Eh Stepping A");
  EXPECT_EQ(row_text(1), "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz                       Microcode 000000F4");
  const std::vector<Access> log = msr_log();
  EXPECT_EQ(log[0], wrmsr(0x8B, 0));
  EXPECT_EQ(log[1], rdmsr(0x8B, 0xF4ull << 32));
}

std::u16string& g_out = test::g_cli_out;
std::u16string& g_err = test::g_cli_err;
using CpuCommandsTest = test::CommandTest;

TEST_F(CpuCommandsTest, ReadAndWriteMsr) {
  struct Case {
    const char* line;
    cli::Status status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"read msr 1b", cli::Status::kOk, "00000000FEE00900\r\n", ""},
      {"write msr 6e1 0xabcd", cli::Status::kOk, "000000000000ABCD\r\n", ""},
      {"write msr 6e1 100000000", cli::Status::kUnsupported, "", "kvq: MSR 000006E1: the processor refused the access (#GP)\r\n"},
      {"read msr 6e1", cli::Status::kOk, "000000000000ABCD\r\n", ""},
      {"read msr c0001000", cli::Status::kUnsupported, "", "kvq: MSR C0001000: the processor refused the access (#GP)\r\n"},
  };
  for (const Case& c : cases) {
    g_out.clear();
    g_err.clear();
    EXPECT_EQ(run(c.line), c.status) << c.line;
    EXPECT_EQ(test::narrow(g_out), c.out) << c.line;
    EXPECT_EQ(test::narrow(g_err), c.err) << c.line;
  }
}

// Subleaves run to each leaf's stated or zero-terminated end: the Intel
// model's caches (leaf 4, with the terminating subleaf), its topology
// (0Bh), its XSAVE components (0Dh: 0 to 4 and 8) and leaf 7's count (0).
TEST_F(CpuCommandsTest, CpuidDumpInTheRawFormatOfTheCpuidTool) {
  sim::set_cpus(board, sim::intel_cpu, 2);
  EXPECT_EQ(run("dump cpuid"), cli::Status::kOk);
  std::istringstream out(test::narrow(g_out));
  std::string line;
  std::getline(out, line);
  EXPECT_EQ(line, "CPU 0:\r");
  std::getline(out, line);
  EXPECT_EQ(line, "   0x00000000 0x00: eax=0x00000016 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\r");
  std::string subleaves;
  while (std::getline(out, line) && line != "CPU 1:\r") {
    const std::string leaf = line.substr(3, 15);  // "0x0000000b 0x01"
    if (leaf.rfind("0x0000000", 0) == 0 && leaf.find_first_of("47bd", 9) == 9) subleaves += leaf.substr(9, 1) + leaf.substr(13) + " ";
  }
  EXPECT_EQ(subleaves, "400 401 402 403 404 700 b00 b01 b02 d00 d01 d02 d03 d04 d08 ");
  EXPECT_EQ(line, "CPU 1:\r");
}

}  // namespace
}  // namespace kvq
