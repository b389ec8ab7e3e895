// Plain text lines for kvq's command-line modes. They go straight to the
// Shell's standard output or standard error, not through the screen model:
// the Shell's redirections (>a FILE, 2> FILE) and `| more` then see every
// character, and nothing on the screen is moved, coloured or cleared.
#pragma once
#include <stdint.h>

#include "platform/format.h"

namespace kvq::text {

enum class Stream : uint8_t { kOut, kErr };

// Where the text goes: ConOut and StdErr on UEFI, a recorder in host tests.
// `text` is NUL-terminated; lines end in CR LF.
using Sink = void (*)(Stream stream, const char16_t* text);
void set_sink(Sink sink);

// Appends to the stream's current line. Standard output is held in a buffer
// and sent in large pieces (one firmware call per piece, which a redirected
// file write makes costly); standard error is sent at each line's end,
// after whatever standard output holds, so the two keep their order.
void put(Stream stream, char16_t ch);
void put_text(Stream stream, const char16_t* text);
void vprint(Stream stream, const char16_t* fmt, const FmtArg* args, int count);
void end_line(Stream stream);
// Sends everything held.
void flush();

template <class... A>
void print(Stream stream, const char16_t* fmt, const A&... args) {
  const FmtArg list[] = {FmtArg(args)..., FmtArg()};
  vprint(stream, fmt, list, static_cast<int>(sizeof...(A)));
}

template <class... A>
void line(Stream stream, const char16_t* fmt, const A&... args) {
  const FmtArg list[] = {FmtArg(args)..., FmtArg()};
  vprint(stream, fmt, list, static_cast<int>(sizeof...(A)));
  end_line(stream);
}

}  // namespace kvq::text
