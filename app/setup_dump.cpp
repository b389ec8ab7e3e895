// The Setup dump: every form set, form and question of the firmware's
// forms as text, what an IFR extractor prints from a firmware image, with
// the values the board holds now:
//   Form set "OVMF Platform Configuration" 7235C51C-0C80-4CAB-87AC-3B084A6304B1
//     VarStore 0x1 buffer "MainFormState" 7235C51C-0C80-4CAB-87AC-3B084A6304B1 size 0x24
//     Form 0x1 "OVMF Platform Configuration"
//       OneOf "Change Preferred Resolution for Next Boot"
//         Store "MainFormState" 7235C51C-... offset 0x20 width 4
//         Option 0x0 = "640x480" default
//         Value 0x0 = "640x480"
#include "app/commands.h"
#include "hw/setup.h"
#include "hw/variables.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

constexpr int kText = 512;

// A string of the forms, on one line: line breaks and other control
// characters become blanks.
void string_of(const setup::Db& db, uint32_t list, uint16_t id, char16_t (&out)[kText]) {
  hii::text(db.model, list, id, out, kText);
  for (char16_t* c = out; *c != 0; ++c) {
    if (*c < 0x20) *c = u' ';
  }
}

constexpr const char16_t* kKindNames[] = {u"OneOf", u"CheckBox", u"Numeric", u"String", u"OrderedList"};
constexpr const char16_t* kStoreKinds[] = {u"buffer", u"efi", u"name/value"};
constexpr const char16_t* kShownNames[] = {u"shown", u"greyed", u"hidden", u"?"};

void print_store(const setup::Db& db, const hii::Store& s) {
  char16_t name[256];
  char16_t guid[vars::kGuidTextSize];
  hii::store_name(db.model, s, name, 256);
  vars::guid_text(s.guid, guid, false);
  text::print(Stream::kOut, u"    VarStore 0x%X %s \"%s\" %s size 0x%X", s.id, kStoreKinds[static_cast<int>(s.kind)],
              name, guid, s.size);
  if (s.kind == hii::StoreKind::kEfi) text::print(Stream::kOut, u" attributes 0x%X", s.attributes);
  const setup::StoreValues& v = db.values[static_cast<uint32_t>(&s - &db.model.stores[0])];
  if (v.driver_name != nullptr) text::print(Stream::kOut, u" (its driver answers to \"%s\")", v.driver_name);
  text::end_line(Stream::kOut);
}

void print_flags(const hii::Question& q) {
  if ((q.flags & (hii::kReadOnly | hii::kCallback | hii::kResetRequired | hii::kReconnectRequired)) == 0) return;
  text::print(Stream::kOut, u"        Flags");
  if ((q.flags & hii::kReadOnly) != 0) text::print(Stream::kOut, u" read-only");
  if ((q.flags & hii::kCallback) != 0) text::print(Stream::kOut, u" interactive");
  if ((q.flags & hii::kResetRequired) != 0) text::print(Stream::kOut, u" reset-required");
  if ((q.flags & hii::kReconnectRequired) != 0) text::print(Stream::kOut, u" reconnect-required");
  text::end_line(Stream::kOut);
}

void print_storage(const setup::Db& db, const hii::Question& q) {
  if (q.store < 0) {
    text::line(Stream::kOut, u"        Store none (VarStoreId 0x%X)", q.store_id);
    return;
  }
  const hii::Store& s = db.model.stores[static_cast<uint32_t>(q.store)];
  char16_t name[256];
  char16_t guid[vars::kGuidTextSize];
  hii::store_name(db.model, s, name, 256);
  vars::guid_text(s.guid, guid, false);
  if (s.kind == hii::StoreKind::kNameValue) {
    char16_t element[kText];
    string_of(db, db.model.formsets[q.formset].list, q.offset, element);
    text::line(Stream::kOut, u"        Store name/value %s element \"%s\" width %u", guid, element, q.width);
  } else {
    text::line(Stream::kOut, u"        Store \"%s\" %s offset 0x%X width %u%s", name, guid, q.offset, q.width,
               q.bit_field ? u" (bits)" : u"");
  }
}

