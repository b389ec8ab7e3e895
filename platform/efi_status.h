// EFI status codes as kvq passes them around: both images' statuses in one
// 64-bit form, and their names as the UEFI standard spells them.
#pragma once
#include <stdint.h>

namespace kvq::plat {

// An EFI status as either image returns it, the error bit moved to bit 63
// so that both widths compare alike.
using EfiStatus = uint64_t;
inline constexpr EfiStatus kEfiErrorBit = uint64_t{1} << 63;
inline constexpr EfiStatus kEfiSuccess = 0;
constexpr EfiStatus efi_error(uint32_t code) { return kEfiErrorBit | code; }
constexpr bool efi_failed(EfiStatus status) { return (status & kEfiErrorBit) != 0; }
inline constexpr EfiStatus kEfiInvalidParameter = efi_error(2);
inline constexpr EfiStatus kEfiUnsupported = efi_error(3);
inline constexpr EfiStatus kEfiBufferTooSmall = efi_error(5);
inline constexpr EfiStatus kEfiDeviceError = efi_error(7);
inline constexpr EfiStatus kEfiWriteProtected = efi_error(8);
inline constexpr EfiStatus kEfiOutOfResources = efi_error(9);
inline constexpr EfiStatus kEfiNotFound = efi_error(14);
inline constexpr EfiStatus kEfiAccessDenied = efi_error(15);
inline constexpr EfiStatus kEfiSecurityViolation = efi_error(26);

// "EFI_NOT_FOUND"; a code without a name as its number.
void efi_status_text(EfiStatus status, char16_t* out, int capacity);

}  // namespace kvq::plat
