#include "data/pci_cap_names.h"

#include "platform/text16.h"

namespace kvq::cap_names {
namespace {

// Capability IDs 01h to 15h of configuration space below 100h.
constexpr CapName kStandard[] = {
    {0x01, u"PM", u"Power Management"},
    {0x02, u"AGP", u"AGP"},
    {0x03, u"VPD", u"Vital Product Data"},
    {0x04, u"SlotID", u"Slot Identification"},
    {0x05, u"MSI", u"MSI"},
    {0x06, u"CHSwp", u"CompactPCI Hot Swap"},
    {0x07, u"PCI-X", u"PCI-X"},
    {0x08, u"HT", u"HyperTransport"},
    {0x09, u"Vendor", u"Vendor Specific"},
    {0x0A, u"Debug", u"Debug Port"},
    {0x0B, u"CCRC", u"CompactPCI Central Resource Control"},
    {0x0C, u"HotPlg", u"PCI Hot-Plug"},
    {0x0D, u"SSVID", u"Bridge Subsystem Vendor ID"},
    {0x0E, u"AGP8x", u"AGP 8x"},
    {0x0F, u"Secure", u"Secure Device"},
    {0x10, u"Exp", u"PCI Express"},
    {0x11, u"MSI-X", u"MSI-X"},
    {0x12, u"SATA", u"SATA Data/Index Configuration"},
    {0x13, u"AF", u"Advanced Features"},
    {0x14, u"EA", u"Enhanced Allocation"},
    {0x15, u"FPB", u"Flattening Portal Bridge"},
};

// Extended capability IDs 0001h to 0036h, from 100h on.
constexpr CapName kExtended[] = {
    {0x0001, u"AER", u"Advanced Error Reporting"},
    {0x0002, u"VC", u"Virtual Channel"},
    {0x0003, u"DSN", u"Device Serial Number"},
    {0x0004, u"PwrBdg", u"Power Budgeting"},
    {0x0005, u"RCLD", u"Root Complex Link Declaration"},
    {0x0006, u"RCILC", u"Root Complex Internal Link Control"},
    {0x0007, u"RCECEA", u"Root Complex Event Collector Endpoint Association"},
    {0x0008, u"MFVC", u"Multi-Function Virtual Channel"},
    {0x0009, u"VC", u"Virtual Channel (MFVC present)"},
    {0x000A, u"RCRB", u"RCRB Header"},
    {0x000B, u"Vendor", u"Vendor-Specific Extended"},
    {0x000C, u"CAC", u"Configuration Access Correlation"},
    {0x000D, u"ACS", u"Access Control Services"},
    {0x000E, u"ARI", u"Alternative Routing-ID Interpretation"},
    {0x000F, u"ATS", u"Address Translation Services"},
    {0x0010, u"SR-IOV", u"Single Root I/O Virtualization"},
    {0x0011, u"MR-IOV", u"Multi-Root I/O Virtualization"},
    {0x0012, u"MCast", u"Multicast"},
    {0x0013, u"PRI", u"Page Request Interface"},
    {0x0014, u"AMD", u"Reserved for AMD"},
    {0x0015, u"ReBAR", u"Resizable BAR"},
    {0x0016, u"DPA", u"Dynamic Power Allocation"},
    {0x0017, u"TPH", u"TPH Requester"},
    {0x0018, u"LTR", u"Latency Tolerance Reporting"},
    {0x0019, u"SecPCI", u"Secondary PCI Express"},
    {0x001A, u"PMUX", u"Protocol Multiplexing"},
    {0x001B, u"PASID", u"Process Address Space ID"},
    {0x001C, u"LNR", u"LN Requester"},
    {0x001D, u"DPC", u"Downstream Port Containment"},
    {0x001E, u"L1PM", u"L1 PM Substates"},
    {0x001F, u"PTM", u"Precision Time Measurement"},
    {0x0020, u"M-PCIe", u"PCI Express over M-PHY"},
    {0x0021, u"FRS", u"FRS Queueing"},
    {0x0022, u"RTR", u"Readiness Time Reporting"},
    {0x0023, u"DVSEC", u"Designated Vendor-Specific"},
    {0x0024, u"VFRBAR", u"VF Resizable BAR"},
    {0x0025, u"DLF", u"Data Link Feature"},
    {0x0026, u"16GT", u"Physical Layer 16.0 GT/s"},
    {0x0027, u"LMR", u"Lane Margining at the Receiver"},
    {0x0028, u"HierID", u"Hierarchy ID"},
    {0x0029, u"NPEM", u"Native PCIe Enclosure Management"},
    {0x002A, u"32GT", u"Physical Layer 32.0 GT/s"},
    {0x002B, u"AltPrt", u"Alternate Protocol"},
    {0x002C, u"SFI", u"System Firmware Intermediary"},
    {0x002D, u"Shadow", u"Shadow Functions"},
    {0x002E, u"DOE", u"Data Object Exchange"},
    {0x002F, u"Dev3", u"Device 3"},
    {0x0030, u"IDE", u"Integrity and Data Encryption"},
    {0x0031, u"64GT", u"Physical Layer 64.0 GT/s"},
    {0x0032, u"FlitLg", u"Flit Logging"},
    {0x0033, u"FlitPM", u"Flit Performance Measurement"},
    {0x0034, u"FlitEI", u"Flit Error Injection"},
    {0x0035, u"SVC", u"Streamlined Virtual Channel"},
    {0x0036, u"MRBL", u"MMIO Register Block Locator"},
};

// Each list runs from ID 1 without a gap (so an ID is its row's index plus
// one), up to at least `last`, and every text fits where it is shown.
template <int N>
constexpr bool names_sound(const CapName (&list)[N], uint16_t last) {
  for (int i = 0; i < N; ++i) {
    const CapName& c = list[i];
    if (c.id != i + 1) return false;
    const int a = text_length(c.abbrev);
    const int n = text_length(c.name);
    if (a == 0 || a > kAbbrevChars || n == 0 || n > kNameChars) return false;
  }
  return N >= last;
}
static_assert(names_sound(kStandard, 0x15));
static_assert(names_sound(kExtended, 0x30));

// Named bits as pciutils names them; the bits between are reserved.
constexpr BitName kUncorrectable[] = {
    {4, u"DLP"},           {5, u"SDES"},          {12, u"TLP"},
    {13, u"FCP"},          {14, u"CmpltTO"},      {15, u"CmpltAbrt"},
    {16, u"UnxCmplt"},     {17, u"RxOF"},         {18, u"MalfTLP"},
    {19, u"ECRC"},         {20, u"UnsupReq"},     {21, u"ACSViol"},
    {22, u"UncorrIntErr"}, {23, u"BlockedTLP"},   {24, u"AtomicOpBlocked"},
    {25, u"TLPBlockedErr"}, {26, u"PoisonTLPBlocked"}, {27, u"DMWrReqBlocked"},
    {28, u"IDECheck"},     {29, u"MisIDETLP"},    {30, u"PCRC_CHECK"},
    {31, u"TLPXlatBlocked"},
};
constexpr BitName kCorrectable[] = {
    {0, u"RxErr"},    {6, u"BadTLP"},          {7, u"BadDLLP"},    {8, u"Rollover"},
    {12, u"Timeout"}, {13, u"AdvNonFatalErr"}, {14, u"CorrIntErr"}, {15, u"HeaderOF"},
};

// Low bit first, each bit once, every name fits.
template <int N>
constexpr bool bits_sound(const BitName (&list)[N]) {
  for (int i = 0; i < N; ++i) {
    if (list[i].bit > 31 || (i > 0 && list[i].bit <= list[i - 1].bit)) return false;
    const int n = text_length(list[i].name);
    if (n == 0 || n > kBitNameChars) return false;
  }
  return true;
}
static_assert(bits_sound(kUncorrectable) && bits_sound(kCorrectable));

constexpr const char16_t* kSpeeds[] = {u"?", u"2.5", u"5", u"8", u"16", u"32", u"64"};
constexpr bool speeds_fit() {
  for (const char16_t* s : kSpeeds) {
    if (text_length(s) > kSpeedChars) return false;
  }
  return true;
}
static_assert(speeds_fit());
constexpr const char16_t* kPortTypes[] = {
    u"Endpoint",
    u"Legacy Endpoint",
    nullptr,
    nullptr,
    u"Root Port",
    u"Upstream Port",
    u"Downstream Port",
    u"PCI-Express to PCI/PCI-X Bridge",
    u"PCI/PCI-X to PCI-Express Bridge",
    u"Root Complex Integrated Endpoint",
    u"Root Complex Event Collector",
};
constexpr const char16_t* kAspmSupport[] = {u"not supported", u"L0s", u"L1", u"L0s L1"};
constexpr const char16_t* kAspmControl[] = {u"Disabled", u"L0s Enabled", u"L1 Enabled", u"L0s L1 Enabled"};
constexpr const char16_t* kPowerStates[] = {u"D0", u"D1", u"D2", u"D3hot"};

template <class T, int N>
constexpr int count_of(const T (&)[N]) {
  return N;
}

template <int N>
const char16_t* word(const char16_t* const (&words)[N], uint32_t code, const char16_t* other) {
  return code < static_cast<uint32_t>(N) && words[code] != nullptr ? words[code] : other;
}

}  // namespace

const CapName* find(bool extended, uint16_t id) {
  const CapName* list = extended ? kExtended : kStandard;
  const int count = extended ? count_of(kExtended) : count_of(kStandard);
  return id >= 1 && id <= count ? &list[id - 1] : nullptr;
}

const BitName* aer_uncorrectable(int* count) {
  *count = count_of(kUncorrectable);
  return kUncorrectable;
}

const BitName* aer_correctable(int* count) {
  *count = count_of(kCorrectable);
  return kCorrectable;
}

const char16_t* link_speed(uint32_t code) { return word(kSpeeds, code, kSpeeds[0]); }
const char16_t* port_type(uint32_t type) { return word(kPortTypes, type, u"Unknown type"); }
const char16_t* aspm_support(uint32_t code) { return word(kAspmSupport, code, u"?"); }
const char16_t* aspm_control(uint32_t code) { return word(kAspmControl, code, u"?"); }
const char16_t* power_state(uint32_t state) { return word(kPowerStates, state, u"?"); }

}  // namespace kvq::cap_names
