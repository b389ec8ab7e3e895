// Super I/O chips and ITE embedded controllers for the simulated board.
//
// A chip sits at 2Eh, 4Eh or 6Eh and ignores its index/data pair until its
// entry key arrives at the index port (an embedded controller has no key:
// its ID registers always answer). The pair reaches it only while the
// board's LPC bridge sends that port to LPC: otherwise it reads FFh. In configuration mode register 07h
// selects a logical device, registers below 30h are global, and every
// logical device has its own registers 30h to FFh; a logical device the
// chip lacks reads FFh. The hardware monitor's own index/data pair sits at
// its logical device's base (registers 60h, 61h) + 5 and + 6, while that
// device is active (register 30h bit 0).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/board.h"

namespace kvq::sim {

enum class SioKey : uint8_t {
  kNone,     // embedded controller: always answers
  kIte,      // 87h 01h 55h 55h; 87h 01h 55h AAh at 4Eh. Leaves on 02h -> register 02h
  kDouble87,  // 87h 87h (Winbond, Nuvoton, Fintek F81865). Leaves on AAh at the index port
  kDouble77,  // 77h 77h (Fintek F81216). Leaves on AAh
  k55,        // 55h (SMSC parts, an LPC TPM 1.2's configuration port). Leaves on AAh
};

struct SioModel {
  const char* name;  // as `make sim` takes it
  uint8_t chip_id[2];  // registers 20h and 21h
  SioKey key;
  uint32_t devices;     // bit n set: logical device n exists
  int8_t monitor_device;  // -1: no hardware monitor
  uint16_t monitor_base;
  bool banked_monitor;  // Winbond: registers 50h-5Fh in banks chosen by 4Eh
};

// The models, by name: it8528, it8518 (embedded controllers), it8728,
// it8781, it8721, w83627dhg, w83627uhg, nct6102, f81216, f81865, and
// tpm12, the configuration port of an Infineon LPC TPM 1.2.
const SioModel* find_sio_model(const std::string& name);
// Every model name, separated by blanks.
std::string sio_model_names();

// Whether the board's LPC bridge sends the pair at `port` to LPC: an Intel
// ISA bridge at 0:31.0 by LPC_EN (82h) and its generic ranges (84h-90h),
// an AMD one at 0:20.3 by register 48h (2Eh and 4Eh only); without either,
// every port.
bool lpc_decodes(Board& board, uint16_t port);
// What firmware does for a chip at `port`: sets the bridge's decode for it.
void enable_lpc_decode(Board& board, uint16_t port);

class SuperIoChip : public PortDevice {
 public:
  SuperIoChip(Board& board, const SioModel& model, uint16_t port);
  bool claims(uint16_t port) const override;
  uint32_t read(uint16_t port, int width) override;
  void write(uint16_t port, int width, uint32_t value) override;

  bool in_config() const { return config_; }
  uint8_t logical_device() const { return device_; }
  void select(uint8_t device) { device_ = device; }  // as firmware left it
  // Registers as the chip holds them, whatever mode it is in.
  uint8_t& global(uint8_t reg) { return global_[reg]; }
  uint8_t& device_reg(uint8_t device, uint8_t reg) { return devices_[device][reg]; }
  // Monitor register; `bank` counts only for 50h-5Fh of a banked monitor.
  uint8_t& monitor_reg(int bank, uint8_t reg);
  // The monitor's index port, or 0 when the monitor does not answer.
  uint16_t monitor_port() const;

 private:
  bool has_device(uint8_t device) const { return device < 32 && ((model_.devices >> device) & 1) != 0; }
  bool in_bank(int bank, uint8_t reg) const;
  void feed_key(uint8_t value);
  uint8_t config_read() const;
  void config_write(uint8_t value);
  uint8_t monitor_read() const;
  void monitor_write(uint8_t value);

  Board& board_;
  const SioModel& model_;
  uint16_t port_;
  uint8_t key_[4] = {};
  int key_length_ = 0;
  int key_pos_ = 0;
  bool config_;
  uint8_t index_ = 0;
  uint8_t device_ = 0;
  uint8_t global_[0x30] = {};
  uint8_t devices_[256][256] = {};
  uint8_t monitor_index_ = 0;
  uint8_t monitor_[256] = {};
  uint8_t monitor_banks_[8][16] = {};
};

// Places `model` at `port` (2Eh, 4Eh or 6Eh) on the board, and has the
// bridge decode the port.
SuperIoChip& add_superio(Board& board, const SioModel& model, uint16_t port);

// "model" or "model@port" (port in hex: 2e, 4e, 6e). False, adding nothing,
// for an unknown model or port.
bool add_superio(Board& board, const std::string& choice);

}  // namespace kvq::sim
