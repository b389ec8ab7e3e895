#include "app/commands.h"

#include "hw/memio.h"
#include "hw/phys.h"
#include "hw/pci.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

constexpr const char16_t* kGeneralUsage =
    u"usage: kvq.efi [-h | dump pci|acpi | read pci|mem|io ... [b|w|d] | write pci|mem|io ... VALUE [b|w|d]]";

constexpr const char16_t* kHelpNotes[] = {
    u"Without arguments kvq starts its full-screen pages.",
    u"Numbers are hexadecimal, with or without 0x. BB:DD.F is a PCI function as lspci",
    u"writes it (00:1f.2). The width is b (byte, the default), w (word) or d (dword).",
    u"read prints the value in hex. write writes it as the pages do (configuration",
    u"registers below 100h by read-merge of their dword, ports a byte at a time from",
    u"the highest port down) and prints the value read back.",
    u"dump pci prints every PCI function in the format of lspci -xxxx. To decode it",
    u"on Linux, write it to a file with >a (ASCII):",
    u"  kvq.efi dump pci >a fs0:\\pci.txt      then      lspci -F pci.txt -vv",
    u"The Shell's > writes UCS-2, which lspci cannot read.",
    u"dump acpi prints every ACPI table as acpidump does. On Linux, acpixtract splits",
    u"the file into one binary per table, and iasl decompiles them:",
    u"  kvq.efi dump acpi >a fs0:\\acpi.txt    then    acpixtract -a acpi.txt",
    u"                                              and  iasl -d dsdt.dat",
};

void print_synopsis(Stream stream, const char16_t* lead, const CommandForm& form) {
  char16_t buffer[96];
  synopsis(form, buffer, 96);
  text::line(stream, u"%skvq.efi %s", lead, buffer);
}

void print_help() {
  text::line(Stream::kOut, u"kvq: PCI, memory and I/O registers from the UEFI Shell.");
  const char16_t* lead = u"usage: ";
  for (int i = 0; i < kCommandCount; ++i) {
    const CommandForm& c = kCommands[i];
    if (!c.listed) continue;
    print_synopsis(Stream::kOut, lead, c);
    lead = u"       ";
  }
  for (const char16_t* note : kHelpNotes) text::line(Stream::kOut, u"%s", note);
}

void print_value(uint32_t value, int size) {
  text::line(Stream::kOut, size == 4 ? u"%08X" : (size == 2 ? u"%04X" : u"%02X"), value);
}

// Memory is touched only where the processor can address it and the page
// tables map it (for a write, writable): a page fault would halt the
// firmware.
Status check_memory(const Command& c) {
  const uint64_t last = c.where + static_cast<uint64_t>(c.size - 1);
  if (last > phys::highest_address()) {
    text::line(Stream::kErr, u"kvq: ADDRESS %X lies beyond the processor's %d-bit physical address space", c.where,
               kImageAddressBits == 64 ? plat::physical_address_bits() : 32);
    return Status::kUnsupported;
  }
  const bool write = c.form->action == Action::kWrite;
  if (!phys::mapped(c.where, static_cast<uint64_t>(c.size))) {
    text::line(Stream::kErr, u"kvq: ADDRESS %X is not mapped by the firmware's page tables: nothing was %s", c.where,
               write ? u"written" : u"read");
    return Status::kUnsupported;
  }
  if (write && !phys::mapped(c.where, static_cast<uint64_t>(c.size), paging::Access::kWrite)) {
    text::line(Stream::kErr, u"kvq: ADDRESS %X is mapped read-only: nothing was written", c.where);
    return Status::kUnsupported;
  }
  return Status::kOk;
}

Status read_or_write(const Command& c) {
  const bool write = c.form->action == Action::kWrite;
  uint32_t value = 0;
  switch (c.form->target) {
    case Space::kPci: {
      // The same choke point as the pages: the ports below 100h, the
      // memory-mapped space above.
      const pci::Bdf& f = c.function;
      const uint32_t offset = static_cast<uint32_t>(c.where);
      if (!pci::reaches(f, offset, c.size)) {
        text::line(Stream::kErr, u"kvq: no memory-mapped configuration space reaches %02x:%02x.%d", f.bus, f.device,
                   f.function);
        return Status::kUnsupported;
      }
      if (write) pci::config_write(f, offset, c.size, c.value);
      value = pci::config_read(f, offset, c.size);
      break;
    }
    case Space::kMem:
      if (const Status refused = check_memory(c); refused != Status::kOk) return refused;
      if (write) memio::write_memory(c.where, c.size, c.value);
      memio::read_memory(c.where, c.size, &value);
      break;
    case Space::kIo:
      if (write) memio::write_io(static_cast<uint16_t>(c.where), c.size, c.value);
      value = memio::read_io(static_cast<uint16_t>(c.where), c.size);
      break;
    case Space::kNone:
    case Space::kAcpi:
      break;
  }
  print_value(value, c.size);
  return Status::kOk;
}

Status execute(const Command& c) {
  switch (c.form->action) {
    case Action::kHelp:
      print_help();
      return Status::kOk;
    case Action::kDump:
      if (c.form->target == Space::kAcpi) return dump_acpi();
      dump_pci();
      return Status::kOk;
    case Action::kRead:
    case Action::kWrite:
      return read_or_write(c);
  }
  return Status::kOk;
}

}  // namespace

Status run(int argc, const char16_t* const* argv) {
  pci::forget_board();
  const ParseResult parsed = parse(argc, argv);
  Status status = Status::kOk;
  if (!parsed.ok) {
    text::line(Stream::kErr, u"%s", parsed.message);
    if (parsed.usage != nullptr) {
      print_synopsis(Stream::kErr, u"usage: ", *parsed.usage);
    } else {
      text::line(Stream::kErr, u"%s", kGeneralUsage);
    }
    status = Status::kBadArgument;
  } else {
    status = execute(parsed.command);
  }
  text::flush();
  return status;
}

}  // namespace kvq::cli
