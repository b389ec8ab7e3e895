// The runtime services table up to the variable services, and the UEFI
// Shell protocol up to GetFileSize: the layouts kvq's variable and file
// services call. Only the members kvq uses are typed.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/uefi/efi.h"

namespace kvq::efi {

struct RuntimeServices {
  TableHeader hdr;
  AnyFn get_time;
  AnyFn set_time;
  AnyFn get_wakeup_time;
  AnyFn set_wakeup_time;
  AnyFn set_virtual_address_map;
  AnyFn convert_pointer;
  Status (*get_variable)(const Char16* name, const Guid* guid, uint32_t* attributes, uintptr_t* data_size,
                         void* data);
  Status (*get_next_variable_name)(uintptr_t* name_size, Char16* name, Guid* guid);
  Status (*set_variable)(const Char16* name, const Guid* guid, uint32_t attributes, uintptr_t data_size,
                         const void* data);
};
static_assert(offsetof(RuntimeServices, get_variable) == 24 + 6 * sizeof(void*));
static_assert(offsetof(RuntimeServices, set_variable) == 24 + 8 * sizeof(void*));

// EFI_SHELL_PROTOCOL (UEFI Shell 2.0): its file members resolve a path as
// the Shell's own commands do.
using ShellFile = void*;
struct ShellProtocol {
  AnyFn before_open[24];  // Execute .. SetFileInfo
  Status (*open_file_by_name)(const Char16* name, ShellFile* file, uint64_t mode);
  Status (*close_file)(ShellFile file);
  AnyFn create_file;
  Status (*read_file)(ShellFile file, uintptr_t* size, void* buffer);
  AnyFn between[8];  // WriteFile .. FindFilesInDir
  Status (*get_file_size)(ShellFile file, uint64_t* size);
};
static_assert(offsetof(ShellProtocol, open_file_by_name) == 24 * sizeof(void*));
static_assert(offsetof(ShellProtocol, read_file) == 27 * sizeof(void*));
static_assert(offsetof(ShellProtocol, get_file_size) == 36 * sizeof(void*));
inline constexpr Guid kShellProtocolGuid = {0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};

inline constexpr uint64_t kFileModeWrite = 2;
inline constexpr uint64_t kFileModeCreate = uint64_t{1} << 63;

}  // namespace kvq::efi
