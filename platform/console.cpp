#include "platform/console.h"

#include "platform/flusher.h"

namespace kvq::con {
namespace {

struct ModeChoice {
  int real_mode;
  int model_cols;  // what kvq draws on
  int model_rows;
  int real_cols;  // what the console shows of it
  int real_rows;
};

// Zero until init (so it costs nothing in the image file).
struct ConsoleState {
  const ConsoleDevice* device = nullptr;
  ModeChoice standard = {};
  ModeChoice list = {};
  const ModeChoice* current = nullptr;
  // What the console had before kvq: given back at exit.
  int shell_mode = 0;
  uint8_t shell_attr = 0;
  bool shell_cursor = false;
  ModeChoice shell = {};
  Screen screen;
  Flusher flusher;
  bool key_taken = false;  // since the last pace()
};

constinit ConsoleState g_console;

bool query(int mode, int* cols, int* rows) {
  const ConsoleDevice* d = g_console.device;
  return d != nullptr && d->query_mode != nullptr && d->query_mode(mode, cols, rows);
}

// The list screen: mode 2 if it is at least 100x30; otherwise the smallest
// mode that is; otherwise the standard mode, with the list drawn at 100x30
// and clipped to what that mode shows.
ModeChoice choose_list_mode(const ModeChoice& standard) {
  int cols = 0;
  int rows = 0;
  if (query(kListMode, &cols, &rows) && cols >= kListCols && rows >= kListRows) {
    return {kListMode, cols, rows, cols, rows};
  }
  ModeChoice best = {standard.real_mode, kListCols, kListRows, standard.real_cols, standard.real_rows};
  long best_area = -1;
  const int count = g_console.device->mode_count != nullptr ? g_console.device->mode_count() : 0;
  for (int m = 0; m < count; ++m) {
    if (!query(m, &cols, &rows) || cols < kListCols || rows < kListRows) continue;
    const long area = static_cast<long>(cols) * rows;
    if (best_area < 0 || area < best_area) {
      best_area = area;
      best = {m, cols, rows, cols, rows};
    }
  }
  return best;
}

}  // namespace

void init(const ConsoleDevice* device, uint8_t initial_attr) {
  g_console.device = device;
  int cols = 80;
  int rows = 25;
  if (!query(kStandardMode, &cols, &rows)) {
    cols = 80;
    rows = 25;
  }
  g_console.standard = {kStandardMode, cols, rows, cols, rows};
  g_console.list = choose_list_mode(g_console.standard);
  g_console.current = &g_console.standard;
  g_console.shell_mode = kStandardMode;
  g_console.shell_attr = initial_attr;
  g_console.shell_cursor = true;
  if (device->current_state != nullptr) device->current_state(&g_console.shell_mode, &g_console.shell_cursor);
  g_console.screen.set_attr(initial_attr);
  g_console.screen.reset(kStandardMode, cols, rows);
  // The console shows whatever was there before kvq; the first flush
  // replays a mode set and a clear only if kvq asks for them, so start from
  // "unknown" and let the start-up sequence clear it.
  g_console.flusher.invalidate();
  g_console.key_taken = false;
}

void give_back() {
  ConsoleState& c = g_console;
  int cols = 0;
  int rows = 0;
  c.shell = query(c.shell_mode, &cols, &rows) ? ModeChoice{c.shell_mode, cols, rows, cols, rows} : c.standard;
  c.current = &c.shell;
  c.screen.set_attr(c.shell_attr);
  c.screen.reset(c.shell.real_mode, c.shell.model_cols, c.shell.model_rows);
  c.screen.enable_cursor(c.shell_cursor);
  flush();
}

void set_mode(int mode) {
  const ModeChoice& m = mode == kListMode ? g_console.list : g_console.standard;
  g_console.current = &m;
  g_console.screen.reset(m.real_mode, m.model_cols, m.model_rows);
}

void clear_screen() { g_console.screen.clear(); }
void set_cursor(int col, int row) { g_console.screen.set_cursor(col, row); }
void set_attr(uint8_t a) { g_console.screen.set_attr(a); }
uint8_t attr() { return g_console.screen.attr(); }
void enable_cursor(bool on) { g_console.screen.enable_cursor(on); }
void put_char(char16_t ch) { g_console.screen.put(ch); }

void put_text(const char16_t* text) {
  for (const char16_t* p = text; *p != 0; ++p) g_console.screen.put(*p);
}

void put_text8(const char* text) {
  for (const char* p = text; *p != 0; ++p) {
    if (*p == '\n') g_console.screen.put(u'\r');
    g_console.screen.put(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  }
}

namespace {
void put_to_screen(void*, char16_t ch) { g_console.screen.put(ch); }
}  // namespace

void vprint(const char16_t* fmt, const FmtArg* args, int count) { format(put_to_screen, nullptr, fmt, args, count); }

void repeat(char16_t ch, int count) {
  for (int i = 0; i < count; ++i) g_console.screen.put(ch);
}

bool poll_key(Key* key) {
  const ConsoleDevice* d = g_console.device;
  if (d == nullptr || d->read_key == nullptr) return false;
  if (!d->read_key(key)) return false;
  g_console.key_taken = true;
  return true;
}

Key wait_key() {
  flush();
  Key key{0, 0};
  for (;;) {
    g_console.device->wait_key();
    if (poll_key(&key)) return key;
  }
}

void flush() {
  const ConsoleDevice* d = g_console.device;
  if (d == nullptr) return;
  const ModeChoice& m = *g_console.current;
  g_console.flusher.flush(g_console.screen, *d, m.real_cols, m.real_rows);
}

void pace() {
  const ConsoleDevice* d = g_console.device;
  const bool key_taken = g_console.key_taken;
  g_console.key_taken = false;
  if (key_taken || d == nullptr || d->wait_key_or_tick == nullptr) return;
  d->wait_key_or_tick();
}

void stop_pacing() {
  const ConsoleDevice* d = g_console.device;
  if (d != nullptr && d->stop_ticks != nullptr) d->stop_ticks();
}

const Screen& screen() { return g_console.screen; }

int real_mode(int mode) { return mode == kListMode ? g_console.list.real_mode : g_console.standard.real_mode; }

}  // namespace kvq::con
