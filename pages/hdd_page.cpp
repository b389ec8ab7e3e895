// The HDD page: a memory page on the buffer a disk's identity lands in:
// IDENTIFY DEVICE for an AHCI port, Identify Controller and Namespace for
// an NVM Express namespace. PageUp and PageDown step through every disk the
// menu found (ports 0 to 7 of the chipset's controller first, as they
// always were); the cursor stops at the grid's edges. A disk is asked once,
// when it is selected, and again on `i`; every pass reads the buffer and
// its lines afresh. A disk that does not answer gets no read at all: its
// cells show "--".
#include "app/colors.h"
#include "hw/disks.h"
#include "hw/memio.h"
#include "hw/sata.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq {
namespace {

using disks::Disk;
using disks::Kind;

constexpr int kLineRow = 18;
constexpr int kSizeCol = 51;
constexpr int kTitleWidth = 50;  // the longest title, and blanks after a shorter one

// The disk shown: an entry of the list the menu found, or, on a page opened
// without it, the chipset's port that the port register offset names.
Disk current(const AppState& s) {
  if (s.hdd_disk >= 0 && s.hdd_disk < disks::g_disks.count) return disks::g_disks.disks[s.hdd_disk];
  return Disk{Kind::kChipsetPort, sata::kController, sata::port_number(s.hdd_port_offset), 0, 0};
}

int title(const AppState& s, uint64_t base, char16_t (&text)[kTitleWidth + 1]) {
  const Disk d = current(s);
  const pci::Bdf& f = d.function;
  switch (d.kind) {
    case Kind::kChipsetPort:
      return sformat(text, kTitleWidth + 1, u"HDD Port %d Address: %08X", d.port, base);
    case Kind::kAhciPort:
      return sformat(text, kTitleWidth + 1, u"HDD %02X:%02X.%X Port %d Address: %08X", f.bus, f.device, f.function,
                     d.port, base);
    case Kind::kNvmeNamespace:
      break;
  }
  return sformat(text, kTitleWidth + 1, u"NVMe %02X:%02X.%X NS %u Address: %08X", f.bus, f.device, f.function, d.nsid,
                 base);
}

// Row 18 is written whole, so no tail of a longer line stays behind.
void put_line(const char16_t* text) {
  con::set_cursor(0, kLineRow);
  con::put_text(text);
  con::repeat(u' ', 80 - text_length(text));
}

void put_size(uint64_t gigabytes) {
  char16_t line[80 - kSizeCol + 1];
  sformat(line, 80 - kSizeCol + 1, u"Size: %dG", gigabytes);
  con::set_cursor(kSizeCol, kLineRow);
  con::put_text(line);
}

// Who ran the ATA disk's IDENTIFY, at the end of the line.
constexpr int kPathCol = 66;
const char16_t* path_text(sata::Path path) {
  switch (path) {
    case sata::Path::kAtaPassThru: return u"ATA Pass Thru";
    case sata::Path::kAhciSlot0: return u"AHCI slot 0";
    default: return nullptr;
  }
}

// Row 18 from the answer in kvq's buffer, read afresh: an ATA disk's model
// at column 0, its size at 51; an NVM Express namespace's model and serial,
// then its size; or why the disk was not asked.
void draw_lines(const Disk& d, const sata::Probe& probe) {
  char16_t line[81];
  if (const char16_t* why = sata::outcome_text(probe.outcome)) {
    put_line(why);
  } else if (d.kind == Kind::kNvmeNamespace) {
    const disks::NvmeIdentity id = disks::read_nvme(probe.buffer);
    if (!id.present) return put_line(u"No device be detected !");
    sformat(line, kSizeCol, u"Model Name: %s  Serial: %s", static_cast<const char16_t*>(id.model),
            static_cast<const char16_t*>(id.serial));
    put_line(line);
    put_size(id.gigabytes);
  } else {
    const sata::DiskModel model = sata::read_model(probe.buffer);
    if (!model.present) return put_line(u"No device be detected !");
    sformat(line, kSizeCol, u"Model Name: %s", static_cast<const char16_t*>(model.text));
    put_line(line);
    if (const char16_t* path = path_text(probe.path)) {
      con::set_cursor(kPathCol, kLineRow);
      con::put_text(path);
    }
    put_size(sata::read_size(probe.buffer).gigabytes);
  }
}

void draw_title(AppState& state, uint64_t base) {
  char16_t text[kTitleWidth + 1];
  const int n = title(state, base, text);
  con::put_text(text);
  con::repeat(u' ', kTitleWidth - n);
  draw_lines(current(state), state.hdd_probe);
}

// Asks the disk shown; its answer becomes the window's base.
void ask(AppState& state) {
  state.hdd_probe = disks::identify(current(state));
  state.hdd_buffer = state.hdd_probe.buffer;
  state.hdd_disk_unasked = false;
  // The next pass draws the lines of the answer.
  con::set_cursor(0, kLineRow);
  con::repeat(u' ', 80);
}

void select_disk(AppState& state, int index) {
  state.hdd_disk = index;
  const Disk d = current(state);
  if (d.kind == Kind::kChipsetPort) state.hdd_port_offset = static_cast<uint16_t>(ahci::port_offset(d.port));
  ask(state);
}

void step_disk(AppState& state, int direction) {
  const int count = disks::g_disks.count;
  if (count == 0) {
    // Without the menu's list: the chipset's ports 0 to 7, wrapping.
    const int port = (sata::port_number(state.hdd_port_offset) + direction + 8) % 8;
    state.hdd_port_offset = static_cast<uint16_t>(ahci::port_offset(port));
    select_disk(state, 0);
    return;
  }
  select_disk(state, ((state.hdd_disk + direction) % count + count) % count);
}

// `i` asks the disk again.
bool own_key(AppState& state) {
  if (state.key.scan != 0 || state.key.ch != u'i') return false;
  ask(state);
  return true;
}

// A buffer no disk filled is not read.
void read_window(uint64_t base, int size, RegisterWindow& w) {
  if (sata::is_no_device(static_cast<uint32_t>(base))) {
    for (int i = 0; i < 256; ++i) w.absent[i] = true;
    return;
  }
  memio::read_memory_window(base, size, w);
}

constexpr AddressSpace kHdd = {
    .draw_title = draw_title,
    .prompt = u"HDD Address:",
    .digits_col = 20,
    // Typed digits replace the title's address digits, its last eight.
    .digits_col_of =
        [](const AppState& s) {
          char16_t text[kTitleWidth + 1];
          return title(s, s.hdd_buffer, text) - 8;
        },
    .digits = 8,
    .backspace_steps_back = true,
    .address_digits = 8,
    .wide = false,
    .address = [](uint64_t base, int offset) { return (base + static_cast<uint64_t>(offset)) & 0xFFFFFFFFu; },
    .base = [](const AppState& s) { return static_cast<uint64_t>(s.hdd_buffer); },
    .set_base = [](AppState& s, uint64_t base) { s.hdd_buffer = static_cast<uint32_t>(base); },
    .read_window = read_window,
    .write = memio::write_value,
    .own_key = own_key,
    .page_step = step_disk,
    .cursor_stops_at_edges = true,
    .no_address_entry_in_byte_mode = true,
};

}  // namespace

