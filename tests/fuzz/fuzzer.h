// The key fuzzer: kvq's start-up and main loop on a simulated board and the
// test console, driven by random keys from a fixed seed. After every pass it
// audits every hardware write the board logged, the keys the pass took, the
// application state and the screen; a failing run is shrunk to the shortest
// key sequence that still fails.
#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/state.h"
#include "platform/keys.h"
#include "platform/sim/board.h"

namespace kvq::fuzz {

// One step of a script: a key, or a marker between two chunks of keys. The
// keys of a chunk are queued together (so a modal entry reads the digits
// that follow it), and passes run until the chunk is taken; kIdle then runs
// one pass with no key waiting.
struct Step {
  enum Kind : uint8_t { kKey, kIdle, kSync };
  Kind kind;
  Key key;
};
using Script = std::vector<Step>;

// The boards the fuzzer runs on.
enum class BoardKind : int {
  kQ35,        // QEMU's Q35 as OVMF leaves it
  kChips,      // ... with Super I/O chips at 2Eh, 4Eh, 6Eh
  kEcChips,    // ... an embedded controller and two chips; no list mode; a full variable store
  kEmpty,      // no PCI function, no disk, no SMBIOS
  kCrowded,    // 768 functions on buses 0 to 2
  kOddPci,     // capability loops, BAR0 0 or all ones, odd SMBIOS, no ABAR, page table holes,
               // a variable walk that repeats itself
  kOddDisks,   // AHCI ports that hang, abort, or were never set up; RAID mode; another AHCI, NVMe
  kSegments,   // a host bridge in segment 0, functions in segment 1; the firmware's timer takes CF8
};
inline constexpr int kBoardKinds = 8;
const char* board_name(BoardKind kind);

// Extra devices a self-check plants on a board.
using BoardExtra = std::function<void(sim::Board&)>;

struct Failure {
  std::string check;  // "write", "keys", "state", "screen"
  std::string detail;
};

// What a run reached: passes per page and width, entries completed.
struct Coverage {
  long passes[kPageCount][kWidthCount] = {};
  long value_entries[kPageCount] = {};  // completed, by page
  long address_entries[kPageCount] = {};
  long global_keys[kPageCount][3] = {};  // F5, F6, Esc taken by the loop
  long capability_steps = 0;  // c on the PCIE page, onto a capability's header
  long tables_opened = 0;                 // Enter on the ACPI page
  // Pages, widths and entries that every campaign is expected to reach.
  std::vector<std::string> missing() const;
  void add(const Coverage& other);
};

struct RunResult {
  std::optional<Failure> failure;
  long passes = 0;
  long keys = 0;
};

// Runs a script from start-up on a fresh board, then one last idle pass.
// `trace` gets one line per pass.
RunResult run_script(BoardKind kind, const Script& script, const BoardExtra& extra = {},
                     std::ostream* trace = nullptr, Coverage* coverage = nullptr);

// Generates a sequence of about `keys` keys from `seed`, steered by the page
// on the screen, and runs it as it goes.
struct Sequence {
  BoardKind kind;
  Script script;
  RunResult result;
};
Sequence generate(uint64_t seed, long keys, const BoardExtra& extra = {}, std::ostream* trace = nullptr,
                  Coverage* coverage = nullptr);

// The shortest script found by deleting steps that still fails the same
// check.
Script shrink(BoardKind kind, Script script, const std::string& check, const BoardExtra& extra = {});

// Keys by name, chunks separated by "|", idle passes as "(idle)".
std::string describe(const Script& script);

}  // namespace kvq::fuzz
