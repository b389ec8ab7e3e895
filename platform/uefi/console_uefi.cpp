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

constexpr ConsoleDevice kDevice = {
    mode_count, query_mode, set_mode, clear_screen, set_cursor, set_attr, output, enable_cursor, read_key, wait_key,
};

}  // namespace

const ConsoleDevice* console_device() { return &kDevice; }

uint8_t console_attribute() { return static_cast<uint8_t>(out()->mode->attribute & 0x7F); }

}  // namespace kvq::efi
