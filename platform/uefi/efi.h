// The few UEFI tables and protocols kvq calls, laid out as the UEFI and PI
// standards define them (system table, the boot services up to
// LocateProtocol, simple text input and output, the CPU architectural and
// MP Services protocols). Only the members kvq uses are typed; the others
// are placeholders that keep the offsets right.
//
// Calling convention: the x86-64 Windows target already uses the Microsoft
// x64 convention that UEFI specifies, and IA-32 UEFI uses plain cdecl.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/firmware.h"

namespace kvq::efi {

using Status = uintptr_t;
using Handle = void*;
using Event = void*;
using Char16 = char16_t;
using Guid = plat::Guid;
using Tpl = uintptr_t;
using PhysicalAddress = uint64_t;

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

// Boot services enumerations (32-bit in the calling convention).
enum AllocateType : int { kAllocateAnyPages = 0, kAllocateMaxAddress = 1, kAllocateAddress = 2 };
enum MemoryType : int { kLoaderData = 2, kBootServicesData = 4 };
enum TimerDelay : int { kTimerCancel = 0, kTimerPeriodic = 1, kTimerRelative = 2 };
inline constexpr uint32_t kEvtTimer = 0x80000000u;
inline constexpr Tpl kTplApplication = 4;
inline constexpr Tpl kTplCallback = 8;
inline constexpr Tpl kTplNotify = 16;

struct BootServices {
  TableHeader hdr;
  Tpl (*raise_tpl)(Tpl new_tpl);
  void (*restore_tpl)(Tpl old_tpl);
  Status (*allocate_pages)(AllocateType type, MemoryType memory_type, uintptr_t pages, PhysicalAddress* memory);
  Status (*free_pages)(PhysicalAddress memory, uintptr_t pages);
  AnyFn get_memory_map;
  Status (*allocate_pool)(MemoryType pool_type, uintptr_t size, void** buffer);
  Status (*free_pool)(void* buffer);
  Status (*create_event)(uint32_t type, Tpl notify_tpl, void* notify_function, void* notify_context, Event* event);
  Status (*set_timer)(Event event, TimerDelay type, uint64_t trigger_time);
  Status (*wait_for_event)(uintptr_t number_of_events, Event* events, uintptr_t* index);
  AnyFn signal_event;
  Status (*close_event)(Event event);
  Status (*check_event)(Event event);
  AnyFn install_protocol_interface;
  AnyFn reinstall_protocol_interface;
  AnyFn uninstall_protocol_interface;
  Status (*handle_protocol)(Handle handle, const Guid* protocol, void** interface);
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
  AnyFn connect_controller;
  AnyFn disconnect_controller;
  AnyFn open_protocol;
  AnyFn close_protocol;
  AnyFn open_protocol_information;
  AnyFn protocols_per_handle;
  Status (*locate_handle_buffer)(int search_type, const Guid* protocol, void* search_key, uintptr_t* count,
                                 Handle** buffer);
  Status (*locate_protocol)(const Guid* protocol, void* registration, void** interface);
  AnyFn install_multiple_protocol_interfaces;
  AnyFn uninstall_multiple_protocol_interfaces;
  AnyFn calculate_crc32;
  AnyFn copy_mem;
  AnyFn set_mem;
  AnyFn create_event_ex;
};
inline constexpr int kByProtocol = 2;  // LocateHandleBuffer's search type

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
static_assert(offsetof(BootServices, handle_protocol) == 24 + 16 * sizeof(void*));
static_assert(offsetof(BootServices, set_watchdog_timer) == 24 + 29 * sizeof(void*));
static_assert(offsetof(BootServices, open_protocol) == 24 + 32 * sizeof(void*));
static_assert(offsetof(BootServices, locate_handle_buffer) == 24 + 36 * sizeof(void*));
static_assert(offsetof(BootServices, locate_protocol) == 24 + 37 * sizeof(void*));
static_assert(sizeof(BootServices) == 24 + 44 * sizeof(void*));
static_assert(offsetof(SimpleTextOutput, mode) == 9 * sizeof(void*));
static_assert(sizeof(TableHeader) == 24);

// The loaded image protocol: where the firmware found kvq's own image.
struct DevicePath {
  uint8_t type;
  uint8_t sub_type;
  uint8_t length[2];  // of the whole node, little-endian
};
inline constexpr uint8_t kMediaDevicePath = 0x04;
inline constexpr uint8_t kMediaFilePathDp = 0x04;
inline constexpr uint8_t kEndDevicePath = 0x7F;

struct LoadedImageProtocol {
  uint32_t revision;
  Handle parent_handle;
  SystemTable* system_table;
  Handle device_handle;
  DevicePath* file_path;
  void* reserved;
  uint32_t load_options_size;
  void* load_options;
  void* image_base;
  uint64_t image_size;
  MemoryType image_code_type;
  MemoryType image_data_type;
  AnyFn unload;
};
inline constexpr Guid kLoadedImageProtocolGuid = {0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// The simple file system protocol and the file protocol it opens.
struct FileProtocol {
  uint64_t revision;
  Status (*open)(FileProtocol* self, FileProtocol** new_handle, const Char16* file_name, uint64_t open_mode,
                 uint64_t attributes);
  Status (*close)(FileProtocol* self);
  AnyFn delete_file;
  Status (*read)(FileProtocol* self, uintptr_t* buffer_size, void* buffer);
  Status (*write)(FileProtocol* self, uintptr_t* buffer_size, const void* buffer);
  Status (*get_position)(FileProtocol* self, uint64_t* position);
  Status (*set_position)(FileProtocol* self, uint64_t position);
  AnyFn get_info;
  AnyFn set_info;
  Status (*flush)(FileProtocol* self);
};
inline constexpr uint64_t kFileModeRead = 1;
// set_position to this moves to the end of the file.
inline constexpr uint64_t kFilePositionEnd = ~uint64_t{0};

struct SimpleFileSystemProtocol {
  uint64_t revision;
  Status (*open_volume)(SimpleFileSystemProtocol* self, FileProtocol** root);
};
inline constexpr Guid kSimpleFileSystemProtocolGuid = {0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

static_assert(offsetof(LoadedImageProtocol, device_handle) == 3 * sizeof(void*));
static_assert(offsetof(LoadedImageProtocol, file_path) == 4 * sizeof(void*));
static_assert(offsetof(FileProtocol, open) == 8);
static_assert(offsetof(FileProtocol, read) == 8 + 3 * sizeof(void*));
static_assert(offsetof(FileProtocol, set_position) == 8 + 6 * sizeof(void*));
static_assert(offsetof(SimpleFileSystemProtocol, open_volume) == 8);
static_assert(sizeof(DevicePath) == 4);
// The UEFI Shell's parameters protocol, on the image handle of every
// application the Shell starts: the command line split into arguments
// (argv[0] the program; the Shell has taken out its redirections), and the
// Shell's own file handles for standard input, output and error.
struct ShellParameters {
  Char16** argv;
  uintptr_t argc;
  void* std_in;
  void* std_out;
  void* std_err;
};
static_assert(offsetof(ShellParameters, argc) == sizeof(void*));
static_assert(offsetof(ShellParameters, std_err) == 4 * sizeof(void*));
inline constexpr Guid kShellParametersGuid = {0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
inline constexpr Status kInvalidParameter = kErrorBit | 2;
inline constexpr Status kUnsupported = kErrorBit | 3;

// The CPU architectural protocol (PI, DXE): kvq uses it only to install
// and remove a handler for one exception vector.
using ExceptionType = intptr_t;
inline constexpr ExceptionType kExceptGpFault = 13;

// The processor's state when the exception was taken, as the firmware's
// exception entry saved it; the handler may change it, and the firmware
// returns with what it holds. Laid out up to the instruction pointer.
struct SystemContextX64 {
  uint64_t exception_data;
  uint8_t fx_save_state[512];
  uint64_t dr[6];  // DR0 to DR3, DR6, DR7
  uint64_t cr[6];  // CR0 to CR4, CR8
  uint64_t rflags;
  uint64_t ldtr;
  uint64_t tr;
  uint64_t gdtr[2];
  uint64_t idtr[2];
  uint64_t rip;
};
static_assert(offsetof(SystemContextX64, rip) == 672);

struct SystemContextIa32 {
  uint32_t exception_data;
  uint8_t fx_save_state[512];
  uint32_t dr[6];  // DR0 to DR3, DR6, DR7
  uint32_t cr[5];  // CR0 to CR4
  uint32_t eflags;
  uint32_t ldtr;
  uint32_t tr;
  uint32_t gdtr[2];
  uint32_t idtr[2];
  uint32_t eip;
};
static_assert(offsetof(SystemContextIa32, eip) == 588);

// EFI_SYSTEM_CONTEXT: a union of pointers, passed by value.
union SystemContext {
  SystemContextIa32* ia32;
  SystemContextX64* x64;
};
static_assert(sizeof(SystemContext) == sizeof(void*));

using InterruptHandler = void (*)(ExceptionType type, SystemContext context);

struct CpuArchProtocol {
  AnyFn flush_data_cache;
  AnyFn enable_interrupt;
  AnyFn disable_interrupt;
  AnyFn get_interrupt_state;
  AnyFn init;
  Status (*register_interrupt_handler)(CpuArchProtocol* self, ExceptionType type, InterruptHandler handler);
  AnyFn get_timer_value;
  AnyFn set_memory_attributes;
  uint32_t number_of_timers;
  uint32_t dma_buffer_alignment;
};
static_assert(offsetof(CpuArchProtocol, register_interrupt_handler) == 5 * sizeof(void*));
inline constexpr Guid kCpuArchProtocolGuid = {0x26BACCB1, 0x6F42, 0x11D4, {0xBC, 0xE7, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};

// The MP Services protocol (PI, DXE): the firmware's processors, and a
// procedure run on one of them.
using ApProcedure = void (*)(void* argument);
struct ProcessorInformation;  // platform/uefi/efi_mp.h

struct MpServicesProtocol {
  Status (*get_number_of_processors)(MpServicesProtocol* self, uintptr_t* processors, uintptr_t* enabled);
  Status (*get_processor_info)(MpServicesProtocol* self, uintptr_t processor, ProcessorInformation* info);
  AnyFn startup_all_aps;
  Status (*startup_this_ap)(MpServicesProtocol* self, ApProcedure procedure, uintptr_t processor, Event wait_event,
                            uintptr_t timeout_us, void* argument, bool* finished);
  AnyFn switch_bsp;
  AnyFn enable_disable_ap;
  Status (*who_am_i)(MpServicesProtocol* self, uintptr_t* processor);
};
static_assert(offsetof(MpServicesProtocol, startup_this_ap) == 3 * sizeof(void*));
static_assert(offsetof(MpServicesProtocol, who_am_i) == 6 * sizeof(void*));
inline constexpr Guid kMpServicesProtocolGuid = {0x3FDDA605, 0xA76E, 0x4F46, {0xAD, 0x29, 0x12, 0xF4, 0x53, 0x1B, 0x3D, 0x08}};

// The system table and the image handle handed to the entry point; set once
// before anything else.
extern SystemTable* g_system_table;
extern Handle g_image_handle;

// The NVM Express Pass Thru protocol (UEFI 2.5 and later), and the PCI I/O
// protocol whose GetLocation names a handle's PCI function.
struct NvmeMode {
  uint32_t attributes;
  uint32_t io_align;
  uint32_t nvme_version;
};
struct NvmeCommand {
  uint32_t cdw0;  // opcode in bits 7:0
  uint8_t flags;  // which of CDW2, 3, 10-15 hold a value
  uint32_t nsid;
  uint32_t cdw2;
  uint32_t cdw3;
  uint32_t cdw10;
  uint32_t cdw11;
  uint32_t cdw12;
  uint32_t cdw13;
  uint32_t cdw14;
  uint32_t cdw15;
};
struct NvmeCompletion {
  uint32_t dw0;
  uint32_t dw1;
  uint32_t dw2;
  uint32_t dw3;
};
struct NvmeCommandPacket {
  uint64_t command_timeout;  // 100 ns units
  void* transfer_buffer;
  uint32_t transfer_length;
  void* metadata_buffer;
  uint32_t metadata_length;
  uint8_t queue_type;  // 0 admin
  NvmeCommand* command;
  NvmeCompletion* completion;
};
struct NvmePassThruProtocol {
  NvmeMode* mode;
  Status (*pass_thru)(NvmePassThruProtocol* self, uint32_t nsid, NvmeCommandPacket* packet, Event event);
  Status (*get_next_namespace)(NvmePassThruProtocol* self, uint32_t* nsid);
  AnyFn build_device_path;
  AnyFn get_namespace;
};
inline constexpr uint8_t kNvmeCdw10Valid = 0x04;
inline constexpr Guid kNvmePassThruProtocolGuid = {0x52C78312, 0x8EDC, 0x4233, {0x98, 0xF2, 0x1A, 0x1A, 0xA5, 0xE3, 0x88, 0xA5}};

struct PciIoProtocol {
  AnyFn poll_mem;
  AnyFn poll_io;
  AnyFn mem_read;
  AnyFn mem_write;
  AnyFn io_read;
  AnyFn io_write;
  AnyFn pci_read;
  AnyFn pci_write;
  AnyFn copy_mem;
  AnyFn map;
  AnyFn unmap;
  AnyFn allocate_buffer;
  AnyFn free_buffer;
  AnyFn flush;
  Status (*get_location)(PciIoProtocol* self, uintptr_t* segment, uintptr_t* bus, uintptr_t* device,
                         uintptr_t* function);
};
inline constexpr Guid kPciIoProtocolGuid = {0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};

static_assert(offsetof(NvmeCommand, nsid) == 8 && sizeof(NvmeCommand) == 44);
static_assert(offsetof(NvmeCommandPacket, transfer_buffer) == 8);
static_assert(offsetof(NvmePassThruProtocol, get_next_namespace) == 2 * sizeof(void*));
static_assert(offsetof(PciIoProtocol, get_location) == 14 * sizeof(void*));

}  // namespace kvq::efi
