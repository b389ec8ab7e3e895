#include "tests/fuzz/oracle.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "hw/superio.h"
#include "app/colors.h"
#include "pages/pages.h"
#include "pages/vars_page.h"
#include "platform/console.h"
#include "platform/flusher.h"
#include "platform/sim/ahci_sim.h"
#include "platform/sim/test_console.h"

namespace kvq::fuzz {
namespace {

using sim::Access;
using sim::Op;

constexpr uint16_t kCf8 = 0xCF8;
constexpr uint16_t kCfc = 0xCFC;
constexpr uint16_t kConfigPorts[] = {0x2E, 0x4E, 0x6E};
// Every byte of every Super I/O entry key, and AAh, the exit of the 87h 87h
// and 77h 77h families.
constexpr uint8_t kKeyBytes[] = {0x87, 0x01, 0x55, 0xAA, 0x77};
constexpr uint32_t kStrapControl = 0xFED1F8B0;
constexpr uint32_t kBiosSignId = 0x8B;

const char* page_name(PageId p) { return page_row(p).name; }
bool is_grid(PageId p) { return page_row(p).kind == PageKind::kGrid; }
// Pages whose Enter and p open an entry.
bool takes_entries(PageId p) { return is_grid(p) || page_row(p).kind == PageKind::kRows; }
bool is_msr_access(const Access& a) { return a.op == Op::kMsrRead || a.op == Op::kMsrWrite; }
int bytes_of(int width) { return width == kDword ? 4 : width == kWord ? 2 : 1; }
bool is_config_port(uint32_t port) {
  for (uint16_t p : kConfigPorts) {
    if (p == port) return true;
  }
  return false;
}
template <class T, size_t N>
bool one_of(uint64_t v, const T (&set)[N]) {
  for (const T& s : set) {
    if (s == v) return true;
  }
  return false;
}

std::string hex(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
  return b;
}

std::string access_text(const Access& a) {
  static const char* const kOps[] = {"in", "out", "read", "write", "stall", "rdmsr", "wrmsr", "guard_on", "guard_off"};
  return std::string(kOps[static_cast<int>(a.op)]) + std::to_string(a.width) + "(" + hex(a.addr) + ", " + hex(a.value) +
         ")";
}

std::string keys_text(const std::vector<Key>& keys) {
  std::string s;
  for (const Key& k : keys) s += (s.empty() ? "" : " ") + key_name(k);
  return s.empty() ? "none" : s;
}

// --- The modal inputs, as a user sees them --------------------------------

enum HexKey { kDigit, kEsc, kBackspace, kDropped };
HexKey classify(Key k, uint32_t* digit) {
  if (k.scan == kScanEsc) return kEsc;
  if (k.scan != 0) return kDropped;
  if (k.ch == kCharBackspace) return kBackspace;
  const uint16_t c = k.ch;
  if (c >= u'0' && c <= u'9') *digit = c - u'0';
  else if (c >= u'a' && c <= u'f') *digit = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F') *digit = c - u'A' + 10;
  else return kDropped;
  return kDigit;
}

// What Backspace does in an entry: take back the last digit, nothing, or
// (the device selector) take back only function digits.
enum class Backspace { kStepsBack, kIgnored, kFunctionDigits };

struct Entry {
  bool complete = false;
  size_t used = 0;  // keys it read
  uint32_t digits[16] = {};
  uint64_t value() const {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 4) | digits[i];
    return v;
  }
  int n = 0;
};

Entry read_entry(const std::vector<Key>& keys, size_t from, int n, Backspace bs) {
  Entry e;
  e.n = n;
  int k = 0;
  size_t i = from;
  while (k < n && i < keys.size()) {
    uint32_t d = 0;
    const HexKey h = classify(keys[i++], &d);
    if (h == kEsc) break;
    if (h == kBackspace) {
      if ((bs == Backspace::kStepsBack && k > 0) || (bs == Backspace::kFunctionDigits && k >= 4)) --k;
    } else if (h == kDigit) {
      e.digits[k++] = d;
    }
  }
  e.complete = k == n;
  e.used = i - from;
  return e;
}

// The Memory page's P: up to `max` digits, Enter ends it once one is typed,
// Backspace takes one back.
Entry read_long_entry(const std::vector<Key>& keys, size_t from, int max) {
  Entry e;
  size_t i = from;
  while (i < keys.size()) {
    const Key key = keys[i++];
    if (key.scan == 0 && key.ch == kCharEnter) {
      if (e.n == 0) continue;
      e.complete = true;
      break;
    }
    uint32_t d = 0;
    const HexKey h = classify(key, &d);
    if (h == kEsc) break;
    if (h == kBackspace && e.n > 0) --e.n;
    if (h == kDigit) {
      e.digits[e.n++] = d;
      if (e.n == max) {
        e.complete = true;
        break;
      }
    }
  }
  e.used = i - from;
  return e;
}

// The highest physical address the board's processor has: its CPUID leaf
// 80000008h (QEMU's qemu64 says 40 bits, the Intel models 39).
uint64_t highest_address(const sim::Board& board) {
  const sim::SimCpu& cpu = board.cpu.cpus[0];
  const int bits = cpu.cpuid(0x80000000u, 0).eax >= 0x80000008u ? static_cast<int>(cpu.cpuid(0x80000008u, 0).eax & 0xFF) : 32;
  return (uint64_t{1} << bits) - 1;
}

// A write the pass must make, in order.
struct ExpectedWrite {
  Access access;
  uint32_t latch = 0;  // CF8 for a configuration write
};

// What the keys a pass took should do.
struct Expectation {
  size_t keys = 0;
  std::deque<ExpectedWrite> writes;
  int ldn_step = 0;  // Super I/O PageUp +1, PageDown -1
  std::vector<uint32_t> index_ports;  // Super I/O pairs the pass may read through
  // The Super I/O page's logical device (-1: none), selected as the pass
  // opens a chip; whether the pass leaves a chip after a value entry.
  int sio_ldn = -1;
  bool sio_session = false;
  // An address entry's result: the field, its value if complete.
  enum Field { kNone, kDevice, kMemoryBase, kIoBase, kIsa, kHddBuffer, kMsrBase, kVarBase } field = kNone;
  bool entry_complete = false;
  uint64_t entry_value = 0;
  pci::Bdf device;
  // Enter on the ACPI page: the Memory page on this table, if it opens.
  bool opens_table = false;
  uint64_t table = 0;
  // A completed value entry on a variable: its one SetVariable.
  std::optional<sim::SetCall> set_call;
  // A completed change on the Setup page: the store's name and the
  // ConfigResp's block ("&OFFSET=...&WIDTH=...&VALUE=...").
  std::u16string setup_store;
  std::u16string setup_block;
};

uint32_t latch_of(const pci::Bdf& d) {
  return 0x80000000u | (static_cast<uint32_t>(d.bus) << 16) | (static_cast<uint32_t>(d.device) << 11) |
         (static_cast<uint32_t>(d.function) << 8);
}

// The address of byte `offset` of the window the page shows (Memory and
// HDD pages).
uint64_t cell_address(const AppState& s, uint32_t off) {
  const uint64_t base = s.page == PageId::kMemory ? s.memory_base : s.hdd_buffer;
  return base > 0xFFFFFFFFu ? base + off : (base + off) & 0xFFFFFFFFu;
}

// Whether the firmware's memory space map, as the board holds it, has
// nothing at an address.
bool nothing_there(const sim::Board& board, uint64_t address) {
  for (const sim::Board::MemoryRange& r : board.memory_space) {
    if (address - r.base < r.length) return r.type == plat::GcdType::kNonExistent || r.type == plat::GcdType::kUnaccepted;
  }
  return !board.memory_space.empty();
}

// Whether a memory cell holds a byte of an unmapped page, or of one the
// memory space map has nothing in: kvq neither shows nor writes it, and
// Enter there opens no entry.
bool cell_unmapped(const sim::Board& board, const AppState& s, int offset, const std::vector<uint64_t>& unmapped) {
  if (s.page != PageId::kMemory && s.page != PageId::kHdd) return false;
  for (int i = 0; i < bytes_of(s.width); ++i) {
    const uint64_t a = cell_address(s, static_cast<uint32_t>(offset + i));
    if (nothing_there(board, a)) return true;
    if (std::find(unmapped.begin(), unmapped.end(), a & ~uint64_t{0xFFF}) != unmapped.end()) return true;
  }
  return false;
}

// MSRs whose write can hang or reset a board without #GP, or cannot be
// undone: the APIC base, IA32_FEATURE_CONTROL, the microcode trigger, the
// MTRRs, the x2APIC range and EFER. A value typed for one is written only
// after a y.
bool asks_first(uint32_t index) {
  return index == 0x1B || index == 0x3A || index == 0x79 || index == 0xFE || (index >= 0x200 && index <= 0x2FF) ||
         (index >= 0x800 && index <= 0x8FF) || index == 0xC0000080;
}

// The local APIC's page, where the board's processor 0 has it: only
// aligned dwords are stored there.
bool apic_page(const sim::Board& board, uint64_t address) {
  const auto msr = board.cpu.cpus[0].msrs.find(0x1B);
  const uint64_t local = msr == board.cpu.cpus[0].msrs.end() ? 0xFEE00000u : msr->second.value & 0x000FFFFFFFFFF000ull;
  return (address & ~uint64_t{0xFFF}) == local;
}

// A function outside segment 0, in its segment's window on the board.
uint64_t function_base(const sim::Board& board, const pci::Bdf& f) {
  for (const sim::Board::EcamWindow& w : board.ecam_windows) {
    if (w.segment == f.segment) return w.base + pci::memory_mapped_offset(f);
  }
  return 0;
}

// The Super I/O page reads its pair unless it is a configuration port that
// start-up left alone and the user did not type.
bool superio_reads(const AppState& s) {
  const sio::ChipRecord* chip = sio::chip_at(s.isa_address);
  return chip == nullptr || chip->probe == sio::kProbed || s.isa_typed;
}

// `msr_reached`: the firmware gives the #GP guard and the processor shown
// runs procedures, so a wrmsr is made.
void value_entry_writes(const sim::Board& board, const AppState& s, int offset, uint64_t value, bool msr_reached,
                        Expectation* x) {
  const uint32_t v = static_cast<uint32_t>(value);  // at most a dword on a grid page
  const int size = bytes_of(s.width);
  const uint32_t off = static_cast<uint32_t>(offset);
  auto add = [&](Access a, uint32_t latch = 0) { x->writes.push_back(ExpectedWrite{a, latch}); };
  switch (s.page) {
    case PageId::kPcie: {
      if (s.device.segment != 0) {  // one store through the segment's window
        add(sim::wr(8 * size, function_base(board, s.device) + off, v));
        break;
      }
      const uint32_t latch = latch_of(s.device) + (off & 0xFC);
      const uint16_t lane = static_cast<uint16_t>(kCfc + (off & 3));
      if (size == 4) add(sim::out32(lane, v), latch);
      else if (size == 2) add(sim::out16(lane, static_cast<uint16_t>(v)), latch);
      else add(sim::out8(lane, static_cast<uint8_t>(v)), latch);
      break;
    }
    case PageId::kMemory:
    case PageId::kHdd: {
      // Memory below 4 GiB wraps at 32 bits; above, addresses run on. A
      // word or dword is stored only at an address aligned to it, and in
      // the local APIC's page only a dword.
      const uint64_t at = cell_address(s, off);
      if (at % static_cast<uint64_t>(size) != 0 || (size < 4 && apic_page(board, at))) break;
      add(sim::wr(8 * size, at, size == 4 ? v : v & ((1u << (8 * size)) - 1)));
      break;
    }
    case PageId::kIo: {
      // One OUT of the width.
      const uint16_t port = static_cast<uint16_t>(s.io_base + off);
      add(size == 4 ? sim::out32(port, v) : size == 2 ? sim::out16(port, static_cast<uint16_t>(v)) : sim::out8(port, static_cast<uint8_t>(v)));
      break;
    }
    case PageId::kSuperIo:
      for (int i = size - 1; i >= 0; --i) {
        add(sim::out8(s.isa_address, static_cast<uint8_t>(off + static_cast<uint32_t>(i))));
        add(sim::out8(static_cast<uint16_t>(s.isa_address + 1), static_cast<uint8_t>(v >> (8 * i))));
      }
      break;
    case PageId::kCpu:  // one wrmsr of the selected MSR on the processor shown
      if (msr_reached) add(sim::wrmsr(s.cpu.base + static_cast<uint32_t>(s.cpu.row), value, static_cast<int>(s.cpu.cpu)));
      break;
    default:
      break;
  }
}

// Enter on a variable's cell: an entry only where the variable has every
// byte of the cell and is not authenticated; a completed one makes exactly
// one SetVariable, with the variable's attributes and size and only the
// typed bytes changed.
void variable_entry(const AppState& s, int offset, const std::vector<Key>& taken, const sim::SimVariable* opened,
                    Expectation* x, Coverage* coverage) {
  const uint64_t at = uint64_t{s.vars.base} + static_cast<uint64_t>(offset);
  const int size = bytes_of(s.width);
  if (opened == nullptr || at + static_cast<uint64_t>(size) > opened->data.size() ||
      (opened->attributes & (plat::kVarAuthenticatedWrite | plat::kVarTimeAuthenticatedWrite)) != 0) {
    return;  // Enter alone
  }
  const Entry e = read_entry(taken, 1, 2 * size, Backspace::kStepsBack);
  x->keys += e.used;
  if (!e.complete) return;
  sim::SetCall call{opened->name, opened->guid, opened->attributes, opened->data, plat::kEfiSuccess};
  for (int i = 0; i < size; ++i) call.data[at + static_cast<uint64_t>(i)] = static_cast<uint8_t>(e.value() >> (8 * i));
  x->set_call = call;
  if (coverage != nullptr) ++coverage->value_entries[static_cast<int>(s.page)];
}

// --- The Setup page, as a user reads the board's forms ------------------------

// The simulated board's questions: the prompt, where the value lies (the
// store by the name its driver answers to), and what a change may write.
struct SetupQuestion {
  const char16_t* prompt;
  enum Kind { kOneOf, kCheckBox, kNumeric } kind;
  const char16_t* store;
  uint16_t offset;
  int width;
  bool hex;
  uint64_t min, max;  // a one-of: its options' values run min..max
};
constexpr SetupQuestion kSetupQuestions[] = {
    {u"Change Preferred Resolution for Next Boot", SetupQuestion::kOneOf, u"PlatformConfig", 0x20, 4, false, 0, 3},
    {u"Above 4G Decoding", SetupQuestion::kOneOf, u"Setup", 0, 1, false, 0, 1},
    {u"Debug Port", SetupQuestion::kCheckBox, u"Setup", 1, 1, false, 0, 1},
    {u"PCIe ASPM", SetupQuestion::kCheckBox, u"Setup", 2, 1, false, 0, 1},
    {u"Fan Duty", SetupQuestion::kNumeric, u"Setup", 4, 1, false, 20, 100},
    {u"Boot Delay", SetupQuestion::kNumeric, u"Setup", 6, 2, true, 0, 0xFFFF},
};

// The prompt of the row the Setup page highlights, "" for a title row.
std::u16string setup_selection() {
  const Screen& m = con::screen();
  for (int r = 1; r <= 17; ++r) {
    if (m.at(0, r).attr != kAttrWhiteOnGreen || m.at(0, r).ch == u'[') continue;
    std::u16string prompt;
    for (int c = 2; c < 44; ++c) prompt += m.at(c, r).ch;
    return prompt.substr(0, prompt.find_last_not_of(u' ') + 1);
  }
  return u"";
}

std::u16string hex16(uint64_t v, int digits) {
  std::u16string out;
  for (int i = digits - 1; i >= 0; --i) out += u"0123456789abcdef"[(v >> (4 * i)) & 0xF];
  return out;
}

// Enter on the Setup page: the entry the selected question takes (the
// option list, y, a number in its display base), and the one ConfigResp a
// completed one sends.
void setup_entry(const std::vector<sim::SimStore>& stores, const std::vector<Key>& taken, Expectation* x,
                 Coverage* coverage) {
  const std::u16string selected = setup_selection();
  const SetupQuestion* q = nullptr;
  for (const SetupQuestion& c : kSetupQuestions) q = selected == c.prompt ? &c : q;
  const sim::SimStore* store = nullptr;
  for (const sim::SimStore& st : stores) store = q != nullptr && st.name == q->store ? &st : store;
  if (q == nullptr || store == nullptr) return;  // Enter alone
  uint64_t current = 0;
  for (int b = q->width - 1; b >= 0; --b) current = current << 8 | store->bytes[q->offset + static_cast<size_t>(b)];
  bool done = false;
  uint64_t value = 0;
  size_t i = 1;
  if (q->kind == SetupQuestion::kOneOf) {
    uint64_t row = current;
    while (i < taken.size() && !done) {
      const Key k = taken[i++];
      if (k.scan == kScanEsc) break;
      done = k.scan == 0 && k.ch == kCharEnter;
      const int64_t step = k.scan == kScanUp ? -1 : k.scan == kScanDown ? 1 : k.scan == kScanPageUp ? -13
                           : k.scan == kScanPageDown ? 13 : 0;
      row = static_cast<uint64_t>(std::clamp<int64_t>(static_cast<int64_t>(row) + step, 0, static_cast<int64_t>(q->max)));
    }
    value = row;
  } else if (q->kind == SetupQuestion::kCheckBox) {
    done = i < taken.size() && taken[i].scan == 0 && taken[i].ch == u'y';
    i += i < taken.size() ? 1 : 0;
    value = current != 0 ? 0 : 1;
  } else {
    std::u16string typed;
    while (i < taken.size() && !done) {
      const Key k = taken[i++];
      if (k.scan == kScanEsc) break;
      if (k.scan != 0) continue;
      done = k.ch == kCharEnter;
      uint32_t d = 0;
      const bool digit = classify(k, &d) == kDigit && (q->hex || d < 10);
      if (k.ch == kCharBackspace && !typed.empty()) typed.pop_back();
      if ((digit || (!q->hex && k.ch == u'-')) && typed.size() < (q->hex ? 16u : 20u)) typed += k.ch;
    }
    bool number = !typed.empty() && (typed.find(u'-') == std::u16string::npos);
    for (char16_t c : typed) {
      uint32_t d = 0;
      classify(Key{0, c}, &d);
      value = value * (q->hex ? 16 : 10) + d;
    }
    if (q->width < 8) value &= (uint64_t{1} << (8 * q->width)) - 1;
    done = done && number && value >= q->min && value <= q->max;
  }
  x->keys = i;
  if (!done) return;
  x->setup_store = q->store;
  x->setup_block = u"&OFFSET=" + hex16(q->offset, 4) + u"&WIDTH=" + hex16(static_cast<uint64_t>(q->width), 4) +
                   u"&VALUE=" + hex16(value, 2 * q->width);
  if (coverage != nullptr) ++coverage->value_entries[static_cast<int>(PageId::kSetup)];
}

// The RouteConfig calls of a pass: the one a completed change makes, for
// its store and exactly its block, or none.
std::optional<std::string> check_route_config(const sim::HiiModel* hii, const Expectation& x) {
  const size_t count = hii != nullptr ? hii->responses.size() : 0;
  if (count != (x.setup_block.empty() ? 0u : 1u)) {
    return std::to_string(count) + " RouteConfig calls where the keys make " + (x.setup_block.empty() ? "none" : "one");
  }
  if (count == 0) return std::nullopt;
  const std::u16string& got = hii->responses[0];
  std::u16string name;
  for (char16_t c : x.setup_store) name += hex16(c, 4);
  const size_t block = got.find(u"&OFFSET=");
  if (got.find(u"&NAME=" + name + u"&PATH=") == std::u16string::npos || block == std::u16string::npos ||
      got.substr(block) != x.setup_block) {
    std::string text(got.begin(), got.end());
    return "RouteConfig of another store or block than the change's: " + text;
  }
  return std::nullopt;
}

Expectation expect(const sim::Board& board, const AppState& s, const std::vector<Key>& taken,
                   const std::vector<uint64_t>& unmapped, bool msr_reached, uint64_t highest,
                   const sim::SimVariable* opened, const std::vector<sim::SimStore>& setup_stores, Coverage* coverage) {
  Expectation x;
  x.index_ports = {s.isa_address};
  x.sio_ldn = s.sio_ldn;
  const bool superio_blind = s.page == PageId::kSuperIo && !superio_reads(s);
  x.sio_session = s.page == PageId::kSuperIo && !superio_blind && is_config_port(s.isa_address);
  if (taken.empty()) return x;
  x.keys = 1;
  const Key k = taken[0];
  const int page = static_cast<int>(s.page);
  const CellCursor& c = s.cursors[page][s.width - 1];
  const int offset = 16 * (c.row - 2) + bytes_of(s.width) * c.index;
  auto address_entry = [&](Expectation::Field field, int digits, Backspace bs) {
    const Entry e = read_entry(taken, 1, digits, bs);
    x.keys += e.used;
    x.field = field;
    x.entry_complete = e.complete;
    x.entry_value = static_cast<uint32_t>(e.value());
    if (field == Expectation::kDevice) {
      const uint32_t dev = e.digits[2] * 10 + e.digits[3];
      const uint32_t fn = e.digits[4] * 10 + e.digits[5];
      x.device = pci::Bdf{0, static_cast<uint8_t>(e.digits[0] * 10 + e.digits[1]), static_cast<uint8_t>(dev),
                          static_cast<uint8_t>(fn)};
      // A number out of its field's range would name another function.
      x.entry_complete = e.complete && dev <= 31 && fn <= 7;
    }
    if (e.complete && coverage != nullptr) ++coverage->address_entries[page];
  };
  if (s.page == PageId::kVariable && k.scan == 0 && k.ch == kCharEnter) {
    variable_entry(s, offset, taken, opened, &x, coverage);
  } else if (s.page == PageId::kSetup && k.scan == 0 && k.ch == kCharEnter) {
    setup_entry(setup_stores, taken, &x, coverage);
  } else if ((s.page == PageId::kVariables || s.page == PageId::kSetup) && k.scan == 0 && k.ch == u'/') {
    // The filter takes every key up to Enter or Esc.
    while (x.keys < taken.size()) {
      const Key f = taken[x.keys++];
      if (f.scan == kScanEsc || (f.scan == 0 && f.ch == kCharEnter)) break;
    }
  } else if (s.page == PageId::kVariable && k.scan == 0 && k.ch == u'p') {
    const Entry e = read_long_entry(taken, 1, 8);
    x.keys += e.used;
    x.field = Expectation::kVarBase;
    x.entry_value = e.value();
    x.entry_complete = e.complete;
    if (e.complete && coverage != nullptr) ++coverage->address_entries[page];
  } else if (takes_entries(s.page) && k.scan == 0 && k.ch == kCharEnter &&
             (cell_unmapped(board, s, offset, unmapped) || superio_blind)) {
    return x;  // no entry: Enter alone
  } else if (takes_entries(s.page) && k.scan == 0 && k.ch == kCharEnter) {
    const int digits = s.page == PageId::kCpu ? 16 : 2 * bytes_of(s.width);
    const Entry e = read_entry(taken, 1, digits, Backspace::kStepsBack);
    x.keys += e.used;
    if (e.complete && s.page == PageId::kCpu && asks_first(s.cpu.base + static_cast<uint32_t>(s.cpu.row))) {
      // Row 18 asks; the next key answers.
      const size_t answer = 1 + e.used;
      x.keys += 1;
      if (answer >= taken.size() || taken[answer].scan != 0 || taken[answer].ch != u'y') return x;
    }
    if (e.complete) {
      value_entry_writes(board, s, offset, e.value(), msr_reached, &x);
      if (coverage != nullptr) ++coverage->value_entries[page];
    }
  } else if (k.scan == 0 && k.ch == u'p') {
    switch (s.page) {
      case PageId::kPcie: address_entry(Expectation::kDevice, 6, Backspace::kFunctionDigits); break;
      case PageId::kMemory: address_entry(Expectation::kMemoryBase, 8, Backspace::kStepsBack); break;
      case PageId::kIo: address_entry(Expectation::kIoBase, 4, Backspace::kIgnored); break;
      case PageId::kSuperIo:
        address_entry(Expectation::kIsa, 4, Backspace::kIgnored);
        if (x.entry_complete) x.index_ports.push_back(static_cast<uint32_t>(x.entry_value));
        break;
      case PageId::kHdd:
        if (s.width != kByte) address_entry(Expectation::kHddBuffer, 8, Backspace::kStepsBack);
        break;
      case PageId::kCpu: address_entry(Expectation::kMsrBase, 8, Backspace::kStepsBack); break;
      default: break;
    }
  } else if (s.page == PageId::kMemory && k.scan == 0 && k.ch == u'P') {
    const Entry e = read_long_entry(taken, 1, 16);
    x.keys += e.used;
    x.field = Expectation::kMemoryBase;
    x.entry_value = e.value();
    // A base whose window would run past the processor's reach is refused.
    x.entry_complete = e.complete && (x.entry_value <= 0xFFFFFFFFu || x.entry_value + 255 <= highest);
    if (e.complete && coverage != nullptr) ++coverage->address_entries[page];
  } else if (s.page == PageId::kAcpi && k.scan == 0 && k.ch == kCharEnter && s.acpi_row < s.acpi.count) {
    // Only a window the processor can address whole is opened.
    x.table = s.acpi.tables[s.acpi_row].address;
    x.opens_table = x.table <= 0xFFFFFFFFu || x.table <= highest - 255;
    if (x.opens_table && coverage != nullptr) ++coverage->tables_opened;
  } else if (s.page == PageId::kSuperIo && !superio_blind && (k.scan == kScanPageUp || k.scan == kScanPageDown)) {
    x.ldn_step = k.scan == kScanPageUp ? 1 : -1;
  }
  return x;
}

uint32_t peek32(sim::Board& board, uint32_t addr) {
  board.logging = false;
  const uint32_t v = static_cast<uint32_t>(board.mem_read(addr, 32));
  board.logging = true;
  return v;
}
bool in_reach(uint32_t low, uint32_t high) { return low != 0 && low != 0xFFFFFFFFu && high == 0; }

// The SetVariable calls of a pass: the one a completed entry makes, or
// none; never a delete. A refused one leaves the variable as it was.
std::optional<std::string> check_set_variable(const sim::VariableStore& store, const std::optional<sim::SimVariable>& opened,
                                              const Expectation& x) {
  const std::vector<sim::SetCall>& sets = store.sets;
  if (sets.size() > 1 || (sets.size() == 1) != x.set_call.has_value()) {
    return std::to_string(sets.size()) + " SetVariable calls where the keys make " + (x.set_call ? "one" : "none");
  }
  if (sets.empty()) return std::nullopt;
  const sim::SetCall& got = sets[0];
  const sim::SetCall& want = *x.set_call;
  if (got.name != want.name || !plat::same_guid(got.guid, want.guid) || got.attributes != want.attributes ||
      got.data != want.data) {
    return "SetVariable with other attributes, size or bytes than the entry's (" + std::to_string(got.data.size()) +
           " bytes, attributes " + hex(got.attributes) + ")";
  }
  const sim::SimVariable* now = store.find(want.name, want.guid);
  if (got.status != plat::kEfiSuccess && (now == nullptr || now->data != opened->data)) {
    return "a refused SetVariable changed the variable";
  }
  return std::nullopt;
}

// --- The write audit --------------------------------------------------------

class WriteAudit {
 public:
  WriteAudit(const sim::Board& board, const std::vector<Access>& log, bool startup, PageId page, uint32_t buffer,
             const std::vector<Slot0>& slots)
      : board_(board), log_(log), startup_(startup), page_(page), buffer_(buffer), slots_(slots) {}

