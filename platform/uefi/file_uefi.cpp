// Pool memory and a file beside kvq's own image, on UEFI: the loaded image
// protocol tells the device and path kvq.efi came from, and that device's
// simple file system protocol reads the file.
#include "platform/firmware.h"
#include "platform/uefi/efi.h"
#include "platform/uefi/image_file.h"

namespace kvq::plat {
namespace {

// Longest path kvq builds, in UCS-2 characters with the NUL.
constexpr int kMaxPath = 260;

struct Path {
  char16_t text[kMaxPath];
  int length = 0;
  bool overflow = false;

  void add(char16_t ch) {
    if (length < kMaxPath - 1) {
      text[length++] = ch;
    } else {
      overflow = true;
    }
  }
};

uint16_t node_length(const efi::DevicePath* node) {
  return static_cast<uint16_t>(node->length[0] | node->length[1] << 8);
}

// The directory part of the image's file path: the text of its file path
// nodes up to and including the last backslash. The nodes' text need not be
// aligned, so it is read byte by byte.
bool image_directory(const efi::DevicePath* node, Path* dir) {
  // A device path ends with an end node; the bound only guards against a
  // malformed one.
  for (int guard = 0; guard < 64 && node->type != efi::kEndDevicePath; ++guard) {
    const uint16_t length = node_length(node);
    if (length < sizeof(efi::DevicePath)) return false;
    if (node->type == efi::kMediaDevicePath && node->sub_type == efi::kMediaFilePathDp) {
      const uint8_t* b = reinterpret_cast<const uint8_t*>(node) + sizeof(efi::DevicePath);
      const int chars = (length - static_cast<int>(sizeof(efi::DevicePath))) / 2;
      if (dir->length > 0 && dir->text[dir->length - 1] != u'\\') dir->add(u'\\');
      for (int i = 0; i < chars; ++i) {
        const char16_t ch = static_cast<char16_t>(b[2 * i] | b[2 * i + 1] << 8);
        if (ch == 0) break;
        dir->add(ch);
      }
    }
    node = reinterpret_cast<const efi::DevicePath*>(reinterpret_cast<const uint8_t*>(node) + length);
  }
  while (dir->length > 0 && dir->text[dir->length - 1] != u'\\') --dir->length;
  return !dir->overflow;
}

// The file's size: its position after moving to the end.
bool file_size(efi::FileProtocol* file, uint64_t* size) {
  return file->set_position(file, efi::kFilePositionEnd) == efi::kSuccess &&
         file->get_position(file, size) == efi::kSuccess && file->set_position(file, 0) == efi::kSuccess;
}

}  // namespace

efi::FileProtocol* open_beside_image(const char16_t* name, uint64_t mode, efi::Status* why) {
  efi::BootServices* bs = efi::g_system_table->boot_services;
  void* interface = nullptr;
  if (why != nullptr) *why = efi::kErrorBit | 14;  // EFI_NOT_FOUND, until the volume answers
  if (bs->handle_protocol(efi::g_image_handle, &efi::kLoadedImageProtocolGuid, &interface) != efi::kSuccess) {
    return nullptr;
  }
  const auto* image = static_cast<const efi::LoadedImageProtocol*>(interface);
  if (image->device_handle == nullptr || image->file_path == nullptr) return nullptr;
  Path path;
  if (!image_directory(image->file_path, &path)) return nullptr;
  for (const char16_t* c = name; *c != 0; ++c) path.add(*c);
  if (path.overflow) return nullptr;
  path.text[path.length] = 0;

  if (bs->handle_protocol(image->device_handle, &efi::kSimpleFileSystemProtocolGuid, &interface) != efi::kSuccess) {
    return nullptr;
  }
  auto* volume = static_cast<efi::SimpleFileSystemProtocol*>(interface);
  efi::FileProtocol* root = nullptr;
  if (volume->open_volume(volume, &root) != efi::kSuccess || root == nullptr) return nullptr;
  efi::FileProtocol* file = nullptr;
  const efi::Status status = root->open(root, &file, path.text, mode, 0);
  root->close(root);
  if (why != nullptr) *why = status;
  return status == efi::kSuccess ? file : nullptr;
}

void* pool_allocate(size_t size) {
  void* memory = nullptr;
  if (efi::g_system_table->boot_services->allocate_pool(efi::kLoaderData, size, &memory) != efi::kSuccess) {
    return nullptr;
  }
  return memory;
}

void pool_free(void* memory) {
  if (memory != nullptr) efi::g_system_table->boot_services->free_pool(memory);
}

char* read_file_beside_image(const char16_t* name, size_t max_size, size_t* size) {
  *size = 0;
  efi::FileProtocol* file = open_beside_image(name, efi::kFileModeRead);
  if (file == nullptr) return nullptr;
  uint64_t length = 0;
  char* buffer = nullptr;
  if (file_size(file, &length)) {
    buffer = read_into_pool(length, max_size, size, [file](uintptr_t* chunk, void* into) {
      return file->read(file, chunk, into);
    });
  }
  file->close(file);
  return buffer;
}

}  // namespace kvq::plat
