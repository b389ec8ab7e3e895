// Super I/O detection, the window read and the writes on the simulated
// chips; the description lookup; the Super I/O page.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/colors.h"
#include "hw/superio.h"
#include "pages/superio_lookup.h"
#include "platform/sim/devices.h"
#include "platform/sim/q35.h"
#include "platform/sim/superio_chips.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::in8;
using sim::out8;
using test::attr_at;
using test::row_text;
using test::text_at;

const sim::SioModel& model(const char* name) { return *sim::find_sio_model(name); }

// Chips no board ships: an ITE chip with an unknown chip byte, and one that
// answers without a key, so every phase reads it.
constexpr sim::SioModel kIt8786 = {"it8786", {0x87, 0x86}, sim::SioKey::kIte, 0x4FF, 0x04, 0x0290, false};
constexpr sim::SioModel kKeyless = {"keyless", {0x87, 0x28}, sim::SioKey::kNone, 0x810, 0x0B, 0x0290, false};

struct Placed {
  const sim::SioModel* model;
  uint16_t port;
};

// A record as "ec_found vid did key_family hwm_port vendor model".
std::string summary(const sio::ChipRecord& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d %02X %02X %d %04X ", r.ec_found, r.vid, r.did, r.key_family, r.hwm_port);
  return buf + test::narrow(r.vendor) + " " + test::narrow(r.model);
}

const char* const kNothing = "0 00 00 0 0000 N/A N/A";

// An access to the index/data pair at `port`.
bool is_port(const Access& a, uint16_t port) {
  return (a.op == sim::Op::kPortIn || a.op == sim::Op::kPortOut) && (a.addr == port || a.addr == port + 1u);
}

class SuperIoHwTest : public test::BoardTest {
 protected:
  void detect_all() {
    sio::probe_ec(sio::g_chips);
    sio::detect(sio::g_chips);
  }
};

TEST_F(SuperIoHwTest, DetectionOnTheModels) {
  struct Case {
    std::vector<Placed> chips;
    const char* records[3];  // at 2Eh, 4Eh, 6Eh
  };
  const Case cases[] = {
      {{}, {kNothing, kNothing, kNothing}},
      // No phase touches an embedded controller's port (checked below).
      {{{&model("it8528"), 0x2E}}, {"1 85 28 0 0000 ITE IT8528", kNothing, kNothing}},
      {{{&kIt8786, 0x2E}}, {"0 87 00 0 0295 ITE N/A", kNothing, kNothing}},
      {{{&model("w83627dhg"), 0x4E}}, {kNothing, "0 A0 25 1 0295 Winbond W83627DHG", kNothing}},
      // It answers only to 87h 01h 55h AAh there.
      {{{&model("it8728"), 0x4E}}, {kNothing, "0 87 28 0 0295 ITE IT8728", kNothing}},
      // The Winbond phase opens the F81865 too and takes logical device 0Bh,
      // which it lacks: FFh FFh gives 0004h. The Fintek phase then names it.
      {{{&model("f81865"), 0x6E}, {&model("f81216"), 0x2E}},
       {"0 02 08 3 0000 Fintek F81216", kNothing, "0 07 04 3 0004 Fintek F81865"}},
      // The ITE phase names it and takes device 04h's monitor (0A05h); the
      // Winbond phase, knowing no vendor 87h, still overwrites the monitor
      // port with device 0Bh's.
      {{{&kKeyless, 0x2E}}, {"0 87 28 0 0295 ITE IT8728", kNothing, kNothing}},
  };
  for (const Case& c : cases) {
    sim::Board b;
    sim::set_board(&b);
    for (const Placed& p : c.chips) {
      sim::SuperIoChip& chip = sim::add_superio(b, *p.model, p.port);
      if (p.model == &kKeyless) chip.device_reg(0x04, 0x60) = 0x0A;
    }
    detect_all();
    for (int i = 0; i < sio::kChipCount; ++i) {
      EXPECT_EQ(sio::g_chips[i].port, sio::kChipPorts[i]);
      EXPECT_EQ(summary(sio::g_chips[i]), c.records[i]) << c.records[0];
    }
    size_t at_2e = 0;
    for (const Access& a : b.log()) at_2e += is_port(a, 0x2E) ? 1 : 0;
    if (sio::g_chips[0].ec_found == 1) {
      EXPECT_EQ(at_2e, 6u + 7u);  // three ID reads, then the once-only key and exit
    }
    sim::set_board(&board);
  }
}

