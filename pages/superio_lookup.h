// The description line of the Super I/O page: which table row describes the
// register under the cursor, for the CMOS clock and for the chip at 2Eh.
#pragma once
#include <stdint.h>

#include "hw/superio.h"

namespace kvq {

struct DescriptionQuery {
  uint16_t isa_address;    // the index port the window shows
  uint8_t offset;          // the cursor's register
  uint8_t logical_device;  // window slot 07h as read in this pass
  uint8_t bank_select;     // window slot 4Eh (the monitor's bank register)
};

using DescriptionSink = void (*)(const char16_t* text, void* context);

// Hands every row that describes the register to `sink`, in table order.
// Only the first record's chip (the one at 2Eh) selects a chip table.
void find_descriptions(const DescriptionQuery& query, const sio::ChipRecord& first_chip, DescriptionSink sink,
                       void* context);

// Prints each description found at (0, 18) in the current attribute, as
// stored and blanked to the end of the line; prints nothing when none is
// found, so the line keeps what it showed.
void print_descriptions(const DescriptionQuery& query, const sio::ChipRecord& first_chip);

}  // namespace kvq
