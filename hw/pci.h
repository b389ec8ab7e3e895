// PCI configuration space through configuration mechanism #1: a dword
// address written to port 0xCF8, then a dword read or written at 0xCFC.
#pragma once
#include <stdint.h>

#include "hw/window.h"

namespace kvq::pci {

inline constexpr uint16_t kAddressPort = 0xCF8;
inline constexpr uint16_t kDataPort = 0xCFC;

// Configuration address of register 0 of a function. The fields are not
// masked: a device above 31 or a function above 7 spills into the next field,
// and only the low 32 bits remain.
constexpr uint32_t config_address(int32_t bus, int32_t device, int32_t function) {
  return 0x80000000u | (static_cast<uint32_t>(bus) << 16) | (static_cast<uint32_t>(device) << 11) |
         (static_cast<uint32_t>(function) << 8);
}

// One dword of configuration space: address to 0xCF8, dword from 0xCFC.
uint32_t read_config(uint32_t address);

// Fills the window with registers 0x00..0xFF of the function.
void read_window(int32_t bus, int32_t device, int32_t function, RegisterWindow& window);

struct TableEntry {
  int32_t bus;
  int32_t device;
  int32_t function;
  int32_t device_id;
  int32_t vendor_id;
};

inline constexpr int kTableCapacity = 500;

struct DeviceTable {
  TableEntry entries[kTableCapacity] = {};
  int32_t count = 0;
};

// The table the bus scan fills once at start-up.
extern DeviceTable g_devices;

// Probes every bus, device and function (function 0 absent or not, single-
// function header or not) and stores each that answers, in scan order. A
// board with more than the table holds keeps the first 500 and counts 500.
int32_t scan(DeviceTable& table);

// The writes of the value entry, at the offset of the cursor cell: byte and
// word read the dword, replace their part and write it back; dword writes
// without reading.
void write_byte(int32_t bus, int32_t device, int32_t function, int offset, uint8_t value);
void write_word(int32_t bus, int32_t device, int32_t function, int offset, uint16_t value);
void write_dword(int32_t bus, int32_t device, int32_t function, int offset, uint32_t value);

// Base of the memory-mapped configuration space: register 0x60 of 0:0.0 with
// bits 3:0 cleared (only its low dword; a base above 4 GiB is out of reach).
uint32_t extended_base();
// The function's 4 KiB of memory-mapped configuration space, in 32-bit
// arithmetic. Reads register 0x60 afresh.
uint32_t extended_address(int32_t bus, int32_t device, int32_t function);

}  // namespace kvq::pci

namespace kvq::pci {

// PCI Express: the function's capability list (status bit 4, pointer at
// 0x34) holds a capability with ID 0x10. Walks the window already read:
// dword-aligned pointers from 0x40 up, at most 48 entries, stopping on a
// pointer seen before.
bool is_express(const RegisterWindow& window);

}  // namespace kvq::pci
