// The few UEFI tables and protocols kvq calls, laid out as the UEFI
// standard defines them (system table, a subset of the boot services,
// simple text input and output). Only the members kvq uses are typed; the
// others are placeholders that keep the offsets right.
//
// Calling convention: the x86-64 Windows target already uses the Microsoft
// x64 convention that UEFI specifies, and IA-32 UEFI uses plain cdecl.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace kvq::efi {

using Status = uintptr_t;
using Handle = void*;
using Event = void*;
using Char16 = char16_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kErrorBit = uintptr_t{1} << (sizeof(uintptr_t) * 8 - 1);
inline constexpr Status kNotReady = kErrorBit | 6;

struct TableHeader {
  uint64_t signature;
  uint32_t revision;
  uint32_t header_size;
  uint32_t crc32;
  uint32_t reserved;
};

struct InputKey {
  uint16_t scan_code;
  Char16 unicode_char;
};

struct SimpleTextInput {
  Status (*reset)(SimpleTextInput* self, bool extended_verification);
  Status (*read_key_stroke)(SimpleTextInput* self, InputKey* key);
  Event wait_for_key;
};

struct SimpleTextOutputMode {
  int32_t max_mode;
  int32_t mode;
  int32_t attribute;
  int32_t cursor_column;
  int32_t cursor_row;
  bool cursor_visible;
};

struct SimpleTextOutput {
  Status (*reset)(SimpleTextOutput* self, bool extended_verification);
  Status (*output_string)(SimpleTextOutput* self, const Char16* text);
  Status (*test_string)(SimpleTextOutput* self, const Char16* text);
  Status (*query_mode)(SimpleTextOutput* self, uintptr_t mode, uintptr_t* columns, uintptr_t* rows);
  Status (*set_mode)(SimpleTextOutput* self, uintptr_t mode);
  Status (*set_attribute)(SimpleTextOutput* self, uintptr_t attribute);
  Status (*clear_screen)(SimpleTextOutput* self);
  Status (*set_cursor_position)(SimpleTextOutput* self, uintptr_t column, uintptr_t row);
  Status (*enable_cursor)(SimpleTextOutput* self, bool visible);
  SimpleTextOutputMode* mode;
};

using AnyFn = void (*)();

struct BootServices {
  TableHeader hdr;
  AnyFn raise_tpl;
  AnyFn restore_tpl;
  AnyFn allocate_pages;
  AnyFn free_pages;
  AnyFn get_memory_map;
  AnyFn allocate_pool;
  AnyFn free_pool;
  AnyFn create_event;
  AnyFn set_timer;
  Status (*wait_for_event)(uintptr_t number_of_events, Event* events, uintptr_t* index);
  AnyFn signal_event;
  AnyFn close_event;
  AnyFn check_event;
  AnyFn install_protocol_interface;
  AnyFn reinstall_protocol_interface;
  AnyFn uninstall_protocol_interface;
  AnyFn handle_protocol;
  void* reserved;
  AnyFn register_protocol_notify;
  AnyFn locate_handle;
  AnyFn locate_device_path;
  AnyFn install_configuration_table;
  AnyFn load_image;
  AnyFn start_image;
  AnyFn exit;
  AnyFn unload_image;
  AnyFn exit_boot_services;
  AnyFn get_next_monotonic_count;
  Status (*stall)(uintptr_t microseconds);
  Status (*set_watchdog_timer)(uintptr_t timeout, uint64_t watchdog_code, uintptr_t data_size, Char16* data);
};

struct ConfigurationTable {
  uint8_t vendor_guid[16];
  void* vendor_table;
};

struct SystemTable {
  TableHeader hdr;
  Char16* firmware_vendor;
  uint32_t firmware_revision;
  Handle console_in_handle;
  SimpleTextInput* con_in;
  Handle console_out_handle;
  SimpleTextOutput* con_out;
  Handle standard_error_handle;
  SimpleTextOutput* std_err;
  void* runtime_services;
  BootServices* boot_services;
  uintptr_t number_of_table_entries;
  ConfigurationTable* configuration_table;
};

// Layout checks against the tables of the UEFI standard.
static_assert(offsetof(BootServices, wait_for_event) == 24 + 9 * sizeof(void*));
static_assert(offsetof(BootServices, stall) == 24 + 28 * sizeof(void*));
static_assert(offsetof(SimpleTextOutput, mode) == 9 * sizeof(void*));
static_assert(sizeof(TableHeader) == 24);

// The system table handed to the entry point; set once before anything else.
extern SystemTable* g_system_table;

}  // namespace kvq::efi