// An IT8728 at 4Eh and nothing elsewhere: the log is every key, read and
// exit in the order it goes out. An ITE key that ends in 55h is followed by
// AAh, which closes a 55h part; the monitor's logical device is selected
// and the one found put back.
TEST_F(SuperIoHwTest, DetectionSendsEveryKeyAndExitInOrder) {
  sim::add_superio(board, model("it8728"), 0x4E).select(0x07);
  std::vector<Access> want;
  auto out = [&](uint16_t p, std::vector<uint8_t> bytes) {
    for (uint8_t v : bytes) want.push_back(out8(p, v));
  };
  auto reg = [&](uint16_t p, uint8_t r, uint8_t v) {
    want.push_back(out8(p, r));
    want.push_back(in8(static_cast<uint16_t>(p + 1), v));
  };
  auto ite_exit = [&](uint16_t p) {
    out(p, {0x02});
    out(static_cast<uint16_t>(p + 1), {0x02});
    if (p != 0x4E) out(p, {0xAA});
  };
  for (uint16_t p : sio::kChipPorts) reg(p, 0x20, 0xFF);
  out(0x2E, {0x87, 0x01, 0x55, 0x55});
  ite_exit(0x2E);
  for (uint16_t p : sio::kChipPorts) {
    const bool chip = p == 0x4E;
    const std::vector<uint8_t> ite_key = {0x87, 0x01, 0x55, static_cast<uint8_t>(chip ? 0xAA : 0x55)};
    out(p, ite_key);
    reg(p, 0x20, chip ? 0x87 : 0xFF);
    ite_exit(p);
    if (chip) {
      out(p, ite_key);
      reg(p, 0x20, 0x87);
      reg(p, 0x21, 0x28);
      reg(p, 0x07, 0x07);
      out(p, {0x07});
      out(0x4F, {0x04});
      reg(p, 0x60, 0x02);
      reg(p, 0x61, 0x90);
      out(p, {0x07});
      out(0x4F, {0x07});
      ite_exit(p);
    }
    out(p, {0x87, 0x87});
    reg(p, 0x20, 0xFF);
    out(p, {0xAA, 0x77, 0x77, 0x87, 0x87});
    reg(p, 0x20, 0xFF);
    out(p, {0xAA});
  }
  detect_all();
  std::vector<Access> log;  // without the configuration reads that name the bridge
  for (const Access& a : board.log()) {
    if (a.addr != 0xCF8 && a.addr != 0xCFC) log.push_back(a);
  }
  EXPECT_EQ(log, want);
}

