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
  kIch7, kIch8, kIch9, kIch10, kSeries5, kSeries6, kSeries7, kSeries8, kSeries9, kSeries100,
  kApolloLake, kGeminiLake, kTunnelCreek, kCenterton, kSilvermont, kAmdFchLpc, kGenCount
};

constexpr Generation rcba(const char16_t* name, uint16_t spibar) {
  return {.name = name, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kRcba, .spibar_in_rcba = spibar,
          .fdoc = 0xB0, .spi_device = 0, .spi_function = 0, .decode = SioDecode::kIntelLpc};
}
constexpr Generation function(const char16_t* name, uint8_t device, uint8_t fn) {
  return {.name = name, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kFunction, .spibar_in_rcba = 0,
          .fdoc = 0xB4, .spi_device = device, .spi_function = fn, .decode = SioDecode::kIntelLpc};
}
// The Atom parts before Apollo Lake have a legacy bridge of their own,
// without LPC_EN: their decode rule is not known here.
constexpr Generation no_fdoc(const char16_t* name, SioDecode decode) {
  return {.name = name, .bridge_device = 31, .bridge_function = 0, .spi = Spi::kNoFdoc, .spibar_in_rcba = 0,
          .fdoc = 0, .spi_device = 0, .spi_function = 0, .decode = decode};
}

constexpr Generation kGenerations[kGenCount] = {
    no_fdoc(u"ICH7", SioDecode::kIntelLpc),
    rcba(u"ICH8", 0x3020),
    rcba(u"ICH9", 0x3800),
    rcba(u"ICH10", 0x3800),
    rcba(u"5 Series", 0x3800),
    rcba(u"6 Series", 0x3800),
    rcba(u"7 Series", 0x3800),
    rcba(u"8 Series", 0x3800),
    rcba(u"9 Series", 0x3800),
    function(u"100 Series or later", 31, 5),
    function(u"Apollo Lake", 13, 2),
    function(u"Gemini Lake", 13, 2),
    no_fdoc(u"Tunnel Creek", SioDecode::kUnknown),
    no_fdoc(u"Centerton", SioDecode::kUnknown),
    no_fdoc(u"Bay Trail/Avoton", SioDecode::kUnknown),
    {.name = u"AMD FCH", .bridge_device = 20, .bridge_function = 3, .spi = Spi::kNone, .spibar_in_rcba = 0,
     .fdoc = 0, .spi_device = 0, .spi_function = 0, .decode = SioDecode::kAmdFch},
};

// Bridge device IDs, runs of consecutive IDs of one generation, from
// flashrom's chipset table (AMD's FCH LPC bridges from their data books).
struct Bridge {
  uint16_t vendor;
  uint16_t first;
  uint16_t last;
  Gen generation;
};

