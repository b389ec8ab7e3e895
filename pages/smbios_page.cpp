// The SMBIOS page: where the entry point and the structure table lie, and
// the identification strings of the BIOS (type 0), the system (type 1) and
// the baseboard (type 2). Read-only; the table is walked again on every pass
// so a table the firmware changes shows at once.
#include "app/colors.h"
#include "app/footer.h"
#include "hw/smbios.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

// The longest string shown; longer ones are cut.
constexpr int kStringChars = 49;

struct IdentityLine {
  uint8_t type;   // structure type
  uint8_t field;  // offset of its string-number field
  int row;
  const char16_t* label;
};

// Each line takes its string through its structure's string-number field, so
// the serial and SKU numbers land on their own lines whatever the order of
// the string set. The SKU field exists only from SMBIOS 2.4 on (formatted
// length 1Bh); an older table leaves that line empty.
constexpr IdentityLine kLines[] = {
    {.type = 0, .field = 0x04, .row = 3, .label = u"Type0_Vendor_Name       : "},
    {.type = 0, .field = 0x05, .row = 4, .label = u"Type0_BIOS_Version      : "},
    {.type = 0, .field = 0x08, .row = 5, .label = u"Type0_BIOS_Build_Date   : "},
    {.type = 1, .field = 0x04, .row = 7, .label = u"Type1_Manufacturer_Name : "},
    {.type = 1, .field = 0x05, .row = 8, .label = u"Type1_Product_Name      : "},
    {.type = 1, .field = 0x06, .row = 9, .label = u"Type1_Version           : "},
    {.type = 1, .field = 0x07, .row = 10, .label = u"Type1_Serial_Number     : "},
    {.type = 1, .field = 0x19, .row = 11, .label = u"Type1_SKU_Number        : "},
    {.type = 2, .field = 0x04, .row = 13, .label = u"Type2_Manufacturer_Name : "},
    {.type = 2, .field = 0x05, .row = 14, .label = u"Type2_Product_Name      : "},
    {.type = 2, .field = 0x06, .row = 15, .label = u"Type2_Version           : "},
    {.type = 2, .field = 0x07, .row = 16, .label = u"Type2_Serial_Number     : "},
};

constexpr bool lines_are_sound() {
  int previous_row = 2;
  for (const IdentityLine& line : kLines) {
    if (line.type >= smbios::kIdentityTypes || line.field < 4 || line.row <= previous_row || line.row > 16) return false;
    const int len = text_length(line.label);
    // Label and the longest string fit one line of the standard screen.
    if (len != 26 || len + kStringChars > 80) return false;
    previous_row = line.row;
  }
  return true;
}
static_assert(sizeof(kLines) / sizeof(kLines[0]) == 12 && lines_are_sound());

void draw_addresses(const smbios::EntryPoint& entry) {
  con::print(u"SMBIOS TAG Address   : 0x%08X\n", entry.address);
  con::set_cursor(0, 1);
  // A table above 4 GiB shows all its digits.
  con::print(u"SMBIOS Entry Address : 0x%08X\n\n", entry.table);
}

void draw_identity(const smbios::EntryPoint& entry) {
  smbios::Structure found[smbios::kIdentityTypes];
  smbios::find_identity_structures(entry, found);
  for (const IdentityLine& line : kLines) {
    char16_t text[kStringChars + 1];
    smbios::read_string(found[line.type], line.field, text, kStringChars + 1);
    con::set_cursor(0, line.row);
    con::put_text(line.label);
    // Padded: a string that got shorter leaves nothing of the old one.
    con::print(u"%-49s", text);
  }
}

}  // namespace

void smbios_pass(AppState& state) {
  con::poll_key(&state.key);
  if (!state.smbios_searched) {
    state.smbios = smbios::find_entry_point();
    state.smbios_searched = true;
  }
  con::set_attr(kAttrWhite);
  con::set_cursor(0, 0);
  if (state.smbios.found()) {
    draw_addresses(state.smbios);
    draw_identity(state.smbios);
  } else {
    con::print(u"Error ! No DMI struct found !\n");
  }
  con::set_attr(kAttrBlack);
  draw_footer(false);
}

}  // namespace kvq
