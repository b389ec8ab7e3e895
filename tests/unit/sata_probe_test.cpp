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
  // kvq's own command: no firmware pass-thru, and DMA guarded as under VT-d.
  void without_pass_thru(sim::Board& b) {
    b.ata.clear();
    b.dma_protection = true;
    sata::find_pass_thru();
  }
  std::vector<uint8_t> slot0_bytes() const {
    std::vector<uint8_t> v;
    for (uint32_t i = 0; i < 32; ++i) v.push_back(board.ram_peek(kHeader + i));
    for (uint32_t i = 0; i < 0x90; ++i) v.push_back(board.ram_peek(kTable + i));
    return v;
  }
  uint32_t buffer = 0;
};

bool raw_access(const sim::Access& a) {
  return (a.op == sim::Op::kMemRead || a.op == sim::Op::kMemWrite) && a.addr >= kAbar && a.addr < kAbar + 0x1000;
}

// The firmware's driver owns the ports its ATA pass-thru covers: IDENTIFY
// goes through the protocol, into a buffer that meets its IoAlign, and kvq
// reads nothing of the controller but its class. The protocol's walk is
// taken port by port, as EDK2 keeps its place (a second disk on port 1).
TEST_F(SataProbeTest, CoveredPortsAreAskedThroughTheFirmwaresPassThru) {
  board.ahci->attach(1, {.model = "SECOND"});
  const struct {
    uint16_t port_offset;
    uint32_t io_align;
    bool answered;
    int commands;
  } cases[] = {{0x180, 8, true, 1}, {0x100, 8, true, 1}, {0x100, 2048, true, 1}, {0x200, 8, false, 0}};
  for (const auto& c : cases) {
    board.ata[0].io_align = c.io_align;
    board.ata[0].commands = 0;
    sata::find_pass_thru();
    board.clear_log();
    const sata::Probe got = sata::probe_port(c.port_offset);
    EXPECT_EQ(got.buffer, c.answered ? buffer : sata::kNoDevice) << c.port_offset;
    EXPECT_EQ(got.path, c.answered ? sata::Path::kAtaPassThru : sata::Path::kNone) << c.port_offset;
    EXPECT_EQ(board.ata[0].commands, c.commands) << c.port_offset;
    EXPECT_EQ(board.log(), (std::vector<sim::Access>{sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA08),
                                                     sim::in32(0xCFC, 0x01060102), sim::out32(0xCF8, 0)}));
  }
  EXPECT_EQ(test::narrow(sata::read_model(buffer).text).substr(0, 6), "QEMU H");
}

TEST_F(SataProbeTest, OwnCommandMapsItsBufferAndPutsSlot0Back) {
  without_pass_thru(board);
  const std::vector<uint8_t> before = slot0_bytes();
  const size_t windows = board.dma_windows.size();
  board.clear_log();
  const sata::Probe got = sata::probe_port(0x100);
  EXPECT_EQ(got.buffer, buffer);
  EXPECT_EQ(got.path, sata::Path::kAhciSlot0);
  const std::vector<sim::Access> expected = {
      // The class first, then command, ABAR and the port: reads only.
      sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA08), sim::in32(0xCFC, 0x01060102), sim::out32(0xCF8, 0),
      sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA04), sim::in32(0xCFC, 0x00100007), sim::out32(0xCF8, 0),
      sim::in32(0xCF8, 0), sim::out32(0xCF8, 0x8000FA24), sim::in32(0xCFC, kAbar), sim::out32(0xCF8, 0), rd(32, kAbar + 0x0C, 0x3F),
      rd(32, kAbar + 0x28, 0), rd(32, kPort0 + 0x28, 0x113), rd(32, kPort0 + 0x24, 0x101), rd(32, kPort0 + 0x00, kHeader),
      rd(32, kPort0 + 0x04, 0), rd(32, kPort0 + 0x08, sim::kQ35ReceivedFis), rd(32, kPort0 + 0x0C, 0),
      rd(32, kPort0 + 0x18, 0x06), rd(32, kPort0 + 0x20, 0x50), rd(32, kPort0 + 0x38, 0), rd(32, kPort0 + 0x34, 0),
      rd(32, kPort0 + 0x10, 0), rd(32, kHeader + 0x08, kTable), rd(32, kHeader + 0x0C, 0),
      // Slot 0 as the firmware left it, then IDENTIFY into our mapped buffer.
      rd(32, kHeader, 0x00020045), rd(32, kHeader + 4, 1024), rd(32, kTable + 0x80, sim::kQ35StaleBuffer),
      rd(32, kTable + 0x84, 0), rd(32, kTable + 0x8C, 0x1FF), rd(8, kTable, 0x27), rd(8, kTable + 1, 0x80),
      rd(8, kTable + 2, 0x35), rd(32, kPort0 + 0x10, 0), wr(32, kHeader, 0x00010005), wr(32, kTable + 0x80, buffer),
      wr(32, kTable + 0x84, 0), wr(8, kTable + 0, 0x27), stall(10), wr(8, kTable + 1, 0x80), stall(10),
      wr(8, kTable + 2, 0xEC), stall(10), wr(8, kTable + 0x8C, 0xFF), stall(10), wr(8, kTable + 0x8D, 0x01), stall(10),
      wr(8, kTable + 0x8E, 0x00), stall(10), wr(8, kTable + 0x8F, 0x80), stall(10),
      // FRE, FR running; ST, CR running; then PxCI = 1.
      rd(8, kPort0 + 0x18, 0x06), wr(8, kPort0 + 0x18, 0x16), stall(10), rd(32, kPort0 + 0x18, 0x4016),
      rd(8, kPort0 + 0x18, 0x16), wr(8, kPort0 + 0x18, 0x17), stall(10), rd(32, kPort0 + 0x18, 0xC017),
      wr(32, kPort0 + 0x38, 1), stall(10), rd(32, kPort0 + 0x38, 0), rd(32, kPort0 + 0x20, 0x50),
      // Our completion bits cleared; ST off, CR gone, then FRE off, FR gone.
      rd(32, kPort0 + 0x10, 0x03), wr(32, kPort0 + 0x10, 0x03), rd(32, kPort0 + 0x18, 0xC017),
      rd(8, kPort0 + 0x18, 0x17), wr(8, kPort0 + 0x18, 0x16), stall(10), rd(32, kPort0 + 0x18, 0x4016),
      rd(32, kPort0 + 0x18, 0x4016), rd(8, kPort0 + 0x18, 0x16), wr(8, kPort0 + 0x18, 0x06), stall(10),
      rd(32, kPort0 + 0x18, 0x06),
      // Slot 0 put back.
      wr(32, kHeader, 0x00020045), wr(32, kHeader + 4, 1024), wr(8, kTable, 0x27), wr(8, kTable + 1, 0x80),
      wr(8, kTable + 2, 0x35), wr(32, kTable + 0x80, sim::kQ35StaleBuffer), wr(32, kTable + 0x84, 0),
      wr(32, kTable + 0x8C, 0x1FF)};
  EXPECT_EQ(board.log(), expected);
  EXPECT_EQ(port0().identifies, 1);
  EXPECT_EQ(port0().tpl_at_start, plat::kTplNotify);
  EXPECT_EQ(board.tpl, 4u);
  EXPECT_EQ(board.ram_peek(buffer + 55), 'Q');
  EXPECT_EQ(slot0_bytes(), before);
  EXPECT_EQ(board.dma_windows.size(), windows);  // unmapped
}