// Start-up probes only the ports the bridge sends to LPC, and leaves 4Eh
// alone beside a TPM 1.2 the firmware drives: a port left alone sees no
// access at all. An unknown bridge gets every port, as before.
TEST_F(SuperIoHwTest, DetectionProbesOnlyDecodedPorts) {
  struct Case {
    const char* what;
    uint16_t vendor, device;  // the bridge: Intel's at 0:31.0, AMD's at 0:20.3
    uint32_t decode, range;   // its 80h (LPC_EN above) or AMD's 48h; Intel's 84h
    const char* at_4e;
    bool tcg;
    const char* records[3];  // "-" not decoded, "T" skipped, else the vendor found
  };
  const Case cases[] = {
      {"LPC_EN clear (Q35)", 0x8086, 0x2918, 0, 0, "w83627dhg", false, {"-", "-", "-"}},
      {"LPC_EN bit 12", 0x8086, 0x2918, 1u << 28, 0, "w83627dhg", false, {"ITE", "-", "-"}},
      {"bit 13, a range at 6Ch", 0x8086, 0x2918, 1u << 29, 0x6D, "w83627dhg", false, {"-", "Winbond", "Fintek"}},
      {"a range over 28h-2Fh", 0x8086, 0x2918, 0, 0x00040029, "w83627dhg", false, {"ITE", "-", "-"}},
      {"AMD FCH, alternate port", 0x1022, 0x780E, 0x02, 0, "w83627dhg", false, {"-", "Winbond", "-"}},
      {"a TPM 1.2 at 4Eh", 0x8086, 0x2918, 3u << 28, 0, "tpm12", true, {"ITE", "T", "-"}},
      {"no TCG protocol", 0x8086, 0x2918, 3u << 28, 0, "tpm12", false, {"ITE", "N/A", "-"}},
      {"an unknown bridge: probed", 0x8086, 0x1234, 0, 0, "w83627dhg", false, {"N/A", "N/A", "N/A"}},
  };
  for (const Case& c : cases) {
    sim::Board b;
    sim::set_board(&b);
    const bool amd = c.vendor == 0x1022;
    sim::PciFunction& bridge = b.add_function(0, amd ? 20 : 31, amd ? 3 : 0, c.vendor, c.device);
    bridge.set32(0x08, 0x06010000);
    sim::add_superio(b, model("it8728"), 0x2E);
    sim::SuperIoChip& at_4e = sim::add_superio(b, model(c.at_4e), 0x4E);
    sim::add_superio(b, model("f81216"), 0x6E);
    bridge.set32(amd ? 0x48 : 0x80, c.decode);  // as firmware set it, whatever the chips
    bridge.set32(0x84, c.range);
    b.tcg_protocol = c.tcg;
    detect_all();
    for (const sio::ChipRecord& r : sio::g_chips) {
      const std::string got = r.probe == sio::kNotDecoded ? "-" : r.probe == sio::kTpmSkipped ? "T" : test::narrow(r.vendor);
      EXPECT_EQ(got, c.records[&r - sio::g_chips]) << c.what << " at " << std::hex << r.port;
      for (const Access& a : b.log()) EXPECT_TRUE(r.probe == sio::kProbed || !is_port(a, r.port)) << c.what << a;
    }
    EXPECT_FALSE(at_4e.in_config()) << c.what;
    sim::set_board(&board);
  }
}

// Every chip start-up enters is left closed with the logical device the
// firmware left selected; so is the chip the Super I/O page shows, after
// every pass, while the page steps and writes its own logical device.
class SuperIoLeaveTest : public test::KvqTest {};

TEST_F(SuperIoLeaveTest, ChipsAreLeftClosedOnTheirOwnLogicalDevice) {
  const Placed cases[] = {
      {&model("it8728"), 0x2E}, {&model("it8728"), 0x4E},  {&model("w83627dhg"), 0x2E},
      {&model("nct6102"), 0x6E}, {&model("f81216"), 0x2E}, {&model("f81865"), 0x4E},
      {&model("tpm12"), 0x2E},  // a 55h part: the ITE key's 55h opens it
  };
  for (const Placed& c : cases) {
    SCOPED_TRACE(c.model->name);
    sim::Board b;
    sim::set_board(&b);
    sim::SuperIoChip& chip = sim::add_superio(b, *c.model, c.port);
    chip.select(0xFF);
    start();
    EXPECT_FALSE(chip.in_config());
    EXPECT_EQ(chip.logical_device(), 0xFF);
    state.page = PageId::kSuperIo;
    state.isa_address = c.port;
    state.cursor() = CellCursor{5, 3, 0};  // 30h
    pass_scan(kScanPageUp);
    console().push_char(kCharEnter);
    console().push_text(u"5A");
    pass();
    EXPECT_EQ(g_window.bytes[0x07], 0x00);
    EXPECT_EQ(chip.device_reg(0x00, 0x30), 0x5A);
    EXPECT_FALSE(chip.in_config());
    EXPECT_EQ(chip.logical_device(), 0xFF);
  }
  sim::set_board(&board);
}

