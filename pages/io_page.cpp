// The I/O page: 256 consecutive I/O ports from the I/O base port. Every
// access is a byte access, whatever the width shown.
#include "hw/memio.h"
#include "pages/pages.h"
#include "pages/space_page.h"

namespace kvq {
namespace {

constexpr AddressSpace kIo = {
    .title_format = u"I/O Address : %04X",
    .prompt = u"I/O Address :",
    .digits_col = 14,
    .digits = 4,
    .backspace_steps_back = false,
    .address_format = u"0x%04X ->",
    .address_length = 9,
    .mask = 0xFFFFu,
    .base = [](const AppState& s) { return static_cast<uint32_t>(s.io_base); },
    .set_base = [](AppState& s, uint32_t base) { s.io_base = static_cast<uint16_t>(base); },
    .read_window = [](uint32_t base, RegisterWindow& w) { memio::read_io_window(static_cast<uint16_t>(base), w); },
    .write = [](uint32_t port, int size, uint32_t value) { memio::write_io(static_cast<uint16_t>(port), size, value); },
    .own_key = nullptr,
};

}  // namespace

void io_pass(AppState& state) { address_space_pass(state, kIo); }

}  // namespace kvq
