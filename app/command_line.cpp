#include "app/command_line.h"

#include "hw/cpu.h"
#include "hw/variables.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq::cli {

constexpr CommandForm kCommands[] = {
    {.verb = u"-h", .space = nullptr, .action = Action::kHelp, .target = Space::kNone, .args = {}, .listed = true},
    {.verb = u"-?", .space = nullptr, .action = Action::kHelp, .target = Space::kNone, .args = {}, .listed = false},
    {.verb = u"dump", .space = u"pci", .action = Action::kDump, .target = Space::kPci, .args = {}, .listed = true},
    {.verb = u"dump", .space = u"acpi", .action = Action::kDump, .target = Space::kAcpi, .args = {}, .listed = true},
    {.verb = u"dump", .space = u"cpuid", .action = Action::kDump, .target = Space::kCpuid, .args = {}, .listed = true},
    {.verb = u"dump", .space = u"vars", .action = Action::kDump, .target = Space::kVar, .args = {}, .listed = true},
    {.verb = u"dump", .space = u"setup", .action = Action::kDump, .target = Space::kSetup, .args = {}, .listed = true},
    {.verb = u"read",
     .space = u"pci",
     .action = Action::kRead,
     .target = Space::kPci,
     .args = {Arg::kFunction, Arg::kOffset, Arg::kWidth},
     .listed = true},
    {.verb = u"read",
     .space = u"mem",
     .action = Action::kRead,
     .target = Space::kMem,
     .args = {Arg::kAddress, Arg::kWidth},
     .listed = true},
    {.verb = u"read",
     .space = u"io",
     .action = Action::kRead,
     .target = Space::kIo,
     .args = {Arg::kPort, Arg::kWidth},
     .listed = true},
    {.verb = u"read", .space = u"msr", .action = Action::kRead, .target = Space::kMsr, .args = {Arg::kIndex}, .listed = true},
    {.verb = u"read",
     .space = u"var",
     .action = Action::kRead,
     .target = Space::kVar,
     .args = {Arg::kName, Arg::kGuid, Arg::kVarOffset, Arg::kWidth},
     .listed = true,
     .required = 2},
    {.verb = u"write",
     .space = u"pci",
     .action = Action::kWrite,
     .target = Space::kPci,
     .args = {Arg::kFunction, Arg::kOffset, Arg::kValue, Arg::kWidth},
     .listed = true},
    {.verb = u"write",
     .space = u"mem",
     .action = Action::kWrite,
     .target = Space::kMem,
     .args = {Arg::kAddress, Arg::kValue, Arg::kWidth},
     .listed = true},
    {.verb = u"write",
     .space = u"io",
     .action = Action::kWrite,
     .target = Space::kIo,
     .args = {Arg::kPort, Arg::kValue, Arg::kWidth},
     .listed = true},
    {.verb = u"write",
     .space = u"msr",
     .action = Action::kWrite,
     .target = Space::kMsr,
     .args = {Arg::kIndex, Arg::kValue64, Arg::kConfirm},
     .listed = true,
     .required = 2},
    {.verb = u"write",
     .space = u"var",
     .action = Action::kWrite,
     .target = Space::kVar,
     .args = {Arg::kName, Arg::kGuid, Arg::kVarOffset, Arg::kValue, Arg::kWidth},
     .listed = true},
    {.verb = u"write",
     .space = u"setup",
     .action = Action::kWrite,
     .target = Space::kSetup,
     .args = {Arg::kFormSet, Arg::kStore, Arg::kStoreOffset, Arg::kValue, Arg::kWidth},
     .listed = true},
    {.verb = u"undo", .space = nullptr, .action = Action::kUndo, .target = Space::kNone, .args = {Arg::kFile},
     .listed = true, .required = 0},
    // Not listed: it measures what one guarded read costs on a board.
    {.verb = u"time",
     .space = u"msr",
     .action = Action::kTime,
     .target = Space::kMsr,
     .args = {Arg::kIndex, Arg::kCount},
     .listed = false},
    // Not listed: COUNT walks of the variable list, for timing the walk.
    {.verb = u"time", .space = u"vars", .action = Action::kTime, .target = Space::kVar, .args = {Arg::kCount},
     .listed = false},
    // Not listed: it measures what exporting and parsing the forms cost.
    {.verb = u"time",
     .space = u"setup",
     .action = Action::kTime,
     .target = Space::kSetup,
     .args = {Arg::kCount},
     .listed = false},
};

