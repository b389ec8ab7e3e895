#include "hw/superio.h"

#include "hw/chipset.h"
#include "platform/hw.h"
#include "platform/tcg.h"
#include "platform/text16.h"

namespace kvq::sio {
namespace {

// Entry keys, written byte by byte to the index port, and how each leaves
// configuration mode. ITE chips strapped to 4Eh wait for 87h 01h 55h AAh;
// at 2Eh (and 6Eh) the last byte is 55h, and they leave when register 02h
// gets bit 1. Winbond, Nuvoton and the Fintek F81865 open on 87h 87h; the
// Fintek F81216 on 77h 77h, so the Fintek key is both; all of them leave on
// AAh at the index port. 55h is also the whole key of SMSC chips and of an
// LPC TPM 1.2's configuration port, which leave on AAh too: an ITE key that
// ends in 55h is followed by AAh as well, or it leaves them open.
enum Leave : uint8_t { kLeaveIte = 1, kLeaveAa = 2 };

struct EntryKey {
  uint16_t family;
  uint16_t port;
  uint8_t length;
  uint8_t bytes[4];
  uint8_t leave;
};

constexpr EntryKey kEntryKeys[] = {
    {.family = kKeyIte, .port = 0x2E, .length = 4, .bytes = {0x87, 0x01, 0x55, 0x55}, .leave = kLeaveIte | kLeaveAa},
    {.family = kKeyIte, .port = 0x4E, .length = 4, .bytes = {0x87, 0x01, 0x55, 0xAA}, .leave = kLeaveIte},
    {.family = kKeyIte, .port = 0x6E, .length = 4, .bytes = {0x87, 0x01, 0x55, 0x55}, .leave = kLeaveIte | kLeaveAa},
    {.family = kKeyWinbond, .port = 0x2E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyWinbond, .port = 0x4E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyWinbond, .port = 0x6E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyNuvoton, .port = 0x2E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyNuvoton, .port = 0x4E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyNuvoton, .port = 0x6E, .length = 2, .bytes = {0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyFintek, .port = 0x2E, .length = 4, .bytes = {0x77, 0x77, 0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyFintek, .port = 0x4E, .length = 4, .bytes = {0x77, 0x77, 0x87, 0x87}, .leave = kLeaveAa},
    {.family = kKeyFintek, .port = 0x6E, .length = 4, .bytes = {0x77, 0x77, 0x87, 0x87}, .leave = kLeaveAa},
};

// One key for every family at every configuration port, in this order
// (a family's keys by port), and a way out: a key that ends in 55h leaves
// an SMSC part or a TPM open, so AAh follows it.
constexpr bool keys_complete() {
  if (sizeof kEntryKeys / sizeof kEntryKeys[0] != kKeyFamilyCount * kChipCount) return false;
  for (int i = 0; i < kKeyFamilyCount * kChipCount; ++i) {
    const EntryKey& k = kEntryKeys[i];
    if (k.family != i / kChipCount || k.port != kChipPorts[i % kChipCount]) return false;
    if (k.length < 1 || k.length > 4 || k.leave == 0) return false;
    if (k.bytes[k.length - 1] == 0x55 && (k.leave & kLeaveAa) == 0) return false;
  }
  return true;
}
static_assert(keys_complete());

// Who recognises a chip: the embedded controller probe or a detection phase.
enum class Finder : uint8_t { kEcProbe, kItePhase, kWinbondPhase, kFintekPhase };

// Registers 20h and 21h of the chips kvq knows, and what the record then
// says.
struct ChipId {
  Finder found_by;
  uint8_t vid;  // register 20h
  uint8_t did;  // register 21h
  uint16_t key_family;
  const char16_t* vendor;
  const char16_t* model;
};

constexpr ChipId kChipIds[] = {
    {.found_by = Finder::kEcProbe, .vid = 0x85, .did = 0x18, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8518"},
    {.found_by = Finder::kEcProbe, .vid = 0x85, .did = 0x28, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8528"},
    {.found_by = Finder::kItePhase, .vid = 0x87, .did = 0x21, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8721"},
    {.found_by = Finder::kItePhase, .vid = 0x87, .did = 0x28, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8728"},
    {.found_by = Finder::kItePhase, .vid = 0x87, .did = 0x81, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8781"},
    {.found_by = Finder::kItePhase, .vid = 0x87, .did = 0x83, .key_family = kKeyIte, .vendor = u"ITE", .model = u"IT8783"},
    {.found_by = Finder::kWinbondPhase, .vid = 0xA0, .did = 0x25, .key_family = kKeyWinbond, .vendor = u"Winbond", .model = u"W83627DHG"},
    {.found_by = Finder::kWinbondPhase, .vid = 0xA2, .did = 0x32, .key_family = kKeyWinbond, .vendor = u"Winbond", .model = u"W83627UHG"},
    {.found_by = Finder::kWinbondPhase, .vid = 0xC4, .did = 0x52, .key_family = kKeyNuvoton, .vendor = u"Nuvoton", .model = u"NCT6102"},
    {.found_by = Finder::kFintekPhase, .vid = 0x02, .did = 0x08, .key_family = kKeyFintek, .vendor = u"Fintek", .model = u"F81216"},
    {.found_by = Finder::kFintekPhase, .vid = 0x07, .did = 0x04, .key_family = kKeyFintek, .vendor = u"Fintek", .model = u"F81865"},
};

// A vendor byte names one vendor and key family, whichever model it comes
// with, and no (finder, vendor, model) triple repeats.
constexpr bool chip_ids_consistent() {
  for (const ChipId& a : kChipIds) {
    for (const ChipId& b : kChipIds) {
      if (&a == &b || a.found_by != b.found_by || a.vid != b.vid) continue;
      if (a.did == b.did || a.key_family != b.key_family || !same_text(a.vendor, b.vendor)) return false;
    }
  }
  return true;
}
static_assert(chip_ids_consistent());

// One detection phase: the key it tries and the logical device whose base
// address (registers 60h, 61h) is the hardware monitor's.
struct Phase {
  Finder finder;
  uint16_t key_family;
  int16_t monitor_device;  // -1: the phase does not look for a monitor
};

constexpr Phase kPhases[] = {
    {.finder = Finder::kItePhase, .key_family = kKeyIte, .monitor_device = 0x04},
    {.finder = Finder::kWinbondPhase, .key_family = kKeyWinbond, .monitor_device = 0x0B},
    {.finder = Finder::kFintekPhase, .key_family = kKeyFintek, .monitor_device = -1},
};

template <class Reg>
constexpr uint8_t index_of() {
  static_assert(Reg::kWidth == 1 && Reg::kOffset <= 0xFF, "an 8-bit register index");
  return static_cast<uint8_t>(Reg::kOffset);
}
constexpr uint8_t kRegConfigControl = index_of<ConfigControl>();
constexpr uint8_t kRegLogicalDevice = index_of<LogicalDeviceNumber>();
constexpr uint8_t kRegChipId1 = index_of<ChipId1>();
constexpr uint8_t kRegChipId2 = index_of<ChipId2>();
constexpr uint8_t kRegBaseHigh = index_of<BaseAddressHigh>();
constexpr uint8_t kRegBaseLow = index_of<BaseAddressLow>();
constexpr uint8_t kExitWinbond = 0xAA;
constexpr uint8_t kAbsent = 0xFF;  // what an unclaimed port reads

constexpr ChipRecord at_load(uint16_t port) { return {port, 0, 0, 0, kKeyIte, 0, kNotFound, kNotFound, kProbed}; }

uint16_t data_port(uint16_t index_port) { return static_cast<uint16_t>(index_port + 1); }

const EntryKey* entry_key(uint16_t family, uint16_t port) {
  for (int i = 0; i < kChipCount; ++i) {
    if (kChipPorts[i] == port && family < kKeyFamilyCount) return &kEntryKeys[family * kChipCount + i];
  }
  return nullptr;
}

void send_key(const EntryKey* key, uint16_t port) {
  if (key == nullptr) return;
  for (int i = 0; i < key->length; ++i) plat::port_out8(port, key->bytes[i]);
}

uint8_t read_register(uint16_t port, uint8_t reg) {
  plat::port_out8(port, reg);
  return plat::port_in8(data_port(port));
}

// ITE: Configure Control bit 1 returns the chip to wait-for-key. The others
// leave on AAh at the index port.
void leave_config(const EntryKey* key, uint16_t port) {
  if (key == nullptr) return;
  if ((key->leave & kLeaveIte) != 0) write_register(port, data_port(port), kRegConfigControl, 0x02);
  if ((key->leave & kLeaveAa) != 0) plat::port_out8(port, kExitWinbond);
}

const ChipId* find_chip(Finder finder, uint8_t vid, const uint8_t* did) {
  for (const ChipId& c : kChipIds) {
    if (c.found_by == finder && c.vid == vid && (did == nullptr || c.did == *did)) return &c;
  }
  return nullptr;
}

// A vendor byte the finder knows sets the vendor, then register 21h names
// the model if the chip table has it. False for an unknown vendor byte.
bool identify(ChipRecord& chip, Finder finder, uint8_t vendor_byte) {
  const ChipId* vendor = find_chip(finder, vendor_byte, nullptr);
  if (vendor == nullptr) return false;
  chip.vid = vendor_byte;
  chip.vendor = vendor->vendor;
  chip.key_family = vendor->key_family;
  const uint8_t did = read_register(chip.port, kRegChipId2);
  if (const ChipId* model = find_chip(finder, vendor_byte, &did)) {
    chip.did = did;
    chip.model = model->model;
  }
  return true;
}

void run_phase(ChipRecord& chip, const Phase& phase) {
  const uint16_t port = chip.port;
  const EntryKey* key = entry_key(phase.key_family, port);
  send_key(key, port);
  const uint8_t test = read_register(port, kRegChipId1);
  leave_config(key, port);
  if (test == kAbsent) return;

  send_key(key, port);
  identify(chip, phase.finder, read_register(port, kRegChipId1));
  if (phase.monitor_device >= 0) {
    // Whatever the vendor byte was, the monitor's base is taken: an unknown
    // chip still gets a monitor port (FFh FFh gives 0004h). The logical
    // device the firmware left selected is put back.
    const uint8_t found = read_register(port, kRegLogicalDevice);
    const uint8_t monitor = static_cast<uint8_t>(phase.monitor_device);
    write_register(port, data_port(port), kRegLogicalDevice, monitor);
    const uint8_t high = read_register(port, kRegBaseHigh);
    const uint8_t low = read_register(port, kRegBaseLow);
    if (found != monitor) write_register(port, data_port(port), kRegLogicalDevice, found);
    chip.hwm_port = static_cast<uint16_t>(high * 256 + low + 5);
  }
  leave_config(key, port);
}

}  // namespace

constinit ChipRecord g_chips[kChipCount] = {at_load(0x2E), at_load(0x4E), at_load(0x6E)};

const ChipRecord* chip_at(uint16_t port) {
  for (const ChipRecord& c : g_chips) {
    if (c.port == port) return &c;
  }
  return nullptr;
}

uint16_t first_probed_port() {
  for (const ChipRecord& c : g_chips) {
    if (c.probe == kProbed) return c.port;
  }
  return g_chips[0].port;
}

void probe_ec(ChipRecord (&chips)[kChipCount]) {
  const chipset::Generation* bridge = chipset::identify();
  for (int i = 0; i < kChipCount; ++i) {
    ChipRecord& chip = chips[i] = at_load(kChipPorts[i]);
    if (!chipset::decodes(bridge, chip.port)) {
      chip.probe = kNotDecoded;
    } else if (chip.port == 0x4E && plat::tpm12_present()) {
      chip.probe = kTpmSkipped;
    }
  }
  for (ChipRecord& chip : chips) {
    if (chip.probe != kProbed || read_register(chip.port, kRegChipId1) == kAbsent) continue;
    if (identify(chip, Finder::kEcProbe, read_register(chip.port, kRegChipId1))) chip.ec_found = 1;
  }
}

void detect(ChipRecord (&chips)[kChipCount]) {
  // Once, before the phases: the ITE key and exit at the first port, so an
  // ITE chip there starts the phases from wait-for-key.
  const uint16_t first = chips[0].port;
  if (chips[0].probe == kProbed) {
    const EntryKey* key = entry_key(kKeyIte, first);
    send_key(key, first);
    leave_config(key, first);
  }
  for (ChipRecord& chip : chips) {
    if (chip.ec_found == 1 || chip.probe != kProbed) continue;
    for (const Phase& phase : kPhases) run_phase(chip, phase);
  }
}

void read_window(uint16_t index_port, uint16_t data, RegisterWindow& window) {
  window.all_present();
  const ChipRecord* chip = chip_at(index_port);
  const EntryKey* key = chip != nullptr ? entry_key(chip->key_family, index_port) : nullptr;
  for (int reg = 0; reg < 256; ++reg) {
    send_key(key, index_port);
    plat::port_out8(index_port, static_cast<uint8_t>(reg));
    window.bytes[reg] = plat::port_in8(data);
  }
}

void write_register(uint16_t index_port, uint16_t data, uint8_t reg, uint8_t value) {
  plat::port_out8(index_port, reg);
  plat::port_out8(data, value);
}

uint8_t step_logical_device(uint16_t index_port, uint16_t data, int direction) {
  plat::port_out8(index_port, kRegLogicalDevice);
  const uint8_t n = static_cast<uint8_t>(plat::port_in8(data) + direction);
  plat::port_out8(index_port, kRegLogicalDevice);
  plat::port_out8(data, n);
  return n;
}

void Session::open(uint16_t index_port, int ldn) {
  close();
  port_ = index_port;
  const ChipRecord* chip = chip_at(index_port);
  if (chip == nullptr) return;
  family_ = chip->key_family;
  send_key(entry_key(chip->key_family, index_port), index_port);
  found_ = read_register(index_port, kRegLogicalDevice);
  moved_ = false;
  if (ldn >= 0 && ldn != found_) write(kRegLogicalDevice, static_cast<uint8_t>(ldn));
}

void Session::close() {
  if (family_ < 0) return;
  const EntryKey* key = entry_key(static_cast<uint16_t>(family_), port_);
  family_ = -1;
  // The key again: a register the page wrote (AAh on a Winbond part, 02h on
  // an ITE one) may have taken the chip out of configuration mode.
  send_key(key, port_);
  if (moved_) write_register(port_, data_port(port_), kRegLogicalDevice, found_);
  leave_config(key, port_);
}

void Session::write(uint8_t reg, uint8_t value) {
  write_register(port_, data_port(port_), reg, value);
  moved_ = moved_ || reg == kRegLogicalDevice;
}

uint8_t Session::step(int direction) {
  moved_ = true;
  return step_logical_device(port_, data_port(port_), direction);
}

}  // namespace kvq::sio
