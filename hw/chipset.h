// The chipset kvq runs on, named by the PCI IDs of its LPC or eSPI bridge
// before any of its other registers is used: where its SPI flash controller
// lies and whether that controller has the descriptor observability
// registers, and how the bridge decides which Super I/O ports go to LPC.
// An unknown bridge gets neither a flash controller nor a decode rule.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "hw/reg.h"

namespace kvq::chipset {

// Where a generation's SPI controller sits, as far as its soft straps go.
enum class Spi : uint8_t {
  kNone,       // no Intel flash controller: not a flash descriptor chipset
  kNoFdoc,     // a controller without FDOC/FDOD, or one kvq does not reach
  kRcba,       // SPIBAR at RCBA (bridge register F0h) + spibar_in_rcba
  kFunction,   // BAR0 of the SPI function on bus 0
};

// How the bridge forwards the Super I/O configuration ports.
enum class SioDecode : uint8_t {
  kUnknown,   // not known: every port is taken as decoded
  kIntelLpc,  // LPC_EN (82h) and the generic decode ranges (84h-90h)
  kAmdFch,    // IO port decode enable (48h)
};

struct Generation {
  char16_t name[17];
  uint16_t vendor;        // the bridge's
  uint8_t bridge_device;  // its place on bus 0
  uint8_t bridge_function;
  Spi spi;
  uint16_t spibar_in_rcba;  // kRcba
  uint8_t fdoc;             // FDOC's offset in SPIBAR (kRcba, kFunction)
  uint8_t spi_device;       // kFunction
  uint8_t spi_function;
  SioDecode decode;
};

// The generation of the board's bridge, or null when no known bridge
// answers (nothing else is read then). Reads only the ID registers.
const Generation* identify();

// The bridge's own registers that decide the Super I/O ports.
// LPC I/O enables: CNF1 sends 2Eh/2Fh to LPC, CNF2 4Eh/4Fh.
struct LpcEnables : reg::Register<0x82, 2> {
  using Cnf2 = reg::Field<13, 13>;
  using Cnf1 = reg::Field<12, 12>;
};
static_assert(reg::fields_fit<LpcEnables, LpcEnables::Cnf2, LpcEnables::Cnf1>());
// Generic LPC decode ranges 1 to 4: a dword-aligned base, the address
// bits 7:2 that are masked out of the match, and an enable.
template <int N>
struct GenericDecode : reg::Register<0x84 + 4 * N, 4> {
  static_assert(N >= 0 && N < 4, "four generic decode ranges");
  using Mask = reg::Field<23, 18>;
  using Base = reg::Field<15, 2>;
  using Enable = reg::Field<0, 0>;
};
static_assert(reg::fields_fit<GenericDecode<0>, GenericDecode<0>::Mask, GenericDecode<0>::Base,
                              GenericDecode<0>::Enable>());
// AMD FCH: the Super I/O (2Eh/2Fh) and alternate Super I/O (4Eh/4Fh) ports.
struct AmdIoDecode : reg::Register<0x48, 1> {
  using AltSuperIo = reg::Field<1, 1>;
  using SuperIo = reg::Field<0, 0>;
};
static_assert(reg::fields_fit<AmdIoDecode, AmdIoDecode::AltSuperIo, AmdIoDecode::SuperIo>());

// Whether the bridge of `generation` sends the index/data pair at `port`
// to LPC: read from its decode registers; true for an unknown bridge or an
// unknown decode rule (kvq then probes as it always did).
bool decodes(const Generation* generation, uint16_t port);

}  // namespace kvq::chipset