void print_range(const hii::Question& q) {
  switch (q.kind) {
    case hii::Kind::kNumeric:
      text::line(Stream::kOut, u"        Min 0x%X Max 0x%X Step 0x%X%s", q.min, q.max, q.step,
                 (q.type_flags & hii::kDisplayMask) == hii::kDisplayHex ? u" hex" : u" decimal");
      break;
    case hii::Kind::kString:
      text::line(Stream::kOut, u"        Length %u..%u characters", q.min, q.max);
      break;
    case hii::Kind::kOrderedList:
      text::line(Stream::kOut, u"        Containers %u", q.max);
      break;
    default:
      break;
  }
  if (q.has_default && q.kind != hii::Kind::kOneOf) {
    if (q.default_known) {
      text::line(Stream::kOut, u"        Default 0x%X", q.default_value);
    } else {
      text::line(Stream::kOut, u"        Default by an expression");
    }
  }
}

void print_options(const setup::Db& db, const hii::Question& q) {
  const uint32_t list = db.model.formsets[q.formset].list;
  for (uint32_t i = 0; i < q.option_count; ++i) {
    const hii::Option& o = db.model.options[q.first_option + i];
    char16_t name[kText];
    string_of(db, list, o.text, name);
    text::print(Stream::kOut, u"        Option 0x%X = \"%s\"", o.value, name);
    if ((o.flags & hii::kOptionDefault) != 0) text::print(Stream::kOut, u" default");
    if ((o.flags & hii::kOptionDefaultMfg) != 0) text::print(Stream::kOut, u" manufacturing-default");
    const hii::Shown s = setup::option_shown(db, q, o);
    if (s != hii::Shown::kShown) text::print(Stream::kOut, u" (%s)", kShownNames[static_cast<int>(s)]);
    text::end_line(Stream::kOut);
  }
}

// The condition scopes around it, the outermost first.
void print_conditions(const setup::Db& db, const hii::Question& q) {
  int32_t chain[64];
  int n = 0;
  for (int32_t i = q.condition; i >= 0 && n < 64; i = db.model.conditions[static_cast<uint32_t>(i)].parent) {
    chain[n++] = i;
  }
  while (n > 0) {
    char16_t expression[kText];
    hii::condition_text(db.model, db.model.conditions[static_cast<uint32_t>(chain[--n])], expression, kText);
    text::line(Stream::kOut, u"        %s", expression);
  }
  if (q.condition >= 0) text::line(Stream::kOut, u"        Shown %s", kShownNames[static_cast<int>(setup::shown(db, q))]);
}

void print_value(const setup::Db& db, const hii::Question& q) {
  const setup::Reach r = setup::reach(db, q);
  if (r != setup::Reach::kReachable) {
    text::line(Stream::kOut, u"        Value none: %s", setup::reach_text(r));
    return;
  }
  char16_t shown[kText];
  setup::value_text(db, q, shown, kText);
  uint64_t v = 0;
  if (setup::raw_value(db, q) == nullptr) {
    char16_t status[40];
    plat::efi_status_text(db.values[static_cast<uint32_t>(q.store)].status, status, 40);
    text::line(Stream::kOut, u"        Value ? (the firmware did not give it: %s)", status);
  } else if (q.kind == hii::Kind::kString || q.kind == hii::Kind::kOrderedList || !setup::value(db, q, &v)) {
    text::line(Stream::kOut, u"        Value \"%s\"", shown);
  } else {
    text::line(Stream::kOut, u"        Value 0x%X = \"%s\"", v, shown);
  }
}

void print_question(const setup::Db& db, const hii::Question& q) {
  const uint32_t list = db.model.formsets[q.formset].list;
  char16_t prompt[kText];
  string_of(db, list, q.prompt, prompt);
  text::line(Stream::kOut, u"      %s \"%s\" (question 0x%X)", kKindNames[static_cast<int>(q.kind)], prompt, q.id);
  string_of(db, list, q.help, prompt);
  if (prompt[0] != 0) text::line(Stream::kOut, u"        Help \"%s\"", prompt);
  print_storage(db, q);
  print_flags(q);
  print_range(q);
  print_options(db, q);
  print_conditions(db, q);
  print_value(db, q);
}

