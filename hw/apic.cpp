#include "hw/apic.h"

#include "hw/acpi.h"
#include "hw/cpu.h"

namespace kvq::apic {
namespace {

constexpr uint64_t kPageMask = ~uint64_t{0xFFF};
constexpr uint64_t kApicBaseAddress = 0x000FFFFFFFFFF000ull;  // IA32_APIC_BASE bits 51:12

// Boards have one I/O APIC per chipset and per PCI Express root complex;
// more than this many are not looked at.
constexpr int kMaxIoApics = 64;

// Only the first `count` pages are ever read.
struct IoApics {
  bool searched = false;
  int count = 0;
  uint64_t pages[kMaxIoApics] = {};
};
constinit IoApics g_io;

void find_io_apics() {
  g_io.searched = true;
  g_io.count = 0;
  const phys::Span table = acpi::find_table("APIC", acpi::kMaxTableLength);
  if (!table.ok()) return;
  const uint64_t end = table.length();
  // Each entry lies wholly inside the table's stated length; an entry
  // shorter than its own header ends the walk.
  for (uint64_t p = madt::kFirstEntry; p + 2 <= end && g_io.count < kMaxIoApics;) {
    const uint8_t type = table.read8(p + madt::EntryType::kOffset);
    const uint8_t length = table.read8(p + madt::EntryLength::kOffset);
    if (length < 2 || p + length > end) return;
    if (type == madt::kIoApic && length >= madt::kIoApicLength) {
      g_io.pages[g_io.count++] = table.read_le(p + madt::IoApicAddress::kOffset, madt::IoApicAddress::kWidth) & kPageMask;
    }
    p += length;
  }
}

}  // namespace

uint64_t local_page() {
  const cpu::MsrValue base = cpu::read_msr(cpu::this_processor(), cpu::kApicBase);
  return base.status == plat::MsrStatus::kOk ? base.value & kApicBaseAddress : kDefaultLocalPage;
}

bool io_apic_page(uint64_t page) {
  if (!g_io.searched) find_io_apics();
  for (int i = 0; i < g_io.count; ++i) {
    if (g_io.pages[i] == page) return true;
  }
  return false;
}

bool dword_only(uint64_t page, uint64_t local) { return page == local || io_apic_page(page); }

void forget_board() { g_io.searched = false; }

}  // namespace kvq::apic
