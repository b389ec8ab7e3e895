// Host benchmark: the cost of one main loop pass of each page on the
// simulated Q35 board (screen model and flush included), and the serial
// bytes an idle pass and a cursor move cost. Not a test: `make bench` runs
// it and folds its figures into one table with the QEMU measurements.
#include <benchmark/benchmark.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "hw/disks.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/sim/board.h"
#include "platform/sim/q35.h"
#include "platform/sim/superio_chips.h"
#include "platform/sim/test_console.h"

namespace {

// Every page of the page table, under its name without blanks or slashes
// ("Super I/O" is SuperIO). The HDD page runs three times: on the disk of
// port 0, on an empty port and on an NVMe namespace, each asked when the
// page first shows it and then only read from kvq's buffer; the PCIE page
// twice: on the host bridge (no
// capability list) and on the e1000e at 00:04.0 (four capabilities, and
// AER and the serial number in extended space); the Super I/O page twice:
// at 2Eh, which Q35's bridge does not decode, and on an IT8728 there.
struct BenchPage {
  kvq::PageId page;
  std::string name;
  uint16_t hdd_port_offset = 0x100;
  kvq::pci::Bdf device = {};
  bool nvme = false;
  const char* superio = nullptr;  // a chip placed on the board
};

std::vector<BenchPage> bench_pages() {
  std::vector<BenchPage> pages;
  for (const kvq::PageRow& row : kvq::kPages) {
    std::string name;
    for (const char* c = row.name; *c != 0; ++c) {
      if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    }
    // The capability view on the e1000e, whose list it decodes.
    const kvq::pci::Bdf device = row.id == kvq::PageId::kPcieCaps ? kvq::pci::Bdf{0, 0, 4, 0} : kvq::pci::Bdf{};
    pages.push_back({row.id, name, 0x100, device});
    if (row.id == kvq::PageId::kHdd) {
      pages.push_back({row.id, name + "emptyport", 0x180});
      pages.push_back({row.id, name + "nvme", 0x100, {}, true});
    }
    if (row.id == kvq::PageId::kPcie) pages.push_back({row.id, name + "e1000e", 0x100, {0, 0, 4, 0}});
    if (row.id == kvq::PageId::kSuperIo) pages.push_back({row.id, name + "it8728", 0x100, {}, false, "it8728@2e"});
  }
  return pages;
}

struct Fixture {
  kvq::sim::Board board;
  kvq::AppState state;
  Fixture(kvq::PageId page, uint16_t hdd_port_offset, const kvq::pci::Bdf& device, bool nvme, const char* superio) {
    kvq::sim::build_q35(board);
    if (superio != nullptr) kvq::sim::add_superio(board, superio);
    if (nvme) kvq::sim::add_nvme(board, 7, {.model = "QEMU NVMe Ctrl", .serial = "1", .namespaces = {{1, 4194304, 9}}});
    board.logging = false;
    kvq::sim::set_board(&board);
    kvq::sim::TestConsole::instance().install();
    kvq::startup(state);
    state.page = page;
    state.hdd_port_offset = hdd_port_offset;
    state.device = device;
    // The disk is asked on the first pass, as when the menu selects it.
    state.hdd_disk_unasked = true;
    if (nvme) {
      // The HDD page on the namespace, after the chipset's eight ports.
      kvq::disks::find(kvq::pci::g_devices, true, kvq::disks::g_disks);
      state.hdd_disk = 8;
    }
    if (page == kvq::PageId::kVariable) {
      // Boot0000 (62 bytes), opened from the list that a pass walks first.
      state.page = kvq::PageId::kVariables;
      kvq::run_pass(state);
      state.vars.open = 11;
      state.page = page;
    }
    if (page == kvq::PageId::kPciList) kvq::con::set_mode(kvq::con::kListMode);
    kvq::run_pass(state);
    kvq::run_pass(state);
  }
  ~Fixture() { kvq::sim::set_board(nullptr); }
};

void BM_Pass(benchmark::State& st, const BenchPage& p) {
  Fixture f(p.page, p.hdd_port_offset, p.device, p.nvme, p.superio);
  for (auto _ : st) kvq::run_pass(f.state);
  kvq::sim::TestConsole& console = kvq::sim::TestConsole::instance();
  console.clear_ops();
  kvq::run_pass(f.state);
  st.counters["idle_serial_bytes"] = static_cast<double>(console.serial_bytes());
  // A cursor move: along a grid row, or down the CPU page's rows.
  console.push_scan(kvq::page_row(p.page).kind == kvq::PageKind::kRows ? kvq::kScanDown : kvq::kScanRight);
  kvq::run_pass(f.state);
  kvq::run_pass(f.state);
  st.counters["cursor_move_bytes"] = static_cast<double>(console.serial_bytes());
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<BenchPage> kBenchPages = bench_pages();
  for (const BenchPage& p : kBenchPages) {
    benchmark::RegisterBenchmark(("BM_Pass/" + p.name).c_str(), BM_Pass, p)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