constexpr Bridge kBridges[] = {
    {kAmd, 0x780E, 0x780E, kAmdFchLpc}, {kAmd, 0x790E, 0x790E, kAmdFchLpc},
    {kIntel, 0x0284, 0x0285, kSeries100}, {kIntel, 0x0684, 0x0685, kSeries100},
    {kIntel, 0x0687, 0x0687, kSeries100}, {kIntel, 0x068C, 0x068E, kSeries100},
    {kIntel, 0x0697, 0x0697, kSeries100}, {kIntel, 0x0C60, 0x0C60, kCenterton},
    {kIntel, 0x0F1C, 0x0F1F, kSilvermont}, {kIntel, 0x1BCA, 0x1BCA, kSeries100},
    {kIntel, 0x1C44, 0x1C44, kSeries6}, {kIntel, 0x1C46, 0x1C47, kSeries6},
    {kIntel, 0x1C49, 0x1C50, kSeries6}, {kIntel, 0x1C52, 0x1C52, kSeries6},
    {kIntel, 0x1C54, 0x1C54, kSeries6}, {kIntel, 0x1C56, 0x1C56, kSeries6},
    {kIntel, 0x1C5C, 0x1C5C, kSeries6}, {kIntel, 0x1D40, 0x1D41, kSeries6},
    {kIntel, 0x1E41, 0x1E44, kSeries7}, {kIntel, 0x1E46, 0x1E4A, kSeries7},
    {kIntel, 0x1E53, 0x1E53, kSeries7}, {kIntel, 0x1E55, 0x1E59, kSeries7},
    {kIntel, 0x1E5D, 0x1E5F, kSeries7}, {kIntel, 0x1F38, 0x1F3B, kSilvermont},
    {kIntel, 0x229C, 0x229C, kSilvermont}, {kIntel, 0x2310, 0x2310, kSeries7},
    {kIntel, 0x2390, 0x2390, kSeries7}, {kIntel, 0x27B0, 0x27B0, kIch7},
    {kIntel, 0x27B8, 0x27B9, kIch7}, {kIntel, 0x27BC, 0x27BD, kIch7},
    {kIntel, 0x2810, 0x2812, kIch8}, {kIntel, 0x2814, 0x2815, kIch8},
    {kIntel, 0x2910, 0x2910, kIch9}, {kIntel, 0x2912, 0x2912, kIch9},
    {kIntel, 0x2914, 0x2914, kIch9}, {kIntel, 0x2916, 0x2919, kIch9},
    {kIntel, 0x3197, 0x3197, kGeminiLake}, {kIntel, 0x31E8, 0x31E8, kGeminiLake},
    {kIntel, 0x3482, 0x3482, kSeries100}, {kIntel, 0x3A10, 0x3A10, kIch10},
    {kIntel, 0x3A14, 0x3A14, kIch10}, {kIntel, 0x3A16, 0x3A16, kIch10},
    {kIntel, 0x3A18, 0x3A18, kIch10}, {kIntel, 0x3A1A, 0x3A1A, kIch10},
    {kIntel, 0x3A1E, 0x3A1E, kIch10}, {kIntel, 0x3B00, 0x3B03, kSeries5},
    {kIntel, 0x3B06, 0x3B0B, kSeries5}, {kIntel, 0x3B0D, 0x3B0F, kSeries5},
    {kIntel, 0x3B12, 0x3B12, kSeries5}, {kIntel, 0x3B14, 0x3B14, kSeries5},
    {kIntel, 0x3B16, 0x3B16, kSeries5}, {kIntel, 0x3B1E, 0x3B1E, kSeries5},
    {kIntel, 0x4384, 0x438B, kSeries100}, {kIntel, 0x438F, 0x438F, kSeries100},
    {kIntel, 0x5031, 0x5031, kIch7}, {kIntel, 0x5AE8, 0x5AE8, kApolloLake},
    {kIntel, 0x5AF0, 0x5AF0, kApolloLake}, {kIntel, 0x7A84, 0x7A84, kSeries100},
    {kIntel, 0x8186, 0x8186, kTunnelCreek}, {kIntel, 0x8C40, 0x8C5F, kSeries8},
    {kIntel, 0x8CC1, 0x8CC4, kSeries9}, {kIntel, 0x8CC6, 0x8CC6, kSeries9},
    {kIntel, 0x8D40, 0x8D5F, kSeries8}, {kIntel, 0x9C41, 0x9C41, kSeries8},
    {kIntel, 0x9C43, 0x9C43, kSeries8}, {kIntel, 0x9C45, 0x9C45, kSeries8},
    {kIntel, 0x9C47, 0x9C47, kSeries8}, {kIntel, 0x9CC1, 0x9CC3, kSeries9},
    {kIntel, 0x9CC5, 0x9CC7, kSeries9}, {kIntel, 0x9CC9, 0x9CC9, kSeries9},
    {kIntel, 0x9CCB, 0x9CCB, kSeries9}, {kIntel, 0x9D41, 0x9D41, kSeries100},
    {kIntel, 0x9D43, 0x9D43, kSeries100}, {kIntel, 0x9D46, 0x9D46, kSeries100},
    {kIntel, 0x9D48, 0x9D48, kSeries100}, {kIntel, 0x9D4B, 0x9D4B, kSeries100},
    {kIntel, 0x9D4E, 0x9D4E, kSeries100}, {kIntel, 0x9D50, 0x9D51, kSeries100},
    {kIntel, 0x9D53, 0x9D53, kSeries100}, {kIntel, 0x9D56, 0x9D56, kSeries100},
    {kIntel, 0x9D58, 0x9D58, kSeries100}, {kIntel, 0x9D84, 0x9D84, kSeries100},
    {kIntel, 0xA082, 0xA082, kSeries100}, {kIntel, 0xA141, 0xA14B, kSeries100},
    {kIntel, 0xA14D, 0xA14E, kSeries100}, {kIntel, 0xA150, 0xA155, kSeries100},
    {kIntel, 0xA1A4, 0xA1A4, kSeries100}, {kIntel, 0xA1C0, 0xA1CD, kSeries100},
    {kIntel, 0xA240, 0xA249, kSeries100}, {kIntel, 0xA2C4, 0xA2CA, kSeries100},
    {kIntel, 0xA2CC, 0xA2CC, kSeries100}, {kIntel, 0xA2D2, 0xA2D2, kSeries100},
    {kIntel, 0xA303, 0xA306, kSeries100}, {kIntel, 0xA308, 0xA30A, kSeries100},
    {kIntel, 0xA30C, 0xA30E, kSeries100},
};

