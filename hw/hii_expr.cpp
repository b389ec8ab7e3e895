// The conditions around questions: the expressions kvq evaluates (constants,
// the question-value comparisons, NOT, AND, OR, question references and the
// comparisons between them) over the values it read, in three values: an
// expression that needs a value kvq does not have is unknown, and AND and OR
// still decide where one side alone decides.
#include "hw/hii_ifr.h"
#include "platform/format.h"

namespace kvq::hii {
namespace {

enum class Eval : uint8_t {
  kEqIdVal,
  kEqIdId,
  kEqIdValList,
  kAnd,
  kOr,
  kNot,
  kEqual,
  kNotEqual,
  kGreater,
  kGreaterEqual,
  kLess,
  kLessEqual,
  kQuestionRef,
  kNumber,
  kTrue,
  kFalse,
};

struct ExprRow {
  uint8_t op;
  uint8_t arity;  // values it takes from the stack
  Eval eval;
  const char16_t* text;  // as VFR writes it
};

constexpr ExprRow kExprs[] = {
    {.op = 0x12, .arity = 0, .eval = Eval::kEqIdVal, .text = u"ideqval"},
    {.op = 0x13, .arity = 0, .eval = Eval::kEqIdId, .text = u"ideqid"},
    {.op = 0x14, .arity = 0, .eval = Eval::kEqIdValList, .text = u"ideqvallist"},
    {.op = 0x15, .arity = 2, .eval = Eval::kAnd, .text = u"AND"},
    {.op = 0x16, .arity = 2, .eval = Eval::kOr, .text = u"OR"},
    {.op = 0x17, .arity = 1, .eval = Eval::kNot, .text = u"NOT"},
    {.op = 0x2F, .arity = 2, .eval = Eval::kEqual, .text = u"=="},
    {.op = 0x30, .arity = 2, .eval = Eval::kNotEqual, .text = u"!="},
    {.op = 0x31, .arity = 2, .eval = Eval::kGreater, .text = u">"},
    {.op = 0x32, .arity = 2, .eval = Eval::kGreaterEqual, .text = u">="},
    {.op = 0x33, .arity = 2, .eval = Eval::kLess, .text = u"<"},
    {.op = 0x34, .arity = 2, .eval = Eval::kLessEqual, .text = u"<="},
    {.op = 0x40, .arity = 0, .eval = Eval::kQuestionRef, .text = u"questionref"},
    {.op = 0x42, .arity = 0, .eval = Eval::kNumber, .text = u"UINT8"},
    {.op = 0x43, .arity = 0, .eval = Eval::kNumber, .text = u"UINT16"},
    {.op = 0x44, .arity = 0, .eval = Eval::kNumber, .text = u"UINT32"},
    {.op = 0x45, .arity = 0, .eval = Eval::kNumber, .text = u"UINT64"},
    {.op = 0x46, .arity = 0, .eval = Eval::kTrue, .text = u"TRUE"},
    {.op = 0x47, .arity = 0, .eval = Eval::kFalse, .text = u"FALSE"},
    {.op = 0x52, .arity = 0, .eval = Eval::kNumber, .text = u"ZERO"},
    {.op = 0x53, .arity = 0, .eval = Eval::kNumber, .text = u"ONE"},
    {.op = 0x54, .arity = 0, .eval = Eval::kNumber, .text = u"ONES"},
};

// Opcodes ascend; the operators take what their kind needs.
constexpr bool exprs_sound() {
  int previous = 0;
  for (const ExprRow& e : kExprs) {
    const int arity = e.eval == Eval::kNot ? 1 : (e.eval >= Eval::kAnd && e.eval <= Eval::kLessEqual) ? 2 : 0;
    if (e.op <= previous || e.arity != arity) return false;
    previous = e.op;
  }
  return true;
}
static_assert(exprs_sound());

const ExprRow* expr_row(uint8_t op) {
  for (const ExprRow& e : kExprs) {
    if (e.op == op) return &e;
  }
  return nullptr;
}

// A constant's value: UINT8 to UINT64 carry it, ZERO, ONE and ONES are it.
uint64_t constant(const Bytes& b, uint32_t at) {
  const uint8_t op = b.u8(at);
  if (op >= 0x42 && op <= 0x45) return b.number(at + 2, 1 << (op - 0x42));
  return op == 0x52 ? 0 : op == 0x53 ? 1 : ~uint64_t{0};
}

struct Value {
  enum Type : uint8_t { kBool, kNumber, kUnknown } type;
  uint64_t n;
};

constexpr int kMaxStack = 32;
constexpr uint8_t kOpEnd = 0x29;

bool compare(Eval e, uint64_t a, uint64_t b) {
  switch (e) {
    case Eval::kEqual:
      return a == b;
    case Eval::kNotEqual:
      return a != b;
    case Eval::kGreater:
      return a > b;
    case Eval::kGreaterEqual:
      return a >= b;
    case Eval::kLess:
      return a < b;
    default:
      return a <= b;
  }
}

class Evaluator {
 public:
  Evaluator(const Bytes& b, uint32_t formset, ValueOf value_of, void* ctx)
      : b_(b), formset_(formset), value_of_(value_of), ctx_(ctx) {}
  // False: the opcode is one kvq does not evaluate, or the stack is wrong.
  bool apply(const ExprRow& row, uint32_t at, uint32_t length);
  Truth result() const {
    if (sp_ != 1 || stack_[0].type == Value::kNumber) return Truth::kUnsupported;
    if (stack_[0].type == Value::kUnknown) return Truth::kUnknown;
    return stack_[0].n != 0 ? Truth::kTrue : Truth::kFalse;
  }

