// The capability view (C on the PCIE page): every capability of the PCIE
// page's function with its offset, name and version, and the registers an
// engineer reads first decoded, in the manner of lspci -vv: the power
// state, MSI and MSI-X, the PCI Express device and link, and the errors AER
// has latched. Read afresh on every pass, so a register that changes shows
// at once. Up/Down and PageUp/PageDown scroll; C and Esc return to the
// grid.
#include "app/colors.h"
#include "app/footer.h"
#include "data/pci_cap_names.h"
#include "hw/pci.h"
#include "hw/pci_caps.h"
#include "pages/pages.h"
#include "pages/pci_name_lookup.h"
#include "platform/console.h"

namespace kvq {
namespace {

namespace caps = pci::caps;

constexpr int kFirstRow = 2;
constexpr int kRows = 21;  // 2 to 22; 23 is the status line, 24 the footer
constexpr int kCols = 80;
constexpr int kStatusRow = kFirstRow + kRows;
constexpr const char16_t* kIndent = u"       ";

// The view's lines, each drawn whole (blank to column 79) when it falls in
// the rows shown, and counted in any case. A line of words wraps onto an
// indented line at the screen's edge.
class Lines {
 public:
  explicit Lines(int top) : top_(top) {}

  template <class... A>
  void line(uint8_t attr, const char16_t* fmt, const A&... args) {
    used_ = sformat(text_, kCols + 1, fmt, args...);
    end(attr);
  }
  // Starts a line of words with `fmt`; word() adds to it, end() draws it.
  template <class... A>
  void start(const char16_t* fmt, const A&... args) {
    used_ = sformat(text_, kCols + 1, fmt, args...);
  }
  void word(const char16_t* w) {
    const int n = text_length(w);
    if (used_ + 1 + n > kCols) {
      end(kAttrWhite);
      used_ = sformat(text_, kCols + 1, u"%s       ", kIndent);
    }
    used_ += sformat(text_ + used_, kCols + 1 - used_, u" %s", w);
  }
  void end(uint8_t attr) {
    const int row = kFirstRow + count_ - top_;
    if (row >= kFirstRow && row < kStatusRow) {
      con::set_attr(attr);
      con::set_cursor(0, row);
      con::put_text(text_);
      con::repeat(u' ', kCols - used_);
    }
    ++count_;
    used_ = 0;
  }
  int count() const { return count_; }

