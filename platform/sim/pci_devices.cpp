#include "platform/sim/pci_devices.h"

namespace kvq::sim {
namespace {

// Decodes an address latched at 0xCF8: bus 23:16, device 15:11,
// function 10:8, register 7:2.
struct Decoded {
  PciFunction* function;
  int reg;
};

class PciHost : public PortDevice {
 public:
  explicit PciHost(Board& board) : board_(board) {}

  bool claims(uint16_t port) const override { return port >= 0xCF8 && port <= 0xCFF; }

  uint32_t read(uint16_t port, int width) override {
    if (port < 0xCFC) {
      // Only a dword access at 0xCF8 reaches the address latch.
      return (port == 0xCF8 && width == 32) ? latch_ : 0xFFFFFFFFu;
    }
    const Decoded d = decode();
    if (d.function == nullptr) return 0xFFFFFFFFu;
    const int offset = d.reg + (port - 0xCFC);
    uint32_t v = 0;
    for (int i = width / 8 - 1; i >= 0; --i) v = (v << 8) | d.function->cfg[(offset + i) & 0xFF];
    return v;
  }

  void write(uint16_t port, int width, uint32_t value) override {
    if (port < 0xCFC) {
      if (port == 0xCF8 && width == 32) latch_ = value;
      return;
    }
    const Decoded d = decode();
    if (d.function == nullptr) return;
    d.function->write(d.reg + (port - 0xCFC), width / 8, value);
  }

 private:
  Decoded decode() {
    if ((latch_ & 0x80000000u) == 0) return {nullptr, 0};
    const int bus = static_cast<int>((latch_ >> 16) & 0xFF);
    const int dev = static_cast<int>((latch_ >> 11) & 0x1F);
    const int fn = static_cast<int>((latch_ >> 8) & 0x7);
    return {board_.function(bus, dev, fn), static_cast<int>(latch_ & 0xFC)};
  }

  Board& board_;
  uint32_t latch_ = 0;
};

// Memory-mapped configuration space: 1 MiB per bus, 32 KiB per device,
// 4 KiB per function. Reads go to the function every time (nothing is RAM
// here), absent functions read all ones.
class Ecam : public MemDevice {
 public:
  explicit Ecam(Board& board) : board_(board) {}

  bool claims(uint64_t addr) const override {
    uint64_t base = 0;
    uint64_t size = 0;
    return window(addr, &base, &size);
  }

  uint64_t read(uint64_t addr, int width) override {
    PciFunction* f = target(addr);
    uint64_t v = 0;
    for (int i = width / 8 - 1; i >= 0; --i) {
      v = (v << 8) | (f != nullptr ? f->cfg[(offset(addr) + i) & 0xFFF] : 0xFFu);
    }
    return v;
  }

  void write(uint64_t addr, int width, uint64_t value) override {
    if (PciFunction* f = target(addr)) f->write(offset(addr), width / 8, static_cast<uint32_t>(value));
  }

 private:
  // The window that holds `addr`: PCIEXBAR's, or the one a board with its
  // space above 4 GiB places there (buses 0 to 255).
  bool window(uint64_t addr, uint64_t* base, uint64_t* size) const {
    if (board_.ecam_above_4g != 0 && addr - board_.ecam_above_4g < (256u << 20)) {
      *base = board_.ecam_above_4g;
      *size = 256u << 20;
      return true;
    }
    PciFunction* host = const_cast<Board&>(board_).function(0, 0, 0);
    if (host == nullptr) return false;
    const uint32_t reg = host->get32(0x60);
    if ((reg & 1) == 0) return false;
    static constexpr uint32_t kSizes[4] = {256u << 20, 128u << 20, 64u << 20, 256u << 20};
    *size = kSizes[(reg >> 1) & 3];
    *base = reg & ~(*size - 1);
    return addr - *base < *size;
  }
  uint64_t relative(uint64_t addr) const {
    uint64_t base = 0;
    uint64_t size = 0;
    window(addr, &base, &size);
    return addr - base;
  }
  int offset(uint64_t addr) const { return static_cast<int>(relative(addr) & 0xFFF); }
  PciFunction* target(uint64_t addr) {
    const uint64_t r = relative(addr);
    return board_.function(static_cast<int>(r >> 20), static_cast<int>((r >> 15) & 0x1F),
                           static_cast<int>((r >> 12) & 7));
  }

  Board& board_;
};

}  // namespace

void install_pci_host(Board& board) {
  board.add_port_device(std::make_unique<PciHost>(board));
  board.add_mem_device(std::make_unique<Ecam>(board));
}

}  // namespace kvq::sim
