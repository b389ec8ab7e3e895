// The firmware's forms as their IFR (the binary of a form package) states
// them: form sets, forms, variable stores, and the questions with their
// storage, flags, options, defaults and the SuppressIf, GrayOutIf and
// DisableIf scopes around them. Parsing never leaves a package: a length
// that runs past it, an unknown opcode or an unbalanced scope stops that
// package list after its last good opcode and names the fault.
#pragma once
#include <stdint.h>

#include "hw/hii_package.h"
#include "platform/hii.h"
#include "platform/pool_array.h"

namespace kvq::hii {

struct List {
  Bytes bytes;  // the exported package list
  const uint8_t* path;  // its driver's device path, end node included
  uint32_t path_size;
  plat::Guid guid;
  StringTable strings;
  // The first fault found in it; empty when it parsed whole.
  char16_t problem[kProblemCapacity];
};

struct FormSet {
  uint32_t list;
  plat::Guid guid;
  uint16_t title;
  uint16_t help;
  // Its questions, which the IFR lists together: [first_question, end_question).
  uint32_t first_question;
  uint32_t end_question;
};

struct Form {
  uint32_t formset;
  uint16_t id;
  uint16_t title;
};

enum class StoreKind : uint8_t { kBuffer, kEfi, kNameValue };

struct Store {
  uint32_t formset;
  StoreKind kind;
  uint16_t id;
  plat::Guid guid;
  uint16_t size;      // bytes; for name/value, what its questions take
  uint32_t name_at;   // its ASCII name in the list (0: none)
  uint8_t name_length;
  uint32_t attributes;  // an EFI variable store's variable attributes
};

enum class Kind : uint8_t { kOneOf, kCheckBox, kNumeric, kString, kOrderedList };

// Question flags.
inline constexpr uint8_t kReadOnly = 0x01;
inline constexpr uint8_t kCallback = 0x04;  // interactive: the driver's form callback runs
inline constexpr uint8_t kResetRequired = 0x10;
inline constexpr uint8_t kReconnectRequired = 0x40;
// The opcode's own flags: a numeric's (and a one-of's) size and display.
inline constexpr uint8_t kNumericSizeMask = 0x03;
inline constexpr uint8_t kDisplayMask = 0x30;
inline constexpr uint8_t kDisplaySigned = 0x00;
inline constexpr uint8_t kDisplayHex = 0x20;
// An option's flags.
inline constexpr uint8_t kOptionDefault = 0x10;
inline constexpr uint8_t kOptionDefaultMfg = 0x20;

struct Question {
  uint32_t formset;
  int32_t form;       // -1: outside any form
  int32_t store;      // index in the stores, -1: none
  int32_t condition;  // the innermost condition around it, -1: none
  uint32_t at;        // its opcode's offset in the list
  uint32_t first_option;
  uint16_t option_count;
  Kind kind;
  uint8_t flags;       // question flags
  uint8_t type_flags;  // the opcode's own flags
  // In a bit-field variable store its offset and width count bits: kvq
  // reads and writes none of it.
  bool bit_field;
  uint16_t prompt;
  uint16_t help;
  uint16_t id;
  uint16_t store_id;
  uint16_t offset;  // VarOffset; for a name/value store, the value's name (a string ID)
  uint16_t width;   // bytes it takes in the store
  uint16_t slot;    // a name/value store's question: where kvq keeps its value
  uint64_t min;
  uint64_t max;
  uint64_t step;
  bool has_default;
  bool default_known;  // false: the default is an expression
  uint64_t default_value;
};

struct Option {
  uint16_t text;
  uint8_t flags;
  uint8_t type;
  uint64_t value;
  int32_t condition;
};

enum class CondKind : uint8_t { kSuppressIf, kGrayOutIf, kDisableIf };

// A condition scope: its kind, the one around it, and where its expression
// lies in the list (the opcodes from `begin` to `end`).
struct Condition {
  CondKind kind;
  int32_t parent;
  uint32_t list;
  uint32_t begin;
  uint32_t end;
};

struct Model {
  PoolArray<List> lists;
  PoolArray<FormSet> formsets;
  PoolArray<Form> forms;
  PoolArray<Store> stores;
  PoolArray<Question> questions;
  PoolArray<Option> options;
  PoolArray<Condition> conditions;
  void release();
};

// Parses one exported package list into the model: its strings, then every
// form package in it.
void add_list(Model& m, const plat::HiiPackageList& source);

// Texts of the model's strings and names.
int text(const Model& m, uint32_t list, uint16_t id, char16_t* out, int capacity);
void store_name(const Model& m, const Store& s, char16_t* out, int capacity);
const List& list_of(const Model& m, const Question& q);
// "ONE_OF"; null for a byte that is no IFR opcode.
const char* opcode_name(uint8_t op);

// What a condition's expression gives. kUnknown: it needs a value kvq does
// not have; kUnsupported: it uses an opcode kvq does not evaluate.
enum class Truth : uint8_t { kFalse, kTrue, kUnknown, kUnsupported };

// The current value of a question of a form set, by its question ID;
// false when it is not known.
using ValueOf = bool (*)(void* ctx, uint32_t formset, uint16_t question, uint64_t* value);

Truth evaluate(const Model& m, const Condition& c, uint32_t formset, ValueOf value_of, void* ctx);

// What the conditions around a question (or an option) make of it.
enum class Shown : uint8_t { kShown, kGreyed, kHidden, kUnknown };
Shown outcome(const Model& m, int32_t condition, uint32_t formset, ValueOf value_of, void* ctx);

// The condition as VFR writes it: "suppressif ideqval 0x1001 == 0x3";
// one that kvq cannot evaluate as "?" and its opcodes.
void condition_text(const Model& m, const Condition& c, char16_t* out, int capacity);

}  // namespace kvq::hii
