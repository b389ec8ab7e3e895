#include "platform/text_out.h"

namespace kvq::text {
namespace {

struct Buffer {
  static constexpr int kCapacity = 2048;
  char16_t chars[kCapacity + 1];
  int used;
};

struct TextState {
  Sink sink;
  Buffer out;
  Buffer err;
};

constinit TextState g_text = {};

void send(Stream stream, Buffer& b) {
  if (b.used == 0) return;
  b.chars[b.used] = 0;
  if (g_text.sink != nullptr) g_text.sink(stream, b.chars);
  b.used = 0;
}

Buffer& buffer_of(Stream stream) { return stream == Stream::kErr ? g_text.err : g_text.out; }

void put_char(void* ctx, char16_t ch) { put(*static_cast<Stream*>(ctx), ch); }

}  // namespace

void set_sink(Sink sink) {
  g_text.sink = sink;
  g_text.out.used = 0;
  g_text.err.used = 0;
}

void put(Stream stream, char16_t ch) {
  Buffer& b = buffer_of(stream);
  if (b.used == Buffer::kCapacity) {
    // A line longer than the buffer goes out in pieces.
    if (stream == Stream::kErr) send(Stream::kOut, g_text.out);
    send(stream, b);
  }
  b.chars[b.used++] = ch;
}

void put_text(Stream stream, const char16_t* text) {
  for (const char16_t* p = text; *p != 0; ++p) put(stream, *p);
}

void vprint(Stream stream, const char16_t* fmt, const FmtArg* args, int count) {
  format(put_char, &stream, fmt, args, count);
}

void end_line(Stream stream) {
  put(stream, u'\r');
  put(stream, u'\n');
  if (stream == Stream::kErr) {
    send(Stream::kOut, g_text.out);
    send(Stream::kErr, g_text.err);
  } else if (g_text.out.used > Buffer::kCapacity - 128) {
    // Most lines are shorter than this: keep whole lines in one piece.
    send(Stream::kOut, g_text.out);
  }
}

void flush() {
  send(Stream::kOut, g_text.out);
  send(Stream::kErr, g_text.err);
}

}  // namespace kvq::text
