#include "hw/hii_ifr.h"

#include "platform/format.h"

namespace kvq::hii {
namespace {

// What the parser does with an opcode.
enum class Role : uint8_t {
  kStatement,      // nothing kvq keeps (text, subtitle, image, ...)
  kFormSet,
  kForm,
  kStore,
  kValueQuestion,  // a question kvq lists: one-of, checkbox, numeric, string, ordered list
  kOtherQuestion,  // a question without a value kvq lists (ref, action, password, date, time)
  kOption,
  kDefault,
  kCondition,      // suppressif, grayoutif, disableif
  kContainer,      // its scope holds expressions (inconsistentif, value, read, rule, ...)
  kExpression,
  kGuid,
  kEnd,
};

struct OpcodeRow {
  uint8_t op;
  uint8_t min_length;  // the header and the fixed fields
  Role role;
  const char* name;  // 8-bit: printed with %a
};

// Every opcode of the IFR, 01h to 64h, with its shortest valid length.
constexpr OpcodeRow kOpcodes[] = {
    {.op = 0x01, .min_length = 6, .role = Role::kForm, .name = "FORM"},
    {.op = 0x02, .min_length = 7, .role = Role::kStatement, .name = "SUBTITLE"},
    {.op = 0x03, .min_length = 8, .role = Role::kStatement, .name = "TEXT"},
    {.op = 0x04, .min_length = 4, .role = Role::kStatement, .name = "IMAGE"},
    {.op = 0x05, .min_length = 17, .role = Role::kValueQuestion, .name = "ONE_OF"},
    {.op = 0x06, .min_length = 14, .role = Role::kValueQuestion, .name = "CHECKBOX"},
    {.op = 0x07, .min_length = 17, .role = Role::kValueQuestion, .name = "NUMERIC"},
    {.op = 0x08, .min_length = 17, .role = Role::kOtherQuestion, .name = "PASSWORD"},
    {.op = 0x09, .min_length = 6, .role = Role::kOption, .name = "ONE_OF_OPTION"},
    {.op = 0x0A, .min_length = 2, .role = Role::kCondition, .name = "SUPPRESS_IF"},
    {.op = 0x0B, .min_length = 2, .role = Role::kStatement, .name = "LOCKED"},
    {.op = 0x0C, .min_length = 13, .role = Role::kOtherQuestion, .name = "ACTION"},
    {.op = 0x0D, .min_length = 8, .role = Role::kStatement, .name = "RESET_BUTTON"},
    {.op = 0x0E, .min_length = 22, .role = Role::kFormSet, .name = "FORM_SET"},
    {.op = 0x0F, .min_length = 13, .role = Role::kOtherQuestion, .name = "REF"},
    {.op = 0x10, .min_length = 4, .role = Role::kContainer, .name = "NO_SUBMIT_IF"},
    {.op = 0x11, .min_length = 4, .role = Role::kContainer, .name = "INCONSISTENT_IF"},
    {.op = 0x12, .min_length = 6, .role = Role::kExpression, .name = "EQ_ID_VAL"},
    {.op = 0x13, .min_length = 6, .role = Role::kExpression, .name = "EQ_ID_ID"},
    {.op = 0x14, .min_length = 6, .role = Role::kExpression, .name = "EQ_ID_VAL_LIST"},
    {.op = 0x15, .min_length = 2, .role = Role::kExpression, .name = "AND"},
    {.op = 0x16, .min_length = 2, .role = Role::kExpression, .name = "OR"},
    {.op = 0x17, .min_length = 2, .role = Role::kExpression, .name = "NOT"},
    {.op = 0x18, .min_length = 3, .role = Role::kContainer, .name = "RULE"},
    {.op = 0x19, .min_length = 2, .role = Role::kCondition, .name = "GRAY_OUT_IF"},
    {.op = 0x1A, .min_length = 14, .role = Role::kOtherQuestion, .name = "DATE"},
    {.op = 0x1B, .min_length = 14, .role = Role::kOtherQuestion, .name = "TIME"},
    {.op = 0x1C, .min_length = 16, .role = Role::kValueQuestion, .name = "STRING"},
    {.op = 0x1D, .min_length = 3, .role = Role::kStatement, .name = "REFRESH"},
    {.op = 0x1E, .min_length = 2, .role = Role::kCondition, .name = "DISABLE_IF"},
    {.op = 0x1F, .min_length = 4, .role = Role::kStatement, .name = "ANIMATION"},
    {.op = 0x20, .min_length = 2, .role = Role::kExpression, .name = "TO_LOWER"},
    {.op = 0x21, .min_length = 2, .role = Role::kExpression, .name = "TO_UPPER"},
    {.op = 0x22, .min_length = 2, .role = Role::kExpression, .name = "MAP"},
    {.op = 0x23, .min_length = 15, .role = Role::kValueQuestion, .name = "ORDERED_LIST"},
    {.op = 0x24, .min_length = 22, .role = Role::kStore, .name = "VARSTORE"},
    {.op = 0x25, .min_length = 20, .role = Role::kStore, .name = "VARSTORE_NAME_VALUE"},
    {.op = 0x26, .min_length = 24, .role = Role::kStore, .name = "VARSTORE_EFI"},
    {.op = 0x27, .min_length = 4, .role = Role::kStatement, .name = "VARSTORE_DEVICE"},
    {.op = 0x28, .min_length = 2, .role = Role::kExpression, .name = "VERSION"},
    {.op = 0x29, .min_length = 2, .role = Role::kEnd, .name = "END"},
    {.op = 0x2A, .min_length = 2, .role = Role::kExpression, .name = "MATCH"},
    {.op = 0x2B, .min_length = 7, .role = Role::kExpression, .name = "GET"},
    {.op = 0x2C, .min_length = 7, .role = Role::kExpression, .name = "SET"},
    {.op = 0x2D, .min_length = 2, .role = Role::kContainer, .name = "READ"},
    {.op = 0x2E, .min_length = 2, .role = Role::kContainer, .name = "WRITE"},
    {.op = 0x2F, .min_length = 2, .role = Role::kExpression, .name = "EQUAL"},
    {.op = 0x30, .min_length = 2, .role = Role::kExpression, .name = "NOT_EQUAL"},
    {.op = 0x31, .min_length = 2, .role = Role::kExpression, .name = "GREATER_THAN"},
    {.op = 0x32, .min_length = 2, .role = Role::kExpression, .name = "GREATER_EQUAL"},
    {.op = 0x33, .min_length = 2, .role = Role::kExpression, .name = "LESS_THAN"},
    {.op = 0x34, .min_length = 2, .role = Role::kExpression, .name = "LESS_EQUAL"},
    {.op = 0x35, .min_length = 2, .role = Role::kExpression, .name = "BITWISE_AND"},
    {.op = 0x36, .min_length = 2, .role = Role::kExpression, .name = "BITWISE_OR"},
    {.op = 0x37, .min_length = 2, .role = Role::kExpression, .name = "BITWISE_NOT"},
    {.op = 0x38, .min_length = 2, .role = Role::kExpression, .name = "SHIFT_LEFT"},
    {.op = 0x39, .min_length = 2, .role = Role::kExpression, .name = "SHIFT_RIGHT"},
    {.op = 0x3A, .min_length = 2, .role = Role::kExpression, .name = "ADD"},
    {.op = 0x3B, .min_length = 2, .role = Role::kExpression, .name = "SUBTRACT"},
    {.op = 0x3C, .min_length = 2, .role = Role::kExpression, .name = "MULTIPLY"},
    {.op = 0x3D, .min_length = 2, .role = Role::kExpression, .name = "DIVIDE"},
    {.op = 0x3E, .min_length = 2, .role = Role::kExpression, .name = "MODULO"},
    {.op = 0x3F, .min_length = 3, .role = Role::kExpression, .name = "RULE_REF"},
    {.op = 0x40, .min_length = 4, .role = Role::kExpression, .name = "QUESTION_REF1"},
    {.op = 0x41, .min_length = 2, .role = Role::kExpression, .name = "QUESTION_REF2"},
    {.op = 0x42, .min_length = 3, .role = Role::kExpression, .name = "UINT8"},
    {.op = 0x43, .min_length = 4, .role = Role::kExpression, .name = "UINT16"},
    {.op = 0x44, .min_length = 6, .role = Role::kExpression, .name = "UINT32"},
    {.op = 0x45, .min_length = 10, .role = Role::kExpression, .name = "UINT64"},
    {.op = 0x46, .min_length = 2, .role = Role::kExpression, .name = "TRUE"},
    {.op = 0x47, .min_length = 2, .role = Role::kExpression, .name = "FALSE"},
    {.op = 0x48, .min_length = 2, .role = Role::kExpression, .name = "TO_UINT"},
    {.op = 0x49, .min_length = 3, .role = Role::kExpression, .name = "TO_STRING"},
    {.op = 0x4A, .min_length = 2, .role = Role::kExpression, .name = "TO_BOOLEAN"},
    {.op = 0x4B, .min_length = 2, .role = Role::kExpression, .name = "MID"},
    {.op = 0x4C, .min_length = 3, .role = Role::kExpression, .name = "FIND"},
    {.op = 0x4D, .min_length = 2, .role = Role::kExpression, .name = "TOKEN"},
    {.op = 0x4E, .min_length = 4, .role = Role::kExpression, .name = "STRING_REF1"},
    {.op = 0x4F, .min_length = 2, .role = Role::kExpression, .name = "STRING_REF2"},
    {.op = 0x50, .min_length = 2, .role = Role::kExpression, .name = "CONDITIONAL"},
    {.op = 0x51, .min_length = 2, .role = Role::kExpression, .name = "QUESTION_REF3"},
    {.op = 0x52, .min_length = 2, .role = Role::kExpression, .name = "ZERO"},
    {.op = 0x53, .min_length = 2, .role = Role::kExpression, .name = "ONE"},
    {.op = 0x54, .min_length = 2, .role = Role::kExpression, .name = "ONES"},
    {.op = 0x55, .min_length = 2, .role = Role::kExpression, .name = "UNDEFINED"},
    {.op = 0x56, .min_length = 2, .role = Role::kExpression, .name = "LENGTH"},
    {.op = 0x57, .min_length = 2, .role = Role::kExpression, .name = "DUP"},
    {.op = 0x58, .min_length = 2, .role = Role::kExpression, .name = "THIS"},
    {.op = 0x59, .min_length = 3, .role = Role::kExpression, .name = "SPAN"},
    {.op = 0x5A, .min_length = 2, .role = Role::kContainer, .name = "VALUE"},
    {.op = 0x5B, .min_length = 5, .role = Role::kDefault, .name = "DEFAULT"},
    {.op = 0x5C, .min_length = 6, .role = Role::kStatement, .name = "DEFAULTSTORE"},
    {.op = 0x5D, .min_length = 4, .role = Role::kForm, .name = "FORM_MAP"},
    {.op = 0x5E, .min_length = 2, .role = Role::kExpression, .name = "CATENATE"},
    {.op = 0x5F, .min_length = 18, .role = Role::kGuid, .name = "GUID"},
    {.op = 0x60, .min_length = 18, .role = Role::kExpression, .name = "SECURITY"},
    {.op = 0x61, .min_length = 2, .role = Role::kStatement, .name = "MODAL_TAG"},
    {.op = 0x62, .min_length = 18, .role = Role::kStatement, .name = "REFRESH_ID"},
    {.op = 0x63, .min_length = 5, .role = Role::kContainer, .name = "WARNING_IF"},
    {.op = 0x64, .min_length = 18, .role = Role::kExpression, .name = "MATCH2"},
};
constexpr int kOpcodeCount = sizeof(kOpcodes) / sizeof(kOpcodes[0]);

// One row per opcode from 01h, in order, each at least its own header.
constexpr bool opcodes_sound() {
  for (int i = 0; i < kOpcodeCount; ++i) {
    if (kOpcodes[i].op != i + 1 || kOpcodes[i].min_length < 2 || kOpcodes[i].name == nullptr) return false;
  }
  return kOpcodeCount == 0x64;
}
static_assert(opcodes_sound());

const OpcodeRow* opcode_row(uint8_t op) { return op >= 1 && op <= kOpcodeCount ? &kOpcodes[op - 1] : nullptr; }

// The opcodes parse() gives a meaning beyond their role.
constexpr uint8_t kOpOneOf = 0x05;
constexpr uint8_t kOpCheckBox = 0x06;
constexpr uint8_t kOpNumeric = 0x07;
constexpr uint8_t kOpSuppressIf = 0x0A;
constexpr uint8_t kOpGrayOutIf = 0x19;
constexpr uint8_t kOpString = 0x1C;
constexpr uint8_t kOpVarStore = 0x24;
constexpr uint8_t kOpVarStoreNameValue = 0x25;
constexpr uint8_t kOpEnd = 0x29;

// EDK II's marker around questions whose storage is counted in bits.
constexpr plat::Guid kBitVarStoreGuid = {0x82DDD68B, 0x9163, 0x4187, {0x9B, 0x27, 0x20, 0xA8, 0xFD, 0x60, 0xA7, 0x1D}};

constexpr int kMaxDepth = 64;

// Bytes of an option's or default's value by its type: numbers and
// booleans; 0 for the types kvq does not take as a number.
int value_bytes(uint8_t type) {
  constexpr int kBytes[] = {1, 2, 4, 8, 1};
  return type < 5 ? kBytes[type] : 0;
}

// Where the parse stands: what encloses the opcode being read.
struct Context {
  int32_t formset = -1;
  int32_t form = -1;
  int32_t question = -1;
  int32_t condition = -1;
  bool bits = false;        // inside the bit-field marker's scope
  bool expression = false;  // inside an expression: only its scopes are followed
};

struct Scope {
  Context outside;       // what the END restores
  bool condition_head;   // a condition's expression is still being read
};

class Parser {
 public:
  Parser(Model& m, uint32_t list) : m_(m), list_(list), b_(m.lists[list].bytes) {}
  // False when the package stopped early; the problem is then set.
  bool run(const Package& p);
  const char16_t* problem() const { return problem_; }

