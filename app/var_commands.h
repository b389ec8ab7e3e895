// The variable commands: `dump vars` in the text layout of the Shell's
// `dmpstore -all`, `read var` and `write var`, and the unlisted `time vars`.
#pragma once
#include "app/commands.h"

namespace kvq::cli {

// Every variable in the firmware's order (dmpstore walks the same list and
// prints it backwards): "Variable NV+RT+BS 'EFIGlobalVariable:Timeout'
// DataSize = 0x02", then 16 bytes a line with their offset and characters.
Status dump_vars();

// read var NAME GUID: the variable in dump vars' layout; with OFFSET, the
// value there. write var: the typed bytes written as the Variables page
// writes them, recorded in the undo file first; then the value read back.
Status var_read_or_write(const Command& c);

// COUNT walks of the list, each as the Variables page makes it.
Status time_vars(const Command& c);

}  // namespace kvq::cli
