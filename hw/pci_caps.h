// A PCI function's capabilities: the list in configuration space from the
// pointer at 34h, and the PCI Express extended list from 100h, walked as
// pciutils walks them but bounded, so that a list that loops, points into
// the header or reads all ones ends; and the capabilities an engineer reads
// first (power state, MSI, MSI-X, the Express link, AER), decoded from
// their registers. Returns data; the pages draw it.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "hw/reg.h"
#include "hw/window.h"

namespace kvq::pci::caps {

using reg::Field;
using reg::Register;

// IDs kvq decodes or follows.
inline constexpr uint16_t kIdPowerManagement = 0x01;
inline constexpr uint16_t kIdMsi = 0x05;
inline constexpr uint16_t kIdPciX = 0x07;
inline constexpr uint16_t kIdExpress = 0x10;
inline constexpr uint16_t kIdMsiX = 0x11;
inline constexpr uint16_t kIdAer = 0x0001;  // extended

// The bounds of a walk: one standard capability per dword from 40h to
// FFh, one extended capability per dword from 100h to FFFh.
inline constexpr int kMaxStandard = 48;
inline constexpr int kMaxExtended = 960;

// The registers of each decoded capability, at offsets from its header.
namespace pm {
struct Capabilities : Register<0x02, 2> {
  using Version = Field<2, 0>;
};
struct ControlStatus : Register<0x04, 2> {
  using PowerState = Field<1, 0>;
};
static_assert(reg::fields_fit<Capabilities, Capabilities::Version>());
static_assert(reg::fields_fit<ControlStatus, ControlStatus::PowerState>());
}  // namespace pm

namespace msi {
struct Control : Register<0x02, 2> {
  using Address64 = Field<7, 7>;
  using MultipleMessageEnable = Field<6, 4>;   // log2 of the vectors enabled
  using MultipleMessageCapable = Field<3, 1>;  // log2 of the vectors requested
  using Enable = Field<0, 0>;
};
static_assert(reg::fields_fit<Control, Control::Address64, Control::MultipleMessageEnable,
                              Control::MultipleMessageCapable, Control::Enable>());
}  // namespace msi

namespace msix {
struct Control : Register<0x02, 2> {
  using Enable = Field<15, 15>;
  using FunctionMask = Field<14, 14>;
  using TableSize = Field<10, 0>;  // entries minus one
};
static_assert(reg::fields_fit<Control, Control::Enable, Control::FunctionMask, Control::TableSize>());
}  // namespace msix

namespace express {
struct Capabilities : Register<0x02, 2> {
  using PortType = Field<7, 4>;
  using Version = Field<3, 0>;
};
// Payload and read request sizes are 128 bytes shifted left by the field.
struct DeviceCapabilities : Register<0x04, 4> {
  using MaxPayload = Field<2, 0>;
};
struct DeviceControl : Register<0x08, 2> {
  using MaxReadRequest = Field<14, 12>;
  using MaxPayload = Field<7, 5>;
};
struct LinkCapabilities : Register<0x0C, 4> {
  using Aspm = Field<11, 10>;
  using MaxWidth = Field<9, 4>;
  using MaxSpeed = Field<3, 0>;
};
struct LinkControl : Register<0x10, 2> {
  using Aspm = Field<1, 0>;
};
struct LinkStatus : Register<0x12, 2> {
  using Training = Field<11, 11>;
  using Width = Field<9, 4>;
  using Speed = Field<3, 0>;
};
static_assert(reg::fields_fit<Capabilities, Capabilities::PortType, Capabilities::Version>());
static_assert(reg::fields_fit<DeviceCapabilities, DeviceCapabilities::MaxPayload>());
static_assert(reg::fields_fit<DeviceControl, DeviceControl::MaxReadRequest, DeviceControl::MaxPayload>());
static_assert(reg::fields_fit<LinkCapabilities, LinkCapabilities::Aspm, LinkCapabilities::MaxWidth,
                              LinkCapabilities::MaxSpeed>());
static_assert(reg::fields_fit<LinkControl, LinkControl::Aspm>());
static_assert(reg::fields_fit<LinkStatus, LinkStatus::Training, LinkStatus::Width, LinkStatus::Speed>());
// Integrated endpoints and event collectors sit in the root complex: they
// have no link, and their link registers are reserved.
inline constexpr uint32_t kRootComplexIntegrated = 9;
inline constexpr uint32_t kRootComplexEventCollector = 10;
}  // namespace express

namespace aer {
struct UncorrectableStatus : Register<0x04, 4> {};
struct CorrectableStatus : Register<0x10, 4> {};
}  // namespace aer

// An extended capability's header dword.
struct ExtendedHeader : Register<0x00, 4> {
  using Next = Field<31, 20>;
  using Version = Field<19, 16>;
  using Id = Field<15, 0>;
};
static_assert(reg::fields_fit<ExtendedHeader, ExtendedHeader::Next, ExtendedHeader::Version, ExtendedHeader::Id>());

struct Capability {
  uint16_t offset = 0;  // of its header
  uint16_t id = 0;
  bool extended = false;
  uint8_t header_version = 0;  // an extended capability's, bits 19:16
};

// Where a walk and a decode read: the function's registers through the
// choke point, and the first 256 bytes from the window its pass has
// already read when one is given, so that reading the list there costs no
// configuration access more.
class Source {
 public:
  explicit Source(const Bdf& f, const RegisterWindow* window = nullptr) : function_(f), window_(window) {}
  // `width` bytes at an offset aligned to them.
  uint32_t read(uint32_t offset, int width) const;
  const Bdf& function() const { return function_; }

