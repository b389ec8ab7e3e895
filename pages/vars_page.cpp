// The Variables page: every UEFI variable, one row each in the firmware's
// order, with its GUID, attributes and size read again on every pass; `/`
// filters on the name, Enter opens the selected variable's bytes in the
// grid. There a typed value changes only its bytes: GetVariable, the bytes
// changed, SetVariable with the same attributes and size, GetVariable again;
// the variable's first change in a run is preceded by its record in the
// undo file. AT and AW variables open read-only.
#include "pages/vars_page.h"

#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "app/list_cursor.h"
#include "app/undo.h"
#include "pages/list_rows.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr int kWidth = 80;
constexpr int kFirstRow = 1;
constexpr int kRows = 20;  // screen rows 1 to 20
constexpr int kSelectedRow = 21;
constexpr int kStatusRow = 22;
constexpr int kNameWidth = 24;

constinit vars::VariableList g_list;
// What the last write on the opened variable came to, for row 18.
constinit char16_t g_message[kWidth + 1] = {};

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// The list index of the `nth` variable the filter leaves, or -1.
int32_t nth_match(const AppState& s, int32_t nth) {
  for (int i = 0; i < g_list.count; ++i) {
    if (name_matches(g_list.name(i), s.vars.filter) && nth-- == 0) return i;
  }
  return -1;
}

int32_t match_count(const AppState& s) {
  int32_t n = 0;
  for (int i = 0; i < g_list.count; ++i) n += name_matches(g_list.name(i), s.vars.filter) ? 1 : 0;
  return n;
}

// "Variable NV+RT+BS 'EFIGlobalVariable:Timeout' DataSize = 0x02", as
// dmpstore heads a variable; where that runs past the screen, the
// attributes and size first and the name cut.
void header_text(const char16_t* name, const vars::Guid& guid, const vars::Info& info, char16_t (&out)[kWidth + 1]) {
  char16_t where[vars::kGuidTextSize];
  char16_t attributes[vars::kAttributesTextSize];
  char16_t why[32];
  char16_t whole[2 * kWidth];
  vars::guid_text(guid, where);
  vars::attributes_text(info.attributes, attributes);
  vars::status_text(info.status, why);
  if (info.status != plat::kEfiSuccess) {
    sformat(whole, 2 * kWidth, u"Variable '%s:%s': GetVariable %s", where, name, why);
  } else if (sformat(whole, 2 * kWidth, u"Variable %s '%s:%s' DataSize = 0x%02X", attributes, where, name,
                     info.size) > kWidth) {
    sformat(whole, 2 * kWidth, u"%s 0x%02X bytes '%s:%s'", attributes, info.size, where, name);
  }
  fit_text(whole, kWidth, out);
}

// --- The list --------------------------------------------------------------

void draw_list(const AppState& s) {
  const int32_t matches = match_count(s);
  char16_t line[kWidth + 1];
  sformat(line, kWidth + 1, u"%-24s %-36s %-11s %6s", u"Name", u"GUID", u"Attributes", u"Size");
  put_row(0, kAttrWhiteOnBlue, line);
  int32_t shown = 0;
  for (int i = 0, nth = 0; i < g_list.count && shown < kRows; ++i) {
    if (!name_matches(g_list.name(i), s.vars.filter) || nth++ < s.vars.top) continue;
    const vars::Info info = vars::info(g_list.name(i), g_list.guid(i));
    char16_t name[kNameWidth + 1];
    char16_t where[vars::kGuidTextSize];
    char16_t attributes[vars::kAttributesTextSize];
    fit_text(g_list.name(i), kNameWidth, name);
    vars::guid_text(g_list.guid(i), where);
    vars::attributes_text(info.attributes, attributes);
    attributes[11] = 0;
    if (info.status == plat::kEfiSuccess) {
      char16_t size[12];
      sformat(size, 12, u"0x%X", info.size);
      sformat(line, kWidth + 1, u"%-24s %-36s %-11s %6s", name, where, attributes, size);
    } else {
      sformat(line, kWidth + 1, u"%-24s %-36s %-18s", name, where, u"gone");
    }
    put_row(kFirstRow + shown, s.vars.top + shown == s.vars.row ? kAttrWhiteOnGreen : kAttrWhite, line);
    if (s.vars.top + shown == s.vars.row) {
      char16_t selected[kWidth + 1];
      header_text(g_list.name(i), g_list.guid(i), info, selected);
      put_row(kSelectedRow, kAttrWhite, selected);
    }
    ++shown;
  }
  for (; shown < kRows; ++shown) put_row(kFirstRow + shown, kAttrWhite, u"");
  if (matches == 0) put_row(kSelectedRow, kAttrWhite, u"");
  const char16_t* status = u"Enter: the variable's bytes   /: filter on the name";
  switch (g_list.end) {
    case vars::WalkEnd::kComplete: break;
    case vars::WalkEnd::kRepeated: status = u"The firmware named a variable twice: the list ends there."; break;
    case vars::WalkEnd::kTooMany: status = u"More variables than kvq lists: the list ends here."; break;
    case vars::WalkEnd::kFailed: status = u"GetNextVariableName failed: the list ends there."; break;
    case vars::WalkEnd::kNoMemory: status = u"No pool memory for more names: the list ends there."; break;
  }
  if (s.vars.filter[0] != 0 && g_list.end == vars::WalkEnd::kComplete) {
    sformat(line, kWidth + 1, u"Filter: %s   (/ Esc: every variable)", s.vars.filter);
    status = line;
  }
  con::set_attr(kAttrWhite);
  con::set_cursor(0, kStatusRow);
  con::print(u"%-60s", status);
  con::print(u"VARIABLE : %04d/%04d", matches > 0 ? s.vars.row + 1 : 0, matches);
}

