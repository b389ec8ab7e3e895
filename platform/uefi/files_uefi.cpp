// Appending beside the image through the file protocol, and reading a file
// the Shell names through the Shell protocol, on UEFI.
#include "platform/files.h"
#include "platform/uefi/efi_variables.h"
#include "platform/uefi/image_file.h"

namespace kvq::plat {
namespace {

EfiStatus widen(efi::Status s) {
  const efi::Status code = s & ~efi::kErrorBit;
  return (s & efi::kErrorBit) != 0 ? kEfiErrorBit | code : code;
}

}  // namespace

// The write reaches the medium only with the flush and the close; a FAT
// driver that cannot write its directory entry says so there.
EfiStatus append_file_beside_image(const char16_t* name, const void* bytes, size_t size) {
  efi::Status why = efi::kSuccess;
  efi::FileProtocol* file =
      open_beside_image(name, efi::kFileModeRead | efi::kFileModeWrite | efi::kFileModeCreate, &why);
  if (file == nullptr) return widen(why);
  efi::Status s = file->set_position(file, efi::kFilePositionEnd);
  uintptr_t written = size;
  if (s == efi::kSuccess) s = file->write(file, &written, bytes);
  if (s == efi::kSuccess && written != size) s = efi::kErrorBit | 7;  // EFI_DEVICE_ERROR: a short write
  const efi::Status flushed = file->flush(file);
  const efi::Status closed = file->close(file);
  if (s == efi::kSuccess) s = flushed != efi::kSuccess ? flushed : closed;
  return widen(s);
}

char* read_shell_file(const char16_t* path, size_t max_size, size_t* size) {
  *size = 0;
  void* found = nullptr;
  if (efi::g_system_table->boot_services->locate_protocol(&efi::kShellProtocolGuid, nullptr, &found) != efi::kSuccess) {
    return nullptr;
  }
  auto* shell = static_cast<efi::ShellProtocol*>(found);
  efi::ShellFile file = nullptr;
  if (shell->open_file_by_name(path, &file, efi::kFileModeRead) != efi::kSuccess || file == nullptr) return nullptr;
  uint64_t length = 0;
  char* buffer = nullptr;
  if (shell->get_file_size(file, &length) == efi::kSuccess) {
    buffer = read_into_pool(length, max_size, size, [shell, file](uintptr_t* chunk, void* into) {
      return shell->read_file(file, chunk, into);
    });
  }
  shell->close_file(file);
  return buffer;
}

}  // namespace kvq::plat
