#include "pages/superio_lookup.h"

#include "data/superio_descriptions.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr uint16_t kCmosIndexPort = 0x70;

// The table that describes the chip, by its registers 20h and 21h.
const data::DescriptionTable* chip_table(const sio::ChipRecord& chip) {
  for (int i = 0; i < data::kChipDescriptionCount; ++i) {
    const data::DescriptionTable* t = data::kChipDescriptions[i];
    if (t->vid == chip.vid && t->did == chip.did) return t;
  }
  return nullptr;
}

bool is_logical_device(uint16_t space) { return space <= 0x0A; }

// The Winbond monitor banks with rows of their own; bank 0 is the monitor's
// own space, and bank 3 has none.
bool is_described_bank(int bank) { return bank == 1 || bank == 2 || (bank >= 4 && bank <= 6); }

// Whether a chip row describes the register the query shows. At the
// chip's own port: global rows, and the rows of the logical device that
// register 07h selects (a number that names no logical device, FEh
// included, selects none). At the monitor's port: monitor rows, and on the
// banked Winbond monitor those of the bank register 4Eh selects.
bool chip_row_matches(const data::RegisterDescription& row, const DescriptionQuery& q, const sio::ChipRecord& chip,
                      bool banked) {
  if (row.reg != q.offset) return false;
  if (q.isa_address == chip.port) {
    if (row.space == data::kSpaceGlobal) return true;
    if (is_logical_device(row.space) && row.space == q.logical_device) return true;
  }
  if (q.isa_address == chip.hwm_port) {
    const int bank = q.bank_select & 0x0F;
    if (row.space == data::kSpaceMonitor) return !banked || bank == 0;
    if (banked && is_described_bank(bank) && row.space == data::monitor_bank_space(bank)) return true;
  }
  return false;
}

// The text as stored, then blanks to the end of the line, so a shorter
// description never leaves the tail of a longer one behind it.
void print_at_description_line(const char16_t* text, void*) {
  con::set_cursor(0, 18);
  con::print(u"%s", text);
  con::repeat(u' ', 80 - text_length(text));
}

}  // namespace

void find_descriptions(const DescriptionQuery& q, const sio::ChipRecord& chip, DescriptionSink sink, void* context) {
  if (q.isa_address == kCmosIndexPort) {
    const data::DescriptionTable& cmos = data::kCmosDescriptions;
    for (int i = 0; i < cmos.count; ++i) {
      const data::RegisterDescription& row = cmos.rows[i];
      if (row.space == data::kSpaceCmos && row.reg == q.offset) sink(row.text, context);
    }
  }
  const data::DescriptionTable* table = chip_table(chip);
  if (table == nullptr) return;
  const bool banked = table->banked;
  for (int i = 0; i < table->count; ++i) {
    const data::RegisterDescription& row = table->rows[i];
    if (chip_row_matches(row, q, chip, banked)) sink(row.text, context);
  }
}

void print_descriptions(const DescriptionQuery& q, const sio::ChipRecord& chip) {
  find_descriptions(q, chip, print_at_description_line, nullptr);
}

}  // namespace kvq
