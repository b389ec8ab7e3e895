// The capability walk and decoder over byte images of configuration space.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "hw/pci.h"
#include "hw/pci_caps.h"
#include "platform/sim/board.h"

namespace kvq {
namespace {

namespace caps = pci::caps;

// "offset:id vversion", then the decoded fields of the kinds kvq decodes.
std::string summary(const caps::Decoded& d) {
  char b[128];
  int n = std::snprintf(b, sizeof b, "%X:%X v%d", d.cap.offset, d.cap.id, d.version);
  const auto add = [&](const char* fmt, auto... v) { n += std::snprintf(b + n, sizeof b - n, fmt, v...); };
  const caps::Link& l = d.express.link;
  switch (d.kind) {
    case caps::Decoded::kPowerManagement: add(" D%d", d.pm.state); break;
    case caps::Decoded::kMsi: add(" en%d 64b%d %d/%d", d.msi.enabled, d.msi.address64, d.msi.granted, d.msi.requested); break;
    case caps::Decoded::kMsiX: add(" en%d %d", d.msix.enabled, d.msix.table_size); break;
    case caps::Decoded::kExpress:
      add(" t%d mps%d/%d rrs%d", d.express.port_type, d.express.max_payload, d.express.max_payload_supported,
          d.express.max_read_request);
      if (d.express.has_link) add(" x%d@%d/x%d@%d aspm%d/%d tr%d", l.width, l.speed, l.max_width, l.max_speed,
                                  l.aspm_control, l.aspm_support, l.training);
      break;
    case caps::Decoded::kAer: add(" %08X %08X", d.aer.uncorrectable, d.aer.correctable); break;
    case caps::Decoded::kNone: break;
  }
  return b;
}

struct Case {
  const char* what;
  bool mapped;  // the host bridge's PCIEXBAR places the memory-mapped space
  std::vector<std::pair<int, uint32_t>> dwords;  // besides status bit 4
  std::string expect;
};

// An Express endpoint at 40h, its registers all zero but the first.
constexpr uint32_t kEndpointAt40 = 0x00020010;
const std::string kEndpoint = "40:10 v2 t0 mps128/128 rrs128 x0@0/x0@0 aspm0/0 tr0";

const Case kCases[] = {
    {"PM v3 in D3hot", false, {{0x34, 0x40}, {0x40, 0x00030001}, {0x44, 0x3}}, "40:1 v3 D3"},
    {"MSI 32-bit, 2 of 4 vectors", false, {{0x34, 0x50}, {0x50, 0x00150005}}, "50:5 v-1 en1 64b0 2/4"},
    {"MSI 64-bit", false, {{0x34, 0x50}, {0x50, 0x00800005}}, "50:5 v-1 en0 64b1 1/1"},
    {"MSI-X, 64 entries", false, {{0x34, 0x70}, {0x70, 0x803F0011}}, "70:11 v-1 en1 64"},
    {"endpoint x4 2.5GT/s of x16 8GT/s", false, {{0x34, 0x40}, {0x40, kEndpointAt40}, {0x44, 0x2}, {0x48, 0x2020},
     {0x4C, 0x0D03}, {0x50, 0x08410002}}, "40:10 v2 t0 mps256/512 rrs512 x4@1/x16@3 aspm2/3 tr1"},
    {"root port x1 2.5GT/s of x32 16GT/s", false, {{0x34, 0x40}, {0x40, 0x00420010}, {0x4C, 0x0204}, {0x50, 0x110000}},
     "40:10 v2 t4 mps128/128 rrs128 x1@1/x32@4 aspm0/0 tr0"},
    {"integrated endpoint: no link", false, {{0x34, 0x40}, {0x40, 0x00910010}, {0x4C, 0x0411}},
     "40:10 v1 t9 mps128/128 rrs128"},
    {"AER with errors latched", true, {{0x34, 0x40}, {0x40, kEndpointAt40}, {0x100, 0x00020001}, {0x104, 0x00100010},
     {0x110, 0x41}}, kEndpoint + " | 100:1 v2 00100010 00000041"},
    {"unknown IDs", true, {{0x34, 0x60}, {0x60, 0x0000402A}, {0x40, kEndpointAt40}, {0x100, 0x00010044}},
     "60:2A v-1 | " + kEndpoint + " | 100:44 v1"},
    {"a looping list", false, {{0x34, 0x40}, {0x40, 0x00035001}, {0x50, 0x00004005}}, "40:1 v3 D0 | 50:5 v-1 en0 64b0 1/1"},
    {"a list into the header", false, {{0x34, 0x40}, {0x40, 0x00033C01}, {0x3C, 0x00000010}}, "40:1 v3 D0"},
    {"an ID of FFh: nothing answers", false, {{0x34, 0x40}, {0x40, 0x000350FF}, {0x50, 0x00000005}}, ""},
    {"extended list, no memory-mapped space", false, {{0x34, 0x40}, {0x40, kEndpointAt40}, {0x100, 0x10003}}, kEndpoint},
    {"extended list looping", true, {{0x34, 0x40}, {0x40, kEndpointAt40}, {0x100, 0x14010003}, {0x140, 0x1001000B}},
     kEndpoint + " | 100:3 v1 | 140:B v1"},
    {"extended list into the first 256 bytes", true, {{0x34, 0x40}, {0x40, kEndpointAt40}, {0x100, 0x0C010003},
     {0xC0, 0x00010001}}, kEndpoint + " | 100:3 v1"},
    {"not PCI Express: no extended list", true, {{0x34, 0x40}, {0x40, 0x1}, {0x100, 0x10003}}, "40:1 v0 D0"},
};

TEST(PciCapsTest, WalksAndDecodesEachImage) {
  for (const Case& c : kCases) {
    sim::Board board;
    sim::set_board(&board);
    pci::forget_board();
    board.add_function(0, 0, 0, 0x8086, 0x29C0).set32(0x60, c.mapped ? 0xB0000001 : 0);
    sim::PciFunction& f = board.add_function(1, 0, 0, 0x8086, 0x10D3);
    f.set16(0x06, 0x0010);
    for (const auto& [offset, value] : c.dwords) f.set32(offset, value);

    const caps::Source source({0, 1, 0, 0});
    caps::Walk walk(source);
    caps::Capability cap;
    std::string got;
    while (walk.next(&cap)) got += (got.empty() ? "" : " | ") + summary(caps::decode(source, cap));
    EXPECT_EQ(got, c.expect) << c.what;
    sim::set_board(nullptr);
  }
}

}  // namespace
}  // namespace kvq