 private:
  int top_;
  int count_ = 0;
  int used_ = 0;
  char16_t text_[kCols + 1] = {};
};

char16_t flag(bool on) { return on ? u'+' : u'-'; }

// "[E0] PCI Express v2: Endpoint", "[100] Advanced Error Reporting v2",
// "[E8] ID 2Ah".
void describe_header(Lines& out, const caps::Decoded& d) {
  const caps::Capability& c = d.cap;
  char16_t name[cap_names::kNameChars + 1];
  if (const cap_names::CapName* n = cap_names::find(c.extended, c.id)) {
    sformat(name, cap_names::kNameChars + 1, u"%s", n->name);
  } else {
    sformat(name, cap_names::kNameChars + 1, c.extended ? u"ID %04Xh" : u"ID %02Xh", c.id);
  }
  char16_t version[8] = {};
  if (d.version >= 0) sformat(version, 8, u" v%d", d.version);
  const char16_t* type = d.kind == caps::Decoded::kExpress ? cap_names::port_type(d.express.port_type) : u"";
  out.line(kAttrYellow, c.extended ? u"[%03X] %s%s%s%s" : u"[%02X] %s%s%s%s", c.offset, name, version,
           type[0] != 0 ? u": " : u"", type);
}

void describe_express(Lines& out, const caps::Express& e) {
  out.line(kAttrWhite, u"%sDevCap: MaxPayload %d bytes", kIndent, e.max_payload_supported);
  out.line(kAttrWhite, u"%sDevCtl: MaxPayload %d bytes, MaxReadReq %d bytes", kIndent, e.max_payload,
           e.max_read_request);
  if (!e.has_link) return;
  const caps::Link& l = e.link;
  out.line(kAttrWhite, u"%sLnkCap: Speed %sGT/s, Width x%d, ASPM %s", kIndent, cap_names::link_speed(l.max_speed),
           l.max_width, cap_names::aspm_support(l.aspm_support));
  out.line(kAttrWhite, u"%sLnkCtl: ASPM %s", kIndent, cap_names::aspm_control(l.aspm_control));
  out.line(kAttrWhite, u"%sLnkSta: Speed %sGT/s, Width x%d, Train%c", kIndent, cap_names::link_speed(l.speed),
           l.width, flag(l.training));
}

// "UESta: 00100000 UnsupReq": the register, then the name of every bit set
// (a reserved bit by its number).
void describe_status(Lines& out, const char16_t* label, uint32_t value, const cap_names::BitName* names, int count) {
  out.start(u"%s%s: %08X", kIndent, label, value);
  for (int bit = 0; bit < 32; ++bit) {
    if (((value >> bit) & 1) == 0) continue;
    char16_t word[cap_names::kBitNameChars + 1];
    sformat(word, cap_names::kBitNameChars + 1, u"bit%d", bit);
    for (int i = 0; i < count; ++i) {
      if (names[i].bit == bit) sformat(word, cap_names::kBitNameChars + 1, u"%s", names[i].name);
    }
    out.word(word);
  }
  out.end(kAttrWhite);
}

void describe(Lines& out, const caps::Decoded& d) {
  describe_header(out, d);
  switch (d.kind) {
    case caps::Decoded::kPowerManagement:
      out.line(kAttrWhite, u"%sState %s", kIndent, cap_names::power_state(d.pm.state));
      break;
    case caps::Decoded::kMsi:
      out.line(kAttrWhite, u"%sEnable%c 64bit%c Vectors requested %d, enabled %d", kIndent, flag(d.msi.enabled),
               flag(d.msi.address64), d.msi.requested, d.msi.granted);
      break;
    case caps::Decoded::kMsiX:
      out.line(kAttrWhite, u"%sEnable%c TableSize %d", kIndent, flag(d.msix.enabled), d.msix.table_size);
      break;
    case caps::Decoded::kExpress:
      describe_express(out, d.express);
      break;
    case caps::Decoded::kAer: {
      int count = 0;
      const cap_names::BitName* names = cap_names::aer_uncorrectable(&count);
      describe_status(out, u"UESta", d.aer.uncorrectable, names, count);
      names = cap_names::aer_correctable(&count);
      describe_status(out, u"CESta", d.aer.correctable, names, count);
      break;
    }
    case caps::Decoded::kNone:
      break;
  }
}

void draw_status(int top, int total) {
  const int last = top + kRows < total ? top + kRows : total;
  char16_t where[24];
  sformat(where, 24, u"Lines %d-%d of %d", top + 1, last, total);
  char16_t text[kCols + 1];
  sformat(text, kCols + 1, u"%-20sUp Down PageUp PageDown: scroll   C or Esc: back to the grid", where);
  con::set_attr(kAttrLightGreen);
  con::set_cursor(0, kStatusRow);
  con::print(u"%-80s", text);
}

int clamp(int v, int low, int high) { return v < low ? low : (v > high ? high : v); }

void act_on_key(AppState& state, int total) {
  const Key key = state.key;
  int top = state.caps_top;
  if (key.scan == kScanUp) {
    top -= 1;
  } else if (key.scan == kScanDown) {
    top += 1;
  } else if (key.scan == kScanPageUp) {
    top -= kRows;
  } else if (key.scan == kScanPageDown) {
    top += kRows;
  } else if (key.scan == kScanEsc || (key.scan == 0 && key.ch == u'C')) {
    // Esc here is the way back, taken before the main loop would end kvq.
    state.page = PageId::kPcie;
    con::clear_screen();
  } else {
    return;
  }
  state.caps_top = clamp(top, 0, total > kRows ? total - kRows : 0);
  state.key = Key{0, 0};
}

}  // namespace

void pcie_caps_pass(AppState& state) {
  const pci::Bdf& d = state.device;
  pci::read_window(d, g_window);
  con::set_attr(kAttrWhite);
  con::set_cursor(0, 0);
  print_function_title(d);
  con::print(u"  %04X:%04X  capabilities", g_window.reg<pci::hdr::VendorId>(), g_window.reg<pci::hdr::DeviceId>());

  const caps::Source source(d, &g_window);
  Lines out(state.caps_top);
  caps::Walk walk(source);
  caps::Capability c;
  while (walk.next(&c)) describe(out, caps::decode(source, c));
  if (out.count() == 0) out.line(kAttrWhite, u"No capability list.");
  const int total = out.count();
  con::set_attr(kAttrWhite);
  for (int row = kFirstRow + total - state.caps_top; row < kStatusRow; ++row) {
    if (row < kFirstRow) continue;
    con::set_cursor(0, row);
    con::repeat(u' ', kCols);
  }
  // A list that got shorter than the first line shown: from its last
  // screenful on the next pass.
  state.caps_top = clamp(state.caps_top, 0, total > kRows ? total - kRows : 0);
  draw_status(state.caps_top, total);
  draw_footer(false);
  con::poll_key(&state.key);
  act_on_key(state, total);
}

}  // namespace kvq