  // The first write that is none of those allowed, or a missing one.
  std::optional<std::string> run(const Expectation& x) {
    // A completed value entry ends the pass: its writes are the last ones
    // (CF8 latches aside).
    std::vector<size_t> at(x.writes.size());
    size_t j = log_.size();
    if (!x.writes.empty() && x.sio_session) j = before_superio_leave(x.index_ports[0], j);
    for (size_t w = x.writes.size(); w-- > 0;) {
      // A dword typed at port CF8h on the I/O page is a latch of its own.
      while (j > 0 && !(is_write(log_[j - 1]) && (!is_latch(log_[j - 1]) || log_[j - 1] == x.writes[w].access))) --j;
      if (j == 0) return "a completed entry's write is missing: " + access_text(x.writes[w].access);
      at[w] = --j;
    }
    size_t next_expected = 0;
    for (i_ = 0; i_ < log_.size(); ++i_) {
      const Access& a = log_[i_];
      if (auto bad = guard_discipline(a)) return bad;
      if (a.op == Op::kPortIn && a.addr == kCf8 && !firmware_cf8_ && next() != nullptr && is_latch(*next())) firmware_cf8_ = a.value;
      if (!is_write(a)) continue;
      if (next_expected < at.size() && at[next_expected] == i_) {
        const ExpectedWrite& e = x.writes[next_expected++];
        if (!expected(e, a)) return "the entry wrote " + access_text(a) + " for " + access_text(e.access);
        continue;
      }
      if (is_latch(a)) {
        latch_ = static_cast<uint32_t>(a.value);
        continue;
      }
      if (a.op == Op::kPortOut && a.width == 8 && superio_write(a, x)) continue;
      if (a.op == Op::kMemWrite && (strap_write(a) || ahci_write(a))) continue;
      if (a.op == Op::kMsrWrite && microcode_read(a)) continue;
      return "stray write " + access_text(a);
    }
    if (guard_open_) return std::string("the #GP guard was left installed");
    if (firmware_cf8_ && latch_ != *firmware_cf8_) return "CF8 left at " + hex(latch_) + ", found at " + hex(*firmware_cf8_);
    return std::nullopt;
  }