TEST_F(SuperIoHwTest, WindowReadKeysEveryRegisterAtChipPortsOnly) {
  struct Case {
    uint16_t port;
    uint16_t family;
    std::vector<uint8_t> key;
  };
  const Case cases[] = {
      {0x2E, sio::kKeyIte, {0x87, 0x01, 0x55, 0x55}},
      {0x4E, sio::kKeyIte, {0x87, 0x01, 0x55, 0xAA}},
      {0x6E, sio::kKeyWinbond, {0x87, 0x87}},
      {0x4E, sio::kKeyFintek, {0x77, 0x77, 0x87, 0x87}},
      {0x0295, sio::kKeyIte, {}},
      {0x0070, sio::kKeyIte, {}},
  };
  board.add_port_device(std::make_unique<sim::Cmos>());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    sio::probe_ec(sio::g_chips);
    for (sio::ChipRecord& r : sio::g_chips) r.key_family = c.family;
    board.clear_log();
    RegisterWindow w;
    sio::read_window(c.port, static_cast<uint16_t>(c.port + 1), w);
    std::vector<Access> want;
    for (int r = 0; r < 256; ++r) {
      for (uint8_t k : c.key) want.push_back(out8(c.port, k));
      want.push_back(out8(c.port, static_cast<uint8_t>(r)));
      want.push_back(in8(static_cast<uint16_t>(c.port + 1), w.bytes[r]));
    }
    EXPECT_EQ(board.log(), want);
  }
}

TEST_F(SuperIoHwTest, LogicalDeviceStepWrapsAtEightBits) {
  auto cmos = std::make_unique<sim::Cmos>();
  sim::Cmos& clock = *cmos;
  board.add_port_device(std::move(cmos));
  clock.ram[0x07] = 0xFF;
  sio::step_logical_device(0x70, 0x71, +1);
  EXPECT_EQ(board.log(), (std::vector<Access>{out8(0x70, 0x07), in8(0x71, 0xFF), out8(0x70, 0x07), out8(0x71, 0x00)}));
  sio::step_logical_device(0x70, 0x71, -1);
  EXPECT_EQ(clock.ram[0x07], 0xFF);
}

// Description lookups, by the first chip record.
TEST(SuperIoLookupTest, RowsThatDescribeTheRegister) {
  constexpr sio::ChipRecord kIt8728 = {0x2E, 0, 0x87, 0x28, 0, 0x0295, u"ITE", u"IT8728"};
  constexpr sio::ChipRecord kW83627dhg = {0x2E, 0, 0xA0, 0x25, 1, 0x0295, u"Winbond", u"W83627DHG"};
  constexpr sio::ChipRecord kIt8528 = {0x2E, 1, 0x85, 0x28, 0, 0, u"ITE", u"IT8528"};
  constexpr sio::ChipRecord kNone = {0x2E, 0, 0, 0, 0, 0, u"N/A", u"N/A"};
  struct Case {
    const sio::ChipRecord* chip;
    DescriptionQuery query;  // ISA address, offset, slot 07h, slot 4Eh
    const char* want;        // "" for none
  };
  const Case cases[] = {
      {&kIt8728, {0x2E, 0x30, 0x04, 0}, "Environment Controller Activate"},
      {&kIt8728, {0x2E, 0x30, 0x0A, 0}, "Consumer IR Activate"},
      {&kIt8728, {0x2E, 0x30, 0x0B, 0}, ""},
      {&kIt8728, {0x2E, 0x07, 0x04, 0}, "Logical Device Number"},
      {&kIt8728, {0x2E, 0x07, 0x0B, 0}, "Logical Device Number"},
      {&kIt8728, {0x0295, 0x58, 0x04, 0}, "ITE Vendor ID Register"},
      {&kIt8728, {0x0296, 0x58, 0x04, 0}, ""},
      // Register 07h at FEh selects no logical device: the monitor's rows
      // stay with the monitor.
      {&kIt8728, {0x2E, 0x00, 0xFE, 0}, ""},
      {&kW83627dhg, {0x0295, 0x50, 0, 0x80}, "Reserved Register"},
      {&kW83627dhg, {0x0295, 0x50, 0, 0x81}, "CPUTIN Temperature Sensor Temperature (High Byte) Register"},
      {&kW83627dhg, {0x0295, 0x50, 0, 0x83}, ""},
      {&kW83627dhg, {0x0295, 0x20, 0, 0x80}, "CPUVCORE reading"},
      {&kW83627dhg, {0x0295, 0x20, 0, 0x81}, ""},
      {&kIt8528, {0x2E, 0x02, 0x00, 0}, ""},
      {&kNone, {0x4E, 0x02, 0x00, 0}, ""},  // an NCT6102 at 4Eh only
      {&kNone, {0x70, 0x09, 0x00, 0}, "Year"},
      {&kIt8728, {0x70, 0x00, 0x00, 0}, "Seconds"},
      {&kIt8728, {0x70, 0x0E, 0x00, 0}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> found;
    find_descriptions(
        c.query, *c.chip,
        [](const char16_t* text, void* out) { static_cast<std::vector<std::string>*>(out)->push_back(test::narrow(text)); },
        &found);
    const std::vector<std::string> want = *c.want ? std::vector<std::string>{c.want} : std::vector<std::string>{};
    EXPECT_EQ(found, want) << std::hex << c.query.isa_address << " " << int{c.query.offset};
  }
}

class SuperIoPageTest : public test::KvqTest {
 protected:
  void open() {
    start();
    state.page = PageId::kSuperIo;
    con::clear_screen();
    pass();
  }
  // What the pass wrote after its window read (the value entry's writes).
  std::vector<Access> writes_after_window() const {
    const auto& log = board.log();
    size_t last_in = 0;
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].op == sim::Op::kPortIn) last_in = i + 1;
    }
    return std::vector<Access>(log.begin() + static_cast<long>(last_in), log.end());
  }
};

