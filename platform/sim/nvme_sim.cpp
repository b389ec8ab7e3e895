// The firmware's NVM Express pass-thru protocol on the simulated board: the
// Identify answers of the board's controllers, laid out as NVM Express 1.4
// gives them, written into kvq's buffer.
#include <algorithm>

#include "platform/firmware.h"
#include "platform/sim/board.h"

namespace kvq::plat {
namespace {

void put_text(sim::Board& b, uint64_t at, const std::string& text, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) b.ram_poke(at + i, static_cast<uint8_t>(i < text.size() ? text[i] : ' '));
}

void put_le(sim::Board& b, uint64_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.ram_poke(at + static_cast<uint64_t>(i), static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int nvme_controllers(NvmeController (&out)[kMaxNvmeControllers]) {
  const std::vector<sim::SimNvme>& all = sim::board().nvme;
  const int n = static_cast<int>(std::min<size_t>(all.size(), kMaxNvmeControllers));
  for (int i = 0; i < n; ++i) out[i] = {all[i].segment, all[i].bus, all[i].device, all[i].function};
  return n;
}

// As OVMF's driver walks them: every ID from 1 to the controller's number
// of namespaces, allocated or not.
bool nvme_next_namespace(int controller, uint32_t* nsid) {
  std::vector<sim::SimNvme>& all = sim::board().nvme;
  if (controller < 0 || controller >= static_cast<int>(all.size())) return false;
  const uint32_t next = *nsid == 0xFFFFFFFFu ? 1 : *nsid + 1;
  if (next > all[static_cast<size_t>(controller)].number_of_namespaces) return false;
  *nsid = next;
  return true;
}

bool nvme_identify(int controller, uint32_t nsid, uint32_t cns, uint32_t buffer) {
  sim::Board& b = sim::board();
  if (controller < 0 || controller >= static_cast<int>(b.nvme.size())) return false;
  sim::SimNvme& c = b.nvme[static_cast<size_t>(controller)];
  ++c.identifies;
  if (c.fails) return false;
  for (uint32_t i = 0; i < 4096; ++i) b.ram_poke(buffer + i, 0);
  if (cns == 2) {
    if (!c.active_list) return false;
    uint32_t at = 0;
    for (const sim::SimNamespace& ns : c.namespaces) {
      if (ns.nsid > nsid) put_le(b, buffer + 4 * at++, ns.nsid, 4);
    }
    return true;
  }
  if (cns == 1) {
    put_le(b, buffer, 0x1B36, 2);  // VID
    put_text(b, buffer + 4, c.serial, 20);
    put_text(b, buffer + 24, c.model, 40);
    put_text(b, buffer + 64, "1.0", 8);
    put_le(b, buffer + 516, c.number_of_namespaces, 4);  // NN
    return true;
  }
  for (const sim::SimNamespace& ns : c.namespaces) {
    if (cns != 0 || ns.nsid != nsid) continue;
    put_le(b, buffer + 0, ns.blocks, 8);   // NSZE
    put_le(b, buffer + 8, ns.blocks, 8);   // NCAP
    b.ram_poke(buffer + 25, 1);            // NLBAF: two formats
    b.ram_poke(buffer + 26, 1);            // FLBAS: the second is in use
    put_le(b, buffer + 128, 9u << 16, 4);  // format 0: 512-byte blocks
    put_le(b, buffer + 132, static_cast<uint32_t>(ns.block_shift) << 16, 4);
    return true;
  }
  return false;
}

}  // namespace kvq::plat
