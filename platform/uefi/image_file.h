// A file in the directory kvq's own image was loaded from, opened through
// that device's simple file system protocol.
#pragma once
#include <stdint.h>

#include "platform/firmware.h"
#include "platform/uefi/efi.h"

namespace kvq::plat {

// Opens `name` beside the image with the file protocol's `mode`; null when
// it cannot, with the firmware's reason in *why (when given).
efi::FileProtocol* open_beside_image(const char16_t* name, uint64_t mode, efi::Status* why = nullptr);

// The first `max_size` bytes of a file of `length` bytes into pool memory
// (one byte more, for the caller's use), with `read(uintptr_t* chunk, void*
// into)` as the file's read. A read may return less than asked; zero bytes
// is the end of the file. Null when the pool or a read fails.
template <class Read>
char* read_into_pool(uint64_t length, size_t max_size, size_t* size, Read read) {
  const size_t want = length < max_size ? static_cast<size_t>(length) : max_size;
  char* buffer = static_cast<char*>(pool_allocate(want + 1));
  size_t got = 0;
  while (buffer != nullptr && got < want) {
    uintptr_t chunk = want - got;
    if (read(&chunk, buffer + got) != efi::kSuccess) {
      pool_free(buffer);
      buffer = nullptr;
    } else if (chunk == 0) {
      break;
    } else {
      got += chunk;
    }
  }
  *size = buffer != nullptr ? got : 0;
  return buffer;
}

}  // namespace kvq::plat
