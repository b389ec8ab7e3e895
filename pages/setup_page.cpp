// The Setup page: every question of the firmware's forms, hidden ones
// included, one row each under a row for its form set's title, with its
// current value and marks for what its conditions make of it. `/` filters
// on the prompt; Enter changes the selected question (a one-of's option
// from its list, a checkbox with y, a numeric typed within min..max),
// through the firmware's configuration routing, the old bytes recorded in
// the undo file first. Row 18 names the selected question's store, offset,
// width and default before its help, or what the last change came to.
#include "pages/setup_page.h"

#include "app/colors.h"
#include "app/footer.h"
#include "app/input.h"
#include "app/list_cursor.h"
#include "app/setup_write.h"
#include "hw/variables.h"
#include "pages/list_rows.h"
#include "pages/pages.h"
#include "pages/vars_page.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr int kWidth = 80;
constexpr int kFirstRow = 1;
constexpr int kRows = 17;  // screen rows 1 to 17
constexpr int kInfoRow = 18;
constexpr int kStatusRow = 22;
constexpr int kPromptWidth = 44;
constexpr int kValueWidth = 24;
// The option list drawn over the rows on Enter.
constexpr int kBoxCol = 18;
constexpr int kBoxWidth = 44;
constexpr int kBoxRows = 13;  // options shown at once

constinit setup::Db g_db;

// One row of the list: a form set's title (question -1) or a question.
struct Row {
  int32_t formset;
  int32_t question;
};

bool matches(const hii::Question& q, const char16_t* filter) {
  if (filter[0] == 0) return true;
  char16_t prompt[128];
  hii::text(g_db.model, g_db.model.formsets[q.formset].list, q.prompt, prompt, 128);
  return name_matches(prompt, filter);
}

// Walks the rows the filter leaves, in order; `visit` returns false to stop.
template <class Visit>
void each_row(const char16_t* filter, Visit visit) {
  const hii::Model& m = g_db.model;
  for (uint32_t f = 0; f < m.formsets.size(); ++f) {
    bool titled = false;
    for (uint32_t i = m.formsets[f].first_question; i < m.formsets[f].end_question; ++i) {
      if (!matches(m.questions[i], filter)) continue;
      if (!titled && !visit(Row{static_cast<int32_t>(f), -1})) return;
      titled = true;
      if (!visit(Row{static_cast<int32_t>(f), static_cast<int32_t>(i)})) return;
    }
  }
}

int32_t row_count(const AppState& s) {
  int32_t n = 0;
  each_row(s.setup.filter, [&](Row) { return ++n > 0; });
  return n;
}

Row nth_row(const AppState& s, int32_t nth) {
  Row found{-1, -1};
  each_row(s.setup.filter, [&](Row r) {
    found = r;
    return nth-- > 0;
  });
  return nth < 0 ? found : Row{-1, -1};
}

// H hidden, G greyed, ? a condition kvq cannot evaluate; R read-only; I
// interactive (the driver's form callback runs for it in the Setup
// browser).
void marks(const hii::Question& q, char16_t (&out)[8]) {
  constexpr char16_t kShown[] = {u' ', u'G', u'H', u'?'};
  out[0] = kShown[static_cast<int>(setup::shown(g_db, q))];
  out[1] = u' ';
  out[2] = (q.flags & hii::kReadOnly) != 0 ? u'R' : u' ';
  out[3] = u' ';
  out[4] = (q.flags & hii::kCallback) != 0 ? u'I' : u' ';
  out[5] = 0;
}

void draw_row(int screen_row, const Row& r, bool selected) {
  const hii::Model& m = g_db.model;
  const hii::FormSet& fs = m.formsets[static_cast<uint32_t>(r.formset)];
  char16_t text[kWidth + 1];
  char16_t line[kWidth + 1];
  if (r.question < 0) {
    hii::text(m, fs.list, fs.title, text, kWidth + 1);
    char16_t title[kWidth - 3];
    fit_text(text, kWidth - 4, title);
    sformat(line, kWidth + 1, u"[ %s ]", title);
    put_row(screen_row, selected ? kAttrWhiteOnGreen : kAttrYellow, line);
    return;
  }
  const hii::Question& q = m.questions[static_cast<uint32_t>(r.question)];
  char16_t prompt[kPromptWidth + 1];
  char16_t value[kValueWidth + 1];
  char16_t mark[8];
  hii::text(m, fs.list, q.prompt, text, kWidth + 1);
  fit_text(text, kPromptWidth - 2, prompt);
  setup::value_text(g_db, q, text, kWidth + 1);
  fit_text(text, kValueWidth, value);
  marks(q, mark);
  sformat(line, kWidth + 1, u"  %-42s %-24s %s", prompt, value, mark);
  const bool hidden = mark[0] == u'H';
  put_row(screen_row, selected ? kAttrWhiteOnGreen : hidden ? kAttrGray : kAttrWhite, line);
}

