// The console kvq draws on: UEFI ConOut/ConIn semantics over an in-memory
// screen model. Drawing never touches the real console; `flush` sends the
// cells that changed, and a blocking key wait flushes first.
#pragma once
#include <stdint.h>

#include "platform/format.h"
#include "platform/keys.h"
#include "platform/screen.h"

namespace kvq {

// The real console behind the model: UEFI ConOut/ConIn, an ANSI terminal, or
// a test recorder. Modes are the firmware's numbers.
struct ConsoleDevice {
  int (*mode_count)();
  bool (*query_mode)(int mode, int* cols, int* rows);
  void (*set_mode)(int mode);
  void (*clear_screen)();
  void (*set_cursor)(int col, int row);
  void (*set_attr)(uint8_t attr);
  void (*output)(const char16_t* text);  // NUL-terminated, printable cells only
  void (*enable_cursor)(bool on);
  bool (*read_key)(Key* key);  // returns at once; false when no key waits
  void (*wait_key)();          // blocks until a key waits
};

namespace con {

// Modes as kvq names them: the standard 80x25 screen and the list screen,
// which needs at least 100 columns and 30 rows.
inline constexpr int kStandardMode = 0;
inline constexpr int kListMode = 2;
inline constexpr int kListCols = 100;
inline constexpr int kListRows = 30;

// Picks the real modes, takes the console's current attribute as the model's,
// and starts the model in the standard mode's geometry.
void init(const ConsoleDevice* device, uint8_t initial_attr);

void set_mode(int mode);
void clear_screen();
void set_cursor(int col, int row);
void set_attr(uint8_t attr);
uint8_t attr();
void enable_cursor(bool on);
void put_char(char16_t ch);
void put_text(const char16_t* text);
// The 8-bit standard output: each byte one character, "\n" as CR LF.
void put_text8(const char* text);
void vprint(const char16_t* fmt, const FmtArg* args, int count);

template <class... A>
void print(const char16_t* fmt, const A&... args) {
  const FmtArg list[] = {FmtArg(args)..., FmtArg()};
  vprint(fmt, list, static_cast<int>(sizeof...(A)));
}

// Prints `count` copies of `ch` at the cursor.
void repeat(char16_t ch, int count);

// ReadKeyStroke: true and the key when one waits, false at once otherwise.
bool poll_key(Key* key);
// Flushes, then blocks until a key arrives and returns it.
Key wait_key();
// Sends the cells that changed since the last flush to the real console.
void flush();

const Screen& screen();
// The real mode behind a kvq mode and its geometry (tests, diagnostics).
int real_mode(int mode);

}  // namespace con
}  // namespace kvq
