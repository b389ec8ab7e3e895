// The ACPI page: every table the firmware publishes, one row each, with the
// checks it passes; Enter opens the selected table's bytes on the Memory
// page. The list is walked once, on the first drawing; every shown row is
// read again on each pass, so a table the firmware changes (and a checksum
// it breaks) shows at once.
#include "app/colors.h"
#include "app/footer.h"
#include "app/list_cursor.h"
#include "hw/acpi.h"
#include "hw/memio.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/format.h"

namespace kvq {
namespace {

constexpr int kWidth = 80;
constexpr int kFirstRow = 1;
constexpr int kRows = 20;  // screen rows 1 to 20
constexpr int kStatusRow = 22;

struct HealthText {
  acpi::Health health;
  const char16_t* text;  // at most 13 characters
};

constexpr HealthText kHealthTexts[] = {
    {.health = acpi::Health::kOk, .text = u"ok"},
    {.health = acpi::Health::kBadChecksum, .text = u"BAD CHECKSUM"},
    {.health = acpi::Health::kNoChecksum, .text = u"none"},
    {.health = acpi::Health::kUnmapped, .text = u"unmapped"},
    {.health = acpi::Health::kBeyondReach, .text = u"beyond reach"},
    {.health = acpi::Health::kBadSignature, .text = u"bad signature"},
    {.health = acpi::Health::kBadLength, .text = u"bad length"},
};

constexpr bool health_texts_sound() {
  int i = 0;
  for (const HealthText& h : kHealthTexts) {
    if (static_cast<int>(h.health) != i++ || text_length(h.text) > 13) return false;
  }
  return i == static_cast<int>(acpi::Health::kBadLength) + 1;
}
static_assert(health_texts_sound());

// The columns, as the header names them and each row fills them: 80
// characters, so the highlight spans the screen.
constexpr const char16_t* kHeaderFormat = u"%-4s %-16s  %-8s  %-3s  %-6s  %-8s  %-13s%11s";
constexpr const char16_t* kRowFormat = u"%-4s %016X  %-8s  %-3s  %-6s  %-8s  %-24s";

// Table bytes as text: NUL as a blank (OEM IDs are padded with either),
// anything else unprintable as a dot.
void widen(const uint8_t* bytes, int count, bool present, char16_t* out) {
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    out[i] = !present || b == 0 ? u' ' : (b < 0x20 || b > 0x7E) ? u'.' : static_cast<char16_t>(b);
  }
  out[count] = 0;
}

void format_row(const acpi::Table& t, char16_t (&line)[kWidth + 1]) {
  char16_t signature[5];
  char16_t oem_id[7];
  char16_t table_id[9];
  char16_t length[9] = {};
  char16_t revision[3] = {};
  acpi::name_text(t, signature);
  widen(t.oem_id, 6, t.has_oem_id, oem_id);
  widen(t.oem_table_id, 8, t.has_table_id, table_id);
  if (t.head_read) sformat(length, 9, u"%08X", t.length);
  if (t.span.ok()) sformat(revision, 3, u"%02X", t.revision);
  sformat(line, kWidth + 1, kRowFormat, signature, t.place.address, length, revision, oem_id, table_id,
          kHealthTexts[static_cast<int>(t.health)].text);
}

void draw_rows(const AppState& s) {
  for (int i = 0; i < kRows; ++i) {
    const int32_t index = s.acpi_top + i;
    con::set_cursor(0, kFirstRow + i);
    if (index >= s.acpi.count) {
      con::set_attr(kAttrWhite);
      con::repeat(u' ', kWidth);
      continue;
    }
    const acpi::Table t = acpi::read_table(s.acpi.tables[index]);
    const bool sound = t.health == acpi::Health::kOk || t.health == acpi::Health::kNoChecksum;
    con::set_attr(index == s.acpi_row ? kAttrWhiteOnGreen : sound ? kAttrWhite : kAttrYellow);
    char16_t line[kWidth + 1];
    format_row(t, line);
    con::put_text(line);
  }
}

void draw(const AppState& s) {
  con::set_attr(kAttrWhiteOnBlue);
  con::set_cursor(0, 0);
  con::print(kHeaderFormat, u"Sig", u"Address", u"Length", u"Rev", u"OEM ID", u"Table ID", u"Checksum",
             u"ACPI TABLES");
  draw_rows(s);
  con::set_attr(kAttrWhite);
  con::set_cursor(0, kStatusRow);
  if (s.acpi.count == 0) {
    con::print(u"%-64s", u"The firmware lists no ACPI root pointer (RSDP).");
  } else {
    con::print(u"%-64s", u"Enter: the table's bytes on the Memory page");
  }
  con::print(u"TABLE : %03d/%03d", s.acpi.count > 0 ? s.acpi_row + 1 : 0, s.acpi.count);
}

// Enter: the Memory page in byte mode, its first cell on the table's first
// byte; only where the processor can address the whole window, as the
// Memory page itself takes a base.
void open_table(AppState& s) {
  if (s.acpi_row >= s.acpi.count) return;
  const uint64_t address = s.acpi.tables[s.acpi_row].address;
  if (address > phys::highest_address() || memio::window_address(address, 255) > phys::highest_address()) return;
  s.memory_base = address;
  s.width = kByte;
  s.cursors[static_cast<int>(PageId::kMemory)][kByte - 1] = CellCursor{};
  s.page = PageId::kMemory;
  con::clear_screen();
}

void act_on_key(AppState& s) {
  const Key key = s.key;
  if (move_list_cursor(key.scan, s.acpi.count, kRows, &s.acpi_row, &s.acpi_top)) {
    // the selection moved
  } else if (key.scan == 0 && key.ch == kCharEnter) {
    open_table(s);
  } else {
    return;  // F5, F6, F7, Esc and anything else: left to the loop
  }
  s.key = Key{0, 0};
}

}  // namespace

void acpi_pass(AppState& state) {
  con::poll_key(&state.key);
  if (!state.acpi_searched) {
    state.acpi = acpi::list_tables();
    state.acpi_searched = true;
  }
  act_on_key(state);
  if (state.page != PageId::kAcpi) return;
  draw(state);
  draw_footer(false);
}

}  // namespace kvq