 private:
  Bdf function_;
  const RegisterWindow* window_;
};

// The capabilities in list order: the standard list first (only when the
// status register says there is one), then the extended list, which only a
// function with a PCI Express or PCI-X capability has and only when
// configuration space beyond 100h is reached. The walk ends at an offset
// below 40h (100h), at one seen before, at an ID of FFh or an extended
// header of all ones or zero (nothing answered there), and after 48 (960)
// entries.
class Walk {
 public:
  enum Lists : uint8_t { kStandardOnly, kBoth };
  explicit Walk(const Source& source, Lists lists = kBoth);
  bool next(Capability* cap);

 private:
  bool first_visit(uint32_t offset);
  bool next_standard(Capability* cap);
  bool next_extended(Capability* cap);

  Source source_;
  Lists lists_;
  bool in_extended_ = false;
  bool may_have_extended_ = false;
  int left_ = kMaxStandard;
  uint32_t at_ = 0;
  uint32_t seen_[4096 / 4 / 32] = {};  // one bit per dword of configuration space
};

// The first capability with `id` in the standard list; false without one.
bool find_standard(const Source& source, uint16_t id, Capability* cap);

// The decoded registers.
struct PowerManagement {
  uint8_t state;  // 0 to 3: D0, D1, D2, D3hot
};
struct Msi {
  bool enabled;
  bool address64;
  uint8_t requested;  // vectors
  uint8_t granted;    // vectors enabled
};
struct MsiX {
  bool enabled;
  uint16_t table_size;  // entries
};
struct Link {
  uint8_t speed;  // Link Status speed code
  uint8_t width;  // lanes
  uint8_t max_speed;
  uint8_t max_width;
  uint8_t aspm_support;
  uint8_t aspm_control;
  bool training;
};
struct Express {
  uint8_t port_type;
  uint16_t max_payload_supported;  // bytes
  uint16_t max_payload;
  uint16_t max_read_request;
  bool has_link;
  Link link;
};
struct Aer {
  uint32_t uncorrectable;
  uint32_t correctable;
};

struct Decoded {
  enum Kind : uint8_t { kNone, kPowerManagement, kMsi, kMsiX, kExpress, kAer };
  Capability cap;
  Kind kind = kNone;
  // The capability's version, from its header (extended) or its own
  // register (power management, PCI Express); -1 where it has none.
  int version = -1;
  PowerManagement pm = {};
  Msi msi = {};
  MsiX msix = {};
  Express express = {};
  Aer aer = {};
};

// Reads and decodes the capability's registers. A capability of a kind kvq
// does not decode, or whose registers would run past the end of its space,
// comes back as kNone with its version.
Decoded decode(const Source& source, const Capability& cap);

}  // namespace kvq::pci::caps
