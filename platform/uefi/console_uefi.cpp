// The console device on UEFI: ConOut for the screen, ConIn for keys.
#include "platform/uefi/console_uefi.h"

#include "platform/uefi/efi.h"

namespace kvq::efi {
namespace {

SimpleTextOutput* out() { return g_system_table->con_out; }
SimpleTextInput* in() { return g_system_table->con_in; }

int mode_count() { return out()->mode->max_mode; }

bool query_mode(int mode, int* cols, int* rows) {
  if (mode < 0 || mode >= out()->mode->max_mode) return false;
  uintptr_t c = 0;
  uintptr_t r = 0;
  if (out()->query_mode(out(), static_cast<uintptr_t>(mode), &c, &r) != kSuccess) return false;
  *cols = static_cast<int>(c);
  *rows = static_cast<int>(r);
  return true;
}

void set_mode(int mode) { out()->set_mode(out(), static_cast<uintptr_t>(mode)); }
void clear_screen() { out()->clear_screen(out()); }
void set_cursor(int col, int row) {
  out()->set_cursor_position(out(), static_cast<uintptr_t>(col), static_cast<uintptr_t>(row));
}
void set_attr(uint8_t attr) { out()->set_attribute(out(), attr); }
void output(const char16_t* text) { out()->output_string(out(), text); }
void enable_cursor(bool on) { out()->enable_cursor(out(), on); }

bool read_key(Key* key) {
  InputKey k{0, 0};
  if (in()->read_key_stroke(in(), &k) != kSuccess) return false;
  key->scan = k.scan_code;
  key->ch = k.unicode_char;
  return true;
}

void wait_key() {
  uintptr_t index = 0;
  Event event = in()->wait_for_key;
  g_system_table->boot_services->wait_for_event(1, &event, &index);
}

// The pacing timer: one periodic timer event, made on the first wait and
// closed at exit. If the firmware cannot make it, the loop runs unpaced.
constinit Event g_tick = nullptr;
constinit bool g_tick_failed = false;

bool start_ticks() {
  if (g_tick != nullptr || g_tick_failed) return g_tick != nullptr;
  BootServices* bs = g_system_table->boot_services;
  Event tick = nullptr;
  if (bs->create_event(kEvtTimer, kTplCallback, nullptr, nullptr, &tick) != kSuccess) {
    g_tick_failed = true;
    return false;
  }
  // SetTimer counts in 100 ns units.
  if (bs->set_timer(tick, kTimerPeriodic, uint64_t{con::kPacePeriodUs} * 10) != kSuccess) {
    bs->close_event(tick);
    g_tick_failed = true;
    return false;
  }
  g_tick = tick;
  return true;
}

// WaitForEvent lets the firmware halt the processor until an interrupt; the
// key event is first, so a waiting key wins over a tick that is also due.
void wait_key_or_tick() {
  if (!start_ticks()) return;
  Event events[2] = {in()->wait_for_key, g_tick};
  uintptr_t index = 0;
  g_system_table->boot_services->wait_for_event(2, events, &index);
}

// Closing a timer event also cancels it.
void stop_ticks() {
  if (g_tick == nullptr) return;
  g_system_table->boot_services->close_event(g_tick);
  g_tick = nullptr;
}

void current_state(int* mode, bool* cursor_visible) {
  *mode = out()->mode->mode;
  *cursor_visible = out()->mode->cursor_visible;
}

constexpr ConsoleDevice kDevice = {
    mode_count, query_mode, set_mode, clear_screen, set_cursor, set_attr, output,
    enable_cursor, read_key, wait_key, wait_key_or_tick, stop_ticks, current_state,
};

}  // namespace

const ConsoleDevice* console_device() { return &kDevice; }

uint8_t console_attribute() { return static_cast<uint8_t>(out()->mode->attribute & 0x7F); }

}  // namespace kvq::efi