// A disk chosen before the page could ask it (by the menu) is asked first:
// the window's base is settled before the pass reads it.
void hdd_pass(AppState& state) {
  if (state.hdd_disk_unasked) ask(state);
  address_space_pass(state, kHdd);
}

// The chipset's controller opens the page in AHCI or RAID mode, as it
// always did; any other AHCI function or NVM Express namespace opens it too.
bool hdd_can_open(AppState& state) {
  const sata::ModeQuery q = sata::mode_query();
  con::print(u"%08X\n", q.dword);
  con::print(u"%02X\n", q.low_byte);
  con::print(u"%02X\n", q.mode_bits);
  const bool chipset = sata::mode_allows_disk_page(q.mode);
  disks::find(pci::g_devices, chipset, disks::g_disks);
  if (disks::g_disks.count == 0) return false;
  // The chipset's ports stand first, one per port: the port the page last
  // showed is the same entry. Opening the page selects its disk: it is
  // asked on the first pass.
  if (chipset) {
    state.hdd_disk = sata::port_number(state.hdd_port_offset);
  } else if (state.hdd_disk >= disks::g_disks.count || disks::g_disks.disks[state.hdd_disk].kind == Kind::kChipsetPort) {
    state.hdd_disk = 0;
  }
  state.hdd_disk_unasked = true;
  return true;
}

}  // namespace kvq
