// kvq's console in a Linux terminal: the console device draws with ANSI
// escape sequences on stdout and reads keys from stdin (raw mode), decoded
// from what xterm-compatible terminals send.
#pragma once
#include "platform/console.h"

namespace kvq::host {

const ConsoleDevice* ansi_console_device();

}  // namespace kvq::host
