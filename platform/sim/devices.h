// Device models for the simulated board beyond the PCI host.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/sim/board.h"

namespace kvq::sim {

// Intel e1000e register space: whole 32-bit registers. Like QEMU's model, a
// narrower read returns the low bits of the register at the dword-aligned
// address, whatever byte was asked for: only dword reads give the right MAC.
class E1000eMmio : public MemDevice {
 public:
  E1000eMmio(uint64_t base, const uint8_t mac[6]);
  bool claims(uint64_t addr) const override { return addr - base_ < kSize; }
  uint64_t read(uint64_t addr, int width) override;
  void write(uint64_t addr, int width, uint64_t value) override;
  static constexpr uint32_t kSize = 128 * 1024;
  uint32_t reg(uint32_t offset) const;

 private:
  uint64_t base_;
  uint32_t ral_;
  uint32_t rah_;
};

// The same register block through the e1000e's I/O BAR: IOADDR at +0 and
// IODATA at +4, a dword pair. IODATA reads the register IOADDR names. Like
// the hardware, the pair decodes only 32-bit accesses of its registers: a
// narrower write is ignored and a narrower read returns all ones.
class E1000eIo : public PortDevice {
 public:
  E1000eIo(uint16_t base, const E1000eMmio& registers) : base_(base), registers_(registers) {}
  bool claims(uint16_t port) const override { return static_cast<uint16_t>(port - base_) < 0x20; }
  uint32_t read(uint16_t port, int width) override;
  void write(uint16_t port, int width, uint32_t value) override;
  uint32_t ioaddr = 0;

 private:
  uint16_t base_;
  const E1000eMmio& registers_;
};

// Realtek RTL8139 I/O registers: the station address IDR0..IDR5 at the base,
// byte-readable.
class Rtl8139Io : public PortDevice {
 public:
  Rtl8139Io(uint16_t base, const uint8_t mac[6]);
  bool claims(uint16_t port) const override { return static_cast<uint16_t>(port - base_) < 0x100; }
  uint32_t read(uint16_t port, int width) override;
  void write(uint16_t port, int width, uint32_t value) override;

 private:
  uint16_t base_;
  uint8_t regs_[0x100] = {};
};

// The CMOS clock: index at 0x70 (bit 7 is the NMI mask), data at 0x71.
// Registers 0, 2 and 4 (seconds, minutes, hours, BCD) come from `clock`
// when set, so they change under a live page.
class Cmos : public PortDevice {
 public:
  Cmos();
  bool claims(uint16_t port) const override { return port == 0x70 || port == 0x71; }
  uint32_t read(uint16_t port, int width) override;
  void write(uint16_t port, int width, uint32_t value) override;
  std::function<uint32_t()> clock;  // seconds since midnight
  uint8_t ram[128] = {};
  uint8_t index = 0;
};

}  // namespace kvq::sim
