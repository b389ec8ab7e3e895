#include "app/main_loop.h"

#include "app/undo.h"
#include "data/pci_ids_file.h"
#include "hw/apic.h"
#include "hw/cpu.h"
#include "hw/disks.h"
#include "hw/pci.h"
#include "hw/sata.h"
#include "hw/superio.h"
#include "pages/pages.h"
#include "pages/setup_page.h"
#include "pages/vars_page.h"
#include "platform/console.h"
#include "platform/cpu.h"

namespace kvq {
namespace {

constinit AppState g_state;

int next_width(int width) { return width == kDword ? kByte : width + 1; }

// F5, F6, F7 and Esc, after the page has taken its own keys. Returns false
// on Esc.
bool act_on_global_key(AppState& state) {
  const Key key = state.key;
  const PageKind kind = page_row(state.page).kind;
  if (key.scan == kScanEsc) return false;
  if (key.scan == kScanF5 && kind != PageKind::kList) {
    state.page = PageId::kPciList;
    con::set_mode(con::kListMode);
    con::clear_screen();
  } else if (key.scan == kScanF6 && kind != PageKind::kMenu) {
    state.page = PageId::kMenu;
    con::set_mode(con::kStandardMode);
    con::clear_screen();
  } else if (key.scan == kScanF7 && kind == PageKind::kGrid) {
    state.width = next_width(state.width);
    con::clear_screen();
  }
  return true;
}

void reset_list_state(AppState& state) {
  state.list.page = 0;
  state.list.row = 1;
  state.list.count = state.device_count;
  state.list.last_page = state.device_count > 0 ? (state.device_count - 1) / 25 : 0;
}

}  // namespace

void startup(AppState& state) {
  release_variables_list();
  release_setup_forms();
  undo::begin_run();
  state = AppState{};
  sata::allocate_identify_buffer();
  state.hdd_probe = sata::probe_port(state.hdd_port_offset);
  state.hdd_buffer = state.hdd_probe.buffer;
  pci::forget_board();
  apic::forget_board();
  state.device_count = pci::scan(pci::g_devices);
  reset_list_state(state);
  pci_ids::load_beside_image();
  if (state.device_count > 0) {
    state.device = pci::g_devices.entries[0].bdf;
  }
  con::clear_screen();
  con::enable_cursor(false);
  sio::probe_ec(sio::g_chips);
  sio::detect(sio::g_chips);
  state.isa_address = sio::first_probed_port();
  cpu::forget_processors();
  state.cpu.cpu = plat::this_cpu();
  con::set_mode(con::kStandardMode);
}

bool run_pass(AppState& state) {
  page_row(state.page).pass(state);
  const bool go_on = act_on_global_key(state);
  state.key = Key{0, 0};
  if (go_on) con::flush();
  return go_on;
}

void shutdown() {
  sata::free_identify_buffer();
  disks::free_buffers();
  release_variables_list();
  release_setup_forms();
  con::stop_pacing();
  // The Shell goes on in the text mode, colour and cursor it had, not in
  // whatever kvq drew last (the menu leaves black on black).
  con::give_back();
  pci_ids::release();
}

int kvq_main() {
  startup(g_state);
  while (run_pass(g_state)) con::pace();
  shutdown();
  return 0;
}

}  // namespace kvq
