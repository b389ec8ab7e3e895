// Pool memory and files beside the image on the host: the simulated board's
// file list, and the C library's heap standing in for the firmware's pool.
#include <cstdlib>
#include <cstring>

#include "platform/firmware.h"
#include "platform/sim/board.h"

namespace kvq::plat {

void* pool_allocate(size_t size) {
  void* memory = std::malloc(size);
  if (memory != nullptr) ++sim::board().pool_in_use;
  return memory;
}

void pool_free(void* memory) {
  if (memory == nullptr) return;
  --sim::board().pool_in_use;
  std::free(memory);
}

char* read_file_beside_image(const char16_t* name, size_t max_size, size_t* size) {
  *size = 0;
  sim::Board& b = sim::board();
  const auto it = b.files_beside_image.find(name);
  if (it == b.files_beside_image.end() || b.file_reads_fail) return nullptr;
  const size_t n = it->second.size() < max_size ? it->second.size() : max_size;
  char* buffer = static_cast<char*>(pool_allocate(n + 1));
  if (buffer == nullptr) return nullptr;
  std::memcpy(buffer, it->second.data(), n);
  *size = n;
  return buffer;
}

}  // namespace kvq::plat