// Row 18 and below: the store, offset, width and default of the selected
// question, then its help; for a form set, its GUID and what its package
// list's parse came to.
void draw_info(const AppState& s, const Row& r) {
  const hii::Model& m = g_db.model;
  char16_t text[3 * kWidth + 1] = {};
  if (s.setup.message[0] != 0) {
    sformat(text, 3 * kWidth + 1, u"%s", s.setup.message);
  } else if (r.formset >= 0 && r.question < 0) {
    const hii::FormSet& fs = m.formsets[static_cast<uint32_t>(r.formset)];
    char16_t guid[vars::kGuidTextSize];
    char16_t problem[2 * kWidth];
    vars::guid_text(fs.guid, guid, false);
    setup::problem_text(g_db, fs.list, problem, 2 * kWidth);
    sformat(text, 3 * kWidth + 1, u"Form set %s  %s", guid, problem[0] != 0 ? problem : u"(parsed whole)");
  } else if (r.question >= 0) {
    const hii::Question& q = m.questions[static_cast<uint32_t>(r.question)];
    char16_t store[40] = u"no store";
    char16_t help[2 * kWidth];
    char16_t def[24] = u"none";
    if (q.store >= 0) hii::store_name(m, m.stores[static_cast<uint32_t>(q.store)], store, 40);
    if (q.has_default) sformat(def, 24, q.default_known ? u"0x%X" : u"by expression", q.default_value);
    hii::text(m, m.formsets[q.formset].list, q.help, help, 2 * kWidth);
    sformat(text, 3 * kWidth + 1, u"%s offset %X width %u default %s: %s", store, q.offset, q.width, def, help);
  }
  // Three lines of it, on rows 18 to 20, broken at a blank where one is.
  const char16_t* t = text;
  for (int i = 0; i < 3; ++i) {
    int n = text_length(t) < kWidth ? text_length(t) : kWidth;
    if (t[n] != 0) {
      int b = n;
      while (b > 0 && t[b] != u' ') --b;
      if (b > kWidth / 2) n = b;
    }
    char16_t line[kWidth + 1];
    for (int c = 0; c < n; ++c) line[c] = t[c] < 0x20 ? u' ' : t[c];
    line[n] = 0;
    put_row(kInfoRow + i, kAttrWhite, line);
    t += n;
    while (*t == u' ') ++t;
  }
}

void draw(const AppState& s) {
  char16_t line[kWidth + 1];
  sformat(line, kWidth + 1, u"%-43s %-24s %s", u"SETUP: the firmware's forms", u"Value", u"Marks");
  put_row(0, kAttrWhiteOnBlue, line);
  int shown = 0;
  Row selected{-1, -1};
  int32_t index = 0;
  each_row(s.setup.filter, [&](Row r) {
    if (index == s.setup.row) selected = r;
    if (index >= s.setup.top) draw_row(kFirstRow + shown++, r, index == s.setup.row);
    ++index;
    return shown < kRows || index <= s.setup.row;
  });
  for (; shown < kRows; ++shown) put_row(kFirstRow + shown, kAttrWhite, u"");
  draw_info(s, selected);
  const int32_t count = row_count(s);
  const char16_t* status = g_db.database ? u"Enter: change  /: filter  H hidden G greyed ? unknown R read-only I interactive"
                                         : u"The firmware has no HII database: there are no forms to show.";
  if (s.setup.filter[0] != 0) {
    sformat(line, kWidth + 1, u"Filter: %s   (/ Esc: every question)", s.setup.filter);
    status = line;
  }
  con::set_attr(kAttrWhite);
  con::set_cursor(0, kStatusRow - 1);
  con::print(u"%-80s", status);
  con::set_cursor(0, kStatusRow);
  con::print(u"%-64sROW : %04d/%04d", u"", count > 0 ? s.setup.row + 1 : 0, count);
}