constexpr int kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

namespace {

struct ArgInfo {
  Arg kind;
  const char16_t* name;
  uint64_t max;  // numbers only; an address's is the image's (below)
};

constexpr ArgInfo kArgInfo[] = {
    {Arg::kNone, u"", 0},
    {Arg::kFunction, u"BB:DD.F", 0},
    {Arg::kOffset, u"OFFSET", 0xFFF},
    {Arg::kAddress, u"ADDRESS", 0},
    {Arg::kPort, u"PORT", 0xFFFF},
    {Arg::kValue, u"VALUE", 0xFFFFFFFFu},
    {Arg::kWidth, u"[b|w|d]", 0},
    {Arg::kIndex, u"INDEX", 0xFFFFFFFFu},
    {Arg::kValue64, u"VALUE", ~uint64_t{0}},
    {Arg::kCount, u"COUNT", 0xFFFFFF},
    {Arg::kName, u"NAME", 0},
    {Arg::kGuid, u"GUID", 0},
    {Arg::kVarOffset, u"OFFSET", vars::kMaxDataBytes - 1},
    {Arg::kFile, u"FILE", 0},
    {Arg::kConfirm, u"confirm", 0},
    {Arg::kFormSet, u"FORMSET-GUID", 0},
    {Arg::kStore, u"VARSTORE", 0},
    {Arg::kStoreOffset, u"OFFSET", 0xFFFF},
};

constexpr const ArgInfo& info(Arg a) { return kArgInfo[static_cast<int>(a)]; }

// Compile-time checks of the tables: the argument names stand at their
// kind's index; every command's width or confirm is last; no verb and
// space twice.
constexpr bool tables_sound() {
  for (int i = 0; i < static_cast<int>(sizeof(kArgInfo) / sizeof(kArgInfo[0])); ++i) {
    if (static_cast<int>(kArgInfo[i].kind) != i) return false;
  }
  for (const CommandForm& c : kCommands) {
    bool ended = false;
    for (int i = 0; i < kMaxArgs; ++i) {
      if (ended && c.args[i] != Arg::kNone) return false;
      if (c.args[i] == Arg::kWidth || c.args[i] == Arg::kConfirm || c.args[i] == Arg::kNone) ended = true;
    }
    if ((c.space == nullptr) != (c.target == Space::kNone)) return false;
    if (c.required < kMaxArgs && c.args[c.required] == Arg::kNone) return false;
    for (const CommandForm& d : kCommands) {
      if (&c != &d && same_text(c.verb, d.verb) && same_text(c.space, d.space)) return false;
    }
  }
  return true;
}
static_assert(tables_sound());

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool word_is(const char16_t* arg, const char16_t* word) {
  while (*arg != 0 && lower(*arg) == *word) ++arg, ++word;
  return *arg == 0 && *word == 0;
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  c = lower(c);
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

enum class Number : uint8_t { kOk, kNotHex, kTooBig };

// Hex digits from `s` to `end` (or the NUL), with an optional 0x; values
// above `max` are too big, however many digits they have.
Number parse_hex(const char16_t* s, const char16_t* end, uint64_t max, uint64_t* value) {
  if (s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) s += 2;
  if (s == end || *s == 0) return Number::kNotHex;
  uint64_t v = 0;
  bool too_big = false;
  for (; s != end && *s != 0; ++s) {
    const int d = hex_digit(*s);
    if (d < 0) return Number::kNotHex;
    // Checked before the shift, which would lose the top digit.
    too_big = too_big || v > (max >> 4) || (v << 4 | static_cast<uint64_t>(d)) > max;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  if (too_big) return Number::kTooBig;
  *value = v;
  return Number::kOk;
}

Number parse_hex32(const char16_t* s, const char16_t* end, uint32_t max, uint32_t* value) {
  uint64_t v = 0;
  const Number n = parse_hex(s, end, max, &v);
  if (n == Number::kOk) *value = static_cast<uint32_t>(v);
  return n;
}

const char16_t* size_name(int size) {
  return size == 8 ? u"a qword" : size == 4 ? u"a dword" : (size == 2 ? u"a word" : u"a byte");
}

class Parser {
 public:
  Parser(int argc, const char16_t* const* argv, int address_bits)
      : argc_(argc), argv_(argv), address_max_(address_bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << address_bits) - 1) {}
  ParseResult run();

 private:
  template <class... A>
  bool fail(const char16_t* fmt, const A&... args) {
    sformat(result_.message, kMessageCapacity, fmt, args...);
    return false;
  }
  const CommandForm* find_command();
  bool take(Arg kind, const char16_t* text);
  bool take_number(Arg kind, const char16_t* text, uint64_t* value);
  bool take_function(const char16_t* text);
  bool take_width(const char16_t* text);
  bool check_whole(const CommandForm& form);

  int argc_;
  const char16_t* const* argv_;
  int next_ = 0;
  uint64_t address_max_;
  const char16_t* where_text_ = u"";
  const char16_t* value_text_ = u"";
  ParseResult result_;
};

const CommandForm* Parser::find_command() {
  if (argc_ < 1) {
    fail(u"kvq: no command");
    return nullptr;
  }
  const char16_t* verb = argv_[0];
  const CommandForm* first = nullptr;
  for (const CommandForm& c : kCommands) {
    if (!word_is(verb, c.verb)) continue;
    if (first == nullptr) first = &c;
    if (c.space == nullptr) return &c;
    if (argc_ >= 2 && word_is(argv_[1], c.space)) return &c;
  }
  if (first == nullptr) {
    fail(u"kvq: unknown command \"%s\"", verb);
    return nullptr;
  }
  // The spaces the verb takes, from the table: "pci", "pci, mem or io".
  const char16_t* taken[kCommandCount] = {};
  int count = 0;
  for (const CommandForm& c : kCommands) {
    if (same_text(c.verb, first->verb)) taken[count++] = c.space;
  }
  char16_t spaces[32] = {};
  for (int i = 0, n = 0; i < count; ++i) {
    const char16_t* sep = i == 0 ? u"" : (i == count - 1 ? u" or " : u", ");
    n += sformat(spaces + n, 32 - n, u"%s%s", sep, taken[i]);
  }
  if (argc_ < 2) {
    fail(u"kvq: %s needs a space: %s", first->verb, spaces);
  } else {
    fail(u"kvq: %s takes %s, not \"%s\"", first->verb, spaces, argv_[1]);
  }
  return nullptr;
}

bool Parser::take_number(Arg kind, const char16_t* text, uint64_t* value) {
  const ArgInfo& a = info(kind);
  const uint64_t max = kind == Arg::kAddress ? address_max_ : a.max;
  switch (parse_hex(text, nullptr, max, value)) {
    case Number::kOk:
      return true;
    case Number::kNotHex:
      return fail(u"kvq: %s \"%s\" is not a hexadecimal number", a.name, text);
    case Number::kTooBig:
      break;
  }
  return fail(u"kvq: %s \"%s\" is above %X", a.name, text, max);
}

// [SSSS:]BB:DD.F as lspci writes it: segment, bus and device in hex, the
// function a digit.
bool Parser::take_function(const char16_t* text) {
  const char16_t* colons[2] = {};
  const char16_t* dot = nullptr;
  int n_colons = 0;
  bool shape = true;
  for (const char16_t* p = text; *p != 0; ++p) {
    if (*p == u':' && dot == nullptr && n_colons < 2) {
      colons[n_colons++] = p;
    } else if (*p == u'.' && n_colons > 0 && dot == nullptr) {
      dot = p;
    } else if (*p == u':' || *p == u'.') {
      shape = false;
    }
  }
  const char16_t* name = info(Arg::kFunction).name;
  uint32_t segment = 0;
  uint32_t bus = 0;
  uint32_t device = 0;
  uint32_t function = 0;
  Number n[4] = {Number::kOk, Number::kNotHex, Number::kNotHex, Number::kNotHex};
  if (shape && dot != nullptr) {
    const char16_t* bus_text = text;
    if (n_colons == 2) {
      n[0] = parse_hex32(text, colons[0], 0xFFFF, &segment);
      bus_text = colons[0] + 1;
    }
    n[1] = parse_hex32(bus_text, colons[n_colons - 1], 0xFF, &bus);
    n[2] = parse_hex32(colons[n_colons - 1] + 1, dot, 0x1F, &device);
    n[3] = parse_hex32(dot + 1, nullptr, 7, &function);
  }
  for (const Number x : n) {
    if (x == Number::kNotHex) return fail(u"kvq: %s \"%s\" is not a function address like 00:1f.2", name, text);
  }
  if (n[0] == Number::kTooBig) return fail(u"kvq: %s \"%s\" has a segment above FFFF", name, text);
  if (n[1] == Number::kTooBig) return fail(u"kvq: %s \"%s\" has a bus above FF", name, text);
  if (n[2] == Number::kTooBig) return fail(u"kvq: %s \"%s\" has a device above 1F", name, text);
  if (n[3] == Number::kTooBig) return fail(u"kvq: %s \"%s\" has a function above 7", name, text);
  result_.command.function = pci::Bdf{static_cast<uint16_t>(segment), static_cast<uint8_t>(bus),
                                      static_cast<uint8_t>(device), static_cast<uint8_t>(function)};
  return true;
}

bool Parser::take_width(const char16_t* text) {
  static constexpr struct {
    const char16_t* word;
    int size;
  } kWidths[] = {{u"b", 1}, {u"w", 2}, {u"d", 4}};
  for (const auto& w : kWidths) {
    if (word_is(text, w.word)) {
      result_.command.size = w.size;
      return true;
    }
  }
  return fail(u"kvq: width \"%s\" is not b, w or d", text);
}

bool Parser::take(Arg kind, const char16_t* text) {
  Command& c = result_.command;
  switch (kind) {
    case Arg::kFunction:
      return take_function(text);
    case Arg::kWidth:
      return take_width(text);
    case Arg::kValue:
    case Arg::kValue64:
    case Arg::kCount:
      value_text_ = text;
      return take_number(kind, text, &c.value);
    case Arg::kOffset:
    case Arg::kAddress:
    case Arg::kPort:
    case Arg::kIndex:
    case Arg::kVarOffset:
    case Arg::kStoreOffset:
      where_text_ = text;
      c.has_offset = true;
      return take_number(kind, text, &c.where);
    case Arg::kConfirm:
      c.confirmed = word_is(text, u"confirm");
      return c.confirmed || fail(u"kvq: unexpected argument \"%s\"", text);
    case Arg::kName:
    case Arg::kStore:
      c.name = text;
      return text[0] != 0 || fail(u"kvq: %s is empty", info(kind).name);
    case Arg::kFormSet:
    case Arg::kGuid:
      return vars::parse_guid(text, &c.guid) ||
             fail(u"kvq: GUID \"%s\" is neither a GUID like 8BE4DF61-93CA-11D2-AA0D-00E098032B8C nor a name "
                  u"such as EFIGlobalVariable",
                  text);
    case Arg::kFile:
      c.file = text;
      return true;
    case Arg::kNone:
      break;
  }
  return false;
}

// What only the whole line tells: a value that fits the width, a
// configuration register at an offset of its own width (a word at 3Dh is
// no register), an access that stays inside its space.
bool Parser::check_whole(const CommandForm& form) {
  const Command& c = result_.command;
  const uint64_t width_mask = c.size >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * c.size)) - 1;
  if (form.action == Action::kWrite && (c.value & ~width_mask) != 0) {
    return fail(u"kvq: VALUE \"%s\" does not fit in %s", value_text_, size_name(c.size));
  }
  const uint64_t last = c.where + static_cast<uint64_t>(c.size - 1);
  switch (form.target) {
    case Space::kPci:
      if (c.where % static_cast<uint64_t>(c.size) != 0) {
        return fail(u"kvq: OFFSET \"%s\" is not aligned to %s", where_text_, size_name(c.size));
      }
      break;
    case Space::kMem:
      if (last < c.where || last > address_max_) {
        return fail(u"kvq: ADDRESS \"%s\": %s there runs past %X", where_text_, size_name(c.size), address_max_);
      }
      break;
    case Space::kIo:
      if (last > 0xFFFF) return fail(u"kvq: PORT \"%s\": %s there runs past FFFF", where_text_, size_name(c.size));
      break;
    case Space::kMsr:
      // A write that can hang or reset the board, or cannot be undone, is
      // made only when the line says confirm.
      if (const cpu::AskFirst* ask = cpu::ask_first(static_cast<uint32_t>(c.where));
          form.action == Action::kWrite && ask != nullptr && !c.confirmed) {
        return fail(u"kvq: MSR %s: %a; add confirm to write it", where_text_, ask->why);
      }
      break;
    case Space::kNone:
    case Space::kAcpi:
    case Space::kCpuid:
    case Space::kVar:
    case Space::kSetup:
      break;
  }
  return true;
}

