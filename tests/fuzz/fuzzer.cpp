#include "tests/fuzz/fuzzer.h"

#include <deque>
#include <memory>
#include <ostream>

#include "app/main_loop.h"
#include "data/pci_ids_file.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/sim/q35.h"
#include "platform/sim/test_console.h"
#include "tests/fuzz/boards.h"
#include "tests/fuzz/oracle.h"

namespace kvq::fuzz {
namespace {

sim::TestConsole& console() { return sim::TestConsole::instance(); }

// Start-up, then passes as kvq's main routine runs them, each checked.
class Runner {
 public:
  Runner(BoardKind kind, const BoardExtra& extra, std::ostream* trace, Coverage* coverage)
      : trace_(trace), coverage_(coverage) {
    sim::set_board(&board_);
    build_board(kind, board_);
    if (extra) extra(board_);
    board_.clear_log();
    startup(state_);
    con::flush();
    oracle_ = std::make_unique<Oracle>(board_, unmapped_pages(kind));
    note(oracle_->check_startup(board_.log()));
    note(oracle_->check_screen());
    board_.clear_log();
  }

  ~Runner() {
    if (!shut_down_) shutdown();
    pci_ids::release();
    sim::set_board(nullptr);
  }

  bool ended() const { return ended_; }
  const AppState& state() const { return state_; }
  RunResult& result() { return result_; }

  // Queues the keys together, then runs passes until they are taken.
  void chunk(const std::vector<Key>& keys) {
    for (const Key& k : keys) {
      console().push_key(k);
      queued_.push_back(k);
    }
    while (!ended_ && console().pending_keys() > 0) pass();
  }

  void idle_pass() {
    if (!ended_) pass();
  }

  void finish() {
    idle_pass();
    if (!result_.failure && exited_) {
      shutdown();
      shut_down_ = true;
      note(oracle_->check_exit());
    }
  }

 private:
  void note(std::optional<Failure> f) {
    if (f && !result_.failure) result_.failure = f;
    if (result_.failure) ended_ = true;
  }

  void pass() {
    PassRecord r;
    r.before = state_;
    r.waiting = console().pending_keys();
    console().starved = false;
    console().idle_ticks_ = 0;
    oracle_->begin_pass(state_);
    r.went_on = run_pass(state_);
    const size_t taken = r.waiting - console().pending_keys();
    for (size_t i = 0; i < taken && !queued_.empty(); ++i) {
      r.taken.push_back(queued_.front());
      queued_.pop_front();
    }
    r.starved = console().starved;
    if (r.starved) r.taken.push_back(Key{kScanEsc, 0});  // what the starved wait answered
    ++result_.passes;
    result_.keys += static_cast<long>(taken);
    if (trace_ != nullptr) print(r);
    note(oracle_->check_pass(r, state_, board_.log(), coverage_));
    if (r.went_on) {
      con::pace();
      note(oracle_->check_screen());
    } else {
      exited_ = true;
      ended_ = true;
    }
    board_.clear_log();
  }

  void print(const PassRecord& r) const {
    const CellCursor& c = r.before.cursors[static_cast<int>(r.before.page)][r.before.width - 1];
    *trace_ << "pass " << result_.passes << ": " << page_row(r.before.page).name << " w" << r.before.width
            << " cell " << 16 * (c.row - 2) + (r.before.width == kDword ? 4 : r.before.width) * c.index << " keys [";
    for (size_t i = 0; i < r.taken.size(); ++i) *trace_ << (i ? " " : "") << key_name(r.taken[i]);
    *trace_ << "] -> " << page_row(state_.page).name << "; " << summarize_writes(board_.log()) << "\n";
  }

  sim::Board board_;
  AppState state_;
  std::unique_ptr<Oracle> oracle_;
  std::deque<Key> queued_;
  std::ostream* trace_;
  Coverage* coverage_;
  RunResult result_;
  bool ended_ = false;
  bool exited_ = false;
  bool shut_down_ = false;
};

// splitmix64: small, and the same sequence on every host.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  template <class T, size_t N>
  const T& pick(const T (&a)[N]) {
    return a[below(static_cast<int>(N))];
  }