 private:
  bool expected(const ExpectedWrite& e, const Access& a) const {
    if (e.access.op == Op::kMsrWrite) {  // refused or not: the processor's say
      return a.op == e.access.op && a.addr == e.access.addr && a.value == e.access.value && a.cpu == e.access.cpu;
    }
    return a == e.access && (e.latch == 0 || latch_ == e.latch);
  }

  static bool is_write(const Access& a) {
    return a.op == Op::kPortOut || a.op == Op::kMemWrite || a.op == Op::kMsrWrite;
  }

  // Every MSR access runs between the #GP handler's installation and its
  // removal, for the processor that makes it (a batch of them in one).
  std::optional<std::string> guard_discipline(const Access& a) {
    if (a.op == Op::kGuardOn) {
      if (guard_open_) return "the #GP guard installed twice";
      guard_open_ = true;
      guard_cpu_ = a.cpu;
    } else if (a.op == Op::kGuardOff) {
      if (!guard_open_ || a.cpu != guard_cpu_) return "a #GP guard removed that was not installed";
      guard_open_ = false;
    } else if (is_msr_access(a)) {
      if (!guard_open_ || a.cpu != guard_cpu_) return "an MSR access outside its #GP guard: " + access_text(a);
    }
    return std::nullopt;
  }

  // The Intel way to read the microcode revision, on the CPU page of a
  // GenuineIntel processor only: 0 into MSR 8Bh, then CPUID leaf 1 fills it,
  // then the read of 8Bh on the same processor.
  bool microcode_read(const Access& a) const {
    if (page_ != PageId::kCpu || a.addr != kBiosSignId || a.value != 0 || !intel(a.cpu)) return false;
    for (size_t j = i_ + 1; j < log_.size(); ++j) {
      const Access& n = log_[j];
      if (is_msr_access(n)) return n.op == Op::kMsrRead && n.addr == kBiosSignId && n.cpu == a.cpu;
    }
    return false;
  }
  bool intel(uint8_t cpu) const {
    if (cpu >= board_.cpu.cpus.size()) return false;
    const plat::CpuidRegs v = board_.cpu.cpus[cpu].cpuid(0, 0);
    return v.ebx == 0x756E6547 && v.edx == 0x49656E69 && v.ecx == 0x6C65746E;  // "GenuineIntel"
  }
  static bool is_latch(const Access& a) { return a.op == Op::kPortOut && a.addr == kCf8 && a.width == 32; }