void print_formset(const setup::Db& db, uint32_t f) {
  const hii::Model& m = db.model;
  const hii::FormSet& fs = m.formsets[f];
  char16_t title[kText];
  char16_t guid[vars::kGuidTextSize];
  string_of(db, fs.list, fs.title, title);
  vars::guid_text(fs.guid, guid, false);
  text::line(Stream::kOut, u"  Form set \"%s\" %s", title, guid);
  string_of(db, fs.list, fs.help, title);
  if (title[0] != 0) text::line(Stream::kOut, u"    Help \"%s\"", title);
  for (uint32_t s = 0; s < m.stores.size(); ++s) {
    if (m.stores[s].formset == f) print_store(db, m.stores[s]);
  }
  // The IFR lists a form's questions inside it, so both come in order.
  uint32_t q = fs.first_question;
  for (uint32_t i = 0; i < m.forms.size(); ++i) {
    if (m.forms[i].formset != f) continue;
    string_of(db, fs.list, m.forms[i].title, title);
    text::line(Stream::kOut, u"    Form 0x%X \"%s\"", m.forms[i].id, title);
    for (; q < fs.end_question && m.questions[q].form <= static_cast<int32_t>(i); ++q) print_question(db, m.questions[q]);
  }
  for (; q < fs.end_question; ++q) print_question(db, m.questions[q]);
}

void print_list(const setup::Db& db, uint32_t l) {
  const hii::List& list = db.model.lists[l];
  char16_t guid[vars::kGuidTextSize];
  vars::guid_text(list.guid, guid, false);
  text::print(Stream::kOut, u"Package list %s, %u bytes, language %s, driver path ", guid, list.bytes.size,
              list.strings.language[0] != 0 ? list.strings.language : u"none");
  for (uint32_t i = 0; i < list.path_size; ++i) text::print(Stream::kOut, u"%02X", list.path[i]);
  if (list.path == nullptr) text::print(Stream::kOut, u"none");
  text::end_line(Stream::kOut);
  char16_t problem[160];
  setup::problem_text(db, l, problem, 160);
  if (problem[0] != 0) {
    text::line(Stream::kOut, u"  Problem: %s", problem);
    text::line(Stream::kErr, u"kvq: %s", problem);
  }
  for (uint32_t f = 0; f < db.model.formsets.size(); ++f) {
    if (db.model.formsets[f].list == l) print_formset(db, f);
  }
}

void print_summary(const setup::Db& db) {
  text::line(Stream::kOut, u"%d package lists, %u bytes, %u form sets, %u questions", db.exported.count,
             db.exported.total_bytes, db.model.formsets.size(), db.model.questions.size());
}

}  // namespace

Status dump_setup() {
  setup::Db db;
  Status status = Status::kOk;
  if (!setup::load(db)) {
    text::line(Stream::kErr, u"kvq: the firmware has no HII database");
    status = Status::kUnsupported;
  } else {
    setup::read_values(db);
    for (uint32_t l = 0; l < db.model.lists.size(); ++l) print_list(db, l);
    print_summary(db);
  }
  db.release();
  text::flush();
  return status;
}

Status time_setup(uint32_t count) {
  setup::Db db;
  Status status = Status::kOk;
  for (uint32_t i = 0; i < count && status == Status::kOk; ++i) {
    db.release();
    if (!setup::load(db)) status = Status::kUnsupported;
  }
  if (status == Status::kOk) {
    text::print(Stream::kOut, u"%u exports and parses: ", count);
    print_summary(db);
  } else {
    text::line(Stream::kErr, u"kvq: the firmware has no HII database");
  }
  db.release();
  text::flush();
  return status;
}

}  // namespace kvq::cli
