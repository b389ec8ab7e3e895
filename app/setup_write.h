// Changes to Setup questions outside the page: the undo record made before
// a question's first change in a run, the one-line account of a change,
// `kvq.efi write setup`, and the undo file's Setup records put back.
#pragma once
#include "app/commands.h"
#include "app/undo.h"
#include "hw/setup.h"

namespace kvq {

// Appends the question's bytes, as the firmware held them, to the undo
// file before its first change in this run.
plat::EfiStatus record_setup_once(const setup::Db& db, const hii::Question& q, const uint8_t* old);

// What a change came to, in one line.
void outcome_text(const setup::Db& db, const setup::WriteResult& r, const hii::Question& q, char16_t* out,
                  int capacity);

}  // namespace kvq

namespace kvq::cli {

Status write_setup(const Command& c);

}  // namespace kvq::cli

namespace kvq::undo {

// A Setup record: the form set's question at that store and offset gets
// the recorded bytes back through RouteConfig.
bool restore_setup(const Record& r, char16_t* message, int capacity);

}  // namespace kvq::undo
