#include "hw/pci_caps.h"

namespace kvq::pci::caps {
namespace {

template <class Reg>
uint32_t read(const Source& s, uint32_t base) {
  return s.read(base + Reg::kOffset, Reg::kWidth);
}

// Bytes of a capability that a decode reads: up to the end of its last
// register.
template <class Reg>
constexpr uint16_t end_of() {
  return static_cast<uint16_t>(Reg::kOffset + Reg::kWidth);
}

// 128 bytes shifted left by a 3-bit size field (payload, read request).
uint16_t size_bytes(uint32_t field) { return static_cast<uint16_t>(128u << field); }

void decode_pm(const Source& s, uint32_t at, Decoded* d) {
  d->version = static_cast<int>(pm::Capabilities::Version::get(read<pm::Capabilities>(s, at)));
  d->pm.state = static_cast<uint8_t>(pm::ControlStatus::PowerState::get(read<pm::ControlStatus>(s, at)));
}

void decode_msi(const Source& s, uint32_t at, Decoded* d) {
  using C = msi::Control;
  const uint32_t c = read<C>(s, at);
  d->msi = Msi{.enabled = C::Enable::get(c) != 0,
               .address64 = C::Address64::get(c) != 0,
               .requested = static_cast<uint8_t>(1u << C::MultipleMessageCapable::get(c)),
               .granted = static_cast<uint8_t>(1u << C::MultipleMessageEnable::get(c))};
}

void decode_msix(const Source& s, uint32_t at, Decoded* d) {
  using C = msix::Control;
  const uint32_t c = read<C>(s, at);
  d->msix = MsiX{.enabled = C::Enable::get(c) != 0, .table_size = static_cast<uint16_t>(C::TableSize::get(c) + 1)};
}

void decode_express(const Source& s, uint32_t at, Decoded* d) {
  using namespace express;
  const uint32_t caps = read<Capabilities>(s, at);
  const uint32_t control = read<DeviceControl>(s, at);
  Express& e = d->express;
  d->version = static_cast<int>(Capabilities::Version::get(caps));
  e.port_type = static_cast<uint8_t>(Capabilities::PortType::get(caps));
  e.max_payload_supported = size_bytes(DeviceCapabilities::MaxPayload::get(read<DeviceCapabilities>(s, at)));
  e.max_payload = size_bytes(DeviceControl::MaxPayload::get(control));
  e.max_read_request = size_bytes(DeviceControl::MaxReadRequest::get(control));
  e.has_link = e.port_type != kRootComplexIntegrated && e.port_type != kRootComplexEventCollector;
  if (!e.has_link) return;
  const uint32_t cap = read<LinkCapabilities>(s, at);
  const uint32_t status = read<LinkStatus>(s, at);
  e.link = Link{.speed = static_cast<uint8_t>(LinkStatus::Speed::get(status)),
                .width = static_cast<uint8_t>(LinkStatus::Width::get(status)),
                .max_speed = static_cast<uint8_t>(LinkCapabilities::MaxSpeed::get(cap)),
                .max_width = static_cast<uint8_t>(LinkCapabilities::MaxWidth::get(cap)),
                .aspm_support = static_cast<uint8_t>(LinkCapabilities::Aspm::get(cap)),
                .aspm_control = static_cast<uint8_t>(LinkControl::Aspm::get(read<LinkControl>(s, at))),
                .training = LinkStatus::Training::get(status) != 0};
}

void decode_aer(const Source& s, uint32_t at, Decoded* d) {
  d->aer = Aer{.uncorrectable = read<aer::UncorrectableStatus>(s, at), .correctable = read<aer::CorrectableStatus>(s, at)};
}

// The capabilities kvq decodes: one row each, with the bytes its decode
// reads from the header on.
struct Decoder {
  bool extended;
  uint16_t id;
  uint16_t length;
  Decoded::Kind kind;
  void (*decode)(const Source& s, uint32_t at, Decoded* d);
};

constexpr Decoder kDecoders[] = {
    {.extended = false, .id = kIdPowerManagement, .length = end_of<pm::ControlStatus>(),
     .kind = Decoded::kPowerManagement, .decode = decode_pm},
    {.extended = false, .id = kIdMsi, .length = end_of<msi::Control>(), .kind = Decoded::kMsi, .decode = decode_msi},
    {.extended = false, .id = kIdMsiX, .length = end_of<msix::Control>(), .kind = Decoded::kMsiX, .decode = decode_msix},
    {.extended = false, .id = kIdExpress, .length = end_of<express::LinkStatus>(), .kind = Decoded::kExpress,
     .decode = decode_express},
    {.extended = true, .id = kIdAer, .length = end_of<aer::CorrectableStatus>(), .kind = Decoded::kAer,
     .decode = decode_aer},
};

// One row per capability and kind.
constexpr bool decoders_sound() {
  constexpr int n = sizeof(kDecoders) / sizeof(kDecoders[0]);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) {
      const bool same_cap = kDecoders[i].extended == kDecoders[j].extended && kDecoders[i].id == kDecoders[j].id;
      if (same_cap || kDecoders[i].kind == kDecoders[j].kind) return false;
    }
    if (kDecoders[i].kind == Decoded::kNone) return false;
  }
  return true;
}
static_assert(decoders_sound());

