// The I/O page: 256 consecutive I/O ports from the I/O base port, each read
// and written with one access of the width shown (bytes where the base is
// not aligned to it).
#include "hw/memio.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"

namespace kvq {
namespace {

constexpr AddressSpace kIo = {
    .draw_title = [](AppState&, uint64_t base) { con::print(u"I/O Address : %04X", base); },
    .prompt = u"I/O Address :",
    .digits_col = 14,
    .digits = 4,
    .backspace_steps_back = false,
    .address_digits = 4,
    .wide = false,
    .address = [](uint64_t base, int offset) { return (base + static_cast<uint64_t>(offset)) & 0xFFFFu; },
    .base = [](const AppState& s) { return static_cast<uint64_t>(s.io_base); },
    .set_base = [](AppState& s, uint64_t base) { s.io_base = static_cast<uint16_t>(base); },
    .read_window = [](uint64_t base, int size,
                      RegisterWindow& w) { memio::read_io_window(static_cast<uint16_t>(base), size, w); },
    .write =
        [](uint64_t port, int size, uint32_t value) {
          memio::write_io(static_cast<uint16_t>(port), size, value);
          return memio::Refusal::kNone;
        },
    .own_key = nullptr,
};

}  // namespace

void io_pass(AppState& state) { address_space_pass(state, kIo); }

}  // namespace kvq