ParseResult Parser::run() {
  const CommandForm* form = find_command();
  if (form == nullptr) return result_;
  result_.usage = form;
  result_.command.form = form;
  if (form->target == Space::kMsr) result_.command.size = 8;
  next_ = form->space == nullptr ? 1 : 2;
  for (int i = 0; i < kMaxArgs; ++i) {
    const Arg kind = form->args[i];
    if (kind == Arg::kNone) break;
    if (next_ >= argc_) {
      if (kind == Arg::kWidth || i >= form->required) break;  // bytes unless told otherwise
      fail(u"kvq: %s is missing", info(kind).name);
      return result_;
    }
    if (!take(kind, argv_[next_++])) return result_;
  }
  if (next_ < argc_) {
    fail(u"kvq: unexpected argument \"%s\"", argv_[next_]);
    return result_;
  }
  result_.ok = check_whole(*form);
  return result_;
}

}  // namespace

ParseResult parse(int argc, const char16_t* const* argv, int address_bits) {
  return Parser(argc, argv, address_bits).run();
}

void synopsis(const CommandForm& form, char16_t* out, int capacity) {
  int n = sformat(out, capacity, u"%s", form.verb);
  if (form.space != nullptr) n += sformat(out + n, capacity - n, u" %s", form.space);
  // Arguments that may be left out stand in brackets, each inside the
  // one before: "[OFFSET [b|w|d]]".
  int open = 0;
  for (int i = 0; i < kMaxArgs && form.args[i] != Arg::kNone; ++i) {
    const char16_t* name = info(form.args[i]).name;
    const bool bracket = i >= form.required && name[0] != u'[';
    n += sformat(out + n, capacity - n, bracket ? u" [%s" : u" %s", name);
    open += bracket ? 1 : 0;
  }
  while (open-- > 0) n += sformat(out + n, capacity - n, u"]");
}

}  // namespace kvq::cli
