// Formatted print with the conventions of the UEFI Print function:
// %s UCS-2 string, %a 8-bit string, %d decimal, %u unsigned decimal,
// %x/%X hexadecimal, %c one character, %% a percent sign; an optional '-'
// (left-justify), '0' (zero pad) and a width; 'l' size prefixes are
// accepted and ignored (arguments carry their own width). "\n" in the
// format becomes CR LF, as the firmware's print library turns it.
//
// Arguments are typed (no varargs): a mismatch prints safely, never reads
// beyond what was passed.
#pragma once
#include <stdint.h>

namespace kvq {

struct FmtArg {
  enum Kind : uint8_t { kNone, kInt, kStr16, kStr8 };
  Kind kind = kNone;
  bool is_signed = false;
  uint8_t bytes = 0;
  uint64_t bits = 0;
  const void* ptr = nullptr;

  constexpr FmtArg() = default;
  constexpr FmtArg(signed char v) : kind(kInt), is_signed(true), bytes(1), bits(static_cast<uint64_t>(v)) {}
  constexpr FmtArg(unsigned char v) : kind(kInt), bytes(1), bits(v) {}
  constexpr FmtArg(short v) : kind(kInt), is_signed(true), bytes(2), bits(static_cast<uint64_t>(v)) {}
  constexpr FmtArg(unsigned short v) : kind(kInt), bytes(2), bits(v) {}
  constexpr FmtArg(int v) : kind(kInt), is_signed(true), bytes(4), bits(static_cast<uint64_t>(v)) {}
  constexpr FmtArg(unsigned v) : kind(kInt), bytes(4), bits(v) {}
  constexpr FmtArg(long v) : kind(kInt), is_signed(true), bytes(sizeof(long)), bits(static_cast<uint64_t>(v)) {}
  constexpr FmtArg(unsigned long v) : kind(kInt), bytes(sizeof(long)), bits(v) {}
  constexpr FmtArg(long long v) : kind(kInt), is_signed(true), bytes(8), bits(static_cast<uint64_t>(v)) {}
  constexpr FmtArg(unsigned long long v) : kind(kInt), bytes(8), bits(v) {}
  constexpr FmtArg(char16_t v) : kind(kInt), bytes(2), bits(v) {}
  constexpr FmtArg(char v) : kind(kInt), bytes(1), bits(static_cast<unsigned char>(v)) {}
  constexpr FmtArg(const char16_t* s) : kind(kStr16), ptr(s) {}
  constexpr FmtArg(const char* s) : kind(kStr8), ptr(s) {}
};

// Receives the formatted text one character at a time.
using PutCharFn = void (*)(void* ctx, char16_t ch);

void format(PutCharFn put, void* ctx, const char16_t* fmt, const FmtArg* args, int count);

// Formats into a NUL-terminated buffer of `capacity` characters (truncating).
// Returns the number of characters stored, without the NUL.
int format_to(char16_t* buffer, int capacity, const char16_t* fmt, const FmtArg* args, int count);

template <class... A>
int sformat(char16_t* buffer, int capacity, const char16_t* fmt, const A&... args) {
  const FmtArg list[] = {FmtArg(args)..., FmtArg()};
  return format_to(buffer, capacity, fmt, list, static_cast<int>(sizeof...(A)));
}

}  // namespace kvq
