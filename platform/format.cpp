#include "platform/format.h"

namespace kvq {
namespace {

struct Field {
  bool left = false;
  bool zero = false;
  int width = 0;
};

uint64_t masked(const FmtArg& a) {
  if (a.bytes >= 8) return a.bits;
  return a.bits & ((uint64_t{1} << (a.bytes * 8)) - 1);
}

int64_t sign_extended(const FmtArg& a) {
  const uint64_t m = masked(a);
  if (a.bytes >= 8) return static_cast<int64_t>(m);
  const uint64_t sign = uint64_t{1} << (a.bytes * 8 - 1);
  return static_cast<int64_t>((m ^ sign) - sign);
}

class Emitter {
 public:
  Emitter(PutCharFn put, void* ctx) : put_(put), ctx_(ctx) {}
  void ch(char16_t c) { put_(ctx_, c); }

  // Emits `len` characters produced by `text` with padding to the width.
  template <class Text>
  void padded(const Field& field, int len, bool numeric_zero_pad, const Text& text) {
    const int pad = field.width > len ? field.width - len : 0;
    if (!field.left) {
      const char16_t fill = (field.zero && numeric_zero_pad) ? u'0' : u' ';
      for (int i = 0; i < pad; ++i) ch(fill);
    }
    text();
    if (field.left) {
      for (int i = 0; i < pad; ++i) ch(u' ');
    }
  }

 private:
  PutCharFn put_;
  void* ctx_;
};

// Digits of v in `base`, most significant last; returns the count.
int digits_of(uint64_t v, unsigned base, bool upper, char16_t out[24]) {
  const char16_t* set = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  int n = 0;
  do {
    if (base == 16) {
      // Shifts, not a 64-bit division: cheap on IA-32 too.
      out[n++] = set[v & 15];
      v >>= 4;
    } else {
      out[n++] = set[v % base];
      v /= base;
    }
  } while (v != 0);
  return n;
}

void emit_number(Emitter& e, const Field& field, const FmtArg& a, char16_t conv) {
  char16_t digits[24];
  bool negative = false;
  uint64_t v;
  unsigned base = 10;
  if (conv == u'd' && a.is_signed) {
    const int64_t s = sign_extended(a);
    negative = s < 0;
    v = negative ? static_cast<uint64_t>(0) - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
  } else {
    v = masked(a);
    if (conv == u'x' || conv == u'X') base = 16;
  }
  const int n = digits_of(v, base, conv != u'x', digits);
  const int len = n + (negative ? 1 : 0);
  if (negative && field.zero && !field.left) {
    // The sign goes before the zero padding: -0005.
    e.ch(u'-');
    Field rest = field;
    rest.width = field.width > 0 ? field.width - 1 : 0;
    e.padded(rest, n, true, [&] {
      for (int i = n - 1; i >= 0; --i) e.ch(digits[i]);
    });
    return;
  }
  e.padded(field, len, true, [&] {
    if (negative) e.ch(u'-');
    for (int i = n - 1; i >= 0; --i) e.ch(digits[i]);
  });
}

template <class C>
int length_of(const C* s) {
  int n = 0;
  while (s[n] != 0) ++n;
  return n;
}

void emit_string16(Emitter& e, const Field& field, const char16_t* s) {
  if (s == nullptr) s = u"<null string>";
  const int n = length_of(s);
  e.padded(field, n, false, [&] {
    for (int i = 0; i < n; ++i) e.ch(s[i]);
  });
}

void emit_string8(Emitter& e, const Field& field, const char* s) {
  if (s == nullptr) s = "<null string>";
  const int n = length_of(s);
  e.padded(field, n, false, [&] {
    for (int i = 0; i < n; ++i) e.ch(static_cast<char16_t>(static_cast<unsigned char>(s[i])));
  });
}

}  // namespace

void format(PutCharFn put, void* ctx, const char16_t* fmt, const FmtArg* args, int count) {
  Emitter e(put, ctx);
  int next = 0;
  const FmtArg none;
  auto take = [&]() -> const FmtArg& { return next < count ? args[next++] : none; };
  for (const char16_t* p = fmt; *p != 0; ++p) {
    if (*p == u'\n') {
      e.ch(u'\r');
      e.ch(u'\n');
      continue;
    }
    if (*p != u'%') {
      e.ch(*p);
      continue;
    }
    ++p;
    Field field;
    for (;; ++p) {
      if (*p == u'-') {
        field.left = true;
      } else if (*p == u'0') {
        field.zero = true;
      } else {
        break;
      }
    }
    while (*p >= u'0' && *p <= u'9') {
      field.width = field.width * 10 + (*p - u'0');
      if (field.width > 200) field.width = 200;
      ++p;
    }
    while (*p == u'l' || *p == u'L') ++p;
    const char16_t conv = *p;
    if (conv == 0) break;
    switch (conv) {
      case u'd':
      case u'u':
      case u'x':
      case u'X': {
        const FmtArg& a = take();
        if (a.kind == FmtArg::kInt) {
          emit_number(e, field, a, conv);
        } else {
          emit_string16(e, field, u"?");
        }
        break;
      }
      case u'c': {
        const FmtArg& a = take();
        const char16_t c = a.kind == FmtArg::kInt ? static_cast<char16_t>(a.bits & 0xFFFF) : u'?';
        e.padded(field, 1, false, [&] { e.ch(c); });
        break;
      }
      case u's':
      case u'a': {
        const FmtArg& a = take();
        if (a.kind == FmtArg::kStr16) {
          emit_string16(e, field, static_cast<const char16_t*>(a.ptr));
        } else if (a.kind == FmtArg::kStr8) {
          emit_string8(e, field, static_cast<const char*>(a.ptr));
        } else {
          emit_string16(e, field, u"?");
        }
        break;
      }
      case u'%':
        e.ch(u'%');
        break;
      default:
        // Unknown conversion: shown as typed, so a bad format is visible.
        e.ch(u'%');
        e.ch(conv);
        break;
    }
  }
}

namespace {
struct BufferSink {
  char16_t* buffer;
  int capacity;
  int length;
};
void put_into_buffer(void* ctx, char16_t ch) {
  auto* sink = static_cast<BufferSink*>(ctx);
  if (sink->length + 1 < sink->capacity) sink->buffer[sink->length++] = ch;
}
}  // namespace

int format_to(char16_t* buffer, int capacity, const char16_t* fmt, const FmtArg* args, int count) {
  if (capacity <= 0) return 0;
  BufferSink sink{buffer, capacity, 0};
  format(put_into_buffer, &sink, fmt, args, count);
  buffer[sink.length] = 0;
  return sink.length;
}

}  // namespace kvq
