// The boards the fuzzer runs on: Q35 as OVMF leaves it, and variations that
// stress what kvq reads (chips, crowded and broken PCI topologies, holes in
// the page tables, disks that never answer, on more than one controller, a
// full variable store, a variable walk that never ends).
#include "tests/fuzz/boards.h"

#include <array>
#include <iterator>

#include "platform/sim/acpi_tables.h"
#include "platform/sim/ahci_sim.h"
#include "platform/sim/paging_sim.h"
#include "platform/sim/cpu_models.h"
#include "platform/sim/q35.h"
#include "platform/sim/smbios_tables.h"
#include "platform/sim/spi_straps.h"
#include "platform/sim/superio_chips.h"
#include "platform/sim/test_console.h"

namespace kvq::fuzz {
namespace {

void add_chips(sim::Board& board, std::initializer_list<const char*> chips) {
  for (const char* c : chips) add_superio(board, c);
}

// Three buses full of functions: more than the device table holds.
void build_crowded(sim::Board& board) {
  sim::PciFunction& host = board.add_function(0, 0, 0, 0x8086, 0x29C0);
  host.set32(0x60, 0xB0000001);
  for (int bus = 0; bus < 3; ++bus) {
    for (int dev = 0; dev < 32; ++dev) {
      for (int fn = 0; fn < 8; ++fn) {
        if (bus == 0 && dev == 0 && fn == 0) continue;
        sim::PciFunction& f =
            board.add_function(bus, dev, fn, fn % 2 == 0 ? 0x8086 : 0x10EC, static_cast<uint16_t>(0x1000 + dev));
        f.set32(0x08, 0x02000000);  // Ethernet, so the MAC line reads BAR0
        if (fn == 0) f.set8(0x0E, 0x80);  // all eight functions are listed
        if (fn == 1) f.set_io_bar(0, static_cast<uint16_t>(0x1000 + 0x100 * dev), 0x100);
      }
    }
  }
}

// A function whose capability list is given as (offset, id, next) triples.
void add_capabilities(sim::Board& board, int dev, uint8_t first, std::initializer_list<std::array<uint8_t, 3>> caps) {
  sim::PciFunction& f = board.add_function(0, dev, 0, 0x1B36, static_cast<uint16_t>(0x0100 + dev));
  f.cfg[0x06] |= 0x10;
  f.cfg[0x34] = first;
  for (const auto& c : caps) {
    f.cfg[c[0]] = c[1];
    f.cfg[c[0] + 1] = c[2];
  }
}

// Holes in the page tables, as firmware that guards null pointers and its
// pool leaves them: page 0, the last page below 4 GiB and the first above.
constexpr uint64_t kHoles[] = {0x0, 0xFFFFF000u, 0x100000000ull};

void punch_holes(sim::Board& board) {
  constexpr uint64_t k2M = 2u << 20, k1G = 1u << 30, k4G = 4 * k1G;
  sim::PageTables t(board, sim::PageTables::Shape::k4Level, 0x1FF00000u);
  t.map(0, k2M, 4096);
  t.map(k2M, k4G - 2 * k2M, k2M);
  t.map(k4G - k2M, 2 * k2M, 4096);
  t.map(k4G + k2M, k1G - k2M, k2M);
  t.map(k4G + k1G, (uint64_t{1} << 40) - k4G - k1G, k1G);
  for (uint64_t page : kHoles) t.unmap(page);
}

void build_odd_pci(sim::Board& board) {
  sim::build_q35(board);
  punch_holes(board);
  // Ethernet controllers whose BAR0 points nowhere.
  const struct {
    int dev;
    uint16_t vendor;
    uint32_t bar0;
  } nics[] = {{6, 0x8086, 0xFFFFFFFF}, {7, 0x8086, 0x6001}, {8, 0x10EC, 0}, {9, 0x10EC, 0xFFFFFFFF},
              {10, 0x10EC, 0xC2000000}, {11, 0x8086, 0}};
  for (const auto& n : nics) {
    sim::PciFunction& f = board.add_function(0, n.dev, 0, n.vendor, 0x10D3);
    f.set32(0x08, 0x02000000);
    f.set32(0x10, n.bar0);
    f.set_writable(0x10, 4, 0xFFFFFFFF);
  }
  add_capabilities(board, 12, 0x40, {{0x40, 0x01, 0x50}, {0x50, 0x05, 0x40}});  // a loop of two
  add_capabilities(board, 13, 0x40, {{0x40, 0x01, 0x40}});                      // points at itself
  add_capabilities(board, 14, 0xFF, {{0xFC, 0x01, 0xFF}});                      // at the very end
  add_capabilities(board, 15, 0x3C, {});                                        // into the header
  // PCI Express functions whose extended list loops, or points below 100h.
  add_capabilities(board, 18, 0x40, {{0x40, 0x10, 0x00}});
  board.function(0, 18, 0)->set32(0x100, 0x10010001);
  add_capabilities(board, 19, 0x40, {{0x40, 0x10, 0x00}});
  board.function(0, 19, 0)->set32(0x100, 0x0C010001);
  board.add_function(0, 16, 0, 0xFFFF, 0x1234);  // vendor FFFF
  board.add_function(0, 17, 0, 0x8086, 0x0000);  // device ID 0: an empty list row
  board.function(0, 31, 2)->set32(0x24, 0xFFFFFFFF);  // no ABAR
  board.function(0, 0, 0)->set32(0x60, 0xB0000000);  // memory-mapped configuration off
  board.config_tables.clear();  // more ACPI tables than the page's rows
  sim::install_acpi(board, 0x1F600000u, {{0xB0000000u, 0, 0, 255}}, 24);
  auto straps = std::make_unique<sim::SpiStraps>();
  straps->pch_straps = {0x00000000, 0x12AB, 0xFFFFFFFF, 0x80000001};
  board.add_mem_device(std::move(straps));
  // SMBIOS strings that are long, not ASCII, or control characters; a
  // structure with fewer strings than kvq shows, and one cut short.
  sim::SmbiosLayout layout;
  layout.f_segment_copy = 0xF0010;
  const std::vector<uint8_t> table = sim::smbios_table({
      {0, {1, 2, 0, 0xE8, 3}, {std::string(120, 'V'), "\x80\xFF\x01\x1B[2J", "\t\r\n"}},
      {1, {1, 2, 3, 4, 0}, {"M"}},
      {2, {1, 2, 3, 4}, {}},
  });
  layout.stated_length = static_cast<int64_t>(table.size()) - 5;  // into the end-of-table structure
  sim::install_smbios(board, table, sim::SmbiosEntry::k2, layout);
  // A variable walk that comes round to its first names again.
  board.variables.circle_after = 12;
}

void build_odd_disks(sim::Board& board) {
  sim::build_q35(board);
  board.function(0, 31, 2)->set32(0x90, 0x80);  // RAID mode: the HDD page opens
  sim::AhciController& hba = *board.ahci;
  using Answer = sim::SimDisk::Answer;
  const struct {
    int port;
    Answer answer;
    bool set_up;
  } disks[] = {{1, Answer::kNever, true}, {2, Answer::kAbort, true}, {3, Answer::kData, false}};
  for (const auto& d : disks) {
    hba.attach(d.port, sim::SimDisk{.model = "FUZZ DISK", .sectors28 = 0x0FFFFFFF, .sectors48 = ~0ull, .answer = d.answer});
    const uint32_t p = static_cast<uint32_t>(d.port);
    if (d.set_up) {
      hba.set_up_like_firmware(d.port, 0x1D000000 + 0x1000 * p, 0x1D100000 + 0x1000 * p, 0x1D200000 + 0x1000 * p,
                               0x1D300000 + 0x1000 * p);
    } else {
      hba.ports[d.port].clb = 0;
    }
  }
  // A second AHCI function and an NVM Express controller: the HDD page
  // steps on to their disks.
  sim::add_ahci_function(board, 8, 0xC2000000u, {.model = "FUZZ SECOND", .sectors28 = 2000000, .sectors48 = 2000000},
                         0x1C000000u);
  sim::add_nvme(board, 7, {.model = "FUZZ NVME", .serial = "F1", .namespaces = {{1, 4096, 9}, {3, 1, 12}}});
  hba.ports[4].clb = 0xFFFFFFFF;  // no disk, and a base never written
  hba.ports[5].clbu = 1;          // above 4 GiB
  // The chipset's ports are kvq's own to drive: its firmware has no ATA
  // pass-thru there (the second function keeps one), and guards DMA.
  board.ata.erase(board.ata.begin());
  board.dma_protection = true;
}

}  // namespace

const char* board_name(BoardKind kind) {
  static const char* const kNames[kBoardKinds] = {"q35", "chips", "ec-chips", "empty", "crowded", "odd-pci", "odd-disks",
                                                  "segments"};
  return kNames[static_cast<int>(kind)];
}

std::vector<uint64_t> unmapped_pages(BoardKind kind) {
  if (kind == BoardKind::kOddPci) return {std::begin(kHoles), std::end(kHoles)};
  return {};
}

void build_board(BoardKind kind, sim::Board& board) {
  std::vector<std::pair<int, int>> modes = {{80, 25}, {0, 0}, {100, 31}};
  switch (kind) {
    case BoardKind::kQ35:
      sim::build_q35(board);
      break;
    case BoardKind::kChips:
      sim::build_q35(board);
      add_chips(board, {"it8728@2e", "w83627dhg@4e", "f81216@6e"});
      sim::set_cpus(board, sim::intel_cpu, 2);  // the microcode read writes 8Bh
      break;
    case BoardKind::kEcChips:
      sim::build_q35(board);
      add_chips(board, {"it8528@2e", "nct6102@4e", "f81865@6e"});
      modes = {{80, 25}, {0, 0}, {0, 0}};  // the list drawn on the standard screen
      board.cpu.cpu_protocol = false;
      board.variables.nv_capacity = 1024;  // a full store: every NV write refused
      board.variables.attributes_only_on_success = true;
      break;
    case BoardKind::kEmpty:
      board.cpu.guard_refused = true;
      board.cpu.mp_services = false;
      break;
    case BoardKind::kCrowded:
      build_crowded(board);
      // Processors with an IDT of their own, disabled, and never coming back.
      sim::set_cpus(board, sim::qemu64_cpu, 4);
      board.cpu.cpus[1].gp_gate = 1;
      board.cpu.cpus[2].disabled = true;
      board.cpu.cpus[3].down = true;
      break;
    case BoardKind::kOddPci:
      build_odd_pci(board);
      // A vendor that documents no microcode read (VIA/Centaur).
      board.cpu.cpus[0].leaves[{0, sim::kAnySubleaf}] = {0x0000000D, 0x746E6543, 0x736C7561, 0x48727561};
      break;
    case BoardKind::kOddDisks:
      build_odd_disks(board);
      break;
    case BoardKind::kSegments:  // a host bridge, segment 1 behind its window, a timer event taking CF8
      sim::set_cpus(board, sim::qemu64_cpu, 1);
      board.add_function(0, 0, 0, 0x8086, 0x29C0).set32(0x60, 0xB0000001);
      sim::add_second_segment(board, 0xE0000000u).set_writable(0x3C, 1, 0xFF);
      board.timer_cf8 = 0x8000F83Cu;
      break;
  }
  sim::TestConsole::instance().install(modes);
}

}  // namespace kvq::fuzz
