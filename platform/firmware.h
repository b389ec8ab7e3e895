// Firmware services beyond port, memory and stall accesses: what the UEFI
// system table tells and gives. The UEFI backend asks the firmware; on the
// host the simulated board answers from its own model.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace kvq::plat {

// A GUID as UEFI lays it out in memory: three little-endian fields, then
// eight bytes.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

bool same_guid(const Guid& a, const Guid& b);

// Configuration table entries kvq looks for.
inline constexpr Guid kSmbiosTableGuid = {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constexpr Guid kSmbios3TableGuid = {0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};
inline constexpr Guid kAcpi20TableGuid = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
inline constexpr Guid kAcpi10TableGuid = {0xEB9D2D30, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};

// Physical address of the system table's configuration table entry named
// `guid`, or 0 when the firmware has none.
uint64_t config_table(const Guid& guid);

// Pool memory from the firmware, for data whose size kvq learns only at run
// time. Null when the firmware has none to give.
void* pool_allocate(size_t size);
void pool_free(void* memory);

// Reads the file `name` from the directory that kvq's own image was loaded
// from, into pool memory: at most `max_size` bytes of it (a longer file is
// cut there). The buffer has one byte more than *size, for the caller's
// use; free it with pool_free. Null when there is no such file or it cannot
// be read.
char* read_file_beside_image(const char16_t* name, size_t max_size, size_t* size);

}  // namespace kvq::plat

namespace kvq::plat {

// Whole 4 KiB pages of boot-services memory below 4 GiB, for buffers a bus
// master writes into (32-bit DMA addresses). Returns the physical address of
// the first page, or 0 when the firmware has none to give.
uint32_t allocate_pages_below_4g(uint32_t pages);
void free_pages(uint32_t address, uint32_t pages);

// Task priority levels: while kvq runs above TPL_APPLICATION, the firmware
// runs none of its event callbacks at or below that level (a disk driver's
// timer-driven transfers among them). restore_tpl takes what raise_tpl
// returned.
inline constexpr uintptr_t kTplNotify = 16;
// The firmware's timer interrupt is off at this level: no event of any
// priority runs until the level is restored.
inline constexpr uintptr_t kTplHighLevel = 31;
uintptr_t raise_tpl(uintptr_t tpl);
void restore_tpl(uintptr_t old_tpl);

// A stretch of accesses that no firmware event may run inside: a register
// pair shared with the firmware's own timer-driven code (the configuration
// address port, an index register), or a page-table walk and the access it
// allows. Keep it short: the firmware's timer is held off while it lasts.
class EventsBlocked {
 public:
  EventsBlocked() : old_(raise_tpl(kTplHighLevel)) {}
  ~EventsBlocked() { restore_tpl(old_); }
  EventsBlocked(const EventsBlocked&) = delete;
  EventsBlocked& operator=(const EventsBlocked&) = delete;

 private:
  uintptr_t old_;
};

}  // namespace kvq::plat

namespace kvq::plat {

// NVM Express controllers, as the firmware's NVM Express Pass Thru protocol
// offers them. kvq never submits into a controller's queues itself: the
// firmware's driver owns them, and its protocol runs a command for kvq.
struct NvmeController {
  // The controller's PCI function, from the PCI I/O protocol on the same
  // handle (all ones where there is none).
  uint16_t segment;
  uint8_t bus;
  uint8_t device;
  uint8_t function;
};

inline constexpr int kMaxNvmeControllers = 8;

// Finds the controllers, at most kMaxNvmeControllers; returns how many.
// Controller numbers below count from them.
int nvme_controllers(NvmeController (&out)[kMaxNvmeControllers]);

// The namespace after *nsid (0xFFFFFFFF: the first); false after the last.
bool nvme_next_namespace(int controller, uint32_t* nsid);

// An admin Identify of CNS `cns` (0 namespace `nsid`, 1 the controller, 2
// the active namespace IDs above `nsid`) into the 4 KiB of kvq's own memory
// at `buffer` (page aligned, below 4 GiB). False when the protocol refused
// or the command failed.
bool nvme_identify(int controller, uint32_t nsid, uint32_t cns, uint32_t buffer);

}  // namespace kvq::plat

