// The ATA Pass Thru protocol (UEFI 2.3 and later) and the PCI I/O
// protocol's Map and Unmap, laid out as the UEFI standard defines them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/uefi/efi.h"

namespace kvq::efi {

struct AtaPassThruMode {
  uint32_t attributes;
  uint32_t io_align;
};

// The taskfile as sent (command block) and as the device left it (status
// block): 20 bytes each, the register bytes from offset 2.
struct AtaCommandBlock {
  uint8_t reserved1[2];
  uint8_t command;
  uint8_t features;
  uint8_t sector_number;
  uint8_t cylinder_low;
  uint8_t cylinder_high;
  uint8_t device_head;
  uint8_t sector_number_exp;
  uint8_t cylinder_low_exp;
  uint8_t cylinder_high_exp;
  uint8_t features_exp;
  uint8_t sector_count;
  uint8_t sector_count_exp;
  uint8_t reserved2[6];
};
struct AtaStatusBlock {
  uint8_t reserved1[2];
  uint8_t status;
  uint8_t error;
  uint8_t rest[16];
};

struct AtaCommandPacket {
  AtaStatusBlock* asb;
  AtaCommandBlock* acb;
  uint64_t timeout;  // 100 ns units
  void* in_data_buffer;
  void* out_data_buffer;
  uint32_t in_transfer_length;
  uint32_t out_transfer_length;
  uint8_t protocol;
  uint8_t length;
};
inline constexpr uint8_t kAtaProtocolPioDataIn = 0x04;
inline constexpr uint8_t kAtaLengthBytes = 0x80;        // the transfer lengths count bytes
inline constexpr uint8_t kAtaLengthSectorCount = 0x20;  // the count is in the sector count field

struct AtaPassThruProtocol {
  AtaPassThruMode* mode;
  Status (*pass_thru)(AtaPassThruProtocol* self, uint16_t port, uint16_t multiplier_port, AtaCommandPacket* packet,
                      Event event);
  Status (*get_next_port)(AtaPassThruProtocol* self, uint16_t* port);
  Status (*get_next_device)(AtaPassThruProtocol* self, uint16_t port, uint16_t* multiplier_port);
  AnyFn build_device_path;
  AnyFn get_device;
  AnyFn reset_port;
  AnyFn reset_device;
};
inline constexpr Guid kAtaPassThruProtocolGuid = {0x1D3DE7F0, 0x0807, 0x424F, {0xAA, 0x69, 0x11, 0xA5, 0x4E, 0x19, 0xA4, 0x6F}};

// PCI I/O's Map and Unmap, at their places in the protocol.
inline constexpr int kPciIoBusMasterWrite = 1;  // the device writes system memory
using PciIoMap = Status (*)(PciIoProtocol* self, int operation, void* host_address, uintptr_t* bytes,
                            PhysicalAddress* device_address, void** mapping);
using PciIoUnmap = Status (*)(PciIoProtocol* self, void* mapping);

static_assert(sizeof(AtaCommandBlock) == 20 && sizeof(AtaStatusBlock) == 20);
static_assert(offsetof(AtaCommandBlock, command) == 2 && offsetof(AtaCommandBlock, sector_count) == 12);
static_assert(offsetof(AtaCommandPacket, timeout) == 2 * sizeof(void*));
static_assert(offsetof(AtaCommandPacket, in_transfer_length) == 8 + 4 * sizeof(void*));
static_assert(offsetof(AtaPassThruProtocol, get_next_device) == 3 * sizeof(void*));
static_assert(offsetof(PciIoProtocol, map) == 9 * sizeof(void*));

}  // namespace kvq::efi