  const Access* next() const { return i_ + 1 < log_.size() ? &log_[i_ + 1] : nullptr; }

  // The most recent read of `width` bits at `addr` before this write.
  std::optional<uint64_t> last_read(Op op, int width, uint64_t addr) const {
    for (size_t j = i_; j-- > 0;) {
      if (log_[j].op == op && log_[j].width == width && log_[j].addr == addr) return log_[j].value;
    }
    return std::nullopt;
  }

  bool is_out(size_t k, uint64_t port, uint64_t value) const {
    return log_[k].op == Op::kPortOut && log_[k].width == 8 && log_[k].addr == port && log_[k].value == value;
  }

  // The logical device a chip had when kvq first read register 07h.
  std::optional<uint64_t> first_ldn_read(uint64_t port) const {
    for (size_t k = 0; k + 1 < log_.size(); ++k) {
      if (is_out(k, port, 0x07) && log_[k + 1].op == Op::kPortIn && log_[k + 1].addr == port + 1) {
        return log_[k + 1].value;
      }
    }
    return std::nullopt;
  }

  // Where the writes of a value entry at a chip end: before the pass leaves
  // the chip, from the end of the log back: the exit (AAh, and the ITE one
  // before it), then the logical device found put back, then the key.
  size_t before_superio_leave(uint64_t port, size_t end) const {
    auto last_write = [&](size_t e) {
      while (e > 0 && !is_write(log_[e - 1])) --e;
      return e;
    };
    size_t e = last_write(end);
    if (e > 0 && is_out(e - 1, port, 0xAA)) e = last_write(e - 1);
    if (e > 1 && is_out(e - 1, port + 1, 0x02) && is_out(e - 2, port, 0x02)) e = last_write(e - 2);
    const auto found = first_ldn_read(port);
    if (e > 1 && found && is_out(e - 1, port + 1, *found) && is_out(e - 2, port, 0x07)) e = last_write(e - 2);
    while (e > 0 && log_[e - 1].addr == port && one_of(log_[e - 1].value, kKeyBytes)) e = last_write(e - 1);
    return e;
  }

