#include "hw/disks.h"

#include "hw/phys.h"
#include "hw/sata.h"
#include "platform/firmware.h"

namespace kvq::disks {

constinit List g_disks;

namespace {

constexpr uint8_t kClassStorage = 0x01;
constexpr uint8_t kSubClassSata = 0x06;
constexpr uint8_t kInterfaceAhci = 0x01;
constexpr int kChipsetPorts = 8;

// NVM Express Identify layouts (NVM Express 1.4, figures 247 and 249).
constexpr uint32_t kSerial = 4;
constexpr int kSerialBytes = 20;
constexpr uint32_t kModel = 24;
constexpr int kModelBytes = 40;
constexpr uint32_t kNsze = 0;
constexpr uint32_t kFlbas = 26;
constexpr uint32_t kLbaFormats = 128;
constexpr uint32_t kNamespacePage = 4096;  // the namespace's answer, after the controller's
constexpr uint32_t kCnsNamespace = 0;
constexpr uint32_t kCnsController = 1;
constexpr uint32_t kCnsActiveList = 2;
constexpr int kMaxWalk = 1024;

constinit uint32_t g_nvme_buffer = 0;  // two pages: controller, namespace

void add(List& list, const Disk& d) {
  if (list.count < kMaxDisks) list.disks[list.count++] = d;
}

bool is_ahci(const pci::Bdf& f) {
  using C = pci::hdr::ClassRevision;
  const uint32_t c = pci::read<C>(f);
  return C::BaseClass::get(c) == kClassStorage && C::SubClass::get(c) == kSubClassSata &&
         C::ProgIf::get(c) == kInterfaceAhci;
}

// Bytes as the console shows them; the blanks an ATA or NVMe string is
// padded with are cut off its end.
void copy_text(const phys::Span& from, uint32_t at, int bytes, char16_t* out) {
  int last = -1;
  for (int i = 0; i < bytes; ++i) {
    const uint8_t b = from.read8(at + static_cast<uint32_t>(i));
    out[i] = b < 0x20 || b >= 0x7F ? u' ' : static_cast<char16_t>(b);
    if (out[i] != u' ') last = i;
  }
  out[last + 1] = 0;
}

// The controller's active namespaces. The firmware's GetNextNamespace
// counts every ID up to the controller's number of namespaces (256 on
// QEMU), allocated or not; the Active Namespace ID List (Identify CNS 02h,
// NVM Express 1.1) names only those in use, ascending, 0 after the last.
// A controller without it gets the protocol's walk, each namespace kept
// when it has blocks.
void add_namespaces(List& list, const pci::Bdf& f, int c) {
  const phys::Span answer(g_nvme_buffer, kNamespacePage);
  if (plat::nvme_identify(c, 0, kCnsActiveList, g_nvme_buffer)) {
    for (uint32_t at = 0; at < kNamespacePage; at += 4) {
      const uint32_t nsid = answer.read32(at);
      if (nsid == 0) break;
      add(list, {Kind::kNvmeNamespace, f, 0, c, nsid});
    }
    return;
  }
  uint32_t nsid = 0xFFFFFFFFu;
  // The walk ends by itself; the bound keeps a firmware that never says
  // so from holding kvq here.
  for (int guard = 0; guard < kMaxWalk && plat::nvme_next_namespace(c, &nsid); ++guard) {
    if (plat::nvme_identify(c, nsid, kCnsNamespace, g_nvme_buffer) && answer.read(kNsze, 8) != 0) {
      add(list, {Kind::kNvmeNamespace, f, 0, c, nsid});
    }
  }
}

}  // namespace

void find(const pci::DeviceTable& table, bool chipset_ahci, List& list) {
  list.count = 0;
  sata::find_pass_thru();
  if (chipset_ahci) {
    for (int p = 0; p < kChipsetPorts; ++p) add(list, {Kind::kChipsetPort, sata::kController, p, 0, 0});
  }
  for (int i = 0; i < table.count; ++i) {
    const pci::Bdf& f = table.entries[i].bdf;
    if (f == sata::kController || !is_ahci(f)) continue;
    const uint32_t pi = sata::implemented_ports(f);
    for (int p = 0; p < 32; ++p) {
      if (((pi >> p) & 1) != 0) add(list, {Kind::kAhciPort, f, p, 0, 0});
    }
  }
  plat::NvmeController controllers[plat::kMaxNvmeControllers];
  const int n = plat::nvme_controllers(controllers);
  if (n > 0 && g_nvme_buffer == 0) g_nvme_buffer = plat::allocate_pages_below_4g(2);
  for (int c = 0; c < n && g_nvme_buffer != 0; ++c) {
    const pci::Bdf f = {controllers[c].segment, controllers[c].bus, controllers[c].device, controllers[c].function};
    add_namespaces(list, f, c);
  }
}

sata::Probe identify(const Disk& d) {
  if (d.kind != Kind::kNvmeNamespace) return sata::probe(d.function, d.port);
  if (g_nvme_buffer == 0) g_nvme_buffer = plat::allocate_pages_below_4g(2);
  if (g_nvme_buffer == 0 || !plat::nvme_identify(d.controller, 0, kCnsController, g_nvme_buffer) ||
      !plat::nvme_identify(d.controller, d.nsid, kCnsNamespace, g_nvme_buffer + kNamespacePage)) {
    return {sata::kNoDevice, sata::Outcome::kNoDisk, sata::Path::kNvmePassThru};
  }
  return {g_nvme_buffer, sata::Outcome::kAnswered, sata::Path::kNvmePassThru};
}

NvmeIdentity read_nvme(uint32_t buffer) {
  NvmeIdentity id = {};
  id.present = !sata::is_no_device(buffer);
  if (!id.present) return id;
  const phys::Span controller(buffer, kNamespacePage);
  const phys::Span ns(uint64_t{buffer} + kNamespacePage, kNamespacePage);
  copy_text(controller, kModel, kModelBytes, id.model);
  copy_text(controller, kSerial, kSerialBytes, id.serial);
  // FLBAS bits 3:0 pick the format in use; its LBADS (bits 23:16) is the
  // block size as a power of two.
  const uint32_t format = ns.read8(kFlbas) & 0x0F;
  const uint32_t lbads = (ns.read32(kLbaFormats + 4 * format) >> 16) & 0xFF;
  const uint64_t blocks = ns.read(kNsze, 8);
  if (lbads >= 9 && lbads < 32) {
    id.gigabytes = blocks > (~uint64_t{0} >> lbads) ? ~uint64_t{0} / 1000000000 : (blocks << lbads) / 1000 / 1000 / 1000;
  }
  return id;
}

void free_buffers() {
  if (g_nvme_buffer != 0) plat::free_pages(g_nvme_buffer, 2);
  g_nvme_buffer = 0;
}

}  // namespace kvq::disks