// `/`: a new filter typed in place on the status row. Enter keeps it, Esc
// clears it.
void filter_entry(AppState& s) {
  text_entry(u"Filter:", kStatusRow, s.vars.filter, VariablesPageState::kFilterMax, ascii_printable);
  s.vars.row = 0;
  s.vars.top = 0;
}

void open_selected(AppState& s) {
  const int32_t index = nth_match(s, s.vars.row);
  if (index < 0) return;
  s.vars.open = index;
  s.vars.base = 0;
  g_message[0] = 0;
  s.page = PageId::kVariable;
  con::clear_screen();
}

void act_on_list_key(AppState& s) {
  const Key key = s.key;
  if (move_list_cursor(key.scan, match_count(s), kRows, &s.vars.row, &s.vars.top)) {
    // the selection moved
  } else if (key.scan == 0 && key.ch == kCharEnter) {
    open_selected(s);
  } else if (key.scan == 0 && key.ch == u'/') {
    filter_entry(s);
  } else {
    return;  // F5, F6, Esc and anything else: left to the loop
  }
  s.key = Key{0, 0};
}

// --- One variable ------------------------------------------------------------

struct Opened {
  const char16_t* name;
  const vars::Guid* guid;
};

// Before the variable's first change in this run: its record in the undo
// file; if the file cannot be written, the write waits for y.
bool record_undo(const char16_t* name, const vars::Guid& guid, const vars::Snapshot& original, void*) {
  char16_t why[32];
  if (undo::record_variable_once(name, guid, original, why)) return true;
  char16_t text[kWidth + 1];
  sformat(text, kWidth + 1, u"%s cannot be written (%s). Write without undo? y/n", undo::kFileName, why);
  say_on_message_row(text);
  const Key k = con::wait_key();
  return k.scan == 0 && (k.ch == u'y' || k.ch == u'Y');
}

void write_cell(AppState& state, const void* context, int offset, uint32_t value) {
  const Opened& v = *static_cast<const Opened*>(context);
  const int bytes = layout(state.width).bytes;
  const uint32_t at = state.vars.base + static_cast<uint32_t>(offset);
  const vars::ChangeResult r = vars::change(v.name, *v.guid, at, bytes, value, record_undo, nullptr);
  char16_t why[32];
  vars::status_text(r.status, why);
  switch (r.outcome) {
    case vars::Outcome::kWritten:
      sformat(g_message, kWidth + 1, bytes == 4 ? u"SetVariable: EFI_SUCCESS; offset %X reads back %08X"
                                     : bytes == 2 ? u"SetVariable: EFI_SUCCESS; offset %X reads back %04X"
                                                  : u"SetVariable: EFI_SUCCESS; offset %X reads back %02X",
              at, r.value);
      break;
    case vars::Outcome::kRefused:
      sformat(g_message, kWidth + 1, u"SetVariable refused: %s; the variable is as it was.", why);
      break;
    case vars::Outcome::kReadFailed: sformat(g_message, kWidth + 1, u"GetVariable: %s; nothing was written.", why); break;
    case vars::Outcome::kCancelled: sformat(g_message, kWidth + 1, u"Nothing was written."); break;
    case vars::Outcome::kReadOnly:
    case vars::Outcome::kOutside: sformat(g_message, kWidth + 1, u"Nothing was written there."); break;
  }
}