// --- Changes -------------------------------------------------------------------

// Before the question's first change in this run: its record in the undo
// file; if the file cannot be written, the change waits for y.
bool record_for_page(const setup::Db& db, const hii::Question& q, const uint8_t* old, void*) {
  const plat::EfiStatus st = record_setup_once(db, q, old);
  if (st == plat::kEfiSuccess) return true;
  char16_t why[32];
  char16_t text[kWidth + 1];
  vars::status_text(st, why);
  sformat(text, kWidth + 1, u"%s cannot be written (%s). Write without undo? y/n", undo::kFileName, why);
  put_row(kInfoRow, kAttrWhite, text);
  const Key k = con::wait_key();
  return k.scan == 0 && (k.ch == u'y' || k.ch == u'Y');
}

// The one-of's options over the list: Up, Down, PageUp and PageDown move,
// Enter takes the option, Esc leaves. The list opens on the current value.
bool pick_option(const hii::Question& q, uint64_t current, uint64_t* value) {
  const hii::Model& m = g_db.model;
  const int32_t count = q.option_count;
  int32_t row = 0;
  int32_t top = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (m.options[q.first_option + static_cast<uint32_t>(i)].value == current) row = i;
  }
  top = row < kBoxRows ? 0 : row - kBoxRows + 1;
  for (;;) {
    char16_t line[kBoxWidth + 1];
    char16_t text[kBoxWidth + 1];
    con::set_cursor(kBoxCol, 2);
    con::set_attr(kAttrWhiteOnBlue);
    con::print(u"%-44s", u" Enter: take this option   Esc: leave");
    for (int i = 0; i < kBoxRows; ++i) {
      const int32_t n = top + i;
      con::set_cursor(kBoxCol, 3 + i);
      if (n >= count) {
        con::set_attr(kAttrBlackOnGray);
        con::repeat(u' ', kBoxWidth);
        continue;
      }
      const hii::Option& o = m.options[q.first_option + static_cast<uint32_t>(n)];
      hii::text(m, m.formsets[q.formset].list, o.text, text, kBoxWidth + 1);
      char16_t name[kBoxWidth - 12];
      fit_text(text, kBoxWidth - 14, name);
      sformat(line, kBoxWidth + 1, u" %c %-30s %9X", o.value == current ? u'*' : u' ', name, o.value);
      con::set_attr(n == row ? kAttrWhiteOnGreen : kAttrBlackOnGray);
      con::put_text(line);
    }
    const Key k = con::wait_key();
    if (k.scan == kScanEsc) return false;
    if (k.scan == 0 && k.ch == kCharEnter && count > 0) {
      *value = m.options[q.first_option + static_cast<uint32_t>(row)].value;
      return true;
    }
    move_list_cursor(k.scan, count, kBoxRows, &row, &top);
  }
}

