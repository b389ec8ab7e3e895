// The firmware's forms on the simulated board: an HII database of package
// lists (each with the device path of the driver that registered it), and a
// configuration routing that holds buffer and EFI variable stores (and
// name/value ones), answers ExtractConfig and RouteConfig as EDK II does,
// and records every request and response it was given.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/efi_status.h"
#include "platform/firmware.h"

namespace kvq::sim {

struct SimPackageList {
  std::vector<uint8_t> data;
  std::vector<uint8_t> path;  // empty: the driver handle has no device path
};

// A variable store behind the routing, named as a configuration header
// names it: GUID, name (empty for name/value) and the path of its driver.
struct SimStore {
  plat::Guid guid;
  std::u16string name;
  std::vector<uint8_t> path;
  std::vector<uint8_t> bytes;
  std::map<std::u16string, std::vector<uint8_t>> named;  // a name/value store's values
  // A driver that refuses what it is sent: this status, its Progress at
  // the element it refused.
  plat::EfiStatus refuse_reads = plat::kEfiSuccess;
  plat::EfiStatus refuse_writes = plat::kEfiSuccess;
};

class HiiModel {
 public:
  std::vector<SimPackageList> lists;
  std::vector<SimStore> stores;
  bool no_database = false;
  // Every ConfigRequest and ConfigResp, as sent.
  std::vector<std::u16string> requests;
  std::vector<std::u16string> responses;

  plat::EfiStatus extract(const std::u16string& request, std::u16string* results, size_t* progress);
  plat::EfiStatus route(const std::u16string& config, size_t* progress);
  SimStore* store(const plat::Guid& guid, const std::u16string& name);
};

}  // namespace kvq::sim
