// Files on the host: appends go to the simulated board's files beside the
// image, which is also the Shell's current directory.
#include "platform/files.h"
#include "platform/sim/board.h"

namespace kvq::plat {

EfiStatus append_file_beside_image(const char16_t* name, const void* bytes, size_t size) {
  sim::Board& b = sim::board();
  if (b.file_append_status != kEfiSuccess) return b.file_append_status;
  b.files_beside_image[name].append(static_cast<const char*>(bytes), size);
  return kEfiSuccess;
}

char* read_shell_file(const char16_t* path, size_t max_size, size_t* size) {
  return read_file_beside_image(path, max_size, size);
}

}  // namespace kvq::plat