constexpr uint32_t kFirstStandard = 0x40;
constexpr uint32_t kFirstExtended = 0x100;

}  // namespace

uint32_t Source::read(uint32_t offset, int width) const {
  if (window_ != nullptr && offset + static_cast<uint32_t>(width) <= 256) {
    return window_->value(static_cast<int>(offset), width);
  }
  return config_read(function_, offset, width);
}

Walk::Walk(const Source& source, Lists lists) : source_(source), lists_(lists) {
  const uint32_t status = read<hdr::Status>(source, 0);
  if (hdr::Status::CapabilitiesList::get(status) != 0) at_ = read<hdr::CapabilitiesPointer>(source, 0) & 0xFC;
}

// Marks the dword of `offset` seen; false when it was already.
bool Walk::first_visit(uint32_t offset) {
  const uint32_t dword = offset >> 2;
  const uint32_t bit = 1u << (dword % 32);
  if ((seen_[dword / 32] & bit) != 0) return false;
  seen_[dword / 32] |= bit;
  return true;
}

bool Walk::next_standard(Capability* cap) {
  if (at_ < kFirstStandard || left_ == 0 || !first_visit(at_)) return false;
  --left_;
  // ID and next pointer; the pointer's low two bits are reserved.
  const uint32_t header = source_.read(at_, 2);
  const uint16_t id = static_cast<uint16_t>(header & 0xFF);
  if (id == 0xFF) return false;
  *cap = Capability{.offset = static_cast<uint16_t>(at_), .id = id, .extended = false, .header_version = 0};
  may_have_extended_ = may_have_extended_ || id == kIdExpress || id == kIdPciX;
  at_ = (header >> 8) & 0xFC;
  return true;
}

bool Walk::next_extended(Capability* cap) {
  if (at_ < kFirstExtended || left_ == 0 || !first_visit(at_)) return false;
  --left_;
  const uint32_t header = source_.read(at_, 4);
  if (header == 0 || header == 0xFFFFFFFFu) return false;
  *cap = Capability{.offset = static_cast<uint16_t>(at_),
                    .id = static_cast<uint16_t>(ExtendedHeader::Id::get(header)),
                    .extended = true,
                    .header_version = static_cast<uint8_t>(ExtendedHeader::Version::get(header))};
  at_ = ExtendedHeader::Next::get(header) & 0xFFC;
  return true;
}

bool Walk::next(Capability* cap) {
  if (!in_extended_) {
    if (next_standard(cap)) return true;
    in_extended_ = true;
    at_ = 0;
    if (lists_ == kBoth && may_have_extended_ && reaches(source_.function(), kFirstExtended, 4)) {
      at_ = kFirstExtended;
      left_ = kMaxExtended;
    }
  }
  if (next_extended(cap)) return true;
  at_ = 0;
  return false;
}

bool find_standard(const Source& source, uint16_t id, Capability* cap) {
  Walk walk(source, Walk::kStandardOnly);
  while (walk.next(cap)) {
    if (cap->id == id) return true;
  }
  return false;
}

Decoded decode(const Source& source, const Capability& cap) {
  Decoded d;
  d.cap = cap;
  if (cap.extended) d.version = cap.header_version;
  const uint32_t space = cap.extended ? 4096 : 256;
  for (const Decoder& row : kDecoders) {
    if (row.extended != cap.extended || row.id != cap.id) continue;
    if (cap.offset + row.length <= space) {
      d.kind = row.kind;
      row.decode(source, cap.offset, &d);
    }
    break;
  }
  return d;
}

}  // namespace kvq::pci::caps
