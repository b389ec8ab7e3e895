#include "platform/efi_status.h"

#include "platform/format.h"

namespace kvq::plat {
namespace {

// The error codes of the UEFI standard's Appendix D, by number.
constexpr const char* kErrorNames[] = {
    nullptr,
    "EFI_LOAD_ERROR",
    "EFI_INVALID_PARAMETER",
    "EFI_UNSUPPORTED",
    "EFI_BAD_BUFFER_SIZE",
    "EFI_BUFFER_TOO_SMALL",
    "EFI_NOT_READY",
    "EFI_DEVICE_ERROR",
    "EFI_WRITE_PROTECTED",
    "EFI_OUT_OF_RESOURCES",
    "EFI_VOLUME_CORRUPTED",
    "EFI_VOLUME_FULL",
    "EFI_NO_MEDIA",
    "EFI_MEDIA_CHANGED",
    "EFI_NOT_FOUND",
    "EFI_ACCESS_DENIED",
    "EFI_NO_RESPONSE",
    "EFI_NO_MAPPING",
    "EFI_TIMEOUT",
    "EFI_NOT_STARTED",
    "EFI_ALREADY_STARTED",
    "EFI_ABORTED",
    "EFI_ICMP_ERROR",
    "EFI_TFTP_ERROR",
    "EFI_PROTOCOL_ERROR",
    "EFI_INCOMPATIBLE_VERSION",
    "EFI_SECURITY_VIOLATION",
    "EFI_CRC_ERROR",
    "EFI_END_OF_MEDIA",
    nullptr,
    nullptr,
    "EFI_END_OF_FILE",
    "EFI_INVALID_LANGUAGE",
    "EFI_COMPROMISED_DATA",
};
constexpr uint32_t kErrorNameCount = sizeof(kErrorNames) / sizeof(kErrorNames[0]);

constexpr bool names_sound() {
  // Spot checks against the standard's numbers.
  return kErrorNames[14][4] == 'N' && kErrorNames[26][4] == 'S' && kErrorNames[kErrorNameCount - 1][4] == 'C' &&
         kErrorNameCount == 34;
}
static_assert(names_sound());

}  // namespace

void efi_status_text(EfiStatus status, char16_t* out, int capacity) {
  const uint64_t code = status & ~kEfiErrorBit;
  if (status == kEfiSuccess) {
    sformat(out, capacity, u"EFI_SUCCESS");
  } else if (efi_failed(status) && code < kErrorNameCount && kErrorNames[code] != nullptr) {
    sformat(out, capacity, u"%a", kErrorNames[code]);
  } else {
    sformat(out, capacity, efi_failed(status) ? u"EFI error %u" : u"EFI warning %u", code);
  }
}

}  // namespace kvq::plat