TEST_F(SuperIoPageTest, It8728ShowsHeaderRegistersPanelAndDescriptions) {
  sim::add_superio(board, model("it8728"), 0x2E).select(0x04);
  open();
  EXPECT_EQ(row_text(0), "ISA Address : 002E,002F");
  EXPECT_EQ(text_at(3, 4, 6), "87 28 ");
  EXPECT_EQ(text_at(51, 3, 22) + text_at(51, 4, 10) + text_at(51, 5, 12), "Index:2E VID:87 DID:28Vendor:ITEModel:IT8728");
  EXPECT_EQ(text_at(51, 7, 22) + text_at(51, 8, 10) + text_at(51, 9, 9), "Index:4E VID:00 DID:00Vendor:N/AModel:N/A");
  for (int col : {57, 64, 71}) EXPECT_EQ(attr_at(col, 3), kAttrLightGreen) << col;
  for (int col : {64, 71}) EXPECT_EQ(attr_at(col, 7), kAttrGray) << col;
  EXPECT_EQ((std::vector<uint8_t>{attr_at(51, 4), attr_at(58, 4), attr_at(58, 8)}),
            (std::vector<uint8_t>{kAttrWhite, kAttrYellow, kAttrGray}));
  EXPECT_EQ(text_at(25, 19, 7), "0x00 ->");

  // The firmware left logical device 04h selected. PageUp and PageDown step
  // the page's; the arrows blank the description line.
  state.cursor() = CellCursor{2, 24, 7};
  pass_scan(kScanPageUp);
  pass();
  EXPECT_EQ(row_text(18), "Logical Device Number");
  EXPECT_EQ(text_at(24, 2, 2), "05");
  pass_scan(kScanPageDown);
  pass_scan(kScanDown);
  EXPECT_EQ(row_text(18), "");
  state.cursor() = CellCursor{5, 3, 0};  // 30h under logical device 04h
  pass();
  EXPECT_EQ(row_text(18), "Environment Controller Activate");
  // An idle pass over unchanged registers sends nothing to the console.
  con::flush();
  console().clear_ops();
  pass();
  EXPECT_TRUE(console().ops.empty());
}

// Beside the grid, why start-up left a port alone (Q35 decodes none). The
// page reads and writes nothing there until the port is typed with p.
TEST_F(SuperIoPageTest, PortsStartUpLeftAlone) {
  sim::build_q35(board);
  open();
  EXPECT_EQ(text_at(51, 8, 22), "Vendor:N/A not decoded");
  EXPECT_EQ(text_at(3, 2, 8), "-- -- --");
  board.clear_log();
  console().push_scan(kScanPageUp);
  console().push_char(kCharEnter);
  console().push_text(u"12");
  for (int i = 0; i < 4; ++i) pass();
  for (const Access& a : board.log()) EXPECT_FALSE(is_port(a, 0x2E)) << a;
  console().push_char(u'p');
  console().push_text(u"002E");
  pass();
  pass();
  EXPECT_EQ(text_at(3, 2, 8), "FF FF FF");
}

