// The MSR commands and the CPUID dump on simulated processors that
// implement a set of MSRs and raise #GP on the rest.
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

std::u16string g_out;
std::u16string g_err;

class CpuCommandsTest : public test::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    sim::build_q35(board);
    g_out.clear();
    g_err.clear();
    text::set_sink([](text::Stream s, const char16_t* t) { (s == text::Stream::kErr ? g_err : g_out) += t; });
  }
  cli::Status run(const char* line) {
    std::vector<std::u16string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.emplace_back(w.begin(), w.end());
    std::vector<const char16_t*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());
    return cli::run(static_cast<int>(argv.size()), argv.data());
  }
};

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
