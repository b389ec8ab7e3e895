// The HII database and configuration routing protocols, and the device path
// protocol that names a driver handle, laid out as the UEFI standard defines
// them. Only the members kvq calls are typed.
#pragma once
#include <stddef.h>

#include "platform/uefi/efi.h"

namespace kvq::efi {

using HiiHandle = void*;

inline constexpr Status kStatusBufferTooSmall = kErrorBit | 5;
inline constexpr Status kStatusNotFound = kErrorBit | 14;

inline constexpr uint8_t kHiiPackageTypeAll = 0x00;

struct HiiDatabaseProtocol {
  AnyFn new_package_list;
  AnyFn remove_package_list;
  AnyFn update_package_list;
  Status (*list_package_lists)(const HiiDatabaseProtocol* self, uint8_t package_type, const Guid* package_guid,
                               uintptr_t* handle_buffer_length, HiiHandle* handles);
  Status (*export_package_lists)(const HiiDatabaseProtocol* self, HiiHandle handle, uintptr_t* buffer_size,
                                 void* buffer);
  AnyFn register_package_notify;
  AnyFn unregister_package_notify;
  AnyFn find_keyboard_layouts;
  AnyFn get_keyboard_layout;
  AnyFn set_keyboard_layout;
  Status (*get_package_list_handle)(const HiiDatabaseProtocol* self, HiiHandle package_list, Handle* driver);
};
static_assert(offsetof(HiiDatabaseProtocol, list_package_lists) == 3 * sizeof(void*));
static_assert(offsetof(HiiDatabaseProtocol, get_package_list_handle) == 10 * sizeof(void*));
inline constexpr Guid kHiiDatabaseProtocolGuid = {0xEF9FC172, 0xA1B2, 0x4693, {0xB3, 0x27, 0x6D, 0x32, 0xFC, 0x41, 0x60, 0x42}};

struct HiiConfigRoutingProtocol {
  Status (*extract_config)(const HiiConfigRoutingProtocol* self, const Char16* request, Char16** progress,
                           Char16** results);
  AnyFn export_config;
  Status (*route_config)(const HiiConfigRoutingProtocol* self, const Char16* configuration, Char16** progress);
  AnyFn block_to_config;
  AnyFn config_to_block;
  AnyFn get_alt_config;
};
static_assert(offsetof(HiiConfigRoutingProtocol, route_config) == 2 * sizeof(void*));
inline constexpr Guid kHiiConfigRoutingProtocolGuid = {0x587E72D7, 0xCC50, 0x4F79, {0x82, 0x09, 0xCA, 0x29, 0x1F, 0xC1, 0xA1, 0x0F}};

inline constexpr Guid kDevicePathProtocolGuid = {0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

}  // namespace kvq::efi