  // Index/data pairs: a register select for a read; a key byte at a
  // configuration port; the ITE exit (02h to register 02h); at start-up
  // the monitor's logical device select (04h or 0Bh to register 07h) and
  // the chip's own put back; on the Super I/O page the page's logical
  // device selected, the chip's own put back, and one logical device step.
  bool superio_write(const Access& a, const Expectation& x) {
    const uint32_t p = static_cast<uint32_t>(a.addr);
    bool index_port = false;
    if (startup_) index_port = is_config_port(p);
    if (page_ == PageId::kSuperIo) {
      for (uint32_t q : x.index_ports) index_port = index_port || q == p;
    }
    if (!index_port) return false;
    const Access* n = next();
    const uint16_t data = static_cast<uint16_t>(p + 1);
    if (n != nullptr && n->op == Op::kPortIn && n->width == 8 && n->addr == data) return true;
    if (is_config_port(p) && one_of(a.value, kKeyBytes)) return true;
    if (n == nullptr || n->op != Op::kPortOut || n->width != 8 || n->addr != data) return false;
    bool pair = is_config_port(p) && a.value == 0x02 && n->value == 0x02;
    if (startup_) pair = pair || (a.value == 0x07 && (n->value == 0x04 || n->value == 0x0B));
    if (!pair && is_config_port(p) && a.value == 0x07) {
      const auto found = first_ldn_read(p);
      pair = (found && n->value == *found) || (!startup_ && x.sio_ldn >= 0 && n->value == static_cast<uint64_t>(x.sio_ldn));
    }
    if (!pair && x.ldn_step != 0 && !ldn_stepped_ && a.value == 0x07) {
      const auto n_read = last_read(Op::kPortIn, 8, data);
      pair = n_read && n->value == ((*n_read + static_cast<uint64_t>(x.ldn_step)) & 0xFF);
      ldn_stepped_ = pair;
    }
    if (pair) ++i_;
    return pair;
  }

  // FDOC: a strap's index (the descriptor has up to 255), FLMAP1's in the
  // descriptor map, or the value read from it before, put back.
  bool strap_write(const Access& a) const {
    if (page_ != PageId::kPchStrap || a.addr != kStrapControl || a.width != 32) return false;
    if ((a.value >= 0x4000 && a.value <= 0x43F8 && a.value % 4 == 0) || a.value == 0x0008) return true;
    const auto saved = last_read(Op::kMemRead, 32, kStrapControl);
    return saved && *saved == a.value;
  }

  // IDENTIFY DEVICE in slot 0: header DW0 (one PRD entry, a 5-dword FIS),
  // the FIS type, C bit and command, PRD entry 0 into kvq's buffer for 512
  // bytes with an interrupt, and each byte put back as the pass found it.
  // And kvq's own buffer, and the port's registers (port_write).
  bool ahci_write(const Access& a) const {
    if (!startup_ && page_ != PageId::kHdd) return false;
    if (a.addr >= buffer_ && a.addr - buffer_ + a.width / 8 <= 4096) return true;
    for (const Slot0& s : slots_) {
      if (slot_write(s, a)) return true;
      if (a.addr >= s.port && a.addr < s.port + 0x80) return port_write(s.port, a);
    }
    return false;
  }

