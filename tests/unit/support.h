// Shared fixture: a simulated board behind the seam, the test console
// behind the screen model, and helpers to read the model.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "app/main_loop.h"
#include "app/state.h"
#include "hw/pci.h"
#include "platform/console.h"
#include "platform/sim/board.h"
#include "platform/sim/test_console.h"

namespace kvq::test {

std::string narrow(const std::u16string& s);

// The text of `len` cells of the model from (col, row).
std::string text_at(int col, int row, int len);
// A whole row of the model, trailing blanks removed.
std::string row_text(int row);
uint8_t attr_at(int col, int row);

// Only a simulated board behind the seam, for tests of the hardware layer.
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::set_board(&board), pci::forget_board(); }
  void TearDown() override {
    EXPECT_EQ(board.cpu.unguarded_accesses, 0);  // a fault there resets the board
    sim::set_board(nullptr);
  }
  sim::Board board;
};

// What the command-line modes printed, by stream, since the last clear.
extern std::u16string g_cli_out;
extern std::u16string g_cli_err;

// The command-line modes on the simulated Q35 board, their lines captured.
class CommandTest : public BoardTest {
 protected:
  void SetUp() override;
  // Splits `line` at blanks as the Shell does, clears the access log, runs.
  cli::Status run(const char* line);
  std::string out() const { return narrow(g_cli_out); }
  std::string err() const { return narrow(g_cli_err); }
};

class KvqTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  sim::TestConsole& console() { return sim::TestConsole::instance(); }
  // Start-up, then the first flush.
  void start();
  // One main loop pass with the given key (or none).
  bool pass();
  bool pass_key(Key key);
  bool pass_scan(uint16_t scan) { return pass_key(Key{scan, 0}); }
  bool pass_char(char16_t ch) { return pass_key(Key{0, static_cast<uint16_t>(ch)}); }

  sim::Board board;
  AppState state;
};

}  // namespace kvq::test
