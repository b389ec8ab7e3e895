// The firmware's ATA Pass Thru protocol and PCI I/O bus-master mapping on
// the simulated board: the protocol's walk as EDK2's driver keeps it, its
// IoAlign check, and commands run by the driver that owns the ports.
#include <algorithm>

#include "platform/ata.h"
#include "platform/sim/ahci_sim.h"
#include "platform/sim/board.h"

namespace kvq::sim {

bool Board::dma_allowed(uint64_t base, uint64_t length) const {
  return std::any_of(dma_windows.begin(), dma_windows.end(), [&](const DmaWindow& w) {
    return base >= w.base && length <= w.length && base - w.base <= w.length - length;
  });
}

}  // namespace kvq::sim

namespace kvq::plat {
namespace {

constexpr uint32_t kStatusBlockAt = 2048;

sim::SimAtaPassThru* instance(int controller) {
  std::vector<sim::SimAtaPassThru>& all = sim::board().ata;
  return controller >= 0 && controller < static_cast<int>(all.size()) ? &all[static_cast<size_t>(controller)] : nullptr;
}

// The driver lists a port when it found an ATA disk there at start.
bool has_ata_disk(const sim::SimAtaPassThru& a, int port) {
  if (port < 0 || port >= sim::AhciController::kPorts || ((a.hba->pi >> port) & 1) == 0) return false;
  const sim::AhciController::Port& p = a.hba->ports[port];
  return p.has_disk && p.disk.signature == 0x00000101u;
}

constinit int g_next_mapping = 1;

}  // namespace

int ata_controllers(AtaController (&out)[kMaxAtaControllers]) {
  const std::vector<sim::SimAtaPassThru>& all = sim::board().ata;
  const int n = static_cast<int>(std::min<size_t>(all.size(), kMaxAtaControllers));
  for (int i = 0; i < n; ++i) {
    const sim::SimAtaPassThru& a = all[static_cast<size_t>(i)];
    out[i] = {{a.segment, a.bus, a.device, a.function}, a.io_align};
  }
  return n;
}

bool ata_next_port(int controller, uint16_t* port) {
  sim::SimAtaPassThru* a = instance(controller);
  if (a == nullptr || (*port != 0xFFFF && *port != a->previous_port)) return false;
  for (int p = *port == 0xFFFF ? 0 : *port + 1; p < sim::AhciController::kPorts; ++p) {
    if (has_ata_disk(*a, p)) {
      *port = static_cast<uint16_t>(p);
      a->previous_port = *port;
      return true;
    }
  }
  return false;
}

bool ata_next_device(int controller, uint16_t port, uint16_t* multiplier_port) {
  sim::SimAtaPassThru* a = instance(controller);
  if (a == nullptr) return false;
  if (a->previous_multiplier == kNoMultiplier) {
    // EDK2's driver: whatever is asked, the call after a disk without a
    // multiplier ends the walk.
    a->previous_multiplier = 0;
    return false;
  }
  if (*multiplier_port != kNoMultiplier || !has_ata_disk(*a, port)) return false;
  a->previous_multiplier = kNoMultiplier;
  return true;
}

bool ata_identify(int controller, uint16_t port, uint16_t multiplier_port, uint32_t buffer) {
  sim::SimAtaPassThru* a = instance(controller);
  if (a == nullptr) return false;
  ++a->commands;
  // EFI_INVALID_PARAMETER: a data buffer or status block off IoAlign, or a
  // disk the driver does not list.
  const uint32_t align = a->io_align > 1 ? a->io_align : 1;
  if (buffer % align != 0 || (buffer + kStatusBlockAt) % align != 0) return false;
  if (multiplier_port != kNoMultiplier || !has_ata_disk(*a, port)) return false;
  return a->hba->driver_identify(port, buffer);
}

bool dma_map_for_device_writes(const PciLocation& where, uint32_t host, uint32_t bytes, DmaMapping* out) {
  sim::Board& b = sim::board();
  if (b.dma_map_fails || where.segment != 0 || b.function(where.bus, where.device, where.function) == nullptr) {
    return false;
  }
  const int id = g_next_mapping++;
  b.dma_windows.push_back({host, bytes, id});
  *out = DmaMapping{host, nullptr, reinterpret_cast<void*>(static_cast<uintptr_t>(id))};
  return true;
}

void dma_unmap(const DmaMapping& m) {
  std::vector<sim::DmaWindow>& w = sim::board().dma_windows;
  const int id = static_cast<int>(reinterpret_cast<uintptr_t>(m.mapping));
  w.erase(std::remove_if(w.begin(), w.end(), [&](const sim::DmaWindow& d) { return d.id == id; }), w.end());
}

}  // namespace kvq::plat
