#include "platform/host/xterm_keys.h"

namespace kvq::host {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kDel = 0x7F;

// Parses the numeric parameters of a CSI ("15;2" -> {15, 2}). Missing ones
// are 0; returns the count found (0 for an empty parameter string).
int parse_params(const uint8_t* p, size_t n, uint32_t* params, int max) {
  if (n == 0) return 0;
  int count = 0;
  uint32_t value = 0;
  for (size_t i = 0; i <= n; ++i) {
    if (i == n || p[i] == ';' || p[i] == ':') {
      if (count < max) params[count++] = value;
      value = 0;
    } else if (p[i] >= '0' && p[i] <= '9') {
      if (value < 100000) value = value * 10 + (p[i] - '0');
    }
  }
  return count;
}

uint16_t tilde_key(uint32_t code) {
  switch (code) {
    case 1:
    case 7:
      return kScanHome;
    case 2:
      return kScanInsert;
    case 3:
      return kScanDelete;
    case 4:
    case 8:
      return kScanEnd;
    case 5:
      return kScanPageUp;
    case 6:
      return kScanPageDown;
    case 11:
      return kScanF1;
    case 12:
      return kScanF2;
    case 13:
      return kScanF3;
    case 14:
      return kScanF4;
    case 15:
      return kScanF5;
    case 17:
      return kScanF6;
    case 18:
      return kScanF7;
    case 19:
      return kScanF8;
    case 20:
      return kScanF9;
    case 21:
      return kScanF10;
    case 23:
      return kScanF11;
    case 24:
      return kScanF12;
    default:
      return kScanNone;
  }
}

// Final bytes shared by the CSI and SS3 forms of the cursor and F1-F4 keys.
uint16_t letter_key(uint8_t final_byte) {
  switch (final_byte) {
    case 'A':
      return kScanUp;
    case 'B':
      return kScanDown;
    case 'C':
      return kScanRight;
    case 'D':
      return kScanLeft;
    case 'H':
      return kScanHome;
    case 'F':
      return kScanEnd;
    case 'P':
      return kScanF1;
    case 'Q':
      return kScanF2;
    case 'R':
      return kScanF3;
    case 'S':
      return kScanF4;
    default:
      return kScanNone;
  }
}

}  // namespace

void XtermKeyDecoder::feed(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) feed(bytes[i]);
}

bool XtermKeyDecoder::pop(Key* key) {
  if (keys_.empty()) return false;
  *key = keys_.front();
  keys_.pop_front();
  return true;
}

