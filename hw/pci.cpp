#include "hw/pci.h"

#include "platform/hw.h"

namespace kvq {
constinit RegisterWindow g_window;
}

namespace kvq::pci {

constinit DeviceTable g_devices;

uint32_t read_config(uint32_t address) {
  plat::port_out32(kAddressPort, address);
  return plat::port_in32(kDataPort);
}

void read_window(int32_t bus, int32_t device, int32_t function, RegisterWindow& window) {
  const uint32_t base = config_address(bus, device, function);
  for (int offset = 0; offset < 256; offset += 4) {
    const uint32_t d = read_config(base + static_cast<uint32_t>(offset));
    window.bytes[offset] = static_cast<uint8_t>(d);
    window.bytes[offset + 1] = static_cast<uint8_t>(d >> 8);
    window.bytes[offset + 2] = static_cast<uint8_t>(d >> 16);
    window.bytes[offset + 3] = static_cast<uint8_t>(d >> 24);
  }
}

int32_t scan(DeviceTable& table) {
  table.count = 0;
  for (int32_t bus = 0; bus < 256; ++bus) {
    for (int32_t device = 0; device < 32; ++device) {
      for (int32_t function = 0; function < 8; ++function) {
        const uint32_t id = read_config(config_address(bus, device, function));
        // Only all ones means nothing answered; a vendor ID of 0xFFFF with a
        // device ID is a function in a strange state, and is listed.
        if (id == 0xFFFFFFFFu) continue;
        if (table.count >= kTableCapacity) continue;
        table.entries[table.count++] = TableEntry{bus, device, function, static_cast<int32_t>(id >> 16),
                                                  static_cast<int32_t>(id & 0xFFFF)};
      }
    }
  }
  return table.count;
}

namespace {
// Read-modify-write of the dword that holds the cursor cell: the other bytes
// go back as read (a status register is written with what it read).
void merge_write(int32_t bus, int32_t device, int32_t function, int offset, uint32_t value, uint32_t mask,
                 int shift) {
  const uint32_t address = config_address(bus, device, function) + static_cast<uint32_t>(offset & 0xFC);
  const uint32_t d = read_config(address);
  const uint32_t merged = (d & ~(mask << shift)) | ((value & mask) << shift);
  plat::port_out32(kAddressPort, address);
  plat::port_out32(kDataPort, merged);
}
}  // namespace

void write_byte(int32_t bus, int32_t device, int32_t function, int offset, uint8_t value) {
  merge_write(bus, device, function, offset, value, 0xFF, 8 * (offset & 3));
}

void write_word(int32_t bus, int32_t device, int32_t function, int offset, uint16_t value) {
  merge_write(bus, device, function, offset, value, 0xFFFF, (offset & 2) != 0 ? 16 : 0);
}

void write_dword(int32_t bus, int32_t device, int32_t function, int offset, uint32_t value) {
  plat::port_out32(kAddressPort, config_address(bus, device, function) + static_cast<uint32_t>(offset));
  plat::port_out32(kDataPort, value);
}

uint32_t extended_base() { return read_config(config_address(0, 0, 0) + 0x60) & 0xFFFFFFF0u; }

uint32_t extended_address(int32_t bus, int32_t device, int32_t function) {
  return extended_base() + static_cast<uint32_t>(bus) * 0x100000u + static_cast<uint32_t>(device) * 0x8000u +
         static_cast<uint32_t>(function) * 0x1000u;
}

}  // namespace kvq::pci

namespace kvq::pci {

bool is_express(const RegisterWindow& w) {
  constexpr uint8_t kCapabilityListBit = 0x10;
  constexpr uint8_t kExpressId = 0x10;
  if ((w.bytes[0x06] & kCapabilityListBit) == 0) return false;
  bool seen[64] = {};
  int p = w.bytes[0x34] & 0xFC;
  for (int n = 0; n < 48 && p >= 0x40; ++n) {
    if (seen[p >> 2]) break;
    seen[p >> 2] = true;
    if (w.bytes[p] == kExpressId) return true;
    p = w.bytes[p + 1] & 0xFC;
  }
  return false;
}

}  // namespace kvq::pci