  bool slot_write(const Slot0& s, const Access& a) const {
    const auto is = [&](int width, uint32_t addr, uint64_t value) {
      return a.width == width && a.addr == addr && a.value == value;
    };
    if (is(32, s.header, 0x00010005) || is(32, s.table + 0x80, buffer_) || is(32, s.table + 0x84, 0) ||
        is(8, s.table, 0x27) || is(8, s.table + 1, 0x80) || is(8, s.table + 2, 0xEC) ||
        is(8, s.table + 0x8C, 0xFF) || is(8, s.table + 0x8D, 0x01) || is(8, s.table + 0x8E, 0x00) ||
        is(8, s.table + 0x8F, 0x80)) {
      return true;
    }
    const auto held = [&](uint32_t base, const auto& bytes) {
      const uint64_t n = a.width / 8;
      if (a.addr < base || a.addr + n > base + bytes.size()) return false;
      uint64_t v = 0;
      for (uint64_t i = n; i-- > 0;) v = (v << 8) | bytes[a.addr - base + i];
      return v == a.value;
    };
    return held(s.header, s.header_bytes) || held(s.table, s.table_bytes);
  }

  // PxCMD's FRE or ST, one at a time over what its low byte read, in the
  // orders AHCI allows: ST set only over FRE set and a stopped list, FRE
  // cleared only with ST and CR clear (by the last read of all of PxCMD).
  // PxCI = 1; PxIS and PxSERR bits written back as they read.
  bool port_write(uint32_t port, const Access& a) const {
    const auto dword = [&](uint32_t offset) { return last_read(Op::kMemRead, 32, port + offset); };
    const uint64_t offset = a.addr - port;
    if (offset == 0x38) return a.width == 32 && a.value == 1;
    if (offset == 0x10 || offset == 0x30) {
      const auto held = dword(static_cast<uint32_t>(offset));
      return a.width == 32 && held && a.value != 0 && (a.value & ~*held) == 0;
    }
    const auto low = last_read(Op::kMemRead, 8, a.addr);
    const auto cmd = dword(0x18);
    if (offset != 0x18 || a.width != 8 || !low || !cmd) return false;
    const uint64_t changed = a.value ^ *low;
    if (changed == 0x01 && (a.value & 0x01) != 0) return (*cmd & 0x8010) == 0x0010;
    if (changed == 0x10 && (a.value & 0x10) == 0) return (*cmd & 0x8001) == 0;
    return changed == 0x01 || changed == 0x10;
  }

  const sim::Board& board_;
  const std::vector<Access>& log_;
  bool startup_;
  PageId page_;
  uint32_t buffer_;
  const std::vector<Slot0>& slots_;
  size_t i_ = 0;
  uint32_t latch_ = 0;
  std::optional<uint64_t> firmware_cf8_;
  bool ldn_stepped_ = false;
  bool guard_open_ = false;
  uint8_t guard_cpu_ = 0;
};

// --- Keys and state ----------------------------------------------------------

std::optional<std::string> check_keys(const PassRecord& r, const AppState& after, const Expectation& x) {
  if (r.waiting == 0 && (r.starved || !r.taken.empty())) return "a pass with no key waiting blocked";
  if (r.waiting > 0 && r.taken.empty()) return "a pass with keys waiting took none";
  if (r.taken.size() != x.keys) {
    return "took " + std::to_string(r.taken.size()) + " keys where the entry reads " + std::to_string(x.keys);
  }
  if (r.taken.empty()) return std::nullopt;
  const uint16_t scan = r.taken[0].scan;
  const PageId from = r.before.page;
  // The capability view takes Esc, and C, as its way back to the grid; C on
  // the PCIE page opens it.
  // The capability view and an opened variable take Esc as their way back.
  const bool view = from == PageId::kPcieCaps || from == PageId::kVariable;
  const bool c_key = scan == 0 && r.taken[0].ch == u'C';
  if ((scan == kScanEsc && !view) == r.went_on) return "Esc must end the run, only Esc, and not in the view";
  if (from == PageId::kPcieCaps && (scan == kScanEsc || c_key) && after.page != PageId::kPcie) {
    return "the view did not return to the grid";
  }
  if (from == PageId::kVariable && scan == kScanEsc && after.page != PageId::kVariables) {
    return "Esc did not return to the list of variables";
  }
  if (from == PageId::kPcie && c_key && after.page != PageId::kPcieCaps) return "C did not open the view";
  if (scan == kScanF5 && (after.page != PageId::kPciList || con::screen().mode() != con::real_mode(con::kListMode))) {
    return "F5 did not open the PCI list";
  }
  if (scan == kScanF6) {
    if (after.page != PageId::kMenu || con::screen().mode() != con::real_mode(con::kStandardMode)) {
      return "F6 did not open the menu";
    }
    if (from == PageId::kMenu && (after.menu_item != r.before.menu_item || after.menu_column != r.before.menu_column)) {
      return "F6 on the menu moved it";
    }
  }
  if (scan == kScanF7) {
    const int next = is_grid(from) ? r.before.width % 3 + 1 : r.before.width;
    if (after.width != next) return "F7 did not cycle the width on a grid page only";
  }
  return std::nullopt;
}

// An address entry sets its field to the digits typed when complete, and
// leaves it alone otherwise.
std::optional<std::string> check_entry(const AppState& b, const AppState& a, const Expectation& x) {
  const CellCursor& first = a.cursors[static_cast<int>(PageId::kMemory)][kByte - 1];
  if (x.opens_table && (a.page != PageId::kMemory || a.width != kByte || a.memory_base != x.table || first.index != 0 ||
                        first.row != 2)) {
    return "Enter on the ACPI page did not open the table's first byte on the Memory page in byte mode";
  }
  uint64_t before = 0;
  uint64_t now = 0;
  switch (x.field) {
    case Expectation::kNone: return std::nullopt;
    case Expectation::kDevice: {
      const pci::Bdf want = x.entry_complete ? x.device : b.device;
      if (a.device.bus != want.bus || a.device.device != want.device || a.device.function != want.function ||
          a.table_index != b.table_index) {
        return "the device selector chose another function than typed";
      }
      return std::nullopt;
    }
    case Expectation::kMemoryBase: before = b.memory_base; now = a.memory_base; break;
    case Expectation::kIoBase: before = b.io_base; now = a.io_base; break;
    case Expectation::kIsa: before = b.isa_address; now = a.isa_address; break;
    case Expectation::kHddBuffer: before = b.hdd_buffer; now = a.hdd_buffer; break;
    case Expectation::kMsrBase: before = b.cpu.base; now = a.cpu.base; break;
    case Expectation::kVarBase: before = b.vars.base; now = a.vars.base; break;
  }
  if (now != (x.entry_complete ? x.entry_value : before)) return "the address entry took " + hex(now);
  return std::nullopt;
}

std::optional<std::string> check_state(const AppState& s) {
  const int page = static_cast<int>(s.page);
  if (page < 0 || page >= kPageCount) return "page " + std::to_string(page);
  if (s.width < kByte || s.width > kDword) return "width " + std::to_string(s.width);
  static constexpr int kCells[] = {16, 8, 4};
  static constexpr int kPitch[] = {3, 5, 9};
  for (int p = 0; p < kPageCount; ++p) {
    for (int w = 0; w < kWidthCount; ++w) {
      const CellCursor& c = s.cursors[p][w];
      if (c.row < 2 || c.row > 17 || c.index < 0 || c.index >= kCells[w] || c.col != 3 + kPitch[w] * c.index) {
        return std::string("cursor of the ") + page_name(static_cast<PageId>(p)) + " page at row " + std::to_string(c.row) + " index " +
               std::to_string(c.index) + " column " + std::to_string(c.col);
      }
    }
  }
  if (s.cpu.row < 0 || s.cpu.row > 15) return "CPU page row " + std::to_string(s.cpu.row);
  if (s.device_count < 0 || s.device_count > 500) return "device count " + std::to_string(s.device_count);
  if (s.table_index < 0 || s.table_index > (s.device_count > 0 ? s.device_count - 1 : 0)) {
    return "table index " + std::to_string(s.table_index);
  }
  const ListState& l = s.list;
  const int last_row = l.count - l.last_page * 25;
  if (l.page < 0 || l.page > l.last_page || l.row < 1 || l.row > 25 ||
      (l.count > 0 && l.page == l.last_page && l.row > last_row)) {
    return "list page " + std::to_string(l.page) + " row " + std::to_string(l.row);
  }
  if ((s.menu_column != MenuColumn::kDevices && s.menu_column != MenuColumn::kOther) || s.menu_item < 1 ||
      s.menu_item > menu_items(s.menu_column)) {
    return "menu item " + std::to_string(s.menu_item);
  }
  if (s.acpi_row < 0 || s.acpi_row > std::max(s.acpi.count - 1, 0) || s.acpi_top < 0 || s.acpi_top > s.acpi_row ||
      s.acpi_row >= s.acpi_top + 20) {
    return "ACPI row " + std::to_string(s.acpi_row) + " shown from " + std::to_string(s.acpi_top);
  }
  const VariablesPageState& v = s.vars;
  if (v.row < 0 || v.top < 0 || v.top > v.row || v.row >= v.top + 20 || v.open < -1 ||
      v.open >= variables_list().count || text_length(v.filter) > VariablesPageState::kFilterMax) {
    return "Variables row " + std::to_string(v.row) + " shown from " + std::to_string(v.top) + ", open " +
           std::to_string(v.open);
  }
  const SetupPageState& u = s.setup;
  if (u.row < 0 || u.top < 0 || u.top > u.row || u.row >= u.top + 17 || text_length(u.filter) > SetupPageState::kFilterMax) {
    return "Setup row " + std::to_string(u.row) + " shown from " + std::to_string(u.top);
  }
  if (s.hdd_port_offset < 0x100 || s.hdd_port_offset > 0x480 || s.hdd_port_offset % 0x80 != 0) {
    return "HDD port offset " + hex(s.hdd_port_offset);
  }
  return std::nullopt;
}

// c on the PCIE page: the cursor lands on the header of a capability in
// the function's list as the board holds it, or stays without a list.
std::optional<std::string> check_capability_step(sim::Board& board, const PassRecord& r, const AppState& after,
                                                 Coverage* coverage) {
  if (r.before.page != PageId::kPcie || r.taken.empty() || r.taken[0].scan != 0 || r.taken[0].ch != u'c') return {};
  const int page = static_cast<int>(PageId::kPcie);
  const CellCursor& b = r.before.cursors[page][r.before.width - 1];
  const CellCursor& c = after.cursors[page][r.before.width - 1];
  const int offset = 16 * (c.row - 2) + bytes_of(r.before.width) * c.index;
  const pci::Bdf& d = r.before.device;
  const sim::PciFunction* f = board.segment_function(d.segment, d.bus, d.device, d.function);
  bool header[64] = {};
  int n = 0;
  for (int p = f != nullptr && (f->cfg[0x06] & 0x10) ? f->cfg[0x34] & 0xFC : 0;
       n < 48 && p >= 0x40 && !header[p / 4] && f->cfg[p] != 0xFF; p = f->cfg[p + 1] & 0xFC, ++n) {
    header[p / 4] = true;
  }
  if (n == 0) return b.row == c.row && b.index == c.index ? std::nullopt : std::optional<std::string>("c moved");
  if (offset % 4 != 0 || !header[offset / 4]) return "c landed on " + hex(offset) + ", no capability's header";
  if (coverage != nullptr) ++coverage->capability_steps;
  return {};
}

Failure fail(const char* check, const std::string& what, const PassRecord* r) {
  std::string detail = what;
  if (r != nullptr) {
    detail += std::string(" (on the ") + page_name(r->before.page) + " page, width " +
              std::to_string(r->before.width) + ", keys taken: " + keys_text(r->taken) + ")";
  }
  return Failure{check, detail};
}

}  // namespace