void XtermKeyDecoder::emit_char(uint32_t ch) {
  switch (ch) {
    case 0:
      return;
    case '\r':
    case '\n':
      keys_.push_back(Key{kScanNone, kCharEnter});
      return;
    case kDel:
    case kCharBackspace:
      keys_.push_back(Key{kScanNone, kCharBackspace});
      return;
    case kEsc:
      emit_scan(kScanEsc);
      return;
    default:
      // Surrogate halves are not characters; UCS-2 cannot hold the rest.
      if (ch > 0xFFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return;
      keys_.push_back(Key{kScanNone, static_cast<uint16_t>(ch)});
  }
}

void XtermKeyDecoder::feed(uint8_t byte) {
  switch (state_) {
    case State::kGround:
      ground(byte);
      return;
    case State::kEsc:
      if (byte == '[') {
        state_ = State::kCsi;
        len_ = 0;
      } else if (byte == 'O') {
        state_ = State::kSs3;
        len_ = 0;
      } else if (byte == kEsc) {
        // Esc pressed twice, or Esc followed quickly by a key that sends a
        // sequence: the first ESC stood alone.
        emit_scan(kScanEsc);
      } else {
        // Alt+key: the terminal prefixed the key with ESC.
        reset();
        ground(byte);
      }
      return;
    case State::kCsi:
      csi_byte(byte);
      return;
    case State::kCsiLinux:
      reset();
      if (byte >= 'A' && byte <= 'E') {
        emit_scan(static_cast<uint16_t>(kScanF1 + (byte - 'A')));
      } else if (byte < 0x20) {
        ground(byte);
      }
      return;
    case State::kSs3:
      ss3_byte(byte);
      return;
    case State::kUtf8:
      utf8_byte(byte);
      return;
  }
}

void XtermKeyDecoder::ground(uint8_t byte) {
  const bool after_cr = after_cr_;
  after_cr_ = false;
  if (byte == kEsc) {
    state_ = State::kEsc;
    return;
  }
  if (byte == '\r') {
    after_cr_ = true;
    emit_char(byte);
    return;
  }
  if (byte == '\n') {
    if (!after_cr) emit_char(byte);
    return;
  }
  if (byte < 0x80) {
    emit_char(byte);
    return;
  }
  // UTF-8 lead bytes. C0/C1 would only start overlong forms, F5 and up
  // code points past U+10FFFF; stray continuation bytes are dropped too.
  if (byte >= 0xC2 && byte <= 0xDF) {
    utf8_value_ = byte & 0x1Fu;
    utf8_left_ = 1;
    utf8_min_ = 0x80;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    utf8_value_ = byte & 0x0Fu;
    utf8_left_ = 2;
    utf8_min_ = 0x800;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    utf8_value_ = byte & 0x07u;
    utf8_left_ = 3;
    utf8_min_ = 0x10000;
  } else {
    return;
  }
  state_ = State::kUtf8;
}

void XtermKeyDecoder::utf8_byte(uint8_t byte) {
  if ((byte & 0xC0) != 0x80) {
    // The character was cut short; the byte starts something new.
    reset();
    ground(byte);
    return;
  }
  utf8_value_ = (utf8_value_ << 6) | (byte & 0x3Fu);
  if (--utf8_left_ > 0) return;
  reset();
  if (utf8_value_ >= utf8_min_) emit_char(utf8_value_);
}

void XtermKeyDecoder::csi_byte(uint8_t byte) {
  if (len_ == 0 && byte == '[') {
    state_ = State::kCsiLinux;
    return;
  }
  if (byte >= 0x20 && byte <= 0x3F) {
    // Parameter and intermediate bytes. A runaway sequence is still read
    // to its final byte, then dropped.
    if (len_ == kMaxSeq) {
      overflow_ = true;
    } else {
      seq_[len_++] = byte;
    }
    return;
  }
  if (byte >= 0x40 && byte <= 0x7E) {
    if (!overflow_) finish_csi(byte);
    reset();
    return;
  }
  // A control byte (or ESC) inside a sequence: the terminal gave up on it.
  reset();
  ground(byte);
}

void XtermKeyDecoder::finish_csi(uint8_t final_byte) {
  // Private-marker sequences (< = > ?) are replies and mouse reports.
  if (len_ > 0 && seq_[0] >= '<' && seq_[0] <= '?') return;
  for (size_t i = 0; i < len_; ++i) {
    if (seq_[i] < '0' || seq_[i] > ';') return;  // intermediates: not a key
  }
  uint32_t params[4] = {};
  const int count = parse_params(seq_, len_, params, 4);
  if (final_byte == '~') {
    if (count == 0) return;
    if (params[0] == 27 && count >= 3) {
      emit_char(params[2]);  // modifyOtherKeys: ESC [ 27 ; mod ; char ~
      return;
    }
    const uint16_t scan = tilde_key(params[0]);
    if (scan != kScanNone) emit_scan(scan);
    return;
  }
  if (final_byte == 'u') {
    if (count >= 1) emit_char(params[0]);  // ESC [ char ; mod u
    return;
  }
  if (final_byte == 'Z') {
    emit_char('\t');  // Shift+Tab
    return;
  }
  const uint16_t scan = letter_key(final_byte);
  if (scan != kScanNone) emit_scan(scan);
}

void XtermKeyDecoder::ss3_byte(uint8_t byte) {
  // Some terminals put a modifier between ESC O and the final (ESC O 5 P).
  if (byte >= '0' && byte <= ';') {
    if (len_ == kMaxSeq) {
      overflow_ = true;
    } else {
      seq_[len_++] = byte;
    }
    return;
  }
  const bool overflow = overflow_;
  reset();
  if (byte < 0x20) {
    ground(byte);
    return;
  }
  if (overflow) return;
  const uint16_t scan = letter_key(byte);
  if (scan != kScanNone) {
    emit_scan(scan);
    return;
  }
  // Keypad in application mode.
  if (byte == 'M') {
    emit_char('\r');
  } else if (byte >= 'j' && byte <= 'y') {
    emit_char(static_cast<uint32_t>("*+,-./0123456789"[byte - 'j']));
  } else if (byte == 'X') {
    emit_char('=');
  }
}

void XtermKeyDecoder::timeout() {
  switch (state_) {
    case State::kEsc:
      emit_scan(kScanEsc);
      break;
    case State::kCsi:
      if (len_ == 0) emit_char('[');  // Alt+[
      break;
    case State::kSs3:
      if (len_ == 0) emit_char('O');  // Alt+O
      break;
    default:
      break;
  }
  reset();
  after_cr_ = false;
}

int encode_pc_ansi(Key key, uint8_t out[8]) {
  if (key.scan != kScanNone) {
    if (key.scan == kScanEsc) {
      out[0] = kEsc;
      return 1;
    }
    // Final bytes of ESC [ x in the firmware's PC-ANSI input table, indexed
    // by scan code (Up=1 .. F10=20).
    static constexpr char kFinal[] = "?ABCDHF@XIGMNOPQRSTUV";
    if (key.scan >= kScanUp && key.scan <= kScanF10) {
      out[0] = kEsc;
      out[1] = '[';
      out[2] = static_cast<uint8_t>(kFinal[key.scan]);
      return 3;
    }
    return 0;
  }
  const uint16_t ch = key.ch;
  // The firmware reads each byte as the character of the same value. NUL is
  // discarded, DEL reads as the Delete key, 0x80-0x9F include CSI (0x9B),
  // which would start a sequence; ESC as a character is the Esc key.
  if (ch == 0 || ch == kDel || (ch >= 0x80 && ch <= 0x9F) || ch > 0xFF) return 0;
  out[0] = static_cast<uint8_t>(ch);
  return 1;
}

}  // namespace kvq::host