 private:
  template <class... A>
  bool fail(const char16_t* fmt, const A&... args) {
    sformat(problem_, kProblemCapacity, fmt, args...);
    return false;
  }
  bool step(const OpcodeRow& row, uint32_t at, uint32_t length, bool scope);
  bool end_scope(uint32_t at);
  bool add_question(uint8_t op, uint32_t at, uint32_t length, Context* next);
  bool add_option(uint32_t at, uint32_t length);
  bool add_default(uint32_t at, uint32_t length, bool scope);
  bool add_store(uint8_t op, uint32_t at, uint32_t length);
  bool added(bool pushed) { return pushed || fail(u"kvq ran out of memory"); }

  Model& m_;
  uint32_t list_;
  Bytes b_;
  Context c_;
  Scope stack_[kMaxDepth];
  int depth_ = 0;
  char16_t problem_[kProblemCapacity] = {};
};

bool Parser::run(const Package& p) {
  const uint32_t end = p.at + p.length;
  for (uint32_t at = p.at + kPackageHeaderSize; at < end;) {
    if (end - at < 2) return fail(u"the opcode at %04Xh runs past its package", at);
    const uint8_t op = b_.u8(at);
    const uint32_t length = b_.u8(at + 1) & 0x7Fu;
    const bool scope = (b_.u8(at + 1) & 0x80u) != 0;
    if (length < 2 || length > end - at) return fail(u"opcode %02Xh at %04Xh runs past its package", op, at);
    const OpcodeRow* row = opcode_row(op);
    if (row == nullptr) return fail(u"opcode %02Xh at %04Xh is unknown", op, at);
    if (length < row->min_length) return fail(u"%a at %04Xh is too short", row->name, at);
    if (!step(*row, at, length, scope)) return false;
    at += length;
  }
  if (depth_ > 0) return fail(u"%d scopes are left open at the end of the forms", depth_);
  return true;
}

bool Parser::end_scope(uint32_t at) {
  if (depth_ == 0) return fail(u"END at %04Xh closes no scope", at);
  Scope& top = stack_[--depth_];
  // A condition whose scope holds nothing but its expression.
  if (top.condition_head) m_.conditions[static_cast<uint32_t>(c_.condition)].end = at;
  c_ = top.outside;
  return true;
}

bool Parser::step(const OpcodeRow& row, uint32_t at, uint32_t length, bool scope) {
  if (c_.expression) {
    Scope* top = depth_ > 0 ? &stack_[depth_ - 1] : nullptr;
    if (top != nullptr && top->condition_head && row.role != Role::kExpression) {
      // The condition's expression ends at the first opcode that is none.
      m_.conditions[static_cast<uint32_t>(c_.condition)].end = at;
      top->condition_head = false;
      c_.expression = false;
    } else {
      if (row.op == kOpEnd) return end_scope(at);
      if (!scope) return true;
      if (depth_ == kMaxDepth) return fail(u"scopes nest deeper than %d at %04Xh", kMaxDepth, at);
      stack_[depth_++] = Scope{c_, false};
      return true;
    }
  }
  Context next = c_;
  bool head = false;
  switch (row.role) {
    case Role::kEnd:
      return end_scope(at);
    case Role::kFormSet:
      if (!added(m_.formsets.push(FormSet{list_, b_.guid(at + 2), b_.u16(at + 18), b_.u16(at + 20),
                                          m_.questions.size(), m_.questions.size()}))) {
        return false;
      }
      next.formset = static_cast<int32_t>(m_.formsets.size() - 1);
      next.form = -1;
      break;
    case Role::kForm:
      if (c_.formset >= 0) {
        if (!added(m_.forms.push(Form{static_cast<uint32_t>(c_.formset), b_.u16(at + 2), b_.u16(at + 4)}))) {
          return false;
        }
        next.form = static_cast<int32_t>(m_.forms.size() - 1);
      }
      break;
    case Role::kStore:
      if (!add_store(row.op, at, length)) return false;
      break;
    case Role::kValueQuestion:
      if (!add_question(row.op, at, length, &next)) return false;
      break;
    case Role::kOtherQuestion:
      next.question = -1;
      break;
    case Role::kOption:
      if (!add_option(at, length)) return false;
      break;
    case Role::kDefault:
      if (!add_default(at, length, scope)) return false;
      next.expression = true;
      break;
    case Role::kCondition: {
      const CondKind kind = row.op == kOpSuppressIf ? CondKind::kSuppressIf
                            : row.op == kOpGrayOutIf ? CondKind::kGrayOutIf
                                                     : CondKind::kDisableIf;
      if (!added(m_.conditions.push(Condition{kind, c_.condition, list_, at + length, at + length}))) return false;
      next.condition = static_cast<int32_t>(m_.conditions.size() - 1);
      next.expression = true;
      head = true;
      break;
    }
    case Role::kContainer:
    case Role::kExpression:
      next.expression = true;
      break;
    case Role::kGuid:
      next.bits = next.bits || same_guid(b_.guid(at + 2), kBitVarStoreGuid);
      break;
    case Role::kStatement:
      break;
  }
  if (!scope) return true;
  if (depth_ == kMaxDepth) return fail(u"scopes nest deeper than %d at %04Xh", kMaxDepth, at);
  stack_[depth_++] = Scope{c_, head};
  c_ = next;
  return true;
}

bool Parser::add_store(uint8_t op, uint32_t at, uint32_t length) {
  if (c_.formset < 0) return true;
  Store s{};
  s.formset = static_cast<uint32_t>(c_.formset);
  uint32_t name_at = 0;
  if (op == kOpVarStore) {
    s = Store{s.formset, StoreKind::kBuffer, b_.u16(at + 18), b_.guid(at + 2), b_.u16(at + 20), 0, 0, 0};
    name_at = at + 22;
  } else if (op == kOpVarStoreNameValue) {
    s = Store{s.formset, StoreKind::kNameValue, b_.u16(at + 2), b_.guid(at + 4), 0, 0, 0, 0};
  } else {
    s = Store{s.formset, StoreKind::kEfi, b_.u16(at + 2), b_.guid(at + 4), 0, 0, 0, b_.u32(at + 20)};
    // Before UEFI 2.3.1 the opcode ended at the attributes: no size, no name.
    if (length > 26) {
      s.size = b_.u16(at + 24);
      name_at = at + 26;
    }
  }
  if (name_at != 0) {
    uint32_t n = 0;
    while (name_at + n < at + length && n < 255 && b_.u8(name_at + n) != 0) ++n;
    s.name_at = name_at;
    s.name_length = static_cast<uint8_t>(n);
  }
  return added(m_.stores.push(s));
}

bool Parser::add_question(uint8_t op, uint32_t at, uint32_t length, Context* next) {
  next->question = -1;
  if (c_.formset < 0) return true;
  Question q{};
  q.formset = static_cast<uint32_t>(c_.formset);
  q.form = c_.form;
  q.store = -1;
  q.condition = c_.condition;
  q.at = at;
  q.first_option = m_.options.size();
  q.bit_field = c_.bits;
  q.prompt = b_.u16(at + 2);
  q.help = b_.u16(at + 4);
  q.id = b_.u16(at + 6);
  q.store_id = b_.u16(at + 8);
  q.offset = b_.u16(at + 10);
  q.flags = b_.u8(at + 12);
  switch (op) {
    case kOpOneOf:
    case kOpNumeric: {
      q.kind = op == kOpOneOf ? Kind::kOneOf : Kind::kNumeric;
      q.type_flags = b_.u8(at + 13);
      const int size = 1 << (q.type_flags & kNumericSizeMask);
      if (length < 14u + 3u * static_cast<uint32_t>(size)) {
        return fail(u"%a at %04Xh is too short for its size", opcode_row(op)->name, at);
      }
      q.width = static_cast<uint16_t>(size);
      q.min = b_.number(at + 14, size);
      q.max = b_.number(at + 14 + static_cast<uint32_t>(size), size);
      q.step = b_.number(at + 14 + 2 * static_cast<uint32_t>(size), size);
      break;
    }
    case kOpCheckBox:
      q.kind = Kind::kCheckBox;
      q.type_flags = b_.u8(at + 13);
      q.width = 1;
      q.max = 1;
      q.has_default = q.default_known = (q.type_flags & 0x01) != 0;  // the standard default is on
      q.default_value = 1;
      break;
    case kOpString:
      q.kind = Kind::kString;
      q.min = b_.u8(at + 13);
      q.max = b_.u8(at + 14);
      q.type_flags = b_.u8(at + 15);
      q.width = static_cast<uint16_t>(2 * q.max);
      break;
    default:  // ordered list: its width follows from its options' type
      q.kind = Kind::kOrderedList;
      q.max = b_.u8(at + 13);
      q.type_flags = b_.u8(at + 14);
      q.width = static_cast<uint16_t>(q.max);
      break;
  }
  if (!added(m_.questions.push(q))) return false;
  next->question = static_cast<int32_t>(m_.questions.size() - 1);
  return true;
}

bool Parser::add_option(uint32_t at, uint32_t length) {
  if (c_.question < 0) return true;
  Question& q = m_.questions[static_cast<uint32_t>(c_.question)];
  if (q.kind != Kind::kOneOf && q.kind != Kind::kOrderedList) return true;
  const uint8_t type = b_.u8(at + 5);
  const int size = value_bytes(type);
  if (length < 6u + static_cast<uint32_t>(size)) return fail(u"ONE_OF_OPTION at %04Xh is too short", at);
  const Option o{b_.u16(at + 2), b_.u8(at + 4), type, b_.number(at + 6, size), c_.condition};
  if (q.kind == Kind::kOrderedList && q.option_count == 0 && size > 0) {
    q.width = static_cast<uint16_t>(q.max * static_cast<uint64_t>(size));
  }
  if (q.kind == Kind::kOneOf && (o.flags & kOptionDefault) != 0 && !q.has_default) {
    q.has_default = q.default_known = true;
    q.default_value = o.value;
  }
  if (!added(m_.options.push(o))) return false;
  ++q.option_count;
  return true;
}

// The standard default (ID 0); a default given by an expression (a scope)
// is marked unknown.
bool Parser::add_default(uint32_t at, uint32_t length, bool scope) {
  if (c_.question < 0 || b_.u16(at + 2) != 0) return true;
  Question& q = m_.questions[static_cast<uint32_t>(c_.question)];
  const int size = value_bytes(b_.u8(at + 4));
  if (!scope && length < 5u + static_cast<uint32_t>(size)) return fail(u"DEFAULT at %04Xh is too short", at);
  q.has_default = true;
  q.default_known = !scope && size > 0;
  q.default_value = q.default_known ? b_.number(at + 5, size) : 0;
  return true;
}

}  // namespace

void Model::release() {
  for (uint32_t i = 0; i < lists.size(); ++i) lists[i].strings.offsets.release();
  lists.release();
  formsets.release();
  forms.release();
  stores.release();
  questions.release();
  options.release();
  conditions.release();
}

void add_list(Model& m, const plat::HiiPackageList& source) {
  List l{};
  l.bytes = Bytes{source.data, source.size};
  l.path = source.path;
  l.path_size = source.path_size;
  l.guid = l.bytes.guid(0);
  if (!m.lists.push(l)) return;
  const uint32_t index = m.lists.size() - 1;
  List& list = m.lists[index];
  build_strings(list.bytes, &list.strings, list.problem);
  const uint32_t first_question = m.questions.size();
  PackageWalk walk(list.bytes);
  Package p{};
  while (walk.next(&p)) {
    if (p.type != kPackageForms) continue;
    Parser parser(m, index);
    // A list's problem names its first fault; later packages still parse.
    if (!parser.run(p) && m.lists[index].problem[0] == 0) {
      sformat(m.lists[index].problem, kProblemCapacity, u"%s", parser.problem());
    }
  }
  if (walk.problem()[0] != 0 && m.lists[index].problem[0] == 0) {
    sformat(m.lists[index].problem, kProblemCapacity, u"%s", walk.problem());
  }
  // Each question's store, within its form set; a name/value store keeps
  // its questions' values one after another.
  for (uint32_t i = first_question; i < m.questions.size(); ++i) {
    Question& q = m.questions[i];
    m.formsets[q.formset].end_question = i + 1;
    for (uint32_t s = 0; s < m.stores.size() && q.store_id != 0; ++s) {
      Store& store = m.stores[s];
      if (store.formset != q.formset || store.id != q.store_id) continue;
      q.store = static_cast<int32_t>(s);
      if (store.kind == StoreKind::kNameValue) {
        q.slot = store.size;
        store.size = static_cast<uint16_t>(store.size + q.width);
      }
      break;
    }
  }
}

int text(const Model& m, uint32_t list, uint16_t id, char16_t* out, int capacity) {
  return string_text(m.lists[list].bytes, m.lists[list].strings, id, out, capacity);
}

void store_name(const Model& m, const Store& s, char16_t* out, int capacity) {
  const Bytes& b = m.lists[m.formsets[s.formset].list].bytes;
  int n = 0;
  for (uint32_t i = 0; i < s.name_length && n < capacity - 1; ++i) out[n++] = b.u8(s.name_at + i);
  out[n] = 0;
}

const List& list_of(const Model& m, const Question& q) { return m.lists[m.formsets[q.formset].list]; }

const char* opcode_name(uint8_t op) {
  const OpcodeRow* row = opcode_row(op);
  return row != nullptr ? row->name : nullptr;
}

}  // namespace kvq::hii
