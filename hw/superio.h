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
};

inline constexpr int kChipCount = 3;
inline constexpr uint16_t kChipPorts[kChipCount] = {0x2E, 0x4E, 0x6E};
inline constexpr const char16_t* kNotFound = u"N/A";

// The three records, ports 2Eh, 4Eh, 6Eh in this order.
extern ChipRecord g_chips[kChipCount];

// The record of a configuration port, or null for any other port.
const ChipRecord* chip_at(uint16_t port);

// The embedded controller probe: resets the records to their load values
// and marks the ports where an IT8518 or IT8528 answers (no entry key).
void probe_ec(ChipRecord (&chips)[kChipCount]);

// Super I/O detection on every record the probe did not claim: the ITE,
// Winbond/Nuvoton and Fintek phases in turn, a later phase overwriting what
// an earlier one set.
void detect(ChipRecord (&chips)[kChipCount]);

// Registers 00h..FFh through (index_port, data_port) into the window. At a
// configuration port the record's entry key goes before every register, so
// the chip is in configuration mode whatever happened between passes; it is
// never taken out again.
void read_window(uint16_t index_port, uint16_t data_port, RegisterWindow& window);

// Register `reg` := `value`: the index, then the value. No key.
void write_register(uint16_t index_port, uint16_t data_port, uint8_t reg, uint8_t value);

// Logical device number (register 07h) plus `direction` (+1 or -1),
// wrapping at 8 bits. No key.
void step_logical_device(uint16_t index_port, uint16_t data_port, int direction);

}  // namespace kvq::sio
