// UEFI variables through the firmware's variable services: the walk that
// lists every variable, a variable's attributes, size and bytes, and the one
// way kvq changes a variable: the typed bytes in a copy of what the firmware
// holds, written back with the same attributes and size, then read again.
// kvq never deletes a variable, never changes its attributes or size, never
// calls SetVariable with a size of 0, and never writes an authenticated
// variable (AT or AW), which only a signed update may change.
#pragma once
#include <stdint.h>

#include "platform/variables.h"

namespace kvq::vars {

using plat::EfiStatus;
using plat::Guid;

// The walk's bounds: a firmware that repeats a name, or never ends, or
// hands out absurd names, stops it there.
inline constexpr int kMaxVariables = 2048;
inline constexpr size_t kFirstNameBytes = 64;  // the walk's first name buffer
inline constexpr size_t kMaxNameBytes = 4096;
// A variable kvq reads whole (the rest shows as not read).
inline constexpr uint32_t kMaxDataBytes = 256 * 1024;

enum class WalkEnd : uint8_t {
  kComplete,   // EFI_NOT_FOUND after the last name
  kRepeated,   // the firmware named a variable a second time
  kTooMany,    // kMaxVariables names
  kFailed,     // a status other than EFI_NOT_FOUND (in `status`)
  kNoMemory,   // the pool gave out
};

struct VariableList {
  struct Entry {
    uint32_t name_at;  // in `names`, in characters
    Guid guid;
    uint32_t hash;
  };
  Entry* entries = nullptr;
  int count = 0;
  int capacity = 0;
  char16_t* names = nullptr;
  uint32_t names_used = 0;
  uint32_t names_capacity = 0;
  WalkEnd end = WalkEnd::kComplete;
  EfiStatus status = plat::kEfiSuccess;
  int firmware_calls = 0;

  const char16_t* name(int i) const { return names + entries[i].name_at; }
  const Guid& guid(int i) const { return entries[i].guid; }
};

// Walks GetNextVariableName from the start, in the firmware's order, into
// pool memory (release frees it).
void walk(VariableList* list);
void release(VariableList* list);

// A variable's attributes and size: GetVariable with an empty buffer, or
// with a whole one where the firmware leaves the attributes out of
// EFI_BUFFER_TOO_SMALL.
struct Info {
  EfiStatus status;
  uint32_t attributes;
  uint32_t size;
};
Info info(const char16_t* name, const Guid& guid);

// A variable read whole into pool memory (`data` null unless the status is
// EFI_SUCCESS); free_snapshot gives it back.
struct Snapshot {
  EfiStatus status = plat::kEfiNotFound;
  uint32_t attributes = 0;
  uint32_t size = 0;
  uint8_t* data = nullptr;
};
Snapshot read(const char16_t* name, const Guid& guid);
void free_snapshot(Snapshot* s);

// AT or AW (or the enhanced authenticated access of UEFI 2.8): a write
// needs the firmware's authentication.
constexpr bool authenticated(uint32_t attributes) {
  return (attributes & (plat::kVarAuthenticatedWrite | plat::kVarTimeAuthenticatedWrite |
                        plat::kVarEnhancedAuthenticatedAccess)) != 0;
}

// The attributes as the Shell's dmpstore writes them: "NV+RT+BS+AT".
inline constexpr int kAttributesTextSize = 24;
void attributes_text(uint32_t attributes, char16_t (&out)[kAttributesTextSize]);

// A GUID as text ("8BE4DF61-93CA-11D2-AA0D-00E098032B8C"), or the Shell's
// short name of a well-known one ("EFIGlobalVariable") when `short_name`.
inline constexpr int kGuidTextSize = 37;
void guid_text(const Guid& guid, char16_t (&out)[kGuidTextSize], bool short_name = true);
// Text as the Shell takes a GUID: its 36 characters or a short name, in any
// case.
bool parse_guid(const char16_t* text, Guid* guid);

// "EFI_WRITE_PROTECTED", or "EFI status 8000000000000017" for one kvq does
// not name.
void status_text(EfiStatus status, char16_t (&out)[32]);

// A change of `bytes` (1, 2 or 4) bytes at `offset`, little-endian. Before
// SetVariable `before_write` sees the variable as the firmware held it and
// may cancel (return false): nothing is written then.
enum class Outcome : uint8_t {
  kWritten,     // SetVariable succeeded; `value` is what reads back
  kReadFailed,  // GetVariable failed (`status`)
  kReadOnly,    // AT or AW
  kOutside,     // the bytes do not lie within the variable
  kRefused,     // SetVariable failed (`status`); the variable is as it was
  kCancelled,   // before_write said no
};
struct ChangeResult {
  Outcome outcome;
  EfiStatus status;
  uint32_t value;  // the bytes at `offset` after the change, read again
  EfiStatus reread;  // the status of that read
};
using BeforeWrite = bool (*)(const char16_t* name, const Guid& guid, const Snapshot& original, void* context);
ChangeResult change(const char16_t* name, const Guid& guid, uint32_t offset, int bytes, uint32_t value,
                    BeforeWrite before_write, void* context);

// Puts a whole variable back as recorded (the undo file): SetVariable with
// the recorded attributes and bytes, then GetVariable to check; nothing when
// it already holds them (a write the firmware refused left it so). Never
// with a size of 0, never an authenticated variable.
struct RestoreResult {
  Outcome outcome;  // kWritten (`same`: it reads back as recorded; `needed`: a SetVariable was made),
                    // kReadOnly, kOutside (0 bytes), kRefused
  EfiStatus status;
  bool same;
  bool needed;
};
RestoreResult restore(const char16_t* name, const Guid& guid, uint32_t attributes, const uint8_t* data,
                      uint32_t size);

}  // namespace kvq::vars
