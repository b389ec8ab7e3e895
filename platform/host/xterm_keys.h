// Key translation between a user's xterm-compatible terminal and the UEFI
// key strokes kvq reads, and from those to the PC-ANSI byte sequences the
// firmware's serial terminal driver decodes.
//
// Shared by kvq-sim (xterm bytes -> Key) and kvq-bridge (xterm bytes -> Key
// -> PC-ANSI bytes for the QEMU serial port).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <deque>

#include "platform/keys.h"

namespace kvq::host {

// UEFI scan codes for F11/F12; kvq does not use them, but the decoder still
// reports them rather than inventing a different key.
inline constexpr uint16_t kScanF11 = 0x15;
inline constexpr uint16_t kScanF12 = 0x16;

// Turns the bytes an xterm-compatible terminal sends (in raw mode) into Keys.
//
//  * Cursor keys in both modes (ESC [ A and ESC O A), Home/End in all their
//    forms (ESC [ H/F, ESC O H/F, ESC [ 1~ 4~ 7~ 8~), Insert/Delete (2~ 3~),
//    PageUp/PageDown (5~ 6~), F1-F4 (ESC O P..S, ESC [ 11~..14~), F5-F12
//    (ESC [ 15~ 17~ .. 24~), and the Linux console's ESC [ [ A..E (F1-F5).
//  * Modifier parameters (ESC [ 1;5A, ESC [ 15;2~, ESC O 5P) are ignored:
//    the unmodified key is reported. Back-tab (ESC [ Z) is Tab. xterm's
//    modifyOtherKeys (ESC [ 27;m;c~) and the CSI c;m u form give character c.
//  * Keypad application mode (ESC O p..y, ESC O M, ...) gives the digits,
//    operators and Enter the keys are labelled with.
//  * CR is Enter, and so is LF, except an LF right after a CR (a pasted
//    CR LF is one Enter). DEL (0x7F) and BS (0x08) are Backspace.
//  * ESC followed by a byte that starts no sequence is the Alt (meta)
//    prefix: the ESC is dropped and the byte decoded on its own.
//  * UTF-8 sequences give their UCS-2 character; characters outside the
//    Basic Multilingual Plane and malformed sequences are dropped. NUL is
//    dropped (the firmware drops it too).
//  * Anything else in CSI form (mouse reports, terminal replies, bracketed
//    paste markers, unknown finals) is dropped whole.
//
// An ESC may be a key on its own or the start of a sequence; only time tells.
// The owner calls timeout() when no byte has arrived for ~50 ms while
// pending() is true:
//  * a lone ESC becomes the Esc key;
//  * ESC [ or ESC O alone (Alt+[ / Alt+O) becomes that character;
//  * any longer incomplete sequence, or partial UTF-8 character, is dropped.
class XtermKeyDecoder {
 public:
  void feed(uint8_t byte);
  void feed(const uint8_t* bytes, size_t count);

  // Takes the oldest decoded key. False when there is none.
  bool pop(Key* key);

  // True while a partial escape sequence or UTF-8 character is held back.
  bool pending() const { return state_ != State::kGround; }

  void timeout();

 private:
  enum class State { kGround, kEsc, kCsi, kCsiLinux, kSs3, kUtf8 };

  void ground(uint8_t byte);
  void csi_byte(uint8_t byte);
  void ss3_byte(uint8_t byte);
  void utf8_byte(uint8_t byte);
  void finish_csi(uint8_t final_byte);
  void emit_scan(uint16_t scan) { keys_.push_back(Key{scan, 0}); }
  void emit_char(uint32_t ch);
  void reset() {
    state_ = State::kGround;
    len_ = 0;
    overflow_ = false;
  }

  static constexpr size_t kMaxSeq = 32;
  State state_ = State::kGround;
  uint8_t seq_[kMaxSeq] = {};  // parameter and intermediate bytes of a CSI/SS3
  size_t len_ = 0;
  bool overflow_ = false;  // more parameter bytes than seq_ holds
  uint32_t utf8_value_ = 0;
  int utf8_left_ = 0;
  uint32_t utf8_min_ = 0;
  bool after_cr_ = false;
  std::deque<Key> keys_;
};

// Writes the bytes the firmware's PC-ANSI terminal decodes as `key` and
// returns how many (at most 8), or 0 when the key has no PC-ANSI form
// (F11/F12, characters above 0xFF, DEL, C1 controls, NUL).
int encode_pc_ansi(Key key, uint8_t out[8]);

}  // namespace kvq::host
