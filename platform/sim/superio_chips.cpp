#include "platform/sim/superio_chips.h"

#include <cstdlib>
#include <span>

namespace kvq::sim {
namespace {

constexpr uint16_t kHwmBase = 0x0290;

constexpr SioModel kModels[] = {
    {.name = "it8528", .chip_id = {0x85, 0x28}, .key = SioKey::kNone, .devices = 0,
     .monitor_device = -1, .monitor_base = 0, .banked_monitor = false},
    {.name = "it8518", .chip_id = {0x85, 0x18}, .key = SioKey::kNone, .devices = 0,
     .monitor_device = -1, .monitor_base = 0, .banked_monitor = false},
    // FDC, serial 1 and 2, parallel, environment controller, keyboard,
    // mouse, GPIO; consumer IR at 0Ah (IT8728, IT8721); serial 3 and 4 at
    // 08h and 09h (IT8781).
    {.name = "it8728", .chip_id = {0x87, 0x28}, .key = SioKey::kIte, .devices = 0x4FF,
     .monitor_device = 0x04, .monitor_base = kHwmBase, .banked_monitor = false},
    {.name = "it8781", .chip_id = {0x87, 0x81}, .key = SioKey::kIte, .devices = 0x3FF,
     .monitor_device = 0x04, .monitor_base = kHwmBase, .banked_monitor = false},
    {.name = "it8721", .chip_id = {0x87, 0x21}, .key = SioKey::kIte, .devices = 0x4FF,
     .monitor_device = 0x04, .monitor_base = kHwmBase, .banked_monitor = false},
    // No logical device 04h on the W83627DHG; the monitor is 0Bh.
    {.name = "w83627dhg", .chip_id = {0xA0, 0x25}, .key = SioKey::kDouble87, .devices = 0xFEF,
     .monitor_device = 0x0B, .monitor_base = kHwmBase, .banked_monitor = true},
    {.name = "w83627uhg", .chip_id = {0xA2, 0x32}, .key = SioKey::kDouble87, .devices = 0xFFF,
     .monitor_device = 0x0B, .monitor_base = kHwmBase, .banked_monitor = false},
    {.name = "nct6102", .chip_id = {0xC4, 0x52}, .key = SioKey::kDouble87, .devices = 0xEFAD,
     .monitor_device = 0x0B, .monitor_base = kHwmBase, .banked_monitor = false},
    // Four UARTs and the watchdog; no monitor.
    {.name = "f81216", .chip_id = {0x02, 0x08}, .key = SioKey::kDouble77, .devices = 0x10F,
     .monitor_device = -1, .monitor_base = 0, .banked_monitor = false},
    // The F81865's monitor is logical device 04h; it has no 0Bh.
    {.name = "f81865", .chip_id = {0x07, 0x04}, .key = SioKey::kDouble87, .devices = 0x5F9,
     .monitor_device = 0x04, .monitor_base = kHwmBase, .banked_monitor = false},
    // Its chip ID registers and logical device 0 (the TPM's own registers).
    {.name = "tpm12", .chip_id = {0x0B, 0x00}, .key = SioKey::k55, .devices = 0x1,
     .monitor_device = -1, .monitor_base = 0, .banked_monitor = false},
};

constexpr uint8_t kRegConfigControl = 0x02;
constexpr uint8_t kRegLogicalDevice = 0x07;
constexpr uint8_t kRegActivate = 0x30;
constexpr uint8_t kBankSelect = 0x4E;
constexpr uint8_t kWinbondVendorId = 0x4F;

struct MonitorDefault {
  uint8_t reg;
  uint8_t value;
};

// A few live-looking readings: start bit, voltages, temperatures, the
// vendor ID registers.
constexpr MonitorDefault kIteMonitor[] = {
    {0x00, 0x11}, {0x20, 0x5A}, {0x21, 0x7D}, {0x22, 0xBC}, {0x28, 0xC8},
    {0x29, 0x28}, {0x2A, 0x2D}, {0x2B, 0x80}, {0x58, 0x90},
};
constexpr MonitorDefault kWinbondMonitor[] = {
    {0x20, 0x70}, {0x22, 0xD0}, {0x23, 0xC2}, {0x27, 0x28}, {0x4E, 0x80},
};

}  // namespace

const SioModel* find_sio_model(const std::string& name) {
  for (const SioModel& m : kModels) {
    if (name == m.name) return &m;
  }
  return nullptr;
}

std::string sio_model_names() {
  std::string names;
  for (const SioModel& m : kModels) {
    if (!names.empty()) names += ' ';
    names += m.name;
  }
  return names;
}

namespace {

// The decoding bridges: Intel's LPC bridge (class 0601h) and AMD's FCH.
PciFunction* intel_lpc(Board& board) {
  PciFunction* f = board.function(0, 31, 0);
  return f != nullptr && (f->get32(0x00) & 0xFFFF) == 0x8086 && (f->get32(0x08) >> 16) == 0x0601 ? f : nullptr;
}
PciFunction* amd_fch(Board& board) {
  PciFunction* f = board.function(0, 20, 3);
  return f != nullptr && (f->get32(0x00) & 0xFFFF) == 0x1022 ? f : nullptr;
}
// LPC_EN's bit for a port, and AMD's register 48h bit.
int enable_bit(uint16_t port) { return port == 0x2E ? 12 : port == 0x4E ? 13 : -1; }
int amd_bit(uint16_t port) { return port == 0x2E ? 0 : port == 0x4E ? 1 : -1; }

}  // namespace

bool lpc_decodes(Board& board, uint16_t port) {
  if (PciFunction* lpc = intel_lpc(board)) {
    const int bit = enable_bit(port);
    if (bit >= 0 && ((lpc->get32(0x80) >> (16 + bit)) & 1) != 0) return true;
    for (int r = 0; r < 4; ++r) {
      const uint32_t range = lpc->get32(0x84 + 4 * r);
      const uint32_t care = 0xFFFC & ~(((range >> 18) & 0x3F) << 2);
      if ((range & 1) != 0 && (port & care) == (range & care)) return true;
    }
    return false;
  }
  if (PciFunction* fch = amd_fch(board)) {
    const int bit = amd_bit(port);
    return bit >= 0 && ((fch->cfg[0x48] >> bit) & 1) != 0;
  }
  return true;
}

void enable_lpc_decode(Board& board, uint16_t port) {
  if (PciFunction* lpc = intel_lpc(board)) {
    const int bit = enable_bit(port);
    if (bit >= 0) {
      lpc->set32(0x80, lpc->get32(0x80) | 1u << (16 + bit));
      return;
    }
    for (int r = 0; r < 4; ++r) {
      if ((lpc->get32(0x84 + 4 * r) & 1) == 0) {
        lpc->set32(0x84 + 4 * r, (port & 0xFFFCu) | 1);
        return;
      }
    }
  } else if (PciFunction* fch = amd_fch(board)) {
    const int bit = amd_bit(port);
    if (bit >= 0) fch->cfg[0x48] = static_cast<uint8_t>(fch->cfg[0x48] | 1 << bit);
  }
}

SuperIoChip::SuperIoChip(Board& board, const SioModel& model, uint16_t port)
    : board_(board), model_(model), port_(port), config_(model.key == SioKey::kNone) {
  switch (model.key) {
    case SioKey::kIte:
      key_length_ = 4;
      key_[0] = 0x87;
      key_[1] = 0x01;
      key_[2] = 0x55;
      key_[3] = port == 0x4E ? 0xAA : 0x55;
      break;
    case SioKey::kDouble87:
    case SioKey::kDouble77:
      key_length_ = 2;
      key_[0] = key_[1] = model.key == SioKey::kDouble87 ? 0x87 : 0x77;
      break;
    case SioKey::k55:
      key_length_ = 1;
      key_[0] = 0x55;
      break;
    case SioKey::kNone:
      break;
  }
  for (int d = 0; d < 32; ++d) {
    if (has_device(static_cast<uint8_t>(d))) devices_[d][kRegActivate] = 0x01;
  }
  if (model.monitor_device >= 0) {
    devices_[model.monitor_device][0x60] = static_cast<uint8_t>(model.monitor_base >> 8);
    devices_[model.monitor_device][0x61] = static_cast<uint8_t>(model.monitor_base);
    const std::span<const MonitorDefault> defaults =
        model.key == SioKey::kIte ? std::span<const MonitorDefault>(kIteMonitor) : kWinbondMonitor;
    for (const MonitorDefault& d : defaults) monitor_[d.reg] = d.value;
  }
}

uint16_t SuperIoChip::monitor_port() const {
  if (model_.monitor_device < 0) return 0;
  const uint8_t* regs = devices_[model_.monitor_device];
  const uint16_t base = static_cast<uint16_t>(regs[0x60] << 8 | regs[0x61]);
  if ((regs[kRegActivate] & 1) == 0 || base == 0) return 0;
  return static_cast<uint16_t>(base + 5);
}

bool SuperIoChip::claims(uint16_t port) const {
  if (port == port_ || port == port_ + 1) return lpc_decodes(board_, port_);
  const uint16_t monitor = monitor_port();
  return monitor != 0 && (port == monitor || port == monitor + 1);
}

bool SuperIoChip::in_bank(int bank, uint8_t reg) const {
  return model_.banked_monitor && (bank & 7) != 0 && reg >= 0x50 && reg <= 0x5F;
}

uint8_t& SuperIoChip::monitor_reg(int bank, uint8_t reg) {
  return in_bank(bank, reg) ? monitor_banks_[bank & 7][reg - 0x50] : monitor_[reg];
}

void SuperIoChip::feed_key(uint8_t value) {
  if (value == key_[key_pos_]) {
    if (++key_pos_ == key_length_) {
      config_ = true;
      key_pos_ = 0;
    }
  } else {
    key_pos_ = value == key_[0] ? 1 : 0;
  }
}

uint8_t SuperIoChip::config_read() const {
  if (index_ == kRegLogicalDevice) return device_;
  if (index_ == 0x20 || index_ == 0x21) return model_.chip_id[index_ - 0x20];
  if (index_ < 0x30) return global_[index_];
  return has_device(device_) ? devices_[device_][index_] : 0xFF;
}

void SuperIoChip::config_write(uint8_t value) {
  if (index_ == kRegLogicalDevice) {
    device_ = value;
  } else if (index_ == 0x20 || index_ == 0x21) {
    // chip ID: read-only
  } else if (index_ == kRegConfigControl && model_.key == SioKey::kIte) {
    // Bit 1 returns the chip to wait-for-key.
    if ((value & 0x02) != 0) config_ = false;
  } else if (index_ < 0x30) {
    global_[index_] = value;
  } else if (has_device(device_)) {
    devices_[device_][index_] = value;
  }
}

uint8_t SuperIoChip::monitor_read() const {
  const int bank = monitor_[kBankSelect] & 7;
  if (model_.banked_monitor && monitor_index_ == kWinbondVendorId) {
    // Vendor ID 5CA3h: the high byte while 4Eh bit 7 (HBACS) is set.
    return (monitor_[kBankSelect] & 0x80) != 0 ? 0x5C : 0xA3;
  }
  return in_bank(bank, monitor_index_) ? monitor_banks_[bank][monitor_index_ - 0x50] : monitor_[monitor_index_];
}

void SuperIoChip::monitor_write(uint8_t value) {
  monitor_reg(monitor_[kBankSelect] & 7, monitor_index_) = value;
}

uint32_t SuperIoChip::read(uint16_t port, int) {
  if (port == port_) return config_ ? index_ : 0xFF;
  if (port == port_ + 1) return config_ ? config_read() : 0xFF;
  if (port == monitor_port()) return monitor_index_;
  return monitor_read();
}

void SuperIoChip::write(uint16_t port, int, uint32_t value) {
  const uint8_t v = static_cast<uint8_t>(value);
  if (port == port_) {
    if (!config_) {
      feed_key(v);
    } else if (v == 0xAA && model_.key != SioKey::kIte && model_.key != SioKey::kNone) {
      config_ = false;
    } else {
      index_ = v;
    }
  } else if (port == port_ + 1) {
    if (config_) config_write(v);
  } else if (port == monitor_port()) {
    monitor_index_ = v;
  } else {
    monitor_write(v);
  }
}

SuperIoChip& add_superio(Board& board, const SioModel& model, uint16_t port) {
  enable_lpc_decode(board, port);
  auto chip = std::make_unique<SuperIoChip>(board, model, port);
  SuperIoChip& ref = *chip;
  board.add_port_device(std::move(chip));
  return ref;
}

bool add_superio(Board& board, const std::string& choice) {
  const size_t at = choice.find('@');
  const SioModel* model = find_sio_model(choice.substr(0, at));
  uint16_t port = 0x2E;
  if (at != std::string::npos) {
    const std::string p = choice.substr(at + 1);
    port = static_cast<uint16_t>(std::strtoul(p.c_str(), nullptr, 16));
    if (p.empty() || (port != 0x2E && port != 0x4E && port != 0x6E)) return false;
  }
  if (model == nullptr) return false;
  add_superio(board, *model, port);
  return true;
}

}  // namespace kvq::sim
