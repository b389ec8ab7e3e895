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
  // Blocks until a key waits or the next tick of a timer that ticks every
  // con::kPacePeriodUs, whichever comes first; at once when a key already
  // waits. The timer starts on the first call. Null: never waits.
  void (*wait_key_or_tick)();
  void (*stop_ticks)();  // releases that timer (at exit); may be null
  // The console's mode and cursor visibility now; read at start-up, when
  // they are the Shell's, to give them back at exit. Null: mode 0, cursor on.
  void (*current_state)(int* mode, bool* cursor_visible);
};

namespace con {

// Modes as kvq names them: the standard 80x25 screen and the list screen,
// which needs at least 100 columns and 30 rows.
inline constexpr int kStandardMode = 0;
inline constexpr int kListMode = 2;
inline constexpr int kListCols = 100;
inline constexpr int kListRows = 30;

// The main loop's pace when no key is typed: 40 ms, 25 passes a second.
// Every pass re-reads its registers (256 configuration bytes through
// CF8/CFC, or a Super I/O chip's entry keys), so running passes back to
// back spins a core and hammers the bus for frames nobody can see; 25 a
// second still shows a changing register as live, and the wait in between
// lets the firmware halt the processor. 40 ms is a whole number of the
// 10 ms tick PC firmware timers commonly run at, so the period is kept as
// set, and it stays under the 50 ms that 20 redraws a second allow.
inline constexpr uint32_t kPacePeriodUs = 40000;

// Picks the real modes, takes the console's current attribute as the model's,
// and starts the model in the standard mode's geometry. The console's mode,
// `initial_attr` and cursor visibility are kept for give_back.
void init(const ConsoleDevice* device, uint8_t initial_attr);
// At exit: the console as init found it, in the Shell's mode, attribute and
// cursor visibility, on a cleared screen (flushed). A mode the console no
// longer offers gives the standard mode.
void give_back();

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
// Between two main loop passes. After a pass that took a key it returns at
// once (that key's effect is drawn by the next pass, and a key never waits
// for the timer); otherwise it waits for a key or the next tick.
void pace();
// Stops the pacing timer; the firmware gets it back at exit.
void stop_pacing();

const Screen& screen();
// The real mode behind a kvq mode and its geometry (tests, diagnostics).
int real_mode(int mode);

}  // namespace con
}  // namespace kvq
