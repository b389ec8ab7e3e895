#include "platform/sim/paging_sim.h"

#include "platform/cpu.h"

namespace kvq::sim {
namespace {

constexpr uint64_t kPresentWritable = 3;
constexpr uint64_t kLarge = 0x80;
constexpr uint64_t kAddressBits = 0x000FFFFFFFFFF000ull;

}  // namespace

PageTables::PageTables(Board& board, Shape shape, uint64_t at) : board_(board), next_(at) {
  // Index position, width and entry size of each level, from the top.
  static constexpr Level k32Bit[] = {{22, 10, 4}, {12, 10, 4}};
  static constexpr Level kPae[] = {{30, 2, 8}, {21, 9, 8}, {12, 9, 8}};
  static constexpr Level kLong[] = {{48, 9, 8}, {39, 9, 8}, {30, 9, 8}, {21, 9, 8}, {12, 9, 8}};
  paging::Registers& r = board.paging;
  r = paging::Registers{};
  if (shape == Shape::kOff) return;
  r.cr0 = paging::kCr0Pg | paging::kCr0Wp | 1;
  switch (shape) {
    case Shape::k32Bit:
      levels_ = k32Bit, count_ = 2, r.cr4 = paging::kCr4Pse;
      break;
    case Shape::kPae:
      levels_ = kPae, count_ = 3, r.cr4 = paging::kCr4Pae;
      break;
    case Shape::k4Level:
      levels_ = kLong + 1, count_ = 4, r.cr4 = paging::kCr4Pae, r.long_mode = true;
      break;
    case Shape::k5Level:
    case Shape::kOff:
      levels_ = kLong, count_ = 5, r.cr4 = paging::kCr4Pae | paging::kCr4La57, r.long_mode = true;
      break;
  }
  top_ = new_table();
  r.cr3 = top_;
}

uint64_t PageTables::new_table() {
  const uint64_t t = next_;
  next_ += 4096;
  for (uint64_t i = 0; i < 4096; i += 8) board_.ram_poke64(t + i, 0);
  return t;
}

uint64_t PageTables::entry_address(int level, uint64_t table, uint64_t address) const {
  const Level& l = levels_[level];
  const uint64_t index = (address >> l.shift) & ((uint64_t{1} << l.index_bits) - 1);
  return table + index * static_cast<uint64_t>(l.entry_bytes);
}

uint64_t PageTables::read_entry(uint64_t at, int bytes) const {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | board_.ram_peek(at + static_cast<uint64_t>(i));
  return v;
}

void PageTables::set_high_bits(uint64_t bits) {
  high_bits_ = bits;
  board_.paging.cr3 |= bits;
}

void PageTables::write_entry(uint64_t at, int bytes, uint64_t value) {
  if (bytes == 8) value |= high_bits_;
  for (int i = 0; i < bytes; ++i) board_.ram_poke(at + static_cast<uint64_t>(i), static_cast<uint8_t>(value >> (8 * i)));
}

void PageTables::map(uint64_t base, uint64_t length, uint64_t page_size, bool writable) {
  const bool pae_pdpt = levels_ != nullptr && levels_[0].shift == 30 && count_ == 3;
  for (uint64_t page = base; page < base + length; page += page_size) {
    uint64_t table = top_;
    for (int i = 0; i < count_; ++i) {
      const Level& l = levels_[i];
      const uint64_t at = entry_address(i, table, page);
      // PAE's PDPT entries carry only the present bit.
      const uint64_t flags = (pae_pdpt && i == 0) ? 1 : (writable ? kPresentWritable : 1);
      if ((uint64_t{1} << l.shift) == page_size) {
        write_entry(at, l.entry_bytes, page | flags | (i == count_ - 1 ? 0 : kLarge));
        break;
      }
      uint64_t entry = read_entry(at, l.entry_bytes);
      if ((entry & 1) == 0) {
        // Upper levels stay writable: a read-only page is read-only in its
        // own entry.
        entry = new_table() | ((pae_pdpt && i == 0) ? 1 : kPresentWritable);
        write_entry(at, l.entry_bytes, entry);
      }
      table = entry & (l.entry_bytes == 4 ? 0xFFFFF000ull : kAddressBits & ~high_bits_);
    }
  }
}

void PageTables::unmap(uint64_t page) {
  uint64_t table = top_;
  for (int i = 0; i < count_; ++i) {
    const Level& l = levels_[i];
    const uint64_t at = entry_address(i, table, page);
    const uint64_t entry = read_entry(at, l.entry_bytes);
    if ((entry & 1) == 0) return;
    if (i == count_ - 1 || (entry & kLarge) != 0) {
      write_entry(at, l.entry_bytes, entry & ~uint64_t{1});
      return;
    }
    table = entry & (l.entry_bytes == 4 ? 0xFFFFF000ull : kAddressBits & ~high_bits_);
  }
}

void map_like_ovmf(Board& board) {
  PageTables tables(board, PageTables::Shape::k4Level, 0x1FFF0000u);
  tables.map(0, uint64_t{1} << 40, uint64_t{1} << 30);
}

}  // namespace kvq::sim

namespace kvq::sim {
namespace {

bool read_sim_entry(uint64_t address, int bytes, uint64_t* entry, void* context) {
  const Board& b = *static_cast<const Board*>(context);
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.ram_peek(address + static_cast<uint64_t>(i));
  *entry = v;
  return true;
}

}  // namespace

bool tables_map(const Board& board, uint64_t address, paging::Access access) {
  paging::Registers r = board.paging;
  r.address_mask = plat::entry_address_mask();
  return paging::maps_to_itself(r, address, access, read_sim_entry, const_cast<Board*>(&board));
}

void run_timer_event(Board& board) {
  if (!board.timer_event || board.tpl >= plat::kTplHighLevel) return;
  const std::function<void()> event = std::move(board.timer_event);
  board.timer_event = nullptr;
  event();
}

}  // namespace kvq::sim

namespace kvq::plat {

// The firmware may run a timer event the moment the walk is done, unless
// kvq holds events off.
bool page_mapped(uint64_t address, paging::Access access) {
  const bool mapped = sim::tables_map(sim::board(), address, access);
  sim::run_timer_event(sim::board());
  return mapped;
}

}  // namespace kvq::plat
