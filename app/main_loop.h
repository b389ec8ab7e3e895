// The main routine: start-up, the loop of page passes, and the way out.
#pragma once
#include "app/state.h"

namespace kvq {

// Runs kvq to the end; returns 0 after Esc. Between passes it waits for a
// key or the console's pacing tick (con::pace).
int kvq_main();

// Start-up: state defaults, the bus scan, the console set-up.
void startup(AppState& state);
// One pass: the current page draws, polls and acts on its keys, then the
// global keys act and the screen is flushed. False once Esc ended the run.
bool run_pass(AppState& state);
// Leaves the console as the Shell expects it: 80x25, cleared, cursor on.
void shutdown();

}  // namespace kvq