 private:
  uint64_t s_;
};

Key scan(uint16_t s) { return Key{s, 0}; }
Key ch(char16_t c) { return Key{0, static_cast<uint16_t>(c)}; }

// Every key kvq acts on, keys it ignores, and odd records: a scan code and
// a character together, a record with neither.
constexpr Key kPageKeys[] = {{kScanUp, 0},       {kScanDown, 0}, {kScanRight, 0}, {kScanLeft, 0}, {kScanPageUp, 0},
                             {kScanPageDown, 0}, {kScanF7, 0},   {0, kCharEnter}, {0, u'p'},      {0, u'P'},
                             {0, u'S'},          {0, u's'},      {0, u'c'},       {0, u'C'},
                             {0, u'<'},          {0, u'>'},      {0, u'i'},       {0, u'/'},
                             {0, u'y'}};
constexpr Key kOddKeys[] = {{kScanF5, kCharEnter}, {kScanF6, u'p'},    {kScanUp, kCharEnter}, {kScanPageUp, u's'},
                            {kScanF7, u'1'},       {kScanHome, 0},     {kScanEnd, 0},         {kScanInsert, 0},
                            {kScanDelete, 0},      {kScanF1, 0},       {kScanF10, 0},         {0x0055, 0},
                            {0xFFFF, 0xFFFF},      {0, 0},             {0, 0x1B},             {0, 0x7F},
                            {0, u'g'},             {0, u' '},          {0, 0x00E9},           {0, kCharBackspace},
                            {kScanDown, kCharBackspace}};
constexpr char16_t kHexDigits[] = {u'0', u'1', u'2', u'3', u'4', u'5', u'6', u'7', u'8', u'9', u'a',
                                   u'b', u'c', u'd', u'e', u'f', u'A', u'B', u'C', u'D', u'E', u'F'};

// Addresses worth typing: both ends of each space, the board's devices.
constexpr uint32_t kMemoryAddresses[] = {0,          0xFFFFFF00, 0xFFFFFFFF, 0xB0000000, 0xB00F8000,
                                         sim::kQ35Abar, sim::kQ35Abar + 0x100, sim::kQ35CommandTable,
                                         sim::kQ35E1000eBar0, 0xFED1F800, 0x000F0000, 0x1EEFF000};
constexpr uint32_t kPorts[] = {0x0000, 0xFF00, 0xFFF0, 0xFFFF, 0x0CF8, 0x0CFC, 0x0070, 0x002E,
                               0x004E, 0x006E, 0x0295, 0x6000, 0x0080, 0x0020};
// MSR bases worth typing: the models' registers, a refusing one, both ends.
constexpr uint32_t kMsrBases[] = {0x00000000, 0x00000010, 0x0000001B, 0x00000080, 0x000006D8,
                                  0xC0000080, 0xC0000100, 0xFFFFFFF8};

// Above 4 GiB: the first addresses, the NVMe BAR QEMU places, the top of
// a 40-bit processor's reach, and beyond it.
constexpr uint64_t kLongAddresses[] = {0x100000000ull, 0xE000000000ull, 0xFFFFFFFF00ull, 0x10000000000ull,
                                       0x7FFFFFFFF000ull};

void digits(Rng& rng, uint64_t value, int n, std::vector<Key>* out) {
  for (int i = n - 1; i >= 0; --i) {
    const uint32_t d = static_cast<uint32_t>(value >> (4 * i)) & 0xF;
    const char16_t c = d < 10 ? static_cast<char16_t>(u'0' + d) : static_cast<char16_t>((rng.chance(50) ? u'a' : u'A') + d - 10);
    out->push_back(ch(c));
  }
}

// The keys after Enter or p: mostly the digits an entry needs, sometimes
// with Backspace and stray keys among them, cut short by Esc, or cut short
// with nothing more queued (the wait then starves).
void entry_keys(Rng& rng, uint64_t value, int n, std::vector<Key>* out) {
  const int style = rng.below(10);
  if (style < 6) {
    digits(rng, value, n, out);
  } else if (style < 8) {
    for (int i = 0, len = n + rng.below(n + 4); i < len; ++i) {
      const int r = rng.below(100);
      if (r < 70) out->push_back(ch(rng.pick(kHexDigits)));
      else if (r < 82) out->push_back(ch(kCharBackspace));
      else if (r < 97) out->push_back(rng.chance(50) ? rng.pick(kOddKeys) : rng.pick(kPageKeys));
      else out->push_back(scan(kScanEsc));
    }
  } else {
    digits(rng, value, rng.below(n), out);
    if (style == 8) out->push_back(scan(kScanEsc));
  }
}

// Every page the menu opens, from the page table.
std::vector<const PageRow*> menu_pages() {
  std::vector<const PageRow*> pages;
  for (const PageRow& p : kPages) {
    if (p.slot > 0) pages.push_back(&p);
  }
  return pages;
}

// One chunk of keys, chosen by the page on the screen.
std::vector<Key> next_chunk(Rng& rng, const AppState& s) {
  std::vector<Key> keys;
  const PageKind kind = page_row(s.page).kind;
  // Entries open only on grid pages and the CPU page: elsewhere their keys
  // are a few more keys of any kind.
  int r = rng.below(100);
  if (s.page == PageId::kSetup && r >= 14 && r < 46) {
    // A row, Enter, and what the question's entry takes: option moves and
    // Enter, y, or digits and Enter, now and then with stray keys or Esc.
    keys.push_back(scan(rng.chance(50) ? kScanDown : kScanUp));
    keys.push_back(ch(kCharEnter));
    for (int i = 0, n = rng.below(3); i < n; ++i) keys.push_back(scan(rng.chance(50) ? kScanUp : kScanDown));
    if (rng.chance(30)) keys.push_back(ch(u'y'));
    for (int i = 0, n = rng.below(3); i < n; ++i) keys.push_back(ch(rng.pick(kHexDigits)));
    if (rng.chance(15)) keys.push_back(rng.chance(50) ? rng.pick(kOddKeys) : scan(kScanEsc));
    keys.push_back(ch(kCharEnter));
    return keys;
  }
  if (kind != PageKind::kGrid && kind != PageKind::kRows && r >= 14 && r < 46) r = 60;
  const int n = s.page == PageId::kCpu ? 16 : 2 * (s.width == kDword ? 4 : s.width);
  // The capability view takes Esc as its way back: a key to press there
  // like any other.
  if (s.page == PageId::kPcieCaps && rng.chance(15)) return {scan(kScanEsc)};
  if (r < 14) {  // to another page
    if (rng.chance(12)) return {scan(kScanF5)};
    static const std::vector<const PageRow*> kMenuPages = menu_pages();
    const PageRow& m = *kMenuPages[static_cast<size_t>(rng.below(static_cast<int>(kMenuPages.size())))];
    keys = {scan(kScanF6), scan(m.column == MenuColumn::kOther ? kScanRight : kScanLeft)};
    for (int i = 1; i < m.slot; ++i) keys.push_back(scan(kScanDown));
    keys.push_back(ch(kCharEnter));
  } else if (r < 34) {  // a value entry
    keys.push_back(ch(kCharEnter));
    // PKRS takes only bits 31:0: half the values the qemu64 model refuses.
    const uint64_t any = rng.next();
    entry_keys(rng, rng.chance(30) ? any & 0xFFFFFFFF : any, n, &keys);
  } else if (r < 46) {  // an address entry
    keys.push_back(ch(u'p'));
    const uint32_t any = static_cast<uint32_t>(rng.next());
    switch (s.page) {
      case PageId::kPcie: {
        const int bus = rng.chance(70) ? 0 : rng.below(4);
        const int dev = rng.chance(80) ? rng.below(32) : rng.below(99);
        const int fn = rng.chance(80) ? rng.below(8) : rng.below(20);
        entry_keys(rng, static_cast<uint32_t>(((bus / 10) << 20) | ((bus % 10) << 16) | ((dev / 10) << 12) |
                                              ((dev % 10) << 8) | ((fn / 10) << 4) | (fn % 10)),
                   6, &keys);
        break;
      }
      case PageId::kIo:
      case PageId::kSuperIo:
        entry_keys(rng, rng.chance(70) ? rng.pick(kPorts) : any & 0xFFFF, 4, &keys);
        break;
      case PageId::kCpu:
        entry_keys(rng, rng.chance(70) ? rng.pick(kMsrBases) : any, 8, &keys);
        break;
      default:
        if (s.page == PageId::kMemory && rng.chance(30)) {
          // P: up to 16 digits, ended by Enter when fewer.
          keys.back() = ch(u'P');
          const int count = rng.chance(50) ? 16 : 1 + rng.below(16);
          digits(rng, rng.pick(kLongAddresses) + (any & 0x3F0) * static_cast<uint64_t>(rng.below(2)), count, &keys);
          if (count < 16 || rng.chance(10)) keys.push_back(ch(kCharEnter));
          break;
        }
        entry_keys(rng, rng.chance(60) ? rng.pick(kMemoryAddresses) + (any & 0x3F0) * rng.below(2) : any, 8, &keys);
        break;
    }
  } else if (r < 52) {
    keys.push_back(scan(kScanF7));
  } else if (r < 56) {
    keys.push_back(scan(kScanF6));
  } else {  // a few keys of any kind
    for (int i = 0, len = 1 + rng.below(6); i < len; ++i) {
      const int k = rng.below(100);
      if (k < 70) keys.push_back(rng.pick(kPageKeys));
      else if (k < 80) keys.push_back(ch(rng.pick(kHexDigits)));
      else keys.push_back(rng.pick(kOddKeys));
    }
  }
  return keys;
}

RunResult run(Runner& runner, const Script& script) {
  std::vector<Key> keys;
  for (const Step& step : script) {
    if (step.kind == Step::kKey) {
      keys.push_back(step.key);
      continue;
    }
    runner.chunk(keys);
    keys.clear();
    if (step.kind == Step::kIdle) runner.idle_pass();
  }
  runner.chunk(keys);
  runner.finish();
  return runner.result();
}

}  // namespace

