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

// Every page, by the name the bench reports it under.
struct BenchPage {
  kvq::PageId page;
  const char* name;
};

constexpr BenchPage kBenchPages[] = {
    {kvq::PageId::kPcie, "PCIE"},         {kvq::PageId::kMemory, "Memory"},  {kvq::PageId::kIo, "IO"},
    {kvq::PageId::kSuperIo, "SuperIO"},   {kvq::PageId::kMenu, "menu"},      {kvq::PageId::kHelp, "HELP"},
    {kvq::PageId::kSmbios, "SMBIOS"},     {kvq::PageId::kHdd, "HDD"},        {kvq::PageId::kPchStrap, "PCHStrap"},
    {kvq::PageId::kPciList, "PCIlist"},
};
static_assert(sizeof kBenchPages / sizeof kBenchPages[0] == kvq::kPageCount, "one row per page");

struct Fixture {
  kvq::sim::Board board;
  kvq::AppState state;
  explicit Fixture(kvq::PageId page) {
    kvq::sim::build_q35(board);
    board.logging = false;
    kvq::sim::set_board(&board);
    kvq::sim::TestConsole::instance().install();
    kvq::startup(state);
    state.page = page;
    if (page == kvq::PageId::kPciList) kvq::con::set_mode(kvq::con::kListMode);
    kvq::run_pass(state);
    kvq::run_pass(state);
  }
  ~Fixture() { kvq::sim::set_board(nullptr); }
};

void BM_Pass(benchmark::State& st, kvq::PageId page) {
  Fixture f(page);
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
    benchmark::RegisterBenchmark((std::string("BM_Pass/") + p.name).c_str(), BM_Pass, p.page)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
