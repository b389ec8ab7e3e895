// An AHCI controller's memory-mapped registers (ABAR) with eight port
// register blocks, and SATA disks behind them that answer IDENTIFY DEVICE
// through the command list in the board's RAM, as a real HBA does by DMA
// (unlogged: the log holds only the processor's accesses). What goes wrong
// on real HBAs goes wrong here: a DMA outside the board's windows (when the
// board guards DMA) or a task-file error stops the port with its errors
// latched in PxIS and PxSERR until ST is cleared; an order of ST and FRE
// that AHCI forbids wedges the port's engines for good; and the firmware's
// driver, which owns the ports, fails on a port left so.
#pragma once
#include <cstdint>
#include <string>

#include "platform/sim/board.h"

namespace kvq::sim {

struct SimDisk {
  enum class Answer { kData, kAbort, kNever };
  std::string model;        // up to 40 characters, space padded
  uint32_t sectors28 = 0;   // IDENTIFY words 60-61
  uint64_t sectors48 = 0;   // words 100-103
  Answer answer = Answer::kData;
  uint32_t signature = 0x00000101;  // PxSIG: an ATA disk (EB140101h: ATAPI)
};

class AhciController : public MemDevice {
 public:
  static constexpr int kPorts = 8;

  struct Port {
    uint32_t clb = 0, clbu = 0, fb = 0, fbu = 0, is = 0, ie = 0, cmd = 0, tfd = 0x7F, ssts = 0, serr = 0, sact = 0,
             ci = 0;
    bool has_disk = false;
    bool fatal = false;   // ERR:Fatal: no command runs until ST is cleared
    bool wedged = false;  // after a forbidden ST/FRE order: CR and FR frozen
    int forbidden = 0;    // ST/FRE writes in an order AHCI forbids
    SimDisk disk;
    int identifies = 0;       // IDENTIFY DEVICE commands answered
    uintptr_t tpl_at_start = 0;  // the firmware's TPL when the last command started
  };

  AhciController(Board& board, uint32_t abar, uint32_t implemented);
  bool claims(uint64_t addr) const override { return addr - abar_ < 0x1000; }
  uint32_t abar() const { return abar_; }
  uint64_t read(uint64_t addr, int width) override;
  void write(uint64_t addr, int width, uint64_t value) override;

  // A disk on the port's link: DET 3, a device signature, status ready.
  void attach(int port, SimDisk disk);
  // What a firmware's driver leaves after a write of two PRD entries: the
  // command list at `clb` with header 0 pointing at a command table at
  // `ctba` (W set, CFL 5, PRDTL 2), a WRITE DMA EXT in its FIS, PRD entry 0
  // at `stale` (512 bytes of 0xA5 there), the received-FIS area at `fb`,
  // and ST and FRE clear.
  void set_up_like_firmware(int port, uint32_t clb, uint32_t fb, uint32_t ctba, uint32_t stale);

  // A command of the firmware's own driver on `port` (its ATA pass-thru, or
  // the Shell reading the disk): IDENTIFY DEVICE through its own mapped
  // structures, its answer into `buffer`. It finds the port as it leaves
  // it, idle with nothing issued, or fails: a wedged or halted port, ST set
  // with FRE clear, an error latched in PxIS or PxSERR.
  bool driver_identify(int port, uint64_t buffer);

  Port ports[kPorts];
  uint32_t pi;
  uint32_t bohc = 0;  // BIOS/OS handoff: bit 0, BIOS owned
  // As the AHCI document allows: PxCI written while ST is clear is lost
  // (QEMU keeps it).
  bool ignores_ci_while_stopped = false;

 private:
  uint32_t reg(uint32_t offset) const;
  void write_reg(uint32_t offset, uint32_t value, uint32_t bytes_mask);
  void run(Port& p);

  Board& board_;
  uint32_t abar_;
};

// The IDENTIFY DEVICE answer of `disk`, as 512 bytes.
void identify_answer(const SimDisk& disk, uint8_t out[512]);

}  // namespace kvq::sim