// Each gate, failed alone: nothing written, no wait, and row 18's reason.
TEST_F(SataProbeTest, OwnCommandRefusedForEachFailedGate) {
  using O = sata::Outcome;
  const struct {
    const char* what;
    uint16_t port_offset;
    std::function<void(sim::Board&)> change;
    O outcome = O::kNoDisk;
  } cases[] = {
      {"port 7 not implemented", 0x480, [](sim::Board&) {}},
      {"PI bit clear", 0x100, [](sim::Board& b) { b.ahci->pi = 0x3E; }},
      {"port 2 without a device", 0x180, [](sim::Board&) {}},
      {"DET 1: device, no link", 0x100, [](sim::Board& b) { b.ahci->ports[0].ssts = 0x001; }},
      {"PxSIG: ATAPI", 0x100, [](sim::Board& b) { b.ahci->ports[0].disk.signature = 0xEB140101; }},
      {"CLB 0", 0x100, [](sim::Board& b) { b.ahci->ports[0].clb = 0; }},
      {"CLB all ones", 0x100, [](sim::Board& b) { b.ahci->ports[0].clb = 0xFFFFFFFF; }},
      {"CLB above 4 GiB", 0x100, [](sim::Board& b) { b.ahci->ports[0].clbu = 1; }},
      {"FIS area 0", 0x100, [](sim::Board& b) { b.ahci->ports[0].fb = 0; }},
      {"CTBA all ones", 0x100, [](sim::Board& b) { b.ram_poke32(kHeader + 8, 0xFFFFFFFF); }},
      {"CTBA above 4 GiB", 0x100, [](sim::Board& b) { b.ram_poke32(kHeader + 12, 2); }},
      {"ABAR all ones", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, 0xFFFFFFFF); }},
      {"ABAR an I/O BAR", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, sim::kQ35Abar | 1); }},
      {"ABAR of a 64-bit type", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x24, sim::kQ35Abar | 4); }},
      {"class IDE", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x08, 0x01018F02); }},
      {"class RAID", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set32(0x08, 0x01040002); }},
      {"memory space off", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set16(0x04, 0x0005); }, O::kDecodeOff},
      {"bus master off", 0x100, [](sim::Board& b) { b.function(0, 31, 2)->set16(0x04, 0x0003); }, O::kDecodeOff},
      {"BOHC.BOS", 0x100, [](sim::Board& b) { b.ahci->bohc = 1; }, O::kFirmwareOwned},
      {"slot 0 issued", 0x100, [](sim::Board& b) { b.ahci->ports[0].ci = 1; }, O::kBusy},
      {"a queued command", 0x100, [](sim::Board& b) { b.ahci->ports[0].sact = 4; }, O::kBusy},
      {"BSY", 0x100, [](sim::Board& b) { b.ahci->ports[0].tfd = 0xD0; }, O::kBusy},
      {"DRQ", 0x100, [](sim::Board& b) { b.ahci->ports[0].tfd = 0x58; }, O::kBusy},
      {"TFES latched", 0x100, [](sim::Board& b) { b.ahci->ports[0].is = 1u << 30; }, O::kBusy},
      {"list still stopping", 0x100, [](sim::Board& b) { b.ahci->ports[0].cmd = 0x8006; }, O::kBusy},
      {"ST set, FRE clear", 0x100, [](sim::Board& b) { b.ahci->ports[0].cmd = 0x8007; }, O::kStartedWithoutFis},
      {"PciIo.Map refused", 0x100, [](sim::Board& b) { b.dma_map_fails = true; }, O::kNotMapped},
      {"no buffer", 0x100, [](sim::Board& b) { b.out_of_pages = true; sata::allocate_identify_buffer(); }},
  };
  for (const auto& c : cases) {
    sim::Board fresh;
    sim::set_board(&fresh);
    sim::build_q35(fresh);
    without_pass_thru(fresh);
    sata::allocate_identify_buffer();
    c.change(fresh);
    fresh.clear_log();
    const sata::Probe got = sata::probe_port(c.port_offset);
    EXPECT_EQ(got.buffer, sata::kNoDevice) << c.what;
    EXPECT_EQ(got.outcome, c.outcome) << c.what;
    EXPECT_EQ(sata::outcome_text(got.outcome) != nullptr, c.outcome != O::kNoDisk) << c.what;
    for (const auto& a : fresh.log()) {
      EXPECT_TRUE(a.op != sim::Op::kMemWrite && a.op != sim::Op::kStall) << c.what << ": " << a;
      // An ABAR that is no memory BAR, or a function of another class, is
      // not followed at all.
      if (std::string(c.what).find("ABAR") == 0 || std::string(c.what).find("class") == 0) {
        EXPECT_FALSE(raw_access(a)) << c.what << ": " << a;
      }
    }
    sata::free_identify_buffer();
  }
  sim::set_board(&board);
}