TEST_F(SuperIoPageTest, TypedValuesGoOutHighestRegisterFirstWithoutAKey) {
  sim::SuperIoChip& chip = sim::add_superio(board, model("w83627dhg"), 0x2E);
  open();
  struct Case {
    int presses_of_f7;
    CellCursor cursor;
    const char16_t* digits;
    std::vector<Access> want;
  };
  // After the entry the pass leaves the chip: the key again, its own
  // logical device (00h) back, AAh.
  const std::vector<Access> leave = {out8(0x2E, 0x87), out8(0x2E, 0x87), out8(0x2E, 0x07), out8(0x2F, 0x00),
                                     out8(0x2E, 0xAA)};
  const Case cases[] = {
      {0, {2, 24, 7}, u"0B", {out8(0x2E, 0x07), out8(0x2F, 0x0B)}},
      {1, {8, 3, 0}, u"0290", {out8(0x2E, 0x61), out8(0x2F, 0x02), out8(0x2E, 0x60), out8(0x2F, 0x90)}},
      {1, {2, 30, 3}, u"11223344",
       {out8(0x2E, 0x0F), out8(0x2F, 0x11), out8(0x2E, 0x0E), out8(0x2F, 0x22), out8(0x2E, 0x0D), out8(0x2F, 0x33),
        out8(0x2E, 0x0C), out8(0x2F, 0x44)}},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < c.presses_of_f7; ++i) pass_scan(kScanF7);
    state.cursor() = c.cursor;
    console().push_char(kCharEnter);
    console().push_text(c.digits);
    board.clear_log();
    pass();
    std::vector<Access> want = c.want;
    want.insert(want.end(), leave.begin(), leave.end());
    EXPECT_EQ(writes_after_window(), want);
  }
  EXPECT_EQ(state.sio_ldn, 0x0B);
  EXPECT_EQ(chip.logical_device(), 0x00);
  EXPECT_EQ(chip.device_reg(0x0B, 0x60), 0x90);
  EXPECT_EQ(chip.device_reg(0x0B, 0x61), 0x02);
}

// The W83627DHG's monitor at its base + 5, with register 4Eh choosing the
// bank; a shorter description leaves no tail of a longer one.
TEST_F(SuperIoPageTest, BankedMonitorDescriptions) {
  sim::SuperIoChip& chip = sim::add_superio(board, model("w83627dhg"), 0x2E);
  open();
  state.isa_address = sio::g_chips[0].hwm_port;
  state.cursor() = CellCursor{7, 3, 0};  // 50h
  const char* want[] = {"Reserved Register", "CPUTIN Temperature Sensor Temperature (High Byte) Register",
                        "Reserved Register"};
  const uint8_t banks[] = {0x80, 0x81, 0x80};
  for (int i = 0; i < 3; ++i) {
    chip.monitor_reg(0, 0x4E) = banks[i];
    pass();
    EXPECT_EQ(row_text(18), want[i]);
  }
  EXPECT_EQ(row_text(0), "ISA Address : 0295,0296");
}

TEST_F(SuperIoPageTest, CmosClockThroughTheAddressEntry) {
  auto cmos = std::make_unique<sim::Cmos>();
  cmos->clock = [] { return uint32_t{12 * 3600 + 34 * 60 + 56}; };
  board.add_port_device(std::move(cmos));
  open();
  console().push_char(u'p');
  console().push_text(u"0070");
  pass();
  EXPECT_EQ(state.isa_address, 0x0070);
  pass();
  EXPECT_EQ(row_text(0), "ISA Address : 0070,0071                   12:34:56");
  EXPECT_EQ(row_text(18), "Seconds");
  // Word mode: no clock line is drawn (the screen was cleared) and no
  // description.
  pass_scan(kScanF7);
  pass();
  EXPECT_EQ(row_text(0), "ISA Address : 0070,0071");
  EXPECT_EQ(row_text(18), "");
}

}  // namespace
}  // namespace kvq
