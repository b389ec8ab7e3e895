// The firmware's forms on UEFI: the HII database protocol exports each
// package list and names the driver handle that registered it; that
// handle's device path protocol gives the PATH a configuration string
// carries; the configuration routing protocol passes requests on to the
// driver that owns the settings (or, for an EFI variable store, to the
// variable services).
#include "platform/firmware.h"
#include "platform/hii.h"
#include "platform/runtime.h"
#include "platform/uefi/efi_hii.h"

namespace kvq::plat {
namespace {

// Neither a device path nor a package list of a sane firmware comes near
// these; past them the data is taken as damaged.
constexpr uint32_t kMaxDevicePath = 4096;
constexpr int kMaxDevicePathNodes = 128;

template <class P>
P* locate(const efi::Guid& guid) {
  void* found = nullptr;
  if (efi::g_system_table->boot_services->locate_protocol(&guid, nullptr, &found) != efi::kSuccess) return nullptr;
  return static_cast<P*>(found);
}

EfiStatus widen(efi::Status s) {
  return (s & efi::kErrorBit) != 0 ? kEfiErrorBit | static_cast<uint64_t>(s & ~efi::kErrorBit) : s;
}

// The bytes of a device path up to and including its end node; 0 when a
// node is shorter than its own header or the path never ends.
uint32_t device_path_size(const uint8_t* path) {
  uint32_t size = 0;
  for (int n = 0; n < kMaxDevicePathNodes; ++n) {
    const uint32_t length = static_cast<uint32_t>(path[size + 2] | path[size + 3] << 8);
    if (length < sizeof(efi::DevicePath) || size + length > kMaxDevicePath) return 0;
    const bool end = path[size] == efi::kEndDevicePath && path[size + 1] == 0xFF;
    size += length;
    if (end) return size;
  }
  return 0;
}

// A copy of the device path of the driver handle that registered the
// package list, in pool memory: the driver may replace its own later.
void driver_path(const efi::HiiDatabaseProtocol* db, efi::HiiHandle list, HiiPackageList* out) {
  efi::Handle driver = nullptr;
  void* path = nullptr;
  if (db->get_package_list_handle(db, list, &driver) != efi::kSuccess || driver == nullptr ||
      efi::g_system_table->boot_services->handle_protocol(driver, &efi::kDevicePathProtocolGuid, &path) !=
          efi::kSuccess ||
      path == nullptr) {
    return;
  }
  const uint32_t size = device_path_size(static_cast<const uint8_t*>(path));
  auto* copy = static_cast<uint8_t*>(size > 0 ? pool_allocate(size) : nullptr);
  if (copy == nullptr) return;
  rt::mem_copy(copy, path, size);
  out->path = copy;
  out->path_size = size;
}

// One package list into pool memory; the database reports its size when
// asked with an empty buffer.
bool export_one(const efi::HiiDatabaseProtocol* db, efi::HiiHandle list, HiiPackageList* out) {
  uintptr_t size = 0;
  if (db->export_package_lists(db, list, &size, nullptr) != efi::kStatusBufferTooSmall || size == 0) return false;
  auto* data = static_cast<uint8_t*>(pool_allocate(size));
  if (data == nullptr) return false;
  if (db->export_package_lists(db, list, &size, data) != efi::kSuccess) {
    pool_free(data);
    return false;
  }
  *out = HiiPackageList{reinterpret_cast<uintptr_t>(list), data, static_cast<uint32_t>(size), nullptr, 0};
  driver_path(db, list, out);
  return true;
}

}  // namespace

bool hii_export(HiiPackageLists* out) {
  *out = HiiPackageLists{};
  const auto* db = locate<efi::HiiDatabaseProtocol>(efi::kHiiDatabaseProtocolGuid);
  if (db == nullptr) return false;
  uintptr_t length = 0;
  efi::Status s = db->list_package_lists(db, efi::kHiiPackageTypeAll, nullptr, &length, nullptr);
  // EFI_NOT_FOUND: the database holds no package list.
  if (s != efi::kStatusBufferTooSmall || length == 0) return s == efi::kSuccess || s == efi::kStatusNotFound;
  auto* handles = static_cast<efi::HiiHandle*>(pool_allocate(length));
  if (handles == nullptr) return false;
  s = db->list_package_lists(db, efi::kHiiPackageTypeAll, nullptr, &length, handles);
  const int count = s == efi::kSuccess ? static_cast<int>(length / sizeof(efi::HiiHandle)) : 0;
  out->lists = static_cast<HiiPackageList*>(count > 0 ? pool_allocate(count * sizeof(HiiPackageList)) : nullptr);
  for (int i = 0; i < count && out->lists != nullptr; ++i) {
    if (export_one(db, handles[i], &out->lists[out->count])) out->total_bytes += out->lists[out->count++].size;
  }
  pool_free(handles);
  return s == efi::kSuccess && (count == 0 || out->lists != nullptr);
}

void hii_release(HiiPackageLists* lists) {
  for (int i = 0; i < lists->count; ++i) {
    pool_free(const_cast<uint8_t*>(lists->lists[i].data));
    pool_free(const_cast<uint8_t*>(lists->lists[i].path));
  }
  pool_free(lists->lists);
  *lists = HiiPackageLists{};
}

namespace {

size_t progress_index(const char16_t* text, const efi::Char16* progress) {
  if (progress == nullptr || progress < text) return 0;
  size_t n = 0;
  while (text[n] != 0 && text + n < progress) ++n;
  return n;
}

}  // namespace

EfiStatus hii_extract_config(const char16_t* request, char16_t** results, size_t* progress) {
  *results = nullptr;
  *progress = 0;
  const auto* routing = locate<efi::HiiConfigRoutingProtocol>(efi::kHiiConfigRoutingProtocolGuid);
  if (routing == nullptr) return kEfiUnsupported;
  efi::Char16* at = nullptr;
  efi::Char16* answer = nullptr;
  const efi::Status s = routing->extract_config(routing, request, &at, &answer);
  *progress = progress_index(request, at);
  // A failed call leaves the results pointer undefined: never freed.
  if (s == efi::kSuccess) *results = answer;
  return widen(s);
}

void hii_free_results(char16_t* results) { pool_free(results); }

EfiStatus hii_route_config(const char16_t* config, size_t* progress) {
  *progress = 0;
  const auto* routing = locate<efi::HiiConfigRoutingProtocol>(efi::kHiiConfigRoutingProtocolGuid);
  if (routing == nullptr) return kEfiUnsupported;
  efi::Char16* at = nullptr;
  const efi::Status s = routing->route_config(routing, config, &at);
  *progress = progress_index(config, at);
  return widen(s);
}

}  // namespace kvq::plat
