#include "support.h"

#include <sstream>

#include "data/pci_ids_file.h"
#include "platform/sim/q35.h"
#include "platform/text_out.h"

namespace kvq::test {

std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string text_at(int col, int row, int len) {
  std::string s;
  for (int i = 0; i < len; ++i) {
    const char16_t c = con::screen().at(col + i, row).ch;
    s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return s;
}

std::string row_text(int row) {
  std::string s = text_at(0, row, con::screen().cols());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

uint8_t attr_at(int col, int row) { return con::screen().at(col, row).attr; }

std::u16string g_cli_out;
std::u16string g_cli_err;

void CommandTest::SetUp() {
  BoardTest::SetUp();
  sim::build_q35(board);
  g_cli_out.clear();
  g_cli_err.clear();
  text::set_sink([](text::Stream s, const char16_t* t) { (s == text::Stream::kErr ? g_cli_err : g_cli_out) += t; });
}

cli::Status CommandTest::run(const char* line) {
  std::vector<std::u16string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.emplace_back(w.begin(), w.end());
  std::vector<const char16_t*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  board.clear_log();
  return cli::run(static_cast<int>(argv.size()), argv.data());
}

void KvqTest::SetUp() {
  sim::set_board(&board);
  console().install();
}

void KvqTest::TearDown() {
  EXPECT_EQ(board.cpu.unguarded_accesses, 0);  // an MSR access on a processor without the #GP guard
  pci_ids::release();  // a pci.ids a test put beside the image
  sim::set_board(nullptr);
}

void KvqTest::start() {
  startup(state);
  con::flush();
}

bool KvqTest::pass() { return run_pass(state); }

bool KvqTest::pass_key(Key key) {
  console().push_key(key);
  return run_pass(state);
}

}  // namespace kvq::test
