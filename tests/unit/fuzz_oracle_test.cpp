// The fuzzer's oracles catch what they must: a write, an unguarded MSR
// access or a draw planted in a test-only device on the board, found by
// random keys and shrunk to the keys that reach it.
#include <gtest/gtest.h>

#include <functional>

#include "platform/console.h"
#include "platform/sim/hii_sim.h"
#include "tests/fuzz/fuzzer.h"

namespace kvq {
namespace {

using fuzz::Step;

// A port that misbehaves whenever kvq reads it: the I/O page reads port
// A0h as soon as it is shown at its first base, 0000h.
class Planted : public sim::PortDevice {
 public:
  explicit Planted(std::function<void()> act) : act_(std::move(act)) {}
  bool claims(uint16_t port) const override { return port == 0xA0; }
  uint32_t read(uint16_t, int) override {
    act_();
    return 0;
  }
  void write(uint16_t, int, uint32_t) override {}

 private:
  std::function<void()> act_;
};

fuzz::BoardExtra plant(std::function<void(sim::Board&)> act) {
  return [act](sim::Board& board) {
    board.add_port_device(std::make_unique<Planted>([&board, act] { act(board); }));
  };
}

fuzz::Script keys(std::initializer_list<Key> list) {
  fuzz::Script s;
  for (const Key& k : list) s.push_back(Step{Step::kKey, k});
  return s;
}

TEST(FuzzOracleTest, APlantedWriteOrOffScreenDrawIsCaughtAndShrunkToTheKeysThatReachIt) {
  struct Case {
    const char* check;
    const char* detail;
    std::function<void(sim::Board&)> act;
  };
  const Case cases[] = {
      {"write", "stray write out8(0x80, 0x42)", [](sim::Board& b) { b.port_write(0x80, 8, 0x42); }},
      {"write", "an MSR access outside its #GP guard: rdmsr64(0x1B, 0x0)", [](sim::Board& b) { b.note(sim::rdmsr(0x1B, 0)); }},
      {"write", "stray write wrmsr64(0x10, 0x5)",
       [](sim::Board& b) {
         b.note(sim::guard_on());
         b.note(sim::wrmsr(0x10, 5));
         b.note(sim::guard_off());
       }},
      {"write", "1 RouteConfig calls where the keys make none",
       [](sim::Board& b) {
         size_t progress = 0;
         b.hii->route(u"GUID=00", &progress);
       }},
      {"screen", "drawn off the screen",
       [](sim::Board&) {
         con::set_cursor(79, 24);
         con::put_text(u"xy");
       }},
  };
  // Detours around the way to the I/O page: F6, Down, Down, Enter.
  const fuzz::Script script =
      keys({{kScanRight, 0}, {kScanF7, 0}, {kScanF5, 0}, {kScanDown, 0}, {0, kCharEnter}, {kScanF6, 0}, {kScanRight, 0},
            {kScanLeft, 0}, {kScanDown, 0}, {kScanUp, 0}, {kScanDown, 0}, {kScanDown, 0}, {0, kCharEnter}, {kScanRight, 0}});
  for (const Case& c : cases) {
    const fuzz::RunResult r = fuzz::run_script(fuzz::BoardKind::kQ35, script, plant(c.act));
    ASSERT_TRUE(r.failure) << c.check;
    EXPECT_EQ(r.failure->check, c.check);
    EXPECT_NE(r.failure->detail.find(c.detail), std::string::npos) << r.failure->detail;
    const fuzz::Script shortest = fuzz::shrink(fuzz::BoardKind::kQ35, script, c.check, plant(c.act));
    EXPECT_EQ(fuzz::describe(shortest), "F6 Down Down Enter");
  }
  // Random keys find the planted write too.
  int found = 0;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    const fuzz::Sequence s = fuzz::generate(seed, 300, plant(cases[0].act));
    found += s.result.failure && s.result.failure->check == "write";
  }
  EXPECT_GT(found, 0);
}

}  // namespace
}  // namespace kvq
