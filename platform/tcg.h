// The firmware's Trusted Computing services, as far as kvq's probes must
// know them. The UEFI backend asks the firmware; on the host the simulated
// board answers.
#pragma once

namespace kvq::plat {

// Whether the firmware offers the TCG protocol, which it installs for a
// TPM 1.2. An LPC TPM 1.2 has a configuration port at 4Eh/4Fh that opens on
// 55h and closes on AAh, bytes of the Super I/O entry keys.
bool tpm12_present();

}  // namespace kvq::plat