std::vector<std::string> Coverage::missing() const {
  std::vector<std::string> gaps;
  for (int p = 0; p < kPageCount; ++p) {
    const char* const name = kPages[p].name;
    const bool grid = kPages[p].kind == PageKind::kGrid;
    const bool entries = grid || kPages[p].kind == PageKind::kRows;
    long any = 0;
    for (int w = 0; w < kWidthCount; ++w) {
      any += passes[p][w];
      if (grid && passes[p][w] == 0) gaps.push_back(std::string(name) + " in width " + std::to_string(w + 1));
    }
    if (any == 0) gaps.push_back(std::string(name) + " page");
    if (entries && value_entries[p] == 0) gaps.push_back(std::string("a value entry on ") + name);
    if (entries && address_entries[p] == 0) gaps.push_back(std::string("an address entry on ") + name);
    static const char* const kGlobal[3] = {"F5", "F6", "Esc"};
    for (int k = 0; k < 3; ++k) {
      if (global_keys[p][k] == 0) gaps.push_back(std::string(kGlobal[k]) + " on " + name);
    }
  }
  if (capability_steps == 0) gaps.push_back("c onto a capability");
  if (tables_opened == 0) gaps.push_back("Enter on a table of the ACPI page");
  if (value_entries[static_cast<int>(PageId::kSetup)] == 0) gaps.push_back("a change on the Setup page");
  return gaps;
}

