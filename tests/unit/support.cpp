#include "support.h"

#include "data/pci_ids_file.h"

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

void KvqTest::SetUp() {
  sim::set_board(&board);
  console().install();
}

void KvqTest::TearDown() {
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
