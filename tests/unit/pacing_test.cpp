// The paced main loop on the test console's virtual clock: passes follow
// the tick while idle, a key ends the wait at once and is never held for
// the tick, and pacing changes nothing that reaches the console.
#include <gtest/gtest.h>

#include "support.h"

namespace kvq {
namespace {

constexpr uint64_t kP = con::kPacePeriodUs;

class PacingTest : public test::KvqTest {};

TEST_F(PacingTest, IdlePassesFollowTheTickAndAKeyIsTakenTheMomentItArrives) {
  console().push_key_at(2 * kP + kP / 2, Key{kScanRight, 0});
  console().push_key_at(4 * kP + kP / 4, Key{kScanEsc, 0});
  EXPECT_EQ(kvq_main(), 0);
  // One poll per pass: on the ticks; the Right the moment it arrives, and
  // the pass that draws its effect right after; back on the ticks; Esc.
  const std::vector<uint64_t> expected = {0, kP, 2 * kP, 2 * kP + kP / 2, 2 * kP + kP / 2, 3 * kP, 4 * kP,
                                          4 * kP + kP / 4};
  EXPECT_EQ(console().poll_times, expected);
  EXPECT_FALSE(console().starved);
}

TEST_F(PacingTest, WhatReachesTheConsoleIsWhatBackToBackPassesSend) {
  const Key script[] = {{kScanRight, 0}, {kScanDown, 0}, {kScanF7, 0}, {kScanF6, 0},        {kScanRight, 0},
                        {0, kCharEnter}, {kScanF5, 0},   {kScanDown, 0}, {0, kCharEnter}, {kScanEsc, 0}};
  std::vector<sim::ConsoleOp> ops[2];
  for (bool paced : {false, true}) {
    console().install();
    console().paced = paced;
    uint64_t at = 0;
    for (const Key& key : script) console().push_key_at(at += 3 * kP / 2, key);
    kvq_main();
    EXPECT_FALSE(console().starved);
    ops[paced] = console().ops;
  }
  EXPECT_TRUE(ops[0] == ops[1]);
}

}  // namespace
}  // namespace kvq
