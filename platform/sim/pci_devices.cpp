#include "platform/sim/pci_devices.h"

namespace kvq::sim {
namespace {

// Decodes an address latched at 0xCF8: bus 23:16, device 15:11,
// function 10:8, register 7:2.
struct Decoded {
  PciFunction* function;
  int reg;
};

// The latch is the board's (board.cf8): firmware may leave a value there,
// and its timer event may change it between two of kvq's accesses. The
// data port answers at any of its four byte lanes, with the width of the
// access and nothing beyond it.
class PciHost : public PortDevice {
 public:
  explicit PciHost(Board& board) : board_(board) {}

  bool claims(uint16_t port) const override { return port >= 0xCF8 && port <= 0xCFF; }

  uint32_t read(uint16_t port, int width) override {
    if (port < 0xCFC) {
      // Only a dword access at 0xCF8 reaches the address latch.
      return (port == 0xCF8 && width == 32) ? board_.cf8 : 0xFFFFFFFFu;
    }
    const Decoded d = decode();
    if (d.function == nullptr) return 0xFFFFFFFFu;
    return d.function->read(d.reg + (port - 0xCFC), width / 8);
  }

  void write(uint16_t port, int width, uint32_t value) override {
    if (port < 0xCFC) {
      if (port == 0xCF8 && width == 32) board_.cf8 = value;
      return;
    }
    const Decoded d = decode();
    if (d.function == nullptr) return;
    d.function->write(d.reg + (port - 0xCFC), width / 8, value);
  }

 private:
  Decoded decode() {
    const uint32_t latch = board_.cf8;
    if ((latch & 0x80000000u) == 0) return {nullptr, 0};
    const int bus = static_cast<int>((latch >> 16) & 0xFF);
    const int dev = static_cast<int>((latch >> 11) & 0x1F);
    const int fn = static_cast<int>((latch >> 8) & 0x7);
    return {board_.function(bus, dev, fn), static_cast<int>(latch & 0xFC)};
  }

  Board& board_;
};

// Memory-mapped configuration space: 1 MiB per bus, 32 KiB per device,
// 4 KiB per function. Reads go to the function every time (nothing is RAM
// here), absent functions read all ones.
class Ecam : public MemDevice {
 public:
  explicit Ecam(Board& board) : board_(board) {}

  bool claims(uint64_t addr) const override { return window(addr).size != 0; }

  uint64_t read(uint64_t addr, int width) override {
    const Window w = window(addr);
    PciFunction* f = target(w, addr);
    const int offset = static_cast<int>((addr - w.base) & 0xFFF);
    if (f == nullptr) return width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
    if (width == 64) return f->read(offset, 4) | (uint64_t{f->read(offset + 4, 4)} << 32);
    return f->read(offset, width / 8);
  }

  void write(uint64_t addr, int width, uint64_t value) override {
    const Window w = window(addr);
    if (PciFunction* f = target(w, addr)) f->write(static_cast<int>((addr - w.base) & 0xFFF), width / 8, static_cast<uint32_t>(value));
  }

 private:
  struct Window {
    uint64_t base = 0;
    uint64_t size = 0;
    int segment = 0;
  };

  // The window that holds `addr`: one of the board's listed windows, the
  // one it places above 4 GiB (buses 0 to 255), or PCIEXBAR of an Intel
  // host bridge (60h and 64h: bit 0 enable, bits 2:1 256, 128 or 64 MiB).
  Window window(uint64_t addr) const {
    for (const Board::EcamWindow& e : board_.ecam_windows) {
      const uint64_t first = e.base + (uint64_t{e.first_bus} << 20);
      if (addr >= first && addr - first < (uint64_t{e.last_bus} - e.first_bus + 1) << 20) {
        return {e.base, (uint64_t{e.last_bus} + 1) << 20, e.segment};
      }
    }
    if (board_.ecam_above_4g != 0 && addr - board_.ecam_above_4g < (256u << 20)) {
      return {board_.ecam_above_4g, 256u << 20, 0};
    }
    PciFunction* host = const_cast<Board&>(board_).function(0, 0, 0);
    if (host == nullptr || (host->get32(0x00) & 0xFFFF) != 0x8086) return {};
    const uint32_t reg = host->get32(0x60);
    const uint32_t length = (reg >> 1) & 3;
    if ((reg & 1) == 0 || length == 3) return {};
    const uint64_t size = (256u << 20) >> length;
    const uint64_t base = ((uint64_t{host->get32(0x64)} << 32) | reg) & ~(size - 1);
    if (addr < base || addr - base >= size) return {};
    return {base, size, 0};
  }

  PciFunction* target(const Window& w, uint64_t addr) {
    if (w.size == 0) return nullptr;
    const uint64_t r = addr - w.base;
    return board_.segment_function(w.segment, static_cast<int>(r >> 20), static_cast<int>((r >> 15) & 0x1F),
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
