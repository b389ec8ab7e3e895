#include "hw/chipset.h"

namespace kvq::chipset {
namespace {

constexpr uint16_t kIntel = 0x8086;
constexpr uint16_t kAmd = 0x1022;

// The generations, as flashrom's chipset enables tell them apart. Up to the
// 9 series SPIBAR lies in the root complex block: 3800h in, with FDOC at
// B0h, from ICH9 on; 3020h in on ICH8, with the same register layout. From
// the 100 series on, and on Apollo Lake and Gemini Lake, the controller is
// a PCI function of its own, FDOC at B4h. ICH7, Tunnel Creek and Centerton
// have a controller at RCBA + 3020h without FDOC; Bay Trail, Braswell,
// Avoton and Rangeley put theirs behind SBASE (register 54h): no straps are
// read there.
enum Gen : uint8_t {
  kIch7, kIch8, kIch9On, kSeries100On, kAtomSpiFunction, kTunnelCreek, kCenterton, kSilvermont, kAmdFchLpc, kGenCount
};
// The bridge table names each series; series that place the controller
// alike share a row.
constexpr Gen kIch9 = kIch9On, kIch10 = kIch9On, kSeries5 = kIch9On, kSeries6 = kIch9On, kSeries7 = kIch9On,
              kSeries8 = kIch9On, kSeries9 = kIch9On, kSeries100 = kSeries100On, kApolloLake = kAtomSpiFunction,
              kGeminiLake = kAtomSpiFunction;

// A row, its name held in place (no pointer for the loader to relocate); a
// name too long is left empty, which the self-check below refuses.
constexpr Generation named(const char16_t* name, Generation g) {
  int n = 0;
  while (name[n] != 0) ++n;
  for (int i = 0; i < n && n < static_cast<int>(sizeof g.name / sizeof g.name[0]); ++i) g.name[i] = name[i];
  return g;
}
constexpr Generation rcba(const char16_t* name, uint16_t spibar) {
  return named(name, {.name = {}, .vendor = kIntel, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kRcba,
                      .spibar_in_rcba = spibar, .fdoc = 0xB0, .spi_device = 0, .spi_function = 0,
                      .decode = SioDecode::kIntelLpc});
}
constexpr Generation function(const char16_t* name, uint8_t device, uint8_t fn) {
  return named(name, {.name = {}, .vendor = kIntel, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kFunction,
                      .spibar_in_rcba = 0, .fdoc = 0xB4, .spi_device = device, .spi_function = fn,
                      .decode = SioDecode::kIntelLpc});
}
// The Atom parts before Apollo Lake have a legacy bridge of their own,
// without LPC_EN: their decode rule is not known here.
constexpr Generation no_fdoc(const char16_t* name, SioDecode decode) {
  return named(name, {.name = {}, .vendor = kIntel, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kNoFdoc,
                      .spibar_in_rcba = 0, .fdoc = 0, .spi_device = 0, .spi_function = 0, .decode = decode});
}

constexpr Generation kGenerations[kGenCount] = {
    no_fdoc(u"ICH7", SioDecode::kIntelLpc),
    rcba(u"ICH8", 0x3020),
    rcba(u"ICH9 to 9 Series", 0x3800),
    function(u"100 Series on", 31, 5),
    function(u"Apollo/Gemini", 13, 2),
    no_fdoc(u"Tunnel Creek", SioDecode::kUnknown),
    no_fdoc(u"Centerton", SioDecode::kUnknown),
    no_fdoc(u"Bay Trail/Avoton", SioDecode::kUnknown),
    named(u"AMD FCH", {.name = {}, .vendor = kAmd, .bridge_device = 20, .bridge_function = 3, .spi = Spi::kNone,
                       .spibar_in_rcba = 0, .fdoc = 0, .spi_device = 0, .spi_function = 0,
                       .decode = SioDecode::kAmdFch}),
};

// Bridge device IDs, runs of consecutive IDs of one generation, from
// flashrom's chipset table (AMD's FCH LPC bridges from their data books);
// the generation gives the vendor.
struct Bridge {
  uint16_t first;
  uint8_t count;
  Gen generation;
};

constexpr Bridge kBridges[] = {
    {0x780E, 1, kAmdFchLpc}, {0x790E, 1, kAmdFchLpc}, {0x0284, 2, kSeries100}, {0x0684, 2, kSeries100},
    {0x0687, 1, kSeries100}, {0x068C, 3, kSeries100}, {0x0697, 1, kSeries100}, {0x0C60, 1, kCenterton},
    {0x0F1C, 4, kSilvermont}, {0x1BCA, 1, kSeries100}, {0x1C44, 1, kSeries6}, {0x1C46, 2, kSeries6},
    {0x1C49, 8, kSeries6}, {0x1C52, 1, kSeries6}, {0x1C54, 1, kSeries6}, {0x1C56, 1, kSeries6},
    {0x1C5C, 1, kSeries6}, {0x1D40, 2, kSeries6}, {0x1E41, 4, kSeries7}, {0x1E46, 5, kSeries7},
    {0x1E53, 1, kSeries7}, {0x1E55, 5, kSeries7}, {0x1E5D, 3, kSeries7}, {0x1F38, 4, kSilvermont},
    {0x229C, 1, kSilvermont}, {0x2310, 1, kSeries7}, {0x2390, 1, kSeries7}, {0x27B0, 1, kIch7},
    {0x27B8, 2, kIch7}, {0x27BC, 2, kIch7}, {0x2810, 3, kIch8}, {0x2814, 2, kIch8},
    {0x2910, 1, kIch9}, {0x2912, 1, kIch9}, {0x2914, 1, kIch9}, {0x2916, 4, kIch9},
    {0x3197, 1, kGeminiLake}, {0x31E8, 1, kGeminiLake}, {0x3482, 1, kSeries100}, {0x3A10, 1, kIch10},
    {0x3A14, 1, kIch10}, {0x3A16, 1, kIch10}, {0x3A18, 1, kIch10}, {0x3A1A, 1, kIch10},
    {0x3A1E, 1, kIch10}, {0x3B00, 4, kSeries5}, {0x3B06, 6, kSeries5}, {0x3B0D, 3, kSeries5},
    {0x3B12, 1, kSeries5}, {0x3B14, 1, kSeries5}, {0x3B16, 1, kSeries5}, {0x3B1E, 1, kSeries5},
    {0x4384, 8, kSeries100}, {0x438F, 1, kSeries100}, {0x5031, 1, kIch7}, {0x5AE8, 1, kApolloLake},
    {0x5AF0, 1, kApolloLake}, {0x7A84, 1, kSeries100}, {0x8186, 1, kTunnelCreek}, {0x8C40, 32, kSeries8},
    {0x8CC1, 4, kSeries9}, {0x8CC6, 1, kSeries9}, {0x8D40, 32, kSeries8}, {0x9C41, 1, kSeries8},
    {0x9C43, 1, kSeries8}, {0x9C45, 1, kSeries8}, {0x9C47, 1, kSeries8}, {0x9CC1, 3, kSeries9},
    {0x9CC5, 3, kSeries9}, {0x9CC9, 1, kSeries9}, {0x9CCB, 1, kSeries9}, {0x9D41, 1, kSeries100},
    {0x9D43, 1, kSeries100}, {0x9D46, 1, kSeries100}, {0x9D48, 1, kSeries100}, {0x9D4B, 1, kSeries100},
    {0x9D4E, 1, kSeries100}, {0x9D50, 2, kSeries100}, {0x9D53, 1, kSeries100}, {0x9D56, 1, kSeries100},
    {0x9D58, 1, kSeries100}, {0x9D84, 1, kSeries100}, {0xA082, 1, kSeries100}, {0xA141, 11, kSeries100},
    {0xA14D, 2, kSeries100}, {0xA150, 6, kSeries100}, {0xA1A4, 1, kSeries100}, {0xA1C0, 14, kSeries100},
    {0xA240, 10, kSeries100}, {0xA2C4, 7, kSeries100}, {0xA2CC, 1, kSeries100}, {0xA2D2, 1, kSeries100},
    {0xA303, 4, kSeries100}, {0xA308, 3, kSeries100}, {0xA30C, 3, kSeries100},
};

constexpr uint16_t vendor_of(const Bridge& b) { return kGenerations[b.generation].vendor; }

// Rows ascend by (vendor, ID) without overlapping, so an ID names at most
// one generation and each bridge's place is asked once; every generation
// has a bridge; a generation's SPI place has what it needs (a block offset,
// a function, an FDOC offset), and its bridge is an Intel one at 0:31.0 or
// AMD's at 0:20.3.
constexpr bool tables_sound() {
  for (size_t i = 0; i < sizeof kBridges / sizeof kBridges[0]; ++i) {
    const Bridge& b = kBridges[i];
    if (b.count == 0 || b.first + b.count > 0x10000 || b.generation >= kGenCount) return false;
    if (i > 0) {
      const Bridge& a = kBridges[i - 1];
      if (vendor_of(a) > vendor_of(b) || (vendor_of(a) == vendor_of(b) && a.first + a.count > b.first)) return false;
    }
    const Generation& g = kGenerations[b.generation];
    if ((g.vendor == kIntel) != (g.bridge_device == 31 && g.bridge_function == 0)) return false;
    if ((g.vendor == kAmd) != (g.decode == SioDecode::kAmdFch)) return false;
  }
  for (int gen = 0; gen < kGenCount; ++gen) {
    const Generation& g = kGenerations[gen];
    bool used = false;
    for (const Bridge& b : kBridges) used = used || b.generation == gen;
    if (!used || g.name[0] == 0) return false;
    const bool has_fdoc = g.spi == Spi::kRcba || g.spi == Spi::kFunction;
    if (has_fdoc != (g.fdoc != 0) || (g.spi == Spi::kRcba) != (g.spibar_in_rcba != 0)) return false;
    if ((g.spi == Spi::kFunction) != (g.spi_device != 0)) return false;
  }
  return true;
}
static_assert(tables_sound());

// One match rule of a fixed decode bit: which bridge, which port, which
// bit of which register.
struct FixedDecode {
  SioDecode decode;
  uint16_t port;
  uint32_t offset;
  int width;
  uint32_t mask;
};

template <class Reg, class Bit>
constexpr FixedDecode fixed(SioDecode decode, uint16_t port) {
  return {decode, port, Reg::kOffset, Reg::kWidth, Bit::kMask};
}

constexpr FixedDecode kFixedDecodes[] = {
    fixed<LpcEnables, LpcEnables::Cnf1>(SioDecode::kIntelLpc, 0x2E),
    fixed<LpcEnables, LpcEnables::Cnf2>(SioDecode::kIntelLpc, 0x4E),
    fixed<AmdIoDecode, AmdIoDecode::SuperIo>(SioDecode::kAmdFch, 0x2E),
    fixed<AmdIoDecode, AmdIoDecode::AltSuperIo>(SioDecode::kAmdFch, 0x4E),
};

// Whether generic range `reg` sends the dword of `port` (an index/data
// pair at an even port lies in one) to LPC.
bool in_generic_range(uint32_t reg, uint16_t port) {
  using Range = GenericDecode<0>;
  if (Range::Enable::get(reg) == 0) return false;
  const uint32_t ignored = Range::Mask::get(reg) << 2;
  return ((port ^ (reg & Range::Base::kMask)) & Range::Base::kMask & ~ignored) == 0;
}

pci::Bdf bridge_of(const Generation& g) { return {0, 0, g.bridge_device, g.bridge_function}; }

}  // namespace

const Generation* identify() {
  // The rows of one vendor, and so of one place, run together: each place
  // is asked once.
  pci::Bdf at = {0xFFFF, 0, 0, 0};
  uint32_t id = 0;
  for (const Bridge& b : kBridges) {
    const Generation& g = kGenerations[b.generation];
    if (!(bridge_of(g) == at)) {
      at = bridge_of(g);
      id = pci::read<pci::hdr::Id>(at);
    }
    const uint32_t device = pci::hdr::Id::Device::get(id);
    if (pci::hdr::Id::Vendor::get(id) == g.vendor && device >= b.first && device < b.first + b.count) return &g;
  }
  return nullptr;
}

bool decodes(const Generation* generation, uint16_t port) {
  if (generation == nullptr || generation->decode == SioDecode::kUnknown) return true;
  const pci::Bdf bridge = bridge_of(*generation);
  for (const FixedDecode& f : kFixedDecodes) {
    if (f.decode == generation->decode && f.port == port &&
        (pci::config_read(bridge, f.offset, f.width) & f.mask) != 0) {
      return true;
    }
  }
  if (generation->decode != SioDecode::kIntelLpc) return false;
  constexpr uint32_t kRanges[] = {GenericDecode<0>::kOffset, GenericDecode<1>::kOffset, GenericDecode<2>::kOffset,
                                  GenericDecode<3>::kOffset};
  for (uint32_t offset : kRanges) {
    if (in_generic_range(pci::config_read(bridge, offset, 4), port)) return true;
  }
  return false;
}

}  // namespace kvq::chipset
