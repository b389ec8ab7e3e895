// The I/O page: 256 consecutive I/O ports from the I/O base port. Every
// access is a byte access, whatever the width shown.
#include "hw/memio.h"
#include "pages/pages.h"
#include "pages/space_page.h"

namespace kvq {
namespace {

constexpr AddressSpace kIo = {
    u"I/O Address : %04X",
    u"I/O Address :",
    14,
    4,
    false,
    u"0x%04X ->",
    {23, 21, 17},
    0xFFFFu,
    [](const AppState& s) { return static_cast<uint32_t>(s.io_base); },
    [](AppState& s, uint32_t base) { s.io_base = static_cast<uint16_t>(base); },
    [](uint32_t base, RegisterWindow& w) { memio::read_io_window(static_cast<uint16_t>(base), w); },
    [](uint32_t port, int size, uint32_t value) { memio::write_io(static_cast<uint16_t>(port), size, value); },
    nullptr,
};

}  // namespace

void io_pass(AppState& state) { address_space_pass(state, kIo); }

}  // namespace kvq
