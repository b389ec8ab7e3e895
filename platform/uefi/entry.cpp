// The image entry point. It plays the part a C library's start-up plays for
// a Shell application: it keeps the system table, sets up the console (the
// screen model behind the formatted print and the 8-bit standard output),
// calls the main routine and returns its status to the Shell.
#include "app/main_loop.h"
#include "platform/uefi/console_uefi.h"
#include "platform/uefi/efi.h"

namespace kvq::efi {
constinit SystemTable* g_system_table = nullptr;
constinit Handle g_image_handle = nullptr;
}

extern "C" kvq::efi::Status efi_main(kvq::efi::Handle image, kvq::efi::SystemTable* system_table) {
  kvq::efi::g_system_table = system_table;
  kvq::efi::g_image_handle = image;
  // A boot option started directly by the boot manager (the IA-32 image)
  // runs under a five-minute watchdog; kvq is interactive and may run for
  // hours, so switch it off.
  system_table->boot_services->set_watchdog_timer(0, 0, 0, nullptr);
  kvq::con::init(kvq::efi::console_device(), kvq::efi::console_attribute());
  return static_cast<kvq::efi::Status>(kvq::kvq_main());
}