// Rows ascend by (vendor, ID) without overlapping, so an ID names at most
// one generation; every generation has a bridge; a generation's SPI place
// has what it needs (a block offset, a function, an FDOC offset), and its
// bridge is an Intel one at 0:31.0 or AMD's at 0:20.3.
constexpr bool tables_sound() {
  for (size_t i = 0; i < sizeof kBridges / sizeof kBridges[0]; ++i) {
    const Bridge& b = kBridges[i];
    if (b.first > b.last || b.generation >= kGenCount) return false;
    if (i > 0) {
      const Bridge& a = kBridges[i - 1];
      if (a.vendor > b.vendor || (a.vendor == b.vendor && a.last >= b.first)) return false;
    }
    const Generation& g = kGenerations[b.generation];
    if ((b.vendor == kIntel) != (g.bridge_device == 31 && g.bridge_function == 0)) return false;
    if ((b.vendor == kAmd) != (g.decode == SioDecode::kAmdFch)) return false;
  }
  for (int gen = 0; gen < kGenCount; ++gen) {
    const Generation& g = kGenerations[gen];
    bool used = false;
    for (const Bridge& b : kBridges) used = used || b.generation == gen;
    if (!used || g.name == nullptr) return false;
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
  // Each place is asked once: 0:31.0 for Intel's rows, 0:20.3 for AMD's.
  pci::Bdf asked[2] = {};
  uint32_t ids[2] = {};
  int n = 0;
  for (const Bridge& b : kBridges) {
    const pci::Bdf at = bridge_of(kGenerations[b.generation]);
    int k = 0;
    while (k < n && !(asked[k] == at)) ++k;
    if (k == n) {
      asked[n] = at;
      ids[n++] = pci::read<pci::hdr::Id>(at);
    }
    const uint32_t device = pci::hdr::Id::Device::get(ids[k]);
    if (pci::hdr::Id::Vendor::get(ids[k]) == b.vendor && device >= b.first && device <= b.last) {
      return &kGenerations[b.generation];
    }
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
  const uint32_t ranges[] = {pci::read<GenericDecode<0>>(bridge), pci::read<GenericDecode<1>>(bridge),
                             pci::read<GenericDecode<2>>(bridge), pci::read<GenericDecode<3>>(bridge)};
  for (uint32_t r : ranges) {
    if (in_generic_range(r, port)) return true;
  }
  return false;
}

}  // namespace kvq::chipset