 private:
  Value question(uint16_t id) const {
    uint64_t v = 0;
    return value_of_(ctx_, formset_, id, &v) ? Value{Value::kNumber, v} : Value{Value::kUnknown, 0};
  }
  static Value truth(bool t) { return Value{Value::kBool, t ? 1u : 0u}; }

  const Bytes& b_;
  uint32_t formset_;
  ValueOf value_of_;
  void* ctx_;
  Value stack_[kMaxStack] = {};
  int sp_ = 0;
};

bool Evaluator::apply(const ExprRow& row, uint32_t at, uint32_t length) {
  if (sp_ < row.arity) return false;
  const Value y = row.arity >= 1 ? stack_[--sp_] : Value{};
  const Value x = row.arity == 2 ? stack_[--sp_] : Value{};
  Value r{Value::kUnknown, 0};
  switch (row.eval) {
    case Eval::kTrue:
    case Eval::kFalse:
      r = truth(row.eval == Eval::kTrue);
      break;
    case Eval::kNumber:
      r = Value{Value::kNumber, constant(b_, at)};
      break;
    case Eval::kQuestionRef:
      r = question(b_.u16(at + 2));
      break;
    case Eval::kEqIdVal:
    case Eval::kEqIdId:
    case Eval::kEqIdValList: {
      const Value q = question(b_.u16(at + 2));
      const Value other = row.eval == Eval::kEqIdId ? question(b_.u16(at + 4)) : Value{Value::kNumber, b_.u16(at + 4)};
      if (row.eval == Eval::kEqIdValList) {
        const uint32_t count = b_.u16(at + 4);
        if (6 + 2 * count > length) return false;
        bool found = false;
        for (uint32_t i = 0; i < count; ++i) found = found || q.n == b_.u16(at + 6 + 2 * i);
        r = q.type == Value::kUnknown ? q : truth(found);
      } else {
        r = q.type == Value::kUnknown || other.type == Value::kUnknown ? Value{Value::kUnknown, 0} : truth(q.n == other.n);
      }
      break;
    }
    case Eval::kNot:
      if (y.type == Value::kNumber) return false;
      r = y.type == Value::kUnknown ? y : truth(y.n == 0);
      break;
    case Eval::kAnd:
    case Eval::kOr: {
      if (x.type == Value::kNumber || y.type == Value::kNumber) return false;
      // One side alone decides: false for AND, true for OR.
      const uint64_t decides = row.eval == Eval::kAnd ? 0 : 1;
      if ((x.type == Value::kBool && x.n == decides) || (y.type == Value::kBool && y.n == decides)) {
        r = truth(decides != 0);
      } else if (x.type == Value::kUnknown || y.type == Value::kUnknown) {
        r = Value{Value::kUnknown, 0};
      } else {
        r = truth(decides == 0);
      }
      break;
    }
    default:  // the comparisons
      if (x.type == Value::kUnknown || y.type == Value::kUnknown) break;
      if (x.type != y.type) return false;
      r = truth(compare(row.eval, x.n, y.n));
      break;
  }
  if (sp_ == kMaxStack) return false;
  stack_[sp_++] = r;
  return true;
}

// Steps through a condition's opcodes. A compiler gives the first opcode
// of an expression of several a scope that an END closes after the last:
// that scope and its END carry no meaning of their own. (An operator whose
// scope does, a MAP, is one kvq does not evaluate.)
template <class Visit>
bool each_opcode(const Bytes& b, const Condition& c, Visit visit) {
  for (uint32_t at = c.begin; at < c.end;) {
    const uint32_t length = b.u8(at + 1) & 0x7Fu;
    if (length < 2) return false;
    if (b.u8(at) != kOpEnd && !visit(b.u8(at), at, length)) return false;
    at += length;
  }
  return true;
}

}  // namespace

Truth evaluate(const Model& m, const Condition& c, uint32_t formset, ValueOf value_of, void* ctx) {
  const Bytes& b = m.lists[c.list].bytes;
  Evaluator e(b, formset, value_of, ctx);
  const bool ok = each_opcode(b, c, [&](uint8_t op, uint32_t at, uint32_t length) {
    const ExprRow* row = expr_row(op);
    return row != nullptr && e.apply(*row, at, length);
  });
  return ok ? e.result() : Truth::kUnsupported;
}

Shown outcome(const Model& m, int32_t condition, uint32_t formset, ValueOf value_of, void* ctx) {
  bool hidden = false;
  bool unknown = false;
  bool greyed = false;
  // Every condition's parent was read before it: the walk only goes down.
  for (int32_t i = condition; i >= 0; i = m.conditions[static_cast<uint32_t>(i)].parent) {
    const Condition& c = m.conditions[static_cast<uint32_t>(i)];
    const Truth t = evaluate(m, c, formset, value_of, ctx);
    if (t == Truth::kTrue) {
      (c.kind == CondKind::kGrayOutIf ? greyed : hidden) = true;
    } else if (t != Truth::kFalse) {
      unknown = true;
    }
  }
  return hidden ? Shown::kHidden : unknown ? Shown::kUnknown : greyed ? Shown::kGreyed : Shown::kShown;
}

namespace {

constexpr int kMaxNodes = 48;

struct Node {
  const ExprRow* row;
  uint32_t at;
  uint32_t length;
  int8_t a;
  int8_t b;
};

class Writer {
 public:
  Writer(char16_t* out, int capacity) : out_(out), capacity_(capacity) { out_[0] = 0; }
  template <class... A>
  void add(const char16_t* fmt, const A&... args) {
    if (n_ < capacity_ - 1) n_ += sformat(out_ + n_, capacity_ - n_, fmt, args...);
  }
  void node(const Bytes& b, const Node* nodes, int i, bool outer);

