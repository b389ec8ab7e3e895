// The firmware's Setup options: every package list the HII database holds,
// parsed (hw/hii_ifr), and the current value of every question, read
// through the configuration routing protocol with one <ConfigRequest> per
// variable store, as the Setup browser reads them. Nothing here draws.
#pragma once
#include <stdint.h>

#include "hw/hii_ifr.h"
#include "platform/hii.h"
#include "platform/pool_array.h"

namespace kvq::setup {

// What the last read left of one variable store: its bytes as the firmware
// gave them, which of them it gave, and the status of the read.
struct StoreValues {
  uint8_t* bytes;
  uint8_t* known;
  plat::EfiStatus status;
  // The NAME its driver answers to where that is not the store's own
  // (kDriverNames in setup.cpp); null: its own.
  const char16_t* driver_name;
};

struct Db {
  plat::HiiPackageLists exported;
  hii::Model model;
  PoolArray<StoreValues> values;  // by store
  bool loaded = false;
  bool database = false;  // the firmware has an HII database
  void release();
};

// Exports and parses every package list, once. False when the firmware has
// no HII database.
bool load(Db& db);

// Reads every store's questions through ExtractConfig: one request per
// store; when the firmware refuses it, one per question, so that one
// question it refuses hides no other.
void read_values(Db& db);

// Why a question's value cannot be read or written, or kReachable.
enum class Reach : uint8_t { kReachable, kNoStore, kBitField, kBeyondStore, kNoPath };
Reach reach(const Db& db, const hii::Question& q);
const char16_t* reach_text(Reach r);

// The question's bytes as last read, null when the firmware did not give
// them; and as a number (up to eight bytes, little-endian).
const uint8_t* raw_value(const Db& db, const hii::Question& q);
bool value(const Db& db, const hii::Question& q, uint64_t* v);

// The conditions around the question or an option of it, over the values
// read.
hii::Shown shown(const Db& db, const hii::Question& q);
hii::Shown option_shown(const Db& db, const hii::Question& q, const hii::Option& o);

// The value as the page shows it: a one-of's option text, [X] or [ ] for a
// checkbox, a numeric in its display base, a string's text, an ordered
// list's bytes; "?" when it is not known.
void value_text(const Db& db, const hii::Question& q, char16_t* out, int capacity);

// --- Changes ---------------------------------------------------------------

// kvq writes one-of, checkbox and numeric questions (at most eight bytes)
// of buffer and EFI variable stores; a name/value store's are shown only.
bool writable_kind(const hii::Question& q);
inline constexpr uint32_t kMaxWriteBytes = 8;

// Whether the question allows `value`: one of its options' values, 0 or 1
// for a checkbox, a numeric's min..max (signed where it shows signed).
bool allows(const Db& db, const hii::Question& q, uint64_t value);

enum class Outcome : uint8_t {
  kWritten,
  kRefused,      // RouteConfig failed: status and progress say where
  kNotAllowed,   // a value the question does not allow
  kReadOnly,     // the question is read-only
  kNotWritable,  // a string, an ordered list, or in a name/value store
  kUnreachable,  // see reach()
  kReadFailed,   // ExtractConfig did not give the question's bytes
  kCancelled,    // the caller's before-write said no
};

struct WriteResult {
  Outcome outcome;
  plat::EfiStatus status;  // RouteConfig's, or the failed read's
  size_t progress;         // where RouteConfig stopped in the <ConfigResp>
  bool read_back;
  uint64_t value;  // as ExtractConfig reads it back
};

// Sees the question's bytes as the firmware holds them, just before the
// write; false cancels it.
using BeforeWrite = bool (*)(const Db& db, const hii::Question& q, const uint8_t* old, void* ctx);

// A change as the Setup browser makes it: ExtractConfig of the question's
// bytes, `before`, RouteConfig of a <ConfigResp> for exactly its offset and
// width in its store (PATH: the device path of the driver that registered
// the forms), ExtractConfig again. Only a value the question allows.
WriteResult write(Db& db, uint32_t question, uint64_t value, BeforeWrite before, void* ctx);
// The same for bytes recorded earlier (undo): no rule of the question's.
WriteResult put_bytes(Db& db, uint32_t question, const uint8_t* bytes, BeforeWrite before, void* ctx);

// The question of a form set whose store (by its name in the forms) holds
// it at `offset`: the first such, or -1.
int32_t find_question(const Db& db, const plat::Guid& formset, const char16_t* store, uint32_t offset);

// "Package list 7235C51C-...: opcode 77h at 01A4h is unknown"; empty for a
// list that parsed whole.
void problem_text(const Db& db, uint32_t list, char16_t* out, int capacity);

}  // namespace kvq::setup
