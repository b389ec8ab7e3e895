// The TCG protocol on the host: whether the simulated firmware offers it.
#include "platform/sim/board.h"
#include "platform/tcg.h"

namespace kvq::plat {

bool tpm12_present() { return sim::board().tcg_protocol; }

}  // namespace kvq::plat
