#include "platform/efi_status.h"

#include "platform/format.h"
#include "platform/text16.h"

namespace kvq::plat {
namespace {

// The error codes of the UEFI standard's Appendix D, by number.
constexpr const char16_t* kErrorNames[] = {
    nullptr,
    u"EFI_LOAD_ERROR",
    u"EFI_INVALID_PARAMETER",
    u"EFI_UNSUPPORTED",
    u"EFI_BAD_BUFFER_SIZE",
    u"EFI_BUFFER_TOO_SMALL",
    u"EFI_NOT_READY",
    u"EFI_DEVICE_ERROR",
    u"EFI_WRITE_PROTECTED",
    u"EFI_OUT_OF_RESOURCES",
    u"EFI_VOLUME_CORRUPTED",
    u"EFI_VOLUME_FULL",
    u"EFI_NO_MEDIA",
    u"EFI_MEDIA_CHANGED",
    u"EFI_NOT_FOUND",
    u"EFI_ACCESS_DENIED",
    u"EFI_NO_RESPONSE",
    u"EFI_NO_MAPPING",
    u"EFI_TIMEOUT",
    u"EFI_NOT_STARTED",
    u"EFI_ALREADY_STARTED",
    u"EFI_ABORTED",
    u"EFI_ICMP_ERROR",
    u"EFI_TFTP_ERROR",
    u"EFI_PROTOCOL_ERROR",
    u"EFI_INCOMPATIBLE_VERSION",
    u"EFI_SECURITY_VIOLATION",
    u"EFI_CRC_ERROR",
    u"EFI_END_OF_MEDIA",
    nullptr,
    nullptr,
    u"EFI_END_OF_FILE",
    u"EFI_INVALID_LANGUAGE",
    u"EFI_COMPROMISED_DATA",
};
constexpr uint32_t kErrorNameCount = sizeof(kErrorNames) / sizeof(kErrorNames[0]);

constexpr bool names_sound() {
  return same_text(kErrorNames[14], u"EFI_NOT_FOUND") && same_text(kErrorNames[26], u"EFI_SECURITY_VIOLATION") &&
         same_text(kErrorNames[kErrorNameCount - 1], u"EFI_COMPROMISED_DATA") && kErrorNameCount == 34;
}
static_assert(names_sound());

}  // namespace

void efi_status_text(EfiStatus status, char16_t* out, int capacity) {
  const uint64_t code = status & ~kEfiErrorBit;
  if (status == kEfiSuccess) {
    sformat(out, capacity, u"EFI_SUCCESS");
  } else if (efi_failed(status) && code < kErrorNameCount && kErrorNames[code] != nullptr) {
    sformat(out, capacity, u"%s", kErrorNames[code]);
  } else {
    sformat(out, capacity, efi_failed(status) ? u"EFI error %u" : u"EFI warning %u", code);
  }
}

}  // namespace kvq::plat
