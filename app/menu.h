#pragma once
#include "app/state.h"

namespace kvq {

// One pass of the function tab menu: poll, draw, then act on the key.
void menu_pass(AppState& state);

}  // namespace kvq
