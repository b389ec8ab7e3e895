// Files kvq writes and reads besides the one it reads at start-up: a file
// appended beside its own image (the undo file), and a file named as the
// UEFI Shell names it. The UEFI backend goes through the image's simple file
// system and the Shell protocol; the simulated board keeps files by name.
#pragma once
#include <stddef.h>

#include "platform/variables.h"

namespace kvq::plat {

// Appends `size` bytes to the file `name` in the directory kvq's image was
// loaded from, creating it if needed. EFI_SUCCESS only when every byte is
// on the medium (the file was flushed and closed).
EfiStatus append_file_beside_image(const char16_t* name, const void* bytes, size_t size);

// Reads a file named as the Shell resolves it (relative to its current
// directory, or with a mapping such as fs0:\dir\file.txt) into pool memory,
// as read_file_beside_image does; null when there is none or it cannot be
// read.
char* read_shell_file(const char16_t* path, size_t max_size, size_t* size);

}  // namespace kvq::plat
