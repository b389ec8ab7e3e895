#pragma once
#include "platform/console.h"

namespace kvq::efi {
const ConsoleDevice* console_device();
// The attribute the console had when kvq started (given back at exit).
uint8_t console_attribute();
}  // namespace kvq::efi