std::string key_name(Key k) {
  static const char* const kScans[] = {"",   "Up", "Down", "Right", "Left", "Home", "End", "Insert", "Delete", "PageUp",
                                       "PageDown", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10",
                                       "F11", "F12", "Esc"};
  std::string s;
  if (k.scan != 0) s = k.scan < 24 ? kScans[k.scan] : "scan" + hex(k.scan);
  if (k.ch == 0) return s.empty() ? "Null" : s;
  if (!s.empty()) s += "+";
  if (k.ch == kCharEnter) return s + "Enter";
  if (k.ch == kCharBackspace) return s + "Backspace";
  if (k.ch > 0x20 && k.ch < 0x7F) return s + std::string(1, static_cast<char>(k.ch));
  return s + "char" + hex(k.ch);
}

std::string summarize_writes(const std::vector<sim::Access>& log) {
  int latches = 0;
  int selects = 0;
  int key_bytes = 0;
  std::string listed;
  int shown = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    const Access& a = log[i];
    if (a.op != Op::kPortOut && a.op != Op::kMemWrite) continue;
    if (a.op == Op::kPortOut && a.addr == kCf8 && a.width == 32) {
      ++latches;
    } else if (a.op == Op::kPortOut && i + 1 < log.size() && log[i + 1].op == Op::kPortIn &&
               log[i + 1].addr == a.addr + 1) {
      ++selects;
    } else if (a.op == Op::kPortOut && a.width == 8 && is_config_port(static_cast<uint32_t>(a.addr)) &&
               one_of(a.value, kKeyBytes)) {
      ++key_bytes;
    } else if (shown++ < 12) {
      listed += " " + access_text(a);
    }
  }
  std::string s = std::to_string(latches) + " CF8 latches, " + std::to_string(selects) + " register selects, " +
                  std::to_string(key_bytes) + " Super I/O key bytes";
  if (shown > 0) s += "," + listed + (shown > 12 ? " ... (" + std::to_string(shown) + " in all)" : "");
  return s;
}

namespace {

const sim::PciFunction* function_with_abar(sim::Board& board, uint32_t abar) {
  for (const auto& [key, f] : board.functions()) {
    if (f->get32(0x24) == abar) return f.get();
  }
  return nullptr;
}

// The port takes kvq's own command: the function decodes memory and masters
// the bus, the firmware handed the HBA over, an ATA disk is on the link, and
// the port is idle, never with ST set and FRE clear.
bool takes_own_command(const sim::PciFunction& f, const sim::AhciController& hba, const sim::AhciController::Port& p) {
  const bool idle = p.ci == 0 && p.sact == 0 && (p.tfd & 0x88) == 0 && (p.is & 0x78000000u) == 0 &&
                    ((p.cmd & 0x8001) != 0x8000) && ((p.cmd & 0x4010) != 0x4000);
  return (f.cfg[0x04] & 0x06) == 0x06 && (f.get32(0x08) >> 8) == 0x010601 && (hba.bohc & 1) == 0 && p.has_disk &&
         p.disk.signature == 0x101 && idle && (p.cmd & 0x11) != 0x01;
}

}  // namespace

