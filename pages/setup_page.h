// The Setup page's forms: exported and parsed on the page's first drawing,
// kept until kvq ends; their values read again whenever the menu opens the
// page and after every change.
#pragma once
#include "app/state.h"
#include "hw/setup.h"

namespace kvq {

const setup::Db& setup_forms();
// Gives the forms' pool memory back: at exit, and at start-up (forms an
// earlier run in the same process left).
void release_setup_forms();

}  // namespace kvq
