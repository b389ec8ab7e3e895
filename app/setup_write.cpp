// Setup questions changed from the Shell: `write setup FORMSET-GUID
// VARSTORE OFFSET VALUE [b|w|d]` by the page's rules, and the undo file's
// Setup records put back the same way. Both go through the firmware's
// configuration routing (hw/setup), never to the variable behind it.
#include "app/setup_write.h"

#include "hw/variables.h"
#include "platform/text_out.h"

namespace kvq {

plat::EfiStatus record_setup_once(const setup::Db& db, const hii::Question& q, const uint8_t* old) {
  char16_t store[256];
  hii::store_name(db.model, db.model.stores[static_cast<uint32_t>(q.store)], store, 256);
  const undo::Record r{.kind = undo::Kind::kSetup, .guid = db.model.formsets[q.formset].guid, .name = store,
                       .attributes = 0, .offset = q.offset, .bytes = old, .size = q.width};
  return undo::record_once(r);
}

void outcome_text(const setup::Db& db, const setup::WriteResult& r, const hii::Question& q, char16_t* out,
                  int capacity) {
  char16_t status[32];
  vars::status_text(r.status, status);
  switch (r.outcome) {
    case setup::Outcome::kWritten:
      sformat(out, capacity, u"RouteConfig: EFI_SUCCESS; it reads back 0x%X%s", r.value,
              (q.flags & hii::kCallback) != 0 ? u" (interactive: its form callback did not run)" : u"");
      return;
    case setup::Outcome::kRefused:
      sformat(out, capacity, u"RouteConfig refused: %s at character %u of the ConfigResp; it reads back 0x%X", status,
              static_cast<uint32_t>(r.progress), r.value);
      return;
    case setup::Outcome::kReadFailed:
      sformat(out, capacity, u"ExtractConfig: %s; nothing was written", status);
      return;
    case setup::Outcome::kCancelled:
      sformat(out, capacity, u"Nothing was written.");
      return;
    case setup::Outcome::kReadOnly:
      sformat(out, capacity, u"A read-only question: nothing is written to it.");
      return;
    case setup::Outcome::kNotWritable:
      sformat(out, capacity, u"kvq changes one-of, checkbox and numeric questions of buffer and EFI stores only.");
      return;
    case setup::Outcome::kUnreachable:
      sformat(out, capacity, u"Not written: %s.", setup::reach_text(setup::reach(db, q)));
      return;
    case setup::Outcome::kNotAllowed:
      sformat(out, capacity, u"A value the question does not allow: nothing was written.");
      return;
  }
}

namespace {

using text::Stream;

// With no undo file nothing is written: a script has nobody to answer y.
bool record_for_command(const setup::Db& db, const hii::Question& q, const uint8_t* old, void*) {
  const plat::EfiStatus s = record_setup_once(db, q, old);
  if (s == plat::kEfiSuccess) return true;
  char16_t why[32];
  vars::status_text(s, why);
  text::line(Stream::kErr, u"kvq: %s cannot be written (%s): nothing was written", undo::kFileName, why);
  return false;
}

// "0x0 0x1 0x2" for a one-of, "0x14..0x64" for a numeric, "0 or 1".
void allowed_text(const setup::Db& db, const hii::Question& q, char16_t* out, int capacity) {
  int n = 0;
  if (q.kind == hii::Kind::kCheckBox) {
    sformat(out, capacity, u"0 or 1");
  } else if (q.kind == hii::Kind::kNumeric) {
    sformat(out, capacity, u"0x%X..0x%X", q.min, q.max);
  } else {
    out[0] = 0;
    for (uint32_t i = 0; i < q.option_count && n < capacity - 1; ++i) {
      n += sformat(out + n, capacity - n, i == 0 ? u"0x%X" : u" 0x%X", db.model.options[q.first_option + i].value);
    }
  }
}

const char16_t* width_word(uint32_t width) { return width == 4 ? u"d" : width == 2 ? u"w" : u"b"; }

}  // namespace

}  // namespace kvq

namespace kvq::cli {

Status write_setup(const Command& c) {
  setup::Db db;
  Status status = Status::kUnsupported;
  const int32_t index = setup::load(db) ? setup::find_question(db, c.guid, c.name, static_cast<uint32_t>(c.where)) : -1;
  char16_t guid[vars::kGuidTextSize];
  vars::guid_text(c.guid, guid, false);
  if (!db.database) {
    text::line(Stream::kErr, u"kvq: the firmware has no HII database");
  } else if (index < 0) {
    text::line(Stream::kErr, u"kvq: no question of form set %s stores in %s at offset %X", guid, c.name, c.where);
    status = Status::kBadArgument;
  } else {
    const hii::Question& q = db.model.questions[static_cast<uint32_t>(index)];
    char16_t line[200];
    if (q.width != static_cast<uint32_t>(c.size) || !setup::writable_kind(q)) {
      text::line(Stream::kErr, u"kvq: the question at offset %X of %s takes %u bytes%s%s", c.where, c.name, q.width,
                 setup::writable_kind(q) ? u": give " : u", which kvq does not write",
                 setup::writable_kind(q) ? width_word(q.width) : u"");
      status = Status::kBadArgument;
    } else if ((q.flags & hii::kReadOnly) == 0 && !setup::allows(db, q, c.value)) {
      allowed_text(db, q, line, 200);
      text::line(Stream::kErr, u"kvq: VALUE %X is not one the question allows (%s): nothing was written", c.value, line);
      status = Status::kBadArgument;
    } else {
      const setup::WriteResult r = setup::write(db, static_cast<uint32_t>(index), c.value, record_for_command, nullptr);
      outcome_text(db, r, q, line, 200);
      if (r.outcome == setup::Outcome::kWritten) {
        text::line(Stream::kOut, q.width == 4 ? u"%08X" : q.width == 2 ? u"%04X" : u"%02X", r.value);
        if ((q.flags & hii::kCallback) != 0) text::line(Stream::kErr, u"kvq: %s", line);
        status = Status::kOk;
      } else if (r.outcome != setup::Outcome::kCancelled) {
        text::line(Stream::kErr, u"kvq: %s", line);
      }
    }
  }
  db.release();
  text::flush();
  return status;
}

}  // namespace kvq::cli

namespace kvq::undo {

bool restore_setup(const Record& r, char16_t* message, int capacity) {
  setup::Db db;
  char16_t guid[vars::kGuidTextSize];
  vars::guid_text(r.guid, guid, false);
  const int32_t index = setup::load(db) ? setup::find_question(db, r.guid, r.name, r.offset) : -1;
  bool ok = false;
  if (index < 0) {
    sformat(message, capacity, u"setup %s %s at %X: no such question on this board; not put back", guid, r.name,
            r.offset);
  } else if (db.model.questions[static_cast<uint32_t>(index)].width != r.size) {
    sformat(message, capacity, u"setup %s %s at %X: the question is not %u bytes wide; not put back", guid, r.name,
            r.offset, r.size);
  } else {
    const hii::Question& q = db.model.questions[static_cast<uint32_t>(index)];
    const setup::WriteResult w = setup::put_bytes(db, static_cast<uint32_t>(index), r.bytes, nullptr, nullptr);
    char16_t what[160];
    outcome_text(db, w, q, what, 160);
    ok = w.outcome == setup::Outcome::kWritten;
    sformat(message, capacity, u"setup %s %s at %X: %s", guid, r.name, r.offset, ok ? u"put back" : what);
  }
  db.release();
  return ok;
}

}  // namespace kvq::undo
