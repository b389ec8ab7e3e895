// kvq's command-line modes, for Shell scripts: the table of commands and the
// parser that turns the Shell's arguments into one checked command. Nothing
// here touches the hardware, so a command line that does not parse cannot
// have written anything.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "platform/firmware.h"

namespace kvq::cli {

// kTime: the same read many times, for timing it from outside.
// kUndo: put back what the undo file recorded.
enum class Action : uint8_t { kHelp, kDump, kRead, kWrite, kTime, kUndo };
enum class Space : uint8_t { kNone, kPci, kMem, kIo, kAcpi, kMsr, kCpuid, kVar, kSetup };

// The arguments after the space, each with its name in messages and usage.
// kConfirm: the word "confirm", which a write that asks first needs.
enum class Arg : uint8_t {
  kNone, kFunction, kOffset, kAddress, kPort, kValue, kWidth, kIndex, kValue64, kCount,
  kName, kGuid, kVarOffset, kFile,  // a variable's name and GUID, a byte in it; a file as the Shell names it
  kConfirm,
  kFormSet, kStore, kStoreOffset,  // a Setup question's form set (a GUID), its varstore (a name), its offset
};

inline constexpr int kMaxArgs = 5;

struct CommandForm {
  const char16_t* verb;
  const char16_t* space;  // nullptr: the verb stands alone
  Action action;
  Space target;
  // In order; a width or a confirm may stand only last, and may be left
  // out (byte; not confirmed).
  Arg args[kMaxArgs];
  bool listed;  // in the usage text
  // Arguments that must be given; the others may be left out from the
  // end (a width always may).
  uint8_t required = kMaxArgs;
};

extern const CommandForm kCommands[];
extern const int kCommandCount;

struct Command {
  const CommandForm* form = nullptr;
  pci::Bdf function;
  uint64_t where = 0;  // configuration offset, memory address, port or MSR index
  uint64_t value = 0;
  int size = 1;  // bytes: 1, 2 or 4; 8 for an MSR
  bool confirmed = false;
  // A variable's name and GUID (a Setup question's varstore name and form
  // set GUID); whether an offset was given; a file.
  const char16_t* name = nullptr;
  plat::Guid guid{};
  bool has_offset = false;
  const char16_t* file = nullptr;
};

inline constexpr int kMessageCapacity = 160;

struct ParseResult {
  bool ok = false;
  Command command;
  // When the line does not parse: one line naming the argument, and the
  // command whose usage to show (nullptr: the general usage).
  char16_t message[kMessageCapacity] = {};
  const CommandForm* usage = nullptr;
};

// Bits of a memory address the image takes: 64 on x64, 32 on IA-32, whose
// identity map ends at 4 GiB.
inline constexpr int kImageAddressBits = sizeof(void*) == 8 ? 64 : 32;

// `argv` holds the arguments after the program's name. Every number is
// hexadecimal, with or without 0x; words are taken in any case. A memory
// address has `address_bits` bits at most.
ParseResult parse(int argc, const char16_t* const* argv, int address_bits = kImageAddressBits);

// "read pci BB:DD.F OFFSET [b|w|d]"
void synopsis(const CommandForm& form, char16_t* out, int capacity);

}  // namespace kvq::cli
