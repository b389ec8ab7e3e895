// Faults found by auditing every access against the hardware's rules, each
// kept as its minimal reproduction: a board, the keys a user pressed, and
// the access that must never appear in the log again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/ahci_sim.h"
#include "platform/sim/cpu_models.h"
#include "platform/sim/q35.h"
#include "support.h"

namespace kvq {
namespace {

using sim::Access;
using sim::Op;

Key scan(uint16_t s) { return Key{s, 0}; }
Key ch(char c) { return Key{0, static_cast<uint16_t>(c)}; }

// Keys typed one by one; a string stands for its characters.
struct Keys {
  std::vector<Key> keys;
  Keys(std::initializer_list<Keys> parts) {
    for (const Keys& p : parts) keys.insert(keys.end(), p.keys.begin(), p.keys.end());
  }
  Keys(Key k) : keys{k} {}
  Keys(const char* text) {
    for (; *text != 0; ++text) keys.push_back(ch(*text));
  }
  static Keys times(int n, Key k) {
    Keys out{};
    out.keys.assign(static_cast<size_t>(n), k);
    return out;
  }
};

const Key kF5 = scan(kScanF5), kF6 = scan(kScanF6), kUp = scan(kScanUp), kDown = scan(kScanDown),
          kLeft = scan(kScanLeft), kRight = scan(kScanRight), kPageDown = scan(kScanPageDown), kEnter = ch('\r');

// The address a grid page's title shows, the digits after "Address: ".
uint64_t title_address() {
  const std::string row = test::row_text(0);
  const size_t at = row.find("Address: ");
  return at == std::string::npos ? ~uint64_t{0} : std::strtoull(row.c_str() + at + 9, nullptr, 16);
}

struct Repro {
  const char* fault;
  std::function<void(sim::Board&)> board;  // after the Q35 model is built
  Keys keys;
  // The access that must not happen, given the title the page showed.
  std::function<bool(const Access&, uint64_t shown)> forbidden;
  // Where the watch begins (the user's own write, when the fault follows
  // it); null: at start-up.
  std::function<bool(const Access&)> from = nullptr;
};

bool memory_in(const Access& a, uint64_t first, uint64_t last) {
  return (a.op == Op::kMemRead || a.op == Op::kMemWrite) && a.addr >= first && a.addr <= last;
}

const Repro kRepros[] = {
      {"1: a value entry on the HDD page writes at an address other than the one drawn",
       [](sim::Board& b) {
         b.function(0, 31, 2)->set32(0x90, 0xC0);  // RAID: the chipset's ports are not listed
         sim::add_nvme(b, 7, {.model = "KVQ NVME", .serial = "SN1", .namespaces = {{1, 4194304, 9}}});
       },
       {kF6, kRight, kDown, kDown, kEnter, kEnter, "Cd"},
       [](const Access& a, uint64_t shown) { return a.op == Op::kMemWrite && a.value == 0xCD && a.addr != shown; }},
      {"1: a disk that did not answer has cells to write, at FFFFFFFFh",
       [](sim::Board& b) {
         b.function(0, 31, 2)->set32(0x90, 0xC0);
         sim::add_ahci_function(b, 8, 0xC2000000u, {.model = "ABORTING DISK", .answer = sim::SimDisk::Answer::kAbort}, 0x1C000000u);
       },
       {kF6, kRight, kDown, kDown, kEnter, kEnter, "de"},
       [](const Access& a, uint64_t) { return a.op == Op::kMemWrite && a.value == 0xDE; }},
      {"2: FDOC written into an Ethernet function at 0:31.5 while RCBA is off",
       [](sim::Board& b) {
         b.function(0, 31, 0)->set32(0xF0, 0xFED1C000);
         sim::PciFunction& nic = b.add_function(0, 31, 5, 0x8086, 0x10D3);
         nic.set32(0x08, 0x02000000);
         nic.set16(0x04, 0x0006);
         nic.set32(0x10, 0xFE020000);
       },
       {kF6, kRight, kDown, kDown, kDown, kEnter},
       [](const Access& a, uint64_t) { return memory_in(a, 0xFE020000, 0xFE020FFF); }},
      {"2: FDOC written behind an AMD function's F0h",
       [](sim::Board& b) {
         b.functions().erase(sim::bdf_key(0, 31, 0));
         b.add_function(0, 31, 0, 0x1022, 0x1234).set32(0xF0, 0xFED1C001);
       },
       {kF6, kRight, kDown, kDown, kDown, kEnter},
       [](const Access& a, uint64_t) { return memory_in(a, 0xFED1F000, 0xFED1FFFF); }},
      {"3: a port found with ST set and FRE clear is probed at start-up",
       [](sim::Board& b) {
         b.ata.clear();  // no firmware pass-thru: kvq's own command path
         b.ahci->ports[0].cmd = 0x8007;
       },
       {},
       [](const Access& a, uint64_t) { return a.op == Op::kMemWrite && memory_in(a, 0xC1054000, 0xC1054FFF); }},
      {"3: ... and after the user left it so from the Memory page",
       [](sim::Board& b) { b.ata.clear(); },
       {kF6, kLeft, kDown, kEnter, "PC1054100", kEnter, kDown, Keys::times(8, kRight), kEnter, "87",
        kF6, kRight, kDown, kDown, kEnter, "i"},
       [](const Access& a, uint64_t) {
         return (a.op == Op::kMemWrite && memory_in(a, 0xC1054100, 0xC105417F)) || a.op == Op::kStall;
       },
       [](const Access& a) { return a == sim::wr(8, 0xC1054118, 0x87); }},
      {"4: Intel's microcode-revision write on a CentaurHauls processor",
       [](sim::Board& b) { b.cpu.cpus[0].leaves[{0, sim::kAnySubleaf}] = {0xD, 0x746E6543, 0x736C7561, 0x48727561}; },
       {kF6, Keys::times(4, kDown), kEnter},
       [](const Access& a, uint64_t) { return a.op == Op::kMsrWrite && a.addr == 0x8B; }},
      {"5: the MAC read at BAR0 + 40h wraps to the real-mode vector table",
       [](sim::Board& b) {
         sim::PciFunction& nic = b.add_function(0, 0x10, 0, 0x8086, 0x10D3);
         nic.set32(0x08, 0x02000000);
         nic.set16(0x04, 0x0007);
         nic.set32(0x10, 0xFFFFFFC0);
       },
       {kF5, kDown, kDown, kDown, kEnter, kPageDown},
       [](const Access& a, uint64_t) { return memory_in(a, 0, 0xFFF); }},
};

class FaultReprosTest : public test::KvqTest, public ::testing::WithParamInterface<size_t> {};

// Start-up and every key are in the log: the fault may lie in either.
TEST_P(FaultReprosTest, TheForbiddenAccessNeverHappens) {
  const Repro& r = kRepros[GetParam()];
  sim::build_q35(board);
  r.board(board);
  board.clear_log();
  start();
  // The entries after Enter and P wait for their digits: the keys are
  // queued whole, and passes run until the last is taken.
  for (const Key& k : r.keys.keys) console().push_key(k);
  while (console().pending_keys() > 0) pass();
  pass();
  const uint64_t shown = title_address();
  bool watching = r.from == nullptr;
  for (const Access& a : board.log()) {
    if (watching) {
      EXPECT_FALSE(r.forbidden(a, shown)) << r.fault << ": " << a;
    }
    watching = watching || r.from(a);
  }
  EXPECT_TRUE(watching) << r.fault << ": the user's own access never came";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultReprosTest, ::testing::Range(size_t{0}, std::size(kRepros)));

}  // namespace
}  // namespace kvq