 private:
  char16_t* out_;
  int capacity_;
  int n_ = 0;
};

void Writer::node(const Bytes& b, const Node* nodes, int i, bool outer) {
  const Node& n = nodes[i];
  const uint32_t at = n.at;
  switch (n.row->eval) {
    case Eval::kTrue:
    case Eval::kFalse:
      add(u"%s", n.row->text);
      return;
    case Eval::kNumber:
      add(u"0x%X", constant(b, at));
      return;
    case Eval::kQuestionRef:
      add(u"questionref(0x%X)", b.u16(at + 2));
      return;
    case Eval::kEqIdVal:
    case Eval::kEqIdId:
      add(u"%s 0x%X == 0x%X", n.row->text, b.u16(at + 2), b.u16(at + 4));
      return;
    case Eval::kEqIdValList:
      add(u"ideqvallist 0x%X ==", b.u16(at + 2));
      for (uint32_t k = 0; k < b.u16(at + 4) && 6 + 2 * k + 2 <= n.length; ++k) add(u" 0x%X", b.u16(at + 6 + 2 * k));
      return;
    case Eval::kNot:
      add(u"NOT ");
      node(b, nodes, n.a, false);
      return;
    default:
      add(outer ? u"" : u"(");
      node(b, nodes, n.a, false);
      add(u" %s ", n.row->text);
      node(b, nodes, n.b, false);
      add(outer ? u"" : u")");
      return;
  }
}

constexpr const char16_t* kCondNames[] = {u"suppressif", u"grayoutif", u"disableif"};

}  // namespace

void condition_text(const Model& m, const Condition& c, char16_t* out, int capacity) {
  const Bytes& b = m.lists[c.list].bytes;
  Writer w(out, capacity);
  w.add(u"%s ", kCondNames[static_cast<int>(c.kind)]);
  Node nodes[kMaxNodes];
  int stack[kMaxStack];
  int count = 0;
  int sp = 0;
  const bool ok = each_opcode(b, c, [&](uint8_t op, uint32_t at, uint32_t length) {
    const ExprRow* row = expr_row(op);
    if (row == nullptr || count == kMaxNodes || sp < row->arity || sp - row->arity >= kMaxStack) return false;
    Node n{row, at, length, -1, -1};
    if (row->arity == 2) n.b = static_cast<int8_t>(stack[--sp]);
    if (row->arity >= 1) n.a = static_cast<int8_t>(stack[--sp]);
    nodes[count] = n;
    stack[sp++] = count++;
    return true;
  });
  if (ok && sp == 1) {
    w.node(b, nodes, stack[0], true);
    return;
  }
  // What kvq does not evaluate: "?" and the opcodes, in their order.
  w.add(u"?");
  each_opcode(b, c, [&](uint8_t op, uint32_t, uint32_t) {
    const char* name = opcode_name(op);
    if (name != nullptr) {
      w.add(u" %a", name);
    } else {
      w.add(u" %02Xh", op);
    }
    return true;
  });
}

}  // namespace kvq::hii
