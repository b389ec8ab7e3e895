#include "app/var_commands.h"

#include "app/undo.h"
#include "hw/variables.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

// A variable as dmpstore prints it: the header line, then DumpHex's lines
// (indent 2): the offset, 16 bytes with a dash after the eighth, padded to
// 48 columns, and the bytes as characters between asterisks.
void print_variable(const char16_t* name, const plat::Guid& guid, const vars::Snapshot& s) {
  char16_t attributes[vars::kAttributesTextSize];
  char16_t where[vars::kGuidTextSize];
  vars::attributes_text(s.attributes, attributes);
  vars::guid_text(guid, where);
  text::line(Stream::kOut, u"Variable %s '%s:%s' DataSize = 0x%02X", attributes, where, name, s.size);
  for (uint32_t line = 0; line < s.size; line += 16) {
    char16_t hex[49];
    char16_t chars[17];
    int n = 0;
    int k = 0;
    for (uint32_t i = line; i < line + 16 && i < s.size; ++i, ++k) {
      const uint8_t b = s.data[i];
      n += sformat(hex + n, 49 - n, u"%02X%c", b, k == 7 ? u'-' : u' ');
      chars[k] = b >= 0x20 && b <= 0x7E ? static_cast<char16_t>(b) : u'.';
    }
    chars[k] = 0;
    text::line(Stream::kOut, u"  %08X: %-48s *%s*", line, hex, chars);
  }
}

void print_failure(const char16_t* name, const plat::Guid& guid, const char16_t* what, plat::EfiStatus status) {
  char16_t where[vars::kGuidTextSize];
  char16_t why[32];
  vars::guid_text(guid, where);
  vars::status_text(status, why);
  text::line(Stream::kErr, u"kvq: %s:%s: %s %s", where, name, what, why);
}

// Where a walk that did not end with EFI_NOT_FOUND stopped.
bool walk_complete(const vars::VariableList& list) {
  char16_t why[32];
  vars::status_text(list.status, why);
  switch (list.end) {
    case vars::WalkEnd::kComplete: return true;
    case vars::WalkEnd::kRepeated:
      text::line(Stream::kErr, u"kvq: the firmware named a variable twice after %d: the list ends there", list.count);
      break;
    case vars::WalkEnd::kTooMany:
      text::line(Stream::kErr, u"kvq: the list ends after %d variables", list.count);
      break;
    case vars::WalkEnd::kFailed:
      text::line(Stream::kErr, u"kvq: GetNextVariableName: %s after %d variables", why, list.count);
      break;
    case vars::WalkEnd::kNoMemory:
      text::line(Stream::kErr, u"kvq: no pool memory for the list after %d variables", list.count);
      break;
  }
  return false;
}

// The undo record before the first write to a variable in this run; with
// no undo file, nothing is written (a script has nobody to answer y).
bool record_undo(const char16_t* name, const plat::Guid& guid, const vars::Snapshot& original, void*) {
  char16_t why[32];
  if (undo::record_variable_once(name, guid, original, why)) return true;
  text::line(Stream::kErr, u"kvq: %s cannot be written (%s): nothing was written", undo::kFileName, why);
  return false;
}

const char16_t* value_format(int size) { return size == 4 ? u"%08X" : size == 2 ? u"%04X" : u"%02X"; }

}  // namespace

Status dump_vars() {
  vars::VariableList list;
  vars::walk(&list);
  Status status = walk_complete(list) ? Status::kOk : Status::kUnsupported;
  for (int i = 0; i < list.count; ++i) {
    vars::Snapshot s = vars::read(list.name(i), list.guid(i));
    if (s.status == plat::kEfiSuccess) {
      print_variable(list.name(i), list.guid(i), s);
    } else {
      print_failure(list.name(i), list.guid(i), u"GetVariable:", s.status);
      status = Status::kUnsupported;
    }
    vars::free_snapshot(&s);
  }
  vars::release(&list);
  return status;
}

Status var_read_or_write(const Command& c) {
  const uint32_t offset = static_cast<uint32_t>(c.where);
  if (c.form->action == Action::kWrite) {
    const vars::ChangeResult r =
        vars::change(c.name, c.guid, offset, c.size, static_cast<uint32_t>(c.value), record_undo, nullptr);
    switch (r.outcome) {
      case vars::Outcome::kWritten:
        text::line(Stream::kOut, value_format(c.size), r.value);
        return Status::kOk;
      case vars::Outcome::kReadFailed: print_failure(c.name, c.guid, u"GetVariable:", r.status); break;
      case vars::Outcome::kRefused:
        print_failure(c.name, c.guid, u"SetVariable refused; the variable is as it was:", r.status);
        break;
      case vars::Outcome::kReadOnly:
        print_failure(c.name, c.guid, u"authenticated (AT or AW), kvq does not write it:", plat::kEfiSecurityViolation);
        break;
      case vars::Outcome::kOutside:
        text::line(Stream::kErr, u"kvq: OFFSET %X: %d bytes there lie outside %s", offset, c.size, c.name);
        break;
      case vars::Outcome::kCancelled: break;
    }
    return Status::kUnsupported;
  }
  vars::Snapshot s = vars::read(c.name, c.guid);
  Status status = Status::kOk;
  if (s.status != plat::kEfiSuccess) {
    print_failure(c.name, c.guid, u"GetVariable:", s.status);
    status = Status::kUnsupported;
  } else if (!c.has_offset) {
    print_variable(c.name, c.guid, s);
  } else if (offset >= s.size || s.size - offset < static_cast<uint32_t>(c.size)) {
    text::line(Stream::kErr, u"kvq: OFFSET %X: %d bytes there lie outside %s's 0x%X", offset, c.size, c.name, s.size);
    status = Status::kUnsupported;
  } else {
    uint32_t v = 0;
    for (int i = c.size - 1; i >= 0; --i) v = v << 8 | s.data[offset + static_cast<uint32_t>(i)];
    text::line(Stream::kOut, value_format(c.size), v);
  }
  vars::free_snapshot(&s);
  return status;
}

Status time_vars(const Command& c) {
  int count = 0;
  for (uint64_t i = 0; i < c.value; ++i) {
    vars::VariableList list;
    vars::walk(&list);
    for (int v = 0; v < list.count; ++v) vars::info(list.name(v), list.guid(v));
    count = list.count;
    vars::release(&list);
  }
  text::line(Stream::kOut, u"%u walks of %d variables", static_cast<uint32_t>(c.value), count);
  return Status::kOk;
}

}  // namespace kvq::cli