void Coverage::add(const Coverage& o) {
  for (int p = 0; p < kPageCount; ++p) {
    for (int w = 0; w < kWidthCount; ++w) passes[p][w] += o.passes[p][w];
    value_entries[p] += o.value_entries[p];
    address_entries[p] += o.address_entries[p];
    for (int k = 0; k < 3; ++k) global_keys[p][k] += o.global_keys[p][k];
  }
  capability_steps += o.capability_steps;
  tables_opened += o.tables_opened;
}

RunResult run_script(BoardKind kind, const Script& script, const BoardExtra& extra, std::ostream* trace,
                     Coverage* coverage) {
  Runner runner(kind, extra, trace, coverage);
  return run(runner, script);
}

Sequence generate(uint64_t seed, long keys, const BoardExtra& extra, std::ostream* trace, Coverage* coverage) {
  Rng rng(seed);
  Sequence seq;
  seq.kind = static_cast<BoardKind>(rng.below(kBoardKinds));
  Runner runner(seq.kind, extra, trace, coverage);
  while (!runner.ended() && runner.result().keys < keys) {
    const std::vector<Key> chunk = next_chunk(rng, runner.state());
    for (const Key& k : chunk) seq.script.push_back(Step{Step::kKey, k});
    const bool idle = rng.chance(25);
    seq.script.push_back(Step{idle ? Step::kIdle : Step::kSync, {}});
    runner.chunk(chunk);
    if (idle) runner.idle_pass();
  }
  // Half the sequences end as a user leaves: Esc on whatever page is shown.
  if (!runner.ended() && rng.chance(50)) {
    seq.script.push_back(Step{Step::kKey, scan(kScanEsc)});
    runner.chunk({scan(kScanEsc)});
  }
  runner.finish();
  seq.result = runner.result();
  return seq;
}