// Slot 0 of every port with an ATA disk the firmware set up (DET 3; the
// command list, received-FIS area and command table below 4 GiB), idle, on
// an AHCI controller reached through a function's ABAR that no firmware
// ATA pass-thru covers.
std::vector<Slot0> find_slots(sim::Board& board) {
  std::vector<Slot0> slots;
  std::vector<const sim::AhciController*> controllers(board.more_ahci.begin(), board.more_ahci.end());
  if (board.ahci != nullptr) controllers.push_back(board.ahci);
  for (const sim::AhciController* hba : controllers) {
    const sim::PciFunction* f = function_with_abar(board, hba->abar());
    const bool covered = std::any_of(board.ata.begin(), board.ata.end(), [&](const sim::SimAtaPassThru& a) { return a.hba == hba; });
    if (f == nullptr || covered) continue;
    for (int n = 0; n < sim::AhciController::kPorts; ++n) {
      const sim::AhciController::Port& p = hba->ports[n];
      if (((hba->pi >> n) & 1) == 0 || (p.ssts & 0xF) != 3 || !in_reach(p.clb, p.clbu) || !in_reach(p.fb, p.fbu) ||
          !takes_own_command(*f, *hba, p)) {
        continue;
      }
      const uint32_t table = peek32(board, p.clb + 8);
      if (!in_reach(table, peek32(board, p.clb + 12))) continue;
      Slot0 s{hba->abar() + 0x100 + 0x80 * static_cast<uint32_t>(n), p.clb, table, {}, {}};
      for (uint32_t i = 0; i < s.header_bytes.size(); ++i) s.header_bytes[i] = board.ram_peek(p.clb + i);
      for (uint32_t i = 0; i < s.table_bytes.size(); ++i) s.table_bytes[i] = board.ram_peek(table + i);
      slots.push_back(s);
    }
  }
  return slots;
}

Oracle::Oracle(sim::Board& board, std::vector<uint64_t> unmapped)
    : board_(board), buffer_(board.pool_top), off_screen_(con::screen().off_screen()), unmapped_(std::move(unmapped)) {}

void Oracle::begin_pass(const AppState& state) {
  slots_.clear();
  if (state.page == PageId::kHdd) slots_ = find_slots(board_);
  board_.variables.sets.clear();
  opened_.reset();
  if (board_.hii != nullptr) {
    board_.hii->responses.clear();
    setup_stores_ = board_.hii->stores;
  }
  const vars::VariableList& list = variables_list();
  if (state.page == PageId::kVariable && state.vars.open >= 0 && state.vars.open < list.count) {
    const sim::SimVariable* v = board_.variables.find(list.name(state.vars.open), list.guid(state.vars.open));
    if (v != nullptr) opened_ = *v;
  }
}



std::optional<Failure> Oracle::check_startup(const std::vector<sim::Access>& log) {
  Expectation none;
  if (auto bad = WriteAudit(board_, log, true, PageId::kPcie, buffer_, find_slots(board_)).run(none)) {
    return fail("write", *bad + " at start-up", nullptr);
  }
  if (!board_.variables.sets.empty()) return fail("write", "SetVariable at start-up", nullptr);
  if (board_.hii != nullptr && !board_.hii->responses.empty()) return fail("write", "RouteConfig at start-up", nullptr);
  return std::nullopt;
}

std::optional<Failure> Oracle::check_pass(const PassRecord& r, const AppState& after,
                                          const std::vector<sim::Access>& log, Coverage* coverage) {
  const int page = static_cast<int>(r.before.page);
  if (coverage != nullptr) {
    ++coverage->passes[page][r.before.width - 1];
    const uint16_t scan = r.taken.empty() ? 0 : r.taken[0].scan;
    if (scan == kScanF5 || scan == kScanF6 || scan == kScanEsc) {
      ++coverage->global_keys[page][scan == kScanF5 ? 0 : scan == kScanF6 ? 1 : 2];
    }
  }
  const sim::CpuModel& cpus = board_.cpu;
  const uint32_t shown = r.before.cpu.cpu;
  // The processor shown runs procedures and takes #GP through the BSP's gate.
  const bool msr_reached = cpus.cpu_protocol && !cpus.guard_refused && shown < cpus.cpus.size() &&
                           !cpus.cpus[shown].down && !cpus.cpus[shown].disabled && !cpus.cpus[shown].unhealthy &&
                           cpus.cpus[shown].gp_gate == cpus.cpus[0].gp_gate;
  // A disk the menu chose is asked before the HDD page reads its window: a
  // value entry in that pass writes into the window drawn at the answer.
  AppState drawn = r.before;
  if (drawn.page == PageId::kHdd && drawn.hdd_disk_unasked) drawn.hdd_buffer = after.hdd_buffer;
  const Expectation x = expect(board_, drawn, r.taken, unmapped_, msr_reached, highest_address(board_),
                               opened_ ? &*opened_ : nullptr, setup_stores_, coverage);
  if (auto bad = check_keys(r, after, x)) return fail("keys", *bad, &r);
  if (auto bad = WriteAudit(board_, log, false, r.before.page, buffer_, slots_).run(x)) return fail("write", *bad, &r);
  if (board_.cpu.unguarded_accesses != 0) {
    return fail("write", "an MSR access on a processor whose #GP gate is not the boot processor's", &r);
  }
  if (auto bad = check_set_variable(board_.variables, opened_, x)) return fail("write", *bad, &r);
  if (auto bad = check_route_config(board_.hii.get(), x)) return fail("write", *bad, &r);
  // The board's devices record an access they do not decode (a local APIC
  // register read with a byte load).
  if (!board_.faults.empty()) return fail("write", "an access the hardware does not decode: " + access_text(board_.faults[0]), &r);
  if (auto bad = check_entry(drawn, after, x)) return fail("state", *bad, &r);
  if (auto bad = check_capability_step(board_, r, after, coverage)) return fail("state", *bad, &r);
  if (auto bad = check_state(after)) return fail("state", *bad, &r);
  return std::nullopt;
}

std::optional<Failure> Oracle::check_screen() {
  const Screen& m = con::screen();
  const sim::TestConsole& tc = sim::TestConsole::instance();
  if (m.off_screen() != off_screen_) return fail("screen", "drawn off the screen", nullptr);
  if (tc.mirror_scrolled) return fail("screen", "the console scrolled", nullptr);
  if (tc.mirror_mode != m.mode()) return fail("screen", "the console is in mode " + std::to_string(tc.mirror_mode), nullptr);
  const int cols = std::min(m.cols(), tc.mirror_cols);
  const int rows = std::min(m.rows(), tc.mirror_rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      // The console's bottom-right cell is never written: it would scroll.
      if (r == tc.mirror_rows - 1 && c == tc.mirror_cols - 1) continue;
      const Cell model{printable(m.at(c, r).ch), m.at(c, r).attr};
      const Cell shown{tc.mirror[static_cast<size_t>(r)][static_cast<size_t>(c)]};
      if (!looks_same(model, shown)) {
        return fail("screen", "the console differs from the model at (" + std::to_string(c) + ", " + std::to_string(r) + ")",
                    nullptr);
      }
    }
  }
  return std::nullopt;
}

std::optional<Failure> Oracle::check_exit() {
  const sim::TestConsole& tc = sim::TestConsole::instance();
  bool blank = true;
  for (int r = 0; r < tc.mirror_rows; ++r) {
    for (char16_t ch : tc.mirror_row(r)) blank = blank && ch == u' ';
  }
  if (tc.mirror_mode != 0 || !tc.cursor_on || !blank) return fail("keys", "Esc left the Shell an unclean screen", nullptr);
  return std::nullopt;
}

}  // namespace kvq::fuzz