// The window: 256 bytes from the base; bytes past the end are not there.
void fill_window(const vars::Snapshot& snap, uint32_t base) {
  for (uint32_t i = 0; i < 256; ++i) {
    const bool there = snap.status == plat::kEfiSuccess && base + i >= base && base + i < snap.size;
    g_window.bytes[i] = there ? snap.data[base + i] : 0;
    g_window.absent[i] = !there;
  }
}

void act_on_variable_key(AppState& s, const Opened& v, bool read_only) {
  const Key key = s.key;
  if (key.scan == 0 && key.ch == kCharEnter && read_only) {
    sformat(g_message, kWidth + 1, u"An authenticated variable (AT or AW): read-only.");
  } else if (handle_grid_keys(s, write_cell, &v)) {
    return;
  } else if (key.scan == kScanEsc) {
    s.page = PageId::kVariables;
    con::clear_screen();
  } else if (key.scan == kScanPageUp) {
    s.vars.base = s.vars.base >= 0x100 ? s.vars.base - 0x100 : 0;
  } else if (key.scan == kScanPageDown) {
    const vars::Info info = vars::info(v.name, *v.guid);
    if (s.vars.base + 0x100 < info.size) s.vars.base += 0x100;
  } else if (key.scan == 0 && key.ch == u'p') {
    uint64_t typed = 0;
    put_row(0, kAttrWhite, u"");
    if (long_address_entry(u"Variable offset:", 17, 8, &typed)) s.vars.base = static_cast<uint32_t>(typed);
  } else {
    return;
  }
  s.key = Key{0, 0};
}

void draw_variable(AppState& s, const Opened& v, const vars::Snapshot& snap) {
  char16_t title[kWidth + 1];
  header_text(v.name, *v.guid, vars::Info{snap.status, snap.attributes, snap.size}, title);
  put_row(0, kAttrWhite, title);
  fill_window(snap, s.vars.base);
  const CellCursor& cursor = s.cursor();
  draw_grid(g_window, s.width, cursor);
  if (s.width == kByte) draw_char_column(g_window, cursor);
  draw_cursor_offset(cursor, s.width);
  con::set_cursor(col_before_ruler(s.width, 13), 19);
  con::print(u"0x%08X ->", s.vars.base + static_cast<uint32_t>(cursor_offset(cursor, s.width)));
  draw_cursor_ruler(g_window, cursor, s.width);
  if (g_message[0] == 0 && snap.status == plat::kEfiSuccess && vars::authenticated(snap.attributes)) {
    say_on_message_row(u"An authenticated variable (AT or AW): read-only.");
  } else {
    say_on_message_row(g_message);
  }
  draw_footer(false);
  draw_width_label(s.width);
}

}  // namespace

const vars::VariableList& variables_list() { return g_list; }

void release_variables_list() { vars::release(&g_list); }

bool name_matches(const char16_t* name, const char16_t* filter) {
  if (filter[0] == 0) return true;
  for (; *name != 0; ++name) {
    int i = 0;
    while (filter[i] != 0 && name[i] != 0 && lower(name[i]) == lower(filter[i])) ++i;
    if (filter[i] == 0) return true;
  }
  return false;
}

void variables_pass(AppState& state) {
  con::poll_key(&state.key);
  if (!state.vars.walked) {
    vars::walk(&g_list);
    state.vars.walked = true;
  }
  act_on_list_key(state);
  if (state.page != PageId::kVariables) return;
  draw_list(state);
  draw_footer(false);
}

void variable_pass(AppState& state) {
  if (state.vars.open < 0 || state.vars.open >= g_list.count) {
    con::poll_key(&state.key);
    state.page = PageId::kVariables;
    con::clear_screen();
    return;
  }
  const Opened v{g_list.name(state.vars.open), &g_list.guid(state.vars.open)};
  vars::Snapshot snap = vars::read(v.name, *v.guid);
  draw_variable(state, v, snap);
  const bool read_only = snap.status == plat::kEfiSuccess && vars::authenticated(snap.attributes);
  vars::free_snapshot(&snap);
  con::poll_key(&state.key);
  act_on_variable_key(state, v, read_only);
}

}  // namespace kvq
