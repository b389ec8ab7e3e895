#include "platform/sim/devices.h"

namespace kvq::sim {

E1000eMmio::E1000eMmio(uint32_t base, const uint8_t mac[6])
    : base_(base),
      ral_(static_cast<uint32_t>(mac[0]) | (static_cast<uint32_t>(mac[1]) << 8) |
           (static_cast<uint32_t>(mac[2]) << 16) | (static_cast<uint32_t>(mac[3]) << 24)),
      // Address Valid (bit 31) set, as the firmware leaves it.
      rah_(static_cast<uint32_t>(mac[4]) | (static_cast<uint32_t>(mac[5]) << 8) | 0x80000000u) {}

uint32_t E1000eMmio::reg(uint32_t offset) const {
  switch (offset & ~3u) {
    case 0x40:  // RAL0 (legacy alias)
    case 0x5400:
      return ral_;
    case 0x44:  // RAH0
    case 0x5404:
      return rah_;
    case 0x08:  // STATUS: link up, full duplex
      return 0x00080783u;
    default:
      return 0;
  }
}

uint64_t E1000eMmio::read(uint64_t addr, int width) {
  const uint32_t v = reg(static_cast<uint32_t>(addr - base_));
  if (width >= 32) return v;
  return v & ((1u << width) - 1);
}

void E1000eMmio::write(uint64_t, int, uint64_t) {}

Rtl8139Io::Rtl8139Io(uint16_t base, const uint8_t mac[6]) : base_(base) {
  for (int i = 0; i < 6; ++i) regs_[i] = mac[i];
}

uint32_t Rtl8139Io::read(uint16_t port, int width) {
  const int o = static_cast<uint16_t>(port - base_);
  uint32_t v = 0;
  for (int i = width / 8 - 1; i >= 0; --i) v = (v << 8) | regs_[(o + i) & 0xFF];
  return v;
}

void Rtl8139Io::write(uint16_t, int, uint32_t) {}

Cmos::Cmos() {
  ram[0x0A] = 0x26;  // divider on, 1024 Hz
  ram[0x0B] = 0x02;  // 24-hour, BCD
  ram[0x0D] = 0x80;  // valid RAM and time
}

namespace {
uint8_t bcd(uint32_t v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }
}  // namespace

uint32_t Cmos::read(uint16_t port, int) {
  if (port == 0x70) return 0xFF;  // the index register is write-only
  const uint8_t i = index & 0x7F;
  if (clock && (i == 0 || i == 2 || i == 4)) {
    const uint32_t t = clock();
    if (i == 0) return bcd(t % 60);
    if (i == 2) return bcd(t / 60 % 60);
    return bcd(t / 3600 % 24);
  }
  return ram[i];
}

void Cmos::write(uint16_t port, int, uint32_t value) {
  if (port == 0x70) {
    index = static_cast<uint8_t>(value);
  } else {
    ram[index & 0x7F] = static_cast<uint8_t>(value);
  }
}

}  // namespace kvq::sim
