#include "platform/sim/devices.h"

namespace kvq::sim {

E1000eMmio::E1000eMmio(uint64_t base, const uint8_t mac[6])
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

uint32_t E1000eIo::read(uint16_t port, int width) {
  const uint16_t o = static_cast<uint16_t>(port - base_);
  if (width != 32 || (o != 0 && o != 4)) return 0xFFFFFFFFu;
  return o == 0 ? ioaddr : registers_.reg(ioaddr);
}

void E1000eIo::write(uint16_t port, int width, uint32_t value) {
  if (width == 32 && port == base_) ioaddr = value;
}

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

// A word or dword access reaches the pair a byte lane at a time, as the
// chipset splits it: index, then data.
uint32_t Cmos::read(uint16_t port, int width) {
  if (width > 8) {
    uint32_t v = 0;
    for (int i = width / 8 - 1; i >= 0; --i) v = (v << 8) | read(static_cast<uint16_t>(port + i), 8);
    return v;
  }
  if (port == 0x70) return 0xFF;  // the index register is write-only
  const uint8_t i = index & 0x7F;
  if (clock && (i == 0 || i == 2 || i == 4)) {
    const uint32_t t = clock();
    if (i == 0) return bcd(t % 60);
    if (i == 2) return bcd(t / 60 % 60);
    return bcd(t / 3600 % 24);
  }
  return port == 0x71 ? ram[i] : 0xFF;
}

void Cmos::write(uint16_t port, int width, uint32_t value) {
  if (width > 8) {
    for (int i = 0; i < width / 8; ++i) write(static_cast<uint16_t>(port + i), 8, value >> (8 * i));
    return;
  }
  if (port == 0x70) {
    index = static_cast<uint8_t>(value);
  } else {
    ram[index & 0x7F] = static_cast<uint8_t>(value);
  }
}

}  // namespace kvq::sim
