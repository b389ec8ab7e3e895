// The AHCI and ATA layouts the disk probe touches: register offsets, the
// fields of each register declared high bit first, and the places of the
// command structures in memory. Checked at compile time against the values
// the AHCI 1.3.1 and ATA8-ACS documents give.
#pragma once
#include <stdint.h>

#include "hw/reg.h"

namespace kvq::ahci {

using reg::Field;
using reg::high_bit_first;

// Generic host control, from ABAR.
inline constexpr uint32_t kPi = 0x0C;  // ports implemented: bit n for port n

// BIOS/OS handoff control: while BOS is set the firmware claims the HBA as
// its own (an HBA without the handoff capability reads 0 here).
struct Bohc : reg::Register<0x28, 4> {
  using Bos = Field<0, 0>;  // BIOS owned semaphore
  static_assert(high_bit_first<Bos>());
};

// Port registers: ABAR + 0x100 + 0x80 x port.
inline constexpr uint32_t kFirstPort = 0x100;
inline constexpr uint32_t kPortStride = 0x80;
inline constexpr int kMaxPorts = 32;
constexpr uint32_t port_offset(int port) { return kFirstPort + kPortStride * static_cast<uint32_t>(port); }

inline constexpr uint32_t kPxClb = 0x00;   // command list base, 1 KiB aligned
inline constexpr uint32_t kPxClbu = 0x04;  // its upper 32 bits
inline constexpr uint32_t kPxFb = 0x08;    // received-FIS area
inline constexpr uint32_t kPxFbu = 0x0C;
inline constexpr uint32_t kPxIs = 0x10;    // interrupt status

struct PxIs : reg::Register<kPxIs, 4> {
  using Tfes = Field<30, 30>;  // task-file error status
  using Hbfs = Field<29, 29>;  // host bus fatal error: a DMA the host refused
  using Hbds = Field<28, 28>;  // host bus data error
  using Ifs = Field<27, 27>;   // interface fatal error
  static_assert(high_bit_first<Tfes, Hbfs, Hbds, Ifs>());
  // The errors that stop the port (the HBA's ERR:Fatal state) until ST is
  // cleared and set again.
  static constexpr uint32_t kFatal = Tfes::kMask | Hbfs::kMask | Hbds::kMask | Ifs::kMask;
};

struct PxCmd : reg::Register<0x18, 4> {
  using Cr = Field<15, 15>;   // command list running
  using Fr = Field<14, 14>;   // FIS receive running
  using Fre = Field<4, 4>;    // FIS receive enable
  using St = Field<0, 0>;     // start: process the command list
  static_assert(high_bit_first<Cr, Fr, Fre, St>());
};

struct PxTfd : reg::Register<0x20, 4> {
  using Error = Field<15, 8>;  // the device's error register
  using Bsy = Field<7, 7>;
  using Drq = Field<3, 3>;
  using Err = Field<0, 0>;     // the command ended in error
  static_assert(high_bit_first<Error, Bsy, Drq, Err>());
};

struct PxSsts : reg::Register<0x28, 4> {
  using Ipm = Field<11, 8>;  // interface power management
  using Spd = Field<7, 4>;   // negotiated speed
  using Det = Field<3, 0>;   // device detection
  static_assert(high_bit_first<Ipm, Spd, Det>());
  // A device is present and the link to it is up.
  static constexpr uint32_t kDetPresent = 3;
};

inline constexpr uint32_t kPxSig = 0x24;   // signature of the device on the link
inline constexpr uint32_t kSigAta = 0x00000101u;  // an ATA disk (not ATAPI, a bridge or a multiplier)
inline constexpr uint32_t kPxSerr = 0x30;  // SATA errors, write 1 to clear
inline constexpr uint32_t kPxSact = 0x34;  // native queued commands outstanding
inline constexpr uint32_t kPxCi = 0x38;    // commands issued: bit n for slot n

// Command header of slot 0: 32 bytes at PxCLB.
struct CommandHeader {
  static constexpr uint32_t kDw0 = 0x00;
  using Prdtl = Field<31, 16>;  // PRD entries in the table
  using Pmp = Field<15, 12>;    // port multiplier port
  using C = Field<10, 10>;      // clear busy on R_OK
  using B = Field<9, 9>;        // BIST
  using R = Field<8, 8>;        // reset
  using P = Field<7, 7>;        // prefetchable
  using W = Field<6, 6>;        // write: host to device
  using A = Field<5, 5>;        // ATAPI
  using Cfl = Field<4, 0>;      // command FIS length in dwords
  static_assert(high_bit_first<Prdtl, Pmp, C, B, R, P, W, A, Cfl>());
  static constexpr uint32_t kCtba = 0x08;   // command table base, 128-byte aligned
  static constexpr uint32_t kCtbau = 0x0C;  // its upper 32 bits
};

// Command table: the command FIS at its start, the PRD table at 0x80.
struct CommandTable {
  static constexpr uint32_t kFisType = 0x00;
  static constexpr uint32_t kFisFlags = 0x01;  // bit 7: C, the FIS carries a command
  static constexpr uint32_t kFisCommand = 0x02;
  static constexpr uint32_t kPrd0 = 0x80;
};

// One PRD entry, 16 bytes.
struct Prd {
  static constexpr uint32_t kDba = 0x00;   // data base address, even
  static constexpr uint32_t kDbau = 0x04;  // its upper 32 bits
  static constexpr uint32_t kDbc = 0x0C;
  using I = Field<31, 31>;    // interrupt on completion
  using Dbc = Field<21, 0>;   // byte count minus 1
  static_assert(high_bit_first<I, Dbc>());
};

inline constexpr uint8_t kFisRegisterH2D = 0x27;
inline constexpr uint8_t kFisCommandBit = 0x80;
inline constexpr uint32_t kRegisterH2DDwords = 5;

// The values the probe writes, against the bytes the AHCI document spells
// out: PxCMD's FRE and ST are 0x10 and 0x01 of its low byte; slot 0's header
// for a 5-dword FIS, one PRD entry, device to host, is 0x00010005; PRD byte
// count 0x1FF with the interrupt flag is 0x800001FF.
static_assert(PxCmd::Fre::kMask == 0x10 && PxCmd::St::kMask == 0x01);
static_assert(PxCmd::Cr::kMask == 0x8000 && PxCmd::Fr::kMask == 0x4000);
static_assert(PxIs::kFatal == 0x78000000);
static_assert(CommandHeader::Prdtl::with(CommandHeader::Cfl::with(0, kRegisterH2DDwords), 1) == 0x00010005);
static_assert(Prd::I::with(Prd::Dbc::with(0, 512 - 1), 1) == 0x800001FF);

}  // namespace kvq::ahci

namespace kvq::ata {

inline constexpr uint8_t kIdentifyDevice = 0xEC;
inline constexpr uint32_t kIdentifyBytes = 512;

// Byte offsets in the IDENTIFY DEVICE answer (256 little-endian words).
inline constexpr uint32_t kModel = 54;          // words 27-46, two characters a word, first in the high byte
inline constexpr int kModelShown = 38;          // words 27-45
inline constexpr uint32_t kSectors28 = 120;     // words 60-61
inline constexpr uint32_t kSectors48 = 200;     // words 100-103

}  // namespace kvq::ata