Script shrink(BoardKind kind, Script script, const std::string& check, const BoardExtra& extra) {
  auto fails = [&](const Script& s) {
    const RunResult r = run_script(kind, s, extra);
    return r.failure && r.failure->check == check;
  };
  // Delete runs of steps, halving the run length down to single steps.
  size_t n = 2;
  while (!script.empty()) {
    const size_t len = (script.size() + n - 1) / n;
    bool removed = false;
    for (size_t start = 0; start < script.size(); start += len) {
      Script candidate(script.begin(), script.begin() + static_cast<long>(start));
      candidate.insert(candidate.end(), script.begin() + static_cast<long>(std::min(start + len, script.size())),
                       script.end());
      if (fails(candidate)) {
        script = std::move(candidate);
        removed = true;
        break;
      }
    }
    if (removed) {
      n = std::max<size_t>(n - 1, 2);
    } else if (len == 1) {
      break;
    } else {
      n = std::min(n * 2, script.size());
    }
  }
  // Steps that only go together: a key and the key that undoes it, a
  // detour through another page. Delete every short run at every place.
  for (bool removed = true; removed;) {
    removed = false;
    for (size_t len = 2; len <= 6 && !removed; ++len) {
      for (size_t start = 0; start + len <= script.size() && !removed; ++start) {
        Script candidate = script;
        candidate.erase(candidate.begin() + static_cast<long>(start), candidate.begin() + static_cast<long>(start + len));
        if (fails(candidate)) {
          script = std::move(candidate);
          removed = true;
        }
      }
    }
  }
  // Markers that only separate what a deletion joined: drop the trailing ones.
  while (!script.empty() && script.back().kind == Step::kSync) script.pop_back();
  return script;
}

std::string describe(const Script& script) {
  std::string s;
  for (const Step& step : script) {
    const std::string word = step.kind == Step::kKey ? key_name(step.key) : step.kind == Step::kIdle ? "(idle)" : "|";
    s += (s.empty() ? "" : " ") + word;
  }
  return s;
}

}  // namespace kvq::fuzz
