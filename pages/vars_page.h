// The Variables page's list of every UEFI variable: walked once, on the
// page's first drawing, and kept until kvq ends.
#pragma once
#include "app/state.h"
#include "hw/variables.h"

namespace kvq {

const vars::VariableList& variables_list();
// Gives the list's pool memory back: at exit, and at start-up (a list an
// earlier run in the same process left).
void release_variables_list();

// Whether `name` holds `filter`, in any case (an empty filter holds all).
bool name_matches(const char16_t* name, const char16_t* filter);

}  // namespace kvq
