// The command runner: what kvq does when the Shell gives it arguments.
// Everything goes out as plain lines (platform/text_out.h); the screen is
// neither drawn nor cleared.
#pragma once
#include "app/command_line.h"

namespace kvq::cli {

enum class Status : uint8_t {
  kOk,
  kBadArgument,  // nothing was read or written
  kUnsupported,  // the board cannot do what was asked (nothing written)
};

// `argv` holds the arguments after the program's name.
Status run(int argc, const char16_t* const* argv);

// Every function the bus scan finds, in the text format of `lspci -xxxx`
// that pciutils' dump reader (lspci -F FILE) reads back: a header line, then
// lines of 16 bytes with their offset, then an empty line. 256 bytes, and
// all 4096 for a PCI Express function whose memory-mapped configuration
// space kvq can reach.
void dump_pci();

// Every ACPI table, in the text format of ACPICA's acpidump, which
// `acpixtract -a` splits back into one binary file per table. A table that
// cannot be read (unmapped, or its signature or length wrong) is named on
// standard error and left out, and the status says so; one whose checksum
// fails is dumped with a warning there.
Status dump_acpi();

// Every form set, form and question of the firmware's forms, with the
// values the board holds (app/setup_dump.cpp). `time_setup` exports and
// parses the forms `count` times, for timing from outside.
Status dump_setup();
Status time_setup(uint32_t count);

}  // namespace kvq::cli
