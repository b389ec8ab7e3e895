// Host benchmark: the cost of one main loop pass of each page on the
// simulated Q35 board (screen model and flush included), and the serial
// bytes an idle pass and a cursor move cost. Not a test: `make bench` runs
// it and folds its figures into one table with the QEMU measurements.
#include <benchmark/benchmark.h>

#include "app/main_loop.h"
#include "platform/console.h"
#include "platform/sim/board.h"
#include "platform/sim/q35.h"
#include "platform/sim/test_console.h"

namespace {

// Every page, by the name the bench reports it under. The HDD page runs
// twice: on the disk of port 0 (two IDENTIFY commands a pass) and on an
// empty port (no command at all).
struct BenchPage {
  kvq::PageId page;
  const char* name;
  uint16_t hdd_port_offset = 0x100;
};

constexpr BenchPage kBenchPages[] = {
    {.page = kvq::PageId::kPcie, .name = "PCIE"},
    {.page = kvq::PageId::kMemory, .name = "Memory"},
    {.page = kvq::PageId::kIo, .name = "IO"},
    {.page = kvq::PageId::kSuperIo, .name = "SuperIO"},
    {.page = kvq::PageId::kMenu, .name = "menu"},
    {.page = kvq::PageId::kHelp, .name = "HELP"},
    {.page = kvq::PageId::kSmbios, .name = "SMBIOS"},
    {.page = kvq::PageId::kHdd, .name = "HDD"},
    {.page = kvq::PageId::kHdd, .name = "HDDemptyport", .hdd_port_offset = 0x180},
    {.page = kvq::PageId::kPchStrap, .name = "PCHStrap"},
    {.page = kvq::PageId::kPciList, .name = "PCIlist"},
};
static_assert(sizeof kBenchPages / sizeof kBenchPages[0] == kvq::kPageCount + 1, "one row per page, HDD twice");

struct Fixture {
  kvq::sim::Board board;
  kvq::AppState state;
  explicit Fixture(kvq::PageId page, uint16_t hdd_port_offset) {
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

void BM_Pass(benchmark::State& st, const BenchPage& p) {
  Fixture f(p.page, p.hdd_port_offset);
  for (auto _ : st) kvq::run_pass(f.state);
  kvq::sim::TestConsole& console = kvq::sim::TestConsole::instance();
  console.clear_ops();
  kvq::run_pass(f.state);
  st.counters["idle_serial_bytes"] = static_cast<double>(console.serial_bytes());
  console.push_scan(kvq::kScanRight);
  kvq::run_pass(f.state);
  kvq::run_pass(f.state);
  st.counters["cursor_move_bytes"] = static_cast<double>(console.serial_bytes());
}

}  // namespace

int main(int argc, char** argv) {
  for (const BenchPage& p : kBenchPages) {
    benchmark::RegisterBenchmark((std::string("BM_Pass/") + p.name).c_str(), BM_Pass, p)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