// After a command that failed, AHCI 1.3.1's 6.2.2: the list stopped,
// PxSERR and PxIS cleared, and the engines as found unless the disk stays
// busy; slot 0 put back and the buffer unmapped, and the firmware's driver
// can run its next command, unless the port could not be brought back.
TEST_F(SataProbeTest, FailuresAreCleanedUpAndThePortLeftAsFound) {
  using Answer = sim::SimDisk::Answer;
  using O = sata::Outcome;
  const struct {
    Answer answer;
    uint32_t cmd_before;
    bool wedged;
    O outcome;
    uint32_t cmd_after;  // ST, FRE, CR, FR
    uint64_t stall_us;
  } cases[] = {
      {Answer::kData, 0x0006, false, O::kAnswered, 0x0000, 120},
      {Answer::kData, 0xC017, false, O::kAnswered, 0xC011, 80},
      {Answer::kAbort, 0x0006, false, O::kNoDisk, 0x0000, 120},
      {Answer::kAbort, 0xC017, false, O::kNoDisk, 0xC011, 100},     // stopped, then started again
      {Answer::kNever, 0x0006, false, O::kLeftBusy, 0x4010, 100110},  // BSY: stopped, FIS receive kept
      {Answer::kData, 0xC017, true, O::kNotStopping, 0xC010, 600090},  // CR stuck
  };
  for (const auto& c : cases) {
    sim::Board fresh;
    sim::set_board(&fresh);
    sim::build_q35(fresh);
    without_pass_thru(fresh);
    sata::allocate_identify_buffer();
    sim::AhciController::Port& p = fresh.ahci->ports[0];
    p.disk.answer = c.answer;
    p.cmd = c.cmd_before;
    p.wedged = c.wedged;
    const size_t windows = fresh.dma_windows.size();
    const uint64_t dw0 = fresh.mem_read(kHeader, 32);
    fresh.clear_log();
    const sata::Probe got = sata::probe_port(0x100);
    const int row = static_cast<int>(&c - cases);
    EXPECT_EQ(got.outcome, c.outcome) << row;
    EXPECT_EQ(p.cmd & 0xC011, c.cmd_after) << row;
    EXPECT_EQ(fresh.total_stall_us, c.stall_us) << row;
    EXPECT_EQ(p.forbidden, 0) << row;
    const bool restored = c.outcome != O::kNotStopping;
    EXPECT_EQ(fresh.mem_read(kHeader, 32) == dw0, restored) << row;
    EXPECT_EQ(fresh.dma_windows.size() == windows, restored) << row;
    if (c.outcome != O::kAnswered && restored) {
      EXPECT_EQ(p.is | p.serr, 0u) << row;
    }
    p.disk.answer = Answer::kData;
    EXPECT_EQ(fresh.ahci->driver_identify(0, 0x00200000), c.outcome == O::kAnswered || c.outcome == O::kNoDisk) << row;
    sata::free_identify_buffer();
  }
  sim::set_board(&board);
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
