// The simulated variable store, and the variable services of the seam on
// the host: the board's store answers them.
#include "platform/sim/variables_sim.h"

#include <cstring>

#include "platform/sim/board.h"

namespace kvq::sim {
namespace {

size_t name_bytes(const std::u16string& name) { return 2 * (name.size() + 1); }

// The name in a caller's buffer of `size` bytes, if a NUL ends it there.
bool name_in(const char16_t* name, size_t size, std::u16string* out) {
  for (size_t i = 0; i < size / 2; ++i) {
    if (name[i] == 0) {
      out->assign(name, i);
      return true;
    }
  }
  return false;
}

}  // namespace

SimVariable* VariableStore::find(const std::u16string& name, const plat::Guid& guid) {
  for (SimVariable& v : variables) {
    if (v.name == name && plat::same_guid(v.guid, guid)) return &v;
  }
  return nullptr;
}

size_t VariableStore::nv_used() const {
  size_t used = 0;
  for (const SimVariable& v : variables) {
    if ((v.attributes & plat::kVarNonVolatile) != 0) used += name_bytes(v.name) + v.data.size();
  }
  return used;
}

plat::EfiStatus VariableStore::get_next(size_t* name_size, char16_t* name, plat::Guid* guid) {
  ++next_calls;
  std::u16string previous;
  if (!name_in(name, *name_size, &previous)) return plat::kEfiInvalidParameter;
  size_t next = 0;
  if (!previous.empty()) {
    const SimVariable* at = find(previous, *guid);
    if (at == nullptr) return plat::kEfiInvalidParameter;
    next = static_cast<size_t>(at - variables.data()) + 1;
    if (circle_after >= 0 && next == static_cast<size_t>(circle_after)) next = 0;
  }
  if (next >= variables.size()) return plat::kEfiNotFound;
  const SimVariable& v = variables[next];
  const size_t need = name_bytes(v.name);
  if (*name_size < need) {
    *name_size = need;
    return plat::kEfiBufferTooSmall;
  }
  std::memcpy(name, v.name.c_str(), need);
  *name_size = need;
  *guid = v.guid;
  return plat::kEfiSuccess;
}

plat::EfiStatus VariableStore::get(const char16_t* name, const plat::Guid& guid, uint32_t* attributes, size_t* size,
                                   void* data) {
  ++get_calls;
  const SimVariable* v = find(name, guid);
  if (v == nullptr) return plat::kEfiNotFound;
  const bool fits = *size >= v->data.size();
  if (fits && data == nullptr && !v->data.empty()) return plat::kEfiInvalidParameter;
  if (attributes != nullptr && (fits || !attributes_only_on_success)) *attributes = v->attributes;
  *size = v->data.size();
  if (!fits) return plat::kEfiBufferTooSmall;
  if (!v->data.empty()) std::memcpy(data, v->data.data(), v->data.size());
  return plat::kEfiSuccess;
}

plat::EfiStatus VariableStore::set(const char16_t* name, const plat::Guid& guid, uint32_t attributes, size_t size,
                                   const void* data) {
  SetCall call{name, guid, attributes, {}, plat::kEfiSuccess};
  if (data != nullptr) call.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  SimVariable* v = find(call.name, guid);
  plat::EfiStatus& s = call.status;
  const size_t bytes = name_bytes(call.name) + size;
  if (v != nullptr && v->locked) {
    s = plat::kEfiWriteProtected;
  } else if (v != nullptr && (v->attributes & (plat::kVarAuthenticatedWrite | plat::kVarTimeAuthenticatedWrite)) != 0) {
    s = plat::kEfiSecurityViolation;  // no authentication descriptor
  } else if (size == 0 || attributes == 0) {
    // The firmware's way to delete.
    if (v == nullptr) {
      s = plat::kEfiNotFound;
    } else {
      variables.erase(variables.begin() + (v - variables.data()));
    }
  } else if (data == nullptr) {
    s = plat::kEfiInvalidParameter;
  } else if (v != nullptr && v->attributes != attributes) {
    s = plat::kEfiInvalidParameter;
  } else if ((attributes & plat::kVarNonVolatile) != 0 && nv_used() + bytes > nv_capacity) {
    s = plat::kEfiOutOfResources;
  } else if (v != nullptr) {
    v->data = call.data;
  } else {
    variables.push_back(SimVariable{call.name, guid, attributes, call.data});
  }
  sets.push_back(call);
  return s;
}


namespace {

constexpr plat::Guid kCertDbGuid = {0xD9BEE56E, 0x75DC, 0x49D9, {0xB4, 0xD7, 0xB5, 0x34, 0x21, 0x0F, 0x63, 0x7A}};
constexpr plat::Guid kVendorKeysGuid = {0x9073E4E0, 0x60EC, 0x4B6E, {0x99, 0x03, 0x4C, 0x22, 0x3C, 0x26, 0x0F, 0x3C}};
constexpr plat::Guid kShellVariableGuid = {0x158DEF5A, 0xF656, 0x419C, {0xB0, 0x27, 0x7A, 0x31, 0x92, 0xC0, 0x79, 0xD2}};
constexpr plat::Guid kShellAliasGuid = {0x0053D9D6, 0x2659, 0x4599, {0xA2, 0x6B, 0xEF, 0x45, 0x36, 0xE6, 0x31, 0xA9}};
constexpr plat::Guid kMtcGuid = {0xEB704011, 0x1402, 0x11D3, {0x8E, 0x77, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr plat::Guid kIscsiInitiatorNameGuid = {0x59324945, 0xEC44, 0x4C0D, {0xB1, 0xCD, 0x9D, 0xB1, 0x39, 0xDF, 0x07, 0x0C}};
constexpr plat::Guid kMemoryTypeInfoGuid = {0x4C19049F, 0x4137, 0x4DD3, {0x9C, 0x10, 0x8B, 0x97, 0xA8, 0x3F, 0xFD, 0xFA}};

constexpr uint32_t kNvBsRt = plat::kVarNonVolatile | plat::kVarBootService | plat::kVarRuntime;
constexpr uint32_t kBsRt = plat::kVarBootService | plat::kVarRuntime;

std::vector<uint8_t> text8(const char* s, size_t n) { return std::vector<uint8_t>(s, s + n); }
std::vector<uint8_t> text16(const char16_t* s) {
  std::vector<uint8_t> out;
  for (; *s != 0; ++s) out.insert(out.end(), {static_cast<uint8_t>(*s), static_cast<uint8_t>(*s >> 8)});
  out.insert(out.end(), {0, 0});
  return out;
}

}  // namespace

void install_ovmf_variables(VariableStore& store) {
  std::vector<uint8_t> attempt(1049);
  for (size_t i = 0; i < attempt.size(); ++i) attempt[i] = static_cast<uint8_t>(i * 7);
  store.variables = {
      {u"SetupMode", kGlobalVariableGuid, kBsRt, {0x01}},
      {u"SecureBoot", kGlobalVariableGuid, kBsRt, {0x00}},
      {u"certdbv", kCertDbGuid, kBsRt | plat::kVarTimeAuthenticatedWrite, {0x04, 0, 0, 0}},
      {u"PlatformLangCodes", kGlobalVariableGuid, kBsRt, text8("en;fr;en-US;fr-FR", 18), true},
      {u"BootCurrent", kGlobalVariableGuid, kBsRt, {0x03, 0x00}},
      {u"lasterror", kShellVariableGuid, plat::kVarBootService, text16(u"0x0")},
      {u"cd\\", kShellAliasGuid, plat::kVarBootService, text16(u"cd \\")},
      {u"certdb", kCertDbGuid, kNvBsRt | plat::kVarTimeAuthenticatedWrite, {0x04, 0, 0, 0}},
      {u"VendorKeysNv", kVendorKeysGuid, plat::kVarNonVolatile | plat::kVarBootService | plat::kVarTimeAuthenticatedWrite, {0x01}},
      {u"MTC", kMtcGuid, kNvBsRt, {0x01, 0, 0, 0}},
      {u"Attempt 1", kIscsiInitiatorNameGuid, plat::kVarNonVolatile | plat::kVarBootService, attempt},
      {u"Boot0000", kGlobalVariableGuid, kNvBsRt,
       {0x09, 0x01, 0x00, 0x00, 0x2C, 0x00, 0x55, 0x00, 0x69, 0x00, 0x41, 0x00, 0x70, 0x00, 0x70, 0x00,
        0x00, 0x00, 0x04, 0x07, 0x14, 0x00, 0xC9, 0xBD, 0xB8, 0x7C, 0xEB, 0xF8, 0x34, 0x4F, 0xAA, 0xEA,
        0x3E, 0xE4, 0xAF, 0x65, 0x16, 0xA1, 0x04, 0x06, 0x14, 0x00, 0x21, 0xAA, 0x2C, 0x46, 0x14, 0x76,
        0x03, 0x45, 0x83, 0x6E, 0x8A, 0xB6, 0xF4, 0x66, 0x23, 0x31, 0x7F, 0xFF, 0x04, 0x00}},
      {u"Timeout", kGlobalVariableGuid, kNvBsRt, {0x00, 0x00}},
      {u"PlatformLang", kGlobalVariableGuid, kNvBsRt, text8("en", 3)},
      {u"Lang", kGlobalVariableGuid, kNvBsRt, text8("eng", 4)},
      {u"BootOrder", kGlobalVariableGuid, kNvBsRt, {0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00}},
      {u"MemoryTypeInformation", kMemoryTypeInfoGuid, plat::kVarNonVolatile | plat::kVarBootService,
       {0x0A, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x06, 0x00, 0x00, 0x00, 0x46, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {u"KvqVariableWhoseNameIsLongerThanTheFirstBufferThatAnyCallerOfTheWalkHandsOver", kKvqTestGuid, kNvBsRt,
       {0x11, 0x22, 0x33, 0x44}},
  };
}

}  // namespace kvq::sim

namespace kvq::plat {

EfiStatus get_next_variable_name(size_t* name_size, char16_t* name, Guid* guid) {
  return sim::board().variables.get_next(name_size, name, guid);
}

EfiStatus get_variable(const char16_t* name, const Guid& guid, uint32_t* attributes, size_t* data_size, void* data) {
  return sim::board().variables.get(name, guid, attributes, data_size, data);
}

EfiStatus set_variable(const char16_t* name, const Guid& guid, uint32_t attributes, size_t data_size,
                       const void* data) {
  return sim::board().variables.set(name, guid, attributes, data_size, data);
}

}  // namespace kvq::plat
