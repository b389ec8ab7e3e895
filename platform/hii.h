// The firmware's forms: its HII database, which holds every driver's package
// lists (forms, strings), and its configuration routing, which reads and
// writes a form's settings through the driver that owns them, as the Setup
// browser does. The UEFI backend calls the firmware's protocols; on the host
// the simulated board's model answers and records every request.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/efi_status.h"

namespace kvq::plat {

// One package list as the database exports it: its header (GUID, length),
// then its packages. `path` is the device path of the driver handle that
// registered it, end node included, as a configuration string's PATH=
// names it; null when that handle has none.
struct HiiPackageList {
  uintptr_t handle;  // the database's handle, for messages
  const uint8_t* data;
  uint32_t size;
  const uint8_t* path;
  uint32_t path_size;
};

// Every package list, in the database's order; pool memory.
struct HiiPackageLists {
  HiiPackageList* lists = nullptr;
  int count = 0;
  uint32_t total_bytes = 0;  // the package lists' sizes added up
};

// Exports every package list. False when the firmware has no HII database
// or no memory to hold them; what was exported stays in `out`.
bool hii_export(HiiPackageLists* out);
void hii_release(HiiPackageLists* lists);

// The configuration routing protocol. `request` is a <ConfigRequest>; the
// results come as a <MultiConfigAltResp> in pool memory (free them with
// hii_free_results); `progress` is the index in `request` where the
// firmware stopped.
EfiStatus hii_extract_config(const char16_t* request, char16_t** results, size_t* progress);
void hii_free_results(char16_t* results);
// `config` is a <ConfigResp>; `progress` as above.
EfiStatus hii_route_config(const char16_t* config, size_t* progress);

}  // namespace kvq::plat
