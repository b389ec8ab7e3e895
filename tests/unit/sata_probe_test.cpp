// The AHCI disk probe on the simulated Q35 board's controller, and the model
// and size lines it feeds.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "hw/sata.h"
#include "platform/sim/ahci_sim.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using sim::rd;
using sim::wr;
using test::row_text;
using test::text_at;

constexpr uint32_t kAbar = sim::kQ35Abar;
constexpr uint32_t kPort0 = kAbar + 0x100;
constexpr uint32_t kHeader = sim::kQ35CommandLists;
constexpr uint32_t kTable = sim::kQ35CommandTable;

sim::Access stall(uint32_t us) { return {sim::Op::kStall, 0, us, 0}; }

class SataProbeTest : public test::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    sim::build_q35(board);
    sata::allocate_identify_buffer();
    buffer = board.pool_top;
    board.clear_log();
  }
  void TearDown() override {
    sata::free_identify_buffer();
    BoardTest::TearDown();
  }
  sim::AhciController::Port& port0() { return board.ahci->ports[0]; }
  bool stale_buffer_untouched() const {
    for (uint32_t i = 0; i < 1024; ++i) {
      if (board.ram_peek(sim::kQ35StaleBuffer + i) != 0xA5) return false;
    }
    return true;
  }
  uint32_t buffer = 0;
};

TEST_F(SataProbeTest, GoodPortIsIdentifiedIntoOurBufferAtRaisedTpl) {
  EXPECT_EQ(sata::probe_port(0x100), buffer);
  const std::vector<sim::Access> expected = {
      // Checks, reads only.
      sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA24), sim::in32(0xCFC, kAbar), sim::out32(0xCF8, 0),
      rd(32, kAbar + 0x0C, 0x3F),
      rd(32, kPort0 + 0x28, 0x113), rd(32, kPort0 + 0x00, kHeader), rd(32, kPort0 + 0x04, 0),
      rd(32, kPort0 + 0x08, sim::kQ35ReceivedFis), rd(32, kPort0 + 0x0C, 0), rd(32, kPort0 + 0x38, 0),
      rd(32, kHeader + 0x08, kTable), rd(32, kHeader + 0x0C, 0), rd(32, kPort0 + 0x10, 0),
      // Slot 0: header, PRD entry 0 at our buffer, FIS and byte count.
      wr(32, kHeader, 0x00010005), wr(32, kTable + 0x80, buffer), wr(32, kTable + 0x84, 0),
      wr(8, kTable + 0, 0x27), stall(10), wr(8, kTable + 1, 0x80), stall(10), wr(8, kTable + 2, 0xEC), stall(10),
      wr(8, kTable + 0x8C, 0xFF), stall(10), wr(8, kTable + 0x8D, 0x01), stall(10), wr(8, kTable + 0x8E, 0x00),
      stall(10), wr(8, kTable + 0x8F, 0x80), stall(10),
      // FRE, FR running; ST, CR running; only then the command.
      rd(8, kPort0 + 0x18, 0x06), rd(8, kPort0 + 0x18, 0x06), wr(8, kPort0 + 0x18, 0x16), stall(10),
      rd(32, kPort0 + 0x18, 0x4016), rd(8, kPort0 + 0x18, 0x16), wr(8, kPort0 + 0x18, 0x17), stall(10),
      rd(32, kPort0 + 0x18, 0xC017), rd(8, kPort0 + 0x38, 0), wr(8, kPort0 + 0x38, 0x01), stall(10),
      // Answered without error.
      rd(32, kPort0 + 0x38, 0), rd(32, kPort0 + 0x20, 0x50),
      // ST and FRE were clear: ST off, CR gone, then FRE off, FR gone.
      rd(8, kPort0 + 0x18, 0x17), wr(8, kPort0 + 0x18, 0x16), stall(10), rd(32, kPort0 + 0x18, 0x4016),
      rd(8, kPort0 + 0x18, 0x16), wr(8, kPort0 + 0x18, 0x06), stall(10), rd(32, kPort0 + 0x18, 0x06)};
  EXPECT_EQ(board.log(), expected);
  EXPECT_EQ(port0().identifies, 1);
  EXPECT_EQ(port0().tpl_at_start, plat::kTplNotify);
  EXPECT_EQ(board.tpl, 4u);
  EXPECT_EQ(board.ram_peek(buffer + 55), 'Q');
  EXPECT_TRUE(stale_buffer_untouched());
}

