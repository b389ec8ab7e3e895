// The image entry point. It plays the part a C library's start-up plays for
// a Shell application: it keeps the system table, takes the arguments the
// Shell passes, and either runs one command with them or sets up the console
// (the screen model behind the formatted print and the 8-bit standard
// output) and calls the main routine; it returns the status to the Shell.
#include "app/commands.h"
#include "app/main_loop.h"
#include "platform/text_out.h"
#include "platform/uefi/console_uefi.h"
#include "platform/uefi/efi.h"

namespace kvq::efi {
constinit SystemTable* g_system_table = nullptr;
constinit Handle g_image_handle = nullptr;

namespace {

// The Shell's parameters, or none when kvq was not started by the Shell (a
// boot option): it then runs interactive.
const ShellParameters* shell_parameters() {
  void* found = nullptr;
  if (g_system_table->boot_services->handle_protocol(g_image_handle, &kShellParametersGuid, &found) != kSuccess) {
    return nullptr;
  }
  return static_cast<const ShellParameters*>(found);
}

// While the Shell redirects standard output, ConOut is the Shell's file
// writer; StdErr stays on the screen unless redirected with 2>.
void write_text(text::Stream stream, const char16_t* line) {
  SimpleTextOutput* out = stream == text::Stream::kErr ? g_system_table->std_err : g_system_table->con_out;
  out->output_string(out, line);
}

Status status_of(cli::Status s) {
  switch (s) {
    case cli::Status::kOk:
      return kSuccess;
    case cli::Status::kBadArgument:
      return kInvalidParameter;
    case cli::Status::kUnsupported:
      return kUnsupported;
  }
  return kSuccess;
}

}  // namespace
}  // namespace kvq::efi

extern "C" kvq::efi::Status efi_main(kvq::efi::Handle image, kvq::efi::SystemTable* system_table) {
  namespace efi = kvq::efi;
  efi::g_system_table = system_table;
  efi::g_image_handle = image;
  // A boot option started directly by the boot manager (the IA-32 image)
  // runs under a five-minute watchdog; kvq is interactive and may run for
  // hours, so switch it off.
  system_table->boot_services->set_watchdog_timer(0, 0, 0, nullptr);
  const efi::ShellParameters* params = efi::shell_parameters();
  if (params != nullptr && params->argc > 1) {
    kvq::text::set_sink(efi::write_text);
    const char16_t* const* args = params->argv + 1;
    return efi::status_of(kvq::cli::run(static_cast<int>(params->argc - 1), args));
  }
  kvq::con::init(efi::console_device(), efi::console_attribute());
  return static_cast<efi::Status>(kvq::kvq_main());
}
