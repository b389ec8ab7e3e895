// Host benchmark: the cost of one main loop pass of each page on the
// simulated Q35 board (screen model and flush included), and the serial
// bytes an idle pass and a cursor move cost. Not a test: run by hand.
#include <benchmark/benchmark.h>

#include "app/main_loop.h"
#include "platform/console.h"
#include "platform/sim/board.h"
#include "platform/sim/q35.h"
#include "platform/sim/test_console.h"

namespace {

struct Fixture {
  kvq::sim::Board board;
  kvq::AppState state;
  explicit Fixture(kvq::PageId page, uint16_t hdd_port_offset = 0x100) {
    kvq::sim::build_q35(board);
    board.logging = false;
    kvq::sim::set_board(&board);
    kvq::sim::TestConsole::instance().install();
    kvq::startup(state);
    state.page = page;
    state.hdd_port_offset = hdd_port_offset;
    if (page == kvq::PageId::kPciList) kvq::con::set_mode(kvq::con::kListMode);
    kvq::run_pass(state);
    kvq::run_pass(state);
  }
  ~Fixture() { kvq::sim::set_board(nullptr); }
};

void BM_Pass(benchmark::State& st, kvq::PageId page, uint16_t hdd_port_offset = 0x100) {
  Fixture f(page, hdd_port_offset);
  for (auto _ : st) kvq::run_pass(f.state);
  kvq::sim::TestConsole::instance().clear_ops();
  kvq::run_pass(f.state);
  st.counters["idle_serial_bytes"] = static_cast<double>(kvq::sim::TestConsole::instance().serial_bytes());
  kvq::sim::TestConsole::instance().push_scan(kvq::kScanRight);
  kvq::run_pass(f.state);
  kvq::run_pass(f.state);
  st.counters["cursor_move_bytes"] = static_cast<double>(kvq::sim::TestConsole::instance().serial_bytes());
}

BENCHMARK_CAPTURE(BM_Pass, pcie, kvq::PageId::kPcie);
BENCHMARK_CAPTURE(BM_Pass, pci_list, kvq::PageId::kPciList);
BENCHMARK_CAPTURE(BM_Pass, memory, kvq::PageId::kMemory);
BENCHMARK_CAPTURE(BM_Pass, io, kvq::PageId::kIo);
BENCHMARK_CAPTURE(BM_Pass, superio, kvq::PageId::kSuperIo);
BENCHMARK_CAPTURE(BM_Pass, smbios, kvq::PageId::kSmbios);
BENCHMARK_CAPTURE(BM_Pass, pch_strap, kvq::PageId::kPchStrap);
BENCHMARK_CAPTURE(BM_Pass, help, kvq::PageId::kHelp);
BENCHMARK_CAPTURE(BM_Pass, hdd_disk, kvq::PageId::kHdd, 0x100);
BENCHMARK_CAPTURE(BM_Pass, hdd_empty_port, kvq::PageId::kHdd, 0x180);

}  // namespace

BENCHMARK_MAIN();