bool hex_char(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
bool decimal_char(char16_t c) { return (c >= u'0' && c <= u'9') || c == u'-'; }

// A numeric's new value typed on row 18, in its display base; false on Esc
// or for a text that is no number.
bool type_number(const hii::Question& q, uint64_t* value) {
  const bool hex = (q.type_flags & hii::kDisplayMask) == hii::kDisplayHex;
  char16_t label[kWidth];
  char16_t typed[24];
  sformat(label, kWidth, hex ? u"New value, hex 0x%X..0x%X:" : u"New value, decimal %u..%u:", q.min, q.max);
  if (!text_entry(label, kInfoRow, typed, hex ? 16 : 20, hex ? hex_char : decimal_char) || typed[0] == 0) return false;
  uint64_t v = 0;
  const bool negative = !hex && typed[0] == u'-';
  for (const char16_t* c = typed + (negative ? 1 : 0); *c != 0; ++c) {
    if (!hex && *c == u'-') return false;
    const int d = *c <= u'9' ? *c - u'0' : (*c | 0x20) - u'a' + 10;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
  }
  *value = negative ? ~v + 1 : v;
  if (q.width < 8) *value &= (uint64_t{1} << (8 * q.width)) - 1;
  return true;
}

void change(AppState& s, uint32_t index) {
  const hii::Question& q = g_db.model.questions[index];
  char16_t* message = s.setup.message;
  setup::WriteResult r{setup::Outcome::kReadOnly, plat::kEfiSuccess, 0, false, 0};
  uint64_t current = 0;
  if ((q.flags & hii::kReadOnly) == 0) {
    r.outcome = setup::Outcome::kNotWritable;
  }
  if (r.outcome == setup::Outcome::kNotWritable && setup::writable_kind(q) && q.store >= 0 &&
      g_db.model.stores[static_cast<uint32_t>(q.store)].kind != hii::StoreKind::kNameValue) {
    r.outcome = setup::reach(g_db, q) != setup::Reach::kReachable ? setup::Outcome::kUnreachable
                : !setup::value(g_db, q, &current)                 ? setup::Outcome::kReadFailed
                                                                   : setup::Outcome::kWritten;
    r.status = g_db.values[static_cast<uint32_t>(q.store)].status;
  }
  if (r.outcome != setup::Outcome::kWritten) {
    outcome_text(g_db, r, q, message, SetupPageState::kMessageMax + 1);
    return;
  }
  uint64_t value = 0;
  bool chosen = false;
  if (q.kind == hii::Kind::kOneOf) {
    chosen = pick_option(q, current, &value);
  } else if (q.kind == hii::Kind::kCheckBox) {
    char16_t ask[kWidth + 1];
    sformat(ask, kWidth + 1, u"y: set it to %s; any other key leaves it %s", current != 0 ? u"[ ]" : u"[X]",
            current != 0 ? u"[X]" : u"[ ]");
    put_row(kInfoRow, kAttrLightGreen, ask);
    const Key k = con::wait_key();
    chosen = k.scan == 0 && k.ch == u'y';
    value = current != 0 ? 0 : 1;
  } else {
    chosen = type_number(q, &value);
    if (chosen && !setup::allows(g_db, q, value)) {
      sformat(message, SetupPageState::kMessageMax + 1, u"0x%X lies outside 0x%X..0x%X: nothing was written.", value, q.min, q.max);
      return;
    }
  }
  if (!chosen) {
    sformat(message, SetupPageState::kMessageMax + 1, u"Nothing was written.");
    return;
  }
  r = setup::write(g_db, index, value, record_for_page, nullptr);
  outcome_text(g_db, r, q, message, SetupPageState::kMessageMax + 1);
  // A change may show or hide other questions.
  setup::read_values(g_db);
}

void act_on_key(AppState& s) {
  const Key key = s.key;
  if (move_list_cursor(key.scan, row_count(s), kRows, &s.setup.row, &s.setup.top)) {
    s.setup.message[0] = 0;
  } else if (key.scan == 0 && key.ch == u'/') {
    text_entry(u"Filter:", kStatusRow - 1, s.setup.filter, SetupPageState::kFilterMax, ascii_printable);
    s.setup.row = 0;
    s.setup.top = 0;
    s.setup.message[0] = 0;
  } else if (key.scan == 0 && key.ch == kCharEnter) {
    const Row r = nth_row(s, s.setup.row);
    if (r.question >= 0) change(s, static_cast<uint32_t>(r.question));
  } else {
    return;  // F5, F6, Esc and anything else: left to the loop
  }
  s.key = Key{0, 0};
}

}  // namespace

const setup::Db& setup_forms() { return g_db; }

void release_setup_forms() { g_db.release(); }

bool setup_can_open(AppState& state) {
  state.setup.reread = true;
  return true;
}

void setup_pass(AppState& state) {
  con::poll_key(&state.key);
  if (!g_db.loaded) {
    setup::load(g_db);
    // The first damaged package list, named until a key moves the row.
    for (uint32_t l = 0; l < g_db.model.lists.size() && state.setup.message[0] == 0; ++l) {
      setup::problem_text(g_db, l, state.setup.message, SetupPageState::kMessageMax + 1);
    }
  }
  if (state.setup.reread) {
    setup::read_values(g_db);
    state.setup.reread = false;
  }
  act_on_key(state);
  if (state.page != PageId::kSetup) return;
  draw(state);
  draw_footer(false);
}

}  // namespace kvq