TEST_F(SataProbeTest, ChainsThatDoNotLeadToAhciStructuresGetNoWriteAndNoWait) {
  const struct {
    const char* what;
    uint16_t port_offset;
    std::function<void(sim::Board&)> change;
  } cases[] = {
      {"port 7 not implemented", 0x480, [](sim::Board&) {}},
      {"PI bit clear", 0x100, [](sim::Board& b) { b.ahci->pi = 0x3E; }},
      {"port 2 without a device", 0x180, [](sim::Board&) {}},
      {"DET 1: device, no link", 0x100, [](sim::Board& b) { b.ahci->ports[0].ssts = 0x001; }},
      {"CLB 0", 0x100, [](sim::Board& b) { b.ahci->ports[0].clb = 0; }},
      {"CLB all ones", 0x100, [](sim::Board& b) { b.ahci->ports[0].clb = 0xFFFFFFFF; }},
      {"CLB above 4 GiB", 0x100, [](sim::Board& b) { b.ahci->ports[0].clbu = 1; }},
      {"FIS area 0", 0x100, [](sim::Board& b) { b.ahci->ports[0].fb = 0; }},
      {"CTBA all ones", 0x100, [](sim::Board& b) { b.ram_poke32(kHeader + 8, 0xFFFFFFFF); }},
      {"CTBA above 4 GiB", 0x100, [](sim::Board& b) { b.ram_poke32(kHeader + 12, 2); }},
      {"ABAR all ones", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, 0xFFFFFFFF); }},
      {"ABAR an I/O BAR", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, sim::kQ35Abar | 1); }},
      {"ABAR of a 64-bit type", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, sim::kQ35Abar | 4); }},
      {"slot 0 busy", 0x100, [](sim::Board& b) { b.ahci->ports[0].ci = 1; }},
      {"no buffer", 0x100, [](sim::Board& b) { b.out_of_pages = true; sata::allocate_identify_buffer(); }},
  };
  for (const auto& c : cases) {
    sim::Board fresh;
    sim::set_board(&fresh);
    sim::build_q35(fresh);
    sata::allocate_identify_buffer();
    c.change(fresh);
    fresh.clear_log();
    EXPECT_EQ(sata::probe_port(c.port_offset), sata::kNoDevice) << c.what;
    const bool abar_refused = std::string(c.what).find("ABAR") == 0;
    for (const auto& a : fresh.log()) {
      EXPECT_TRUE(a.op != sim::Op::kMemWrite && a.op != sim::Op::kStall) << c.what << ": " << a;
      // An ABAR that is no memory BAR is not followed at all.
      if (abar_refused) {
        EXPECT_NE(a.op, sim::Op::kMemRead) << c.what << ": " << a;
      }
    }
  }
  sim::set_board(&board);
}

TEST_F(SataProbeTest, FailuresTimeOutOrStopEarlyAndThePortIsLeftAsFound) {
  using Answer = sim::SimDisk::Answer;
  const struct {
    Answer answer;
    uint32_t cmd_before;
    bool answered;
    uint32_t st_fre_cr_fr_after;
    uint64_t stall_us;
    bool drops_early_ci;  // a controller that takes PxCI only while ST is set
  } cases[] = {
      {Answer::kData, 0x0006, true, 0x0000, 120, false},
      {Answer::kData, 0x0006, true, 0x0000, 120, true},
      {Answer::kData, 0xC017, true, 0xC011, 100, false},      // running: kept running
      {Answer::kNever, 0x0006, false, 0x0000, 100120, false},  // 100 ms, then stopped
      {Answer::kAbort, 0x0006, false, 0x0000, 120, false},     // task-file error: at once
      {Answer::kNever, 0xC017, false, 0xC011, 100120, false},  // stopped, then started again
  };
  for (const auto& c : cases) {
    board.ahci->ignores_ci_while_stopped = c.drops_early_ci;
    port0().disk.answer = c.answer;
    port0().cmd = c.cmd_before;
    port0().is = 0;
    board.total_stall_us = 0;
    const uint32_t got = sata::probe_port(0x100);
    EXPECT_EQ(got, c.answered ? buffer : sata::kNoDevice) << static_cast<int>(c.answer) << c.cmd_before;
    EXPECT_EQ(port0().cmd & 0xC011, c.st_fre_cr_fr_after) << static_cast<int>(c.answer) << c.cmd_before;
    EXPECT_EQ(port0().ci, 0u);
    EXPECT_EQ(board.total_stall_us, c.stall_us) << static_cast<int>(c.answer) << c.cmd_before;
  }
  EXPECT_TRUE(stale_buffer_untouched());
}

class SataLinesTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    con::clear_screen();
  }
  void put_answer(const sim::SimDisk& disk) {
    uint8_t answer[512];
    sim::identify_answer(disk, answer);
    for (uint32_t i = 0; i < 512; ++i) board.ram_poke(kBuf + i, answer[i]);
  }
  static constexpr uint32_t kBuf = 0x00200000;
};

TEST_F(SataLinesTest, SizeModelAndNoDeviceRecords) {
  const struct {
    uint32_t sectors28;
    uint64_t sectors48;
    uint64_t gigabytes;
  } cases[] = {
      {250069680, 0, 128},
      {0x0FFFFFFF, 1953525168, 1000},
  };
  for (const auto& c : cases) {
    put_answer({.model = "X", .sectors28 = c.sectors28, .sectors48 = c.sectors48});
    const sata::DiskSize size = sata::read_size(kBuf);
    EXPECT_TRUE(size.present);
    EXPECT_EQ(size.gigabytes, c.gigabytes);
  }
  // Each model word's high byte comes first.
  put_answer({.model = "ST1000DM003-1CH162"});
  EXPECT_EQ(test::narrow(sata::read_model(kBuf).text), "ST1000DM003-1CH162                    ");
  // A control character would move the cursor: it shows as a blank.
  board.ram_poke(kBuf + 55, '\n');
  EXPECT_EQ(test::narrow(sata::read_model(kBuf).text), " T1000DM003-1CH162                    ");
  for (uint32_t none : {0xFFFFFFFFu, 0xF000EEF3u, 0x00780003u}) {
    board.clear_log();
    EXPECT_FALSE(sata::read_model(none).present) << std::hex << none;
    EXPECT_FALSE(sata::read_size(none).present) << std::hex << none;
    EXPECT_TRUE(board.log().empty());
  }
}

}  // namespace
}  // namespace kvq
