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

// "Package list 7235C51C-...: opcode 77h at 01A4h is unknown"; empty for a
// list that parsed whole.
void problem_text(const Db& db, uint32_t list, char16_t* out, int capacity);

}  // namespace kvq::setup
