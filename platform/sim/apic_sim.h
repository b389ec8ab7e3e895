// The interrupt controllers' register pages on the simulated board: a local
// APIC and I/O APICs that decode only aligned 32-bit accesses, as the real
// ones do. Any other access is recorded in the board's faults (and reads
// garbage), so a test fails when kvq makes one. And the MADT that lists the
// I/O APICs, added to the board's ACPI tables.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

class ApicPage : public MemDevice {
 public:
  enum class Kind : uint8_t { kLocal, kIo };
  ApicPage(Board& board, uint64_t base, Kind kind);
  bool claims(uint64_t addr) const override { return addr - base_ < 4096; }
  uint64_t read(uint64_t addr, int width) override;
  void write(uint64_t addr, int width, uint64_t value) override;

  // The local APIC's registers (16 bytes apart, by offset / 16); the I/O
  // APIC's indirect registers (by IOREGSEL) and IOREGSEL itself.
  uint32_t regs[256] = {};
  uint32_t select = 0;

 private:
  bool decodes(uint64_t addr, int width, uint64_t value, bool write);
  Board& board_;
  uint64_t base_;
  Kind kind_;
};

// Writes a MADT (the local APIC at `local`, one entry per I/O APIC) at `at`
// and lists it in new root tables after it, the root pointer (the board's
// ACPI 2.0 configuration table entry) changed to them.
void install_madt(Board& board, uint32_t at, uint32_t local, const std::vector<uint32_t>& io_apics);

}  // namespace kvq::sim
