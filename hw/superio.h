// Super I/O chips and embedded controllers behind the index/data pairs at
// 2Eh/2Fh, 4Eh/4Fh and 6Eh/6Fh: which chip answers where (found once at
// start-up), the 256-register window through any index/data pair, and the
// two configuration writes of the Super I/O page.
#pragma once
#include <stdint.h>

#include "hw/reg.h"
#include "hw/window.h"

namespace kvq::sio {

// Configuration registers every chip kvq knows has at these indexes.
struct ConfigControl : reg::Register<0x02, 1> {};        // ITE: bit 1 returns to wait-for-key
struct LogicalDeviceNumber : reg::Register<0x07, 1> {};  // selects the device behind 30h-FFh
struct ChipId1 : reg::Register<0x20, 1> {};              // vendor or family byte
struct ChipId2 : reg::Register<0x21, 1> {};              // model byte
struct BaseAddressHigh : reg::Register<0x60, 1> {};      // of the selected logical device
struct BaseAddressLow : reg::Register<0x61, 1> {};
// The Winbond hardware monitor's bank select, at index 4Eh of the monitor's
// own index/data pair: bank 0 is the monitor's base space.
struct MonitorBankSelect : reg::Register<0x4E, 1> {
  using Bank = reg::Field<3, 0>;
};
static_assert(reg::fields_fit<MonitorBankSelect, MonitorBankSelect::Bank>());

// Which entry key opens a chip's configuration registers.
enum KeyFamily : uint16_t { kKeyIte = 0, kKeyWinbond = 1, kKeyNuvoton = 2, kKeyFintek = 3 };
inline constexpr int kKeyFamilyCount = 4;

// Whether start-up probed a configuration port: it leaves alone a port the
// bridge does not send to LPC, and 4Eh where the firmware drives a TPM 1.2
// (an LPC TPM's configuration port answers 55h and AAh there).
enum Probe : uint8_t { kProbed = 0, kNotDecoded, kTpmSkipped };

// What start-up found at one configuration port. A port where nothing was
// recognised keeps vid 0, did 0 and both names "N/A".
struct ChipRecord {
  uint16_t port;        // index port; the data port is port + 1
  uint16_t ec_found;    // 1: an ITE embedded controller, skipped by detection
  uint16_t vid;         // register 20h of a recognised vendor
  uint16_t did;         // register 21h of a known model
  uint16_t key_family;  // the key the window read sends at this port
  uint16_t hwm_port;    // hardware monitor index port: its base + 5
  const char16_t* vendor;
  const char16_t* model;
  uint8_t probe = kProbed;
};

inline constexpr int kChipCount = 3;
inline constexpr uint16_t kChipPorts[kChipCount] = {0x2E, 0x4E, 0x6E};
inline constexpr const char16_t* kNotFound = u"N/A";

// The three records, ports 2Eh, 4Eh, 6Eh in this order.
extern ChipRecord g_chips[kChipCount];

// The record of a configuration port, or null for any other port.
const ChipRecord* chip_at(uint16_t port);
// The first port start-up probed (2Eh when it probed none).
uint16_t first_probed_port();

// The embedded controller probe: resets the records to their load values,
// marks the ports start-up leaves alone (asking the chipset's bridge and
// the firmware), and marks the probed ports where an IT8518 or IT8528
// answers (no entry key).
void probe_ec(ChipRecord (&chips)[kChipCount]);

// Super I/O detection on every probed record the embedded controller probe
// did not claim: the ITE, Winbond/Nuvoton and Fintek phases in turn, a
// later phase overwriting what an earlier one set. Every chip entered is
// left with its family's exit sequence and its logical device as found.
void detect(ChipRecord (&chips)[kChipCount]);

// Registers 00h..FFh through (index_port, data_port) into the window. At a
// configuration port the record's entry key goes before every register
// (reading index AAh takes a Winbond-family chip out of configuration
// mode); hold a Session there, which leaves the chip as it was found.
void read_window(uint16_t index_port, uint16_t data_port, RegisterWindow& window);

// Register `reg` := `value`: the index, then the value. No key.
void write_register(uint16_t index_port, uint16_t data_port, uint8_t reg, uint8_t value);

// Logical device number (register 07h) plus `direction` (+1 or -1),
// wrapping at 8 bits; returns the new number. No key.
uint8_t step_logical_device(uint16_t index_port, uint16_t data_port, int direction);

// A chip's configuration registers opened for one stretch of accesses. At a
// configuration port: the entry key, the logical device the chip has
// selected read, and `ldn` selected instead (-1: keep it). close() (or the
// end of its scope) sends the key again, puts the chip's own logical device
// back when anything changed it, and leaves with the family's exit
// sequence. At any other port it adds nothing to the accesses.
class Session {
 public:
  Session() = default;
  ~Session() { close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void open(uint16_t index_port, int ldn);
  void close();
  bool at_chip() const { return family_ >= 0; }
  // write_register and step_logical_device through the open pair, noting
  // a change of the logical device.
  void write(uint8_t reg, uint8_t value);
  uint8_t step(int direction);

 private:
  uint16_t port_ = 0;
  int family_ = -1;  // the key family at a configuration port
  uint8_t found_ = 0;
  bool moved_ = false;
};

}  // namespace kvq::sio
