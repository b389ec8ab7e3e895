// The undo file: before kvq first changes a store in a run (a UEFI
// variable; a Setup question's bytes in a varstore), it appends what the
// store held to kvq-undo.txt beside its image; `kvq.efi undo [FILE]` puts
// back every record of the file, newest first, and reports each one.
//
// The file is text, one record after another, each a header line and its
// bytes in hexadecimal, 32 to a line, each such line indented by two
// blanks:
//
//   var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000002 Timeout
//     0500
//
// The header: the kind ("var", "setup"), a GUID (the variable's vendor GUID;
// the form set's), the attributes (a variable's; 0), the offset (0 for a
// variable, whose record holds all its bytes; a question's offset in its
// varstore), the byte count, then the name to the end of the line (the
// variable's; the varstore's), with "\\" for a backslash and "\uXXXX" for a
// character outside printable ASCII. A record whose bytes were cut short
// is reported and skipped. Records add up: undo ends with what the store
// held before the oldest record's change.
#pragma once
#include <stdint.h>

#include "app/commands.h"
#include "hw/variables.h"
#include "platform/variables.h"

namespace kvq::undo {

inline constexpr const char16_t* kFileName = u"kvq-undo.txt";

enum class Kind : uint8_t { kVariable, kSetup };

// One store's bytes before kvq's change.
struct Record {
  Kind kind = Kind::kVariable;
  plat::Guid guid{};             // a variable's vendor GUID; Setup: the form set's GUID
  const char16_t* name = u"";    // the variable's name; Setup: the varstore's name
  uint32_t attributes = 0;       // a variable's attributes; Setup: 0
  uint32_t offset = 0;           // Setup: the question's offset; a variable: 0
  const uint8_t* bytes = nullptr;  // a variable's whole data; a question's width
  uint32_t size = 0;
};

// A kvq run starts: nothing is recorded yet (start-up and the command line).
void begin_run();

// Appends `r` to the undo file beside the image, unless this run recorded
// the same kind, GUID, name and offset already. The append's status
// (EFI_SUCCESS when already recorded).
plat::EfiStatus record_once(const Record& r);

// record_once for a variable as the firmware held it before a change;
// false with the status's name in `why` when the file cannot be written.
bool record_variable_once(const char16_t* name, const plat::Guid& guid, const vars::Snapshot& original,
                          char16_t (&why)[32]);

// Puts one record back; false when it could not, with a message either way
// (at most `capacity` characters, no line end).
using Restore = bool (*)(const Record& r, char16_t* message, int capacity);

// `kvq.efi undo [FILE]`: FILE as the Shell names it, or kvq-undo.txt beside
// the image.
cli::Status run(const char16_t* path);

}  // namespace kvq::undo
