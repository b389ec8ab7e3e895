#include "app/commands.h"

#include "app/setup_write.h"
#include "app/undo.h"
#include "app/var_commands.h"
#include "hw/apic.h"
#include "hw/cpu.h"
#include "hw/memio.h"
#include "hw/phys.h"
#include "hw/pci.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

constexpr const char16_t* kGeneralUsage =
    u"usage: kvq.efi [-h | dump pci|acpi|cpuid|vars|setup | read pci|mem|io|msr|var ... [b|w|d] | write pci|mem|io|msr|var ... "
    u"VALUE [b|w|d] | undo [FILE]]";

constexpr const char16_t* kHelpNotes[] = {
    u"Without arguments kvq starts its full-screen pages.",
    u"Numbers are hexadecimal, with or without 0x. BB:DD.F is a PCI function as lspci",
    u"writes it (00:1f.2, and 0001:00:1f.2 outside segment 0). The width is b (byte,",
    u"the default), w (word) or d (dword).",
    u"read prints the value in hex. write writes it as the pages do (configuration",
    u"registers, ports and memory with one access of the width, nothing else of a",
    u"configuration register's dword) and prints the value read back.",
    u"dump pci prints every PCI function in the format of lspci -xxxx. To decode it",
    u"on Linux, write it to a file with >a (ASCII):",
    u"  kvq.efi dump pci >a fs0:\\pci.txt      then      lspci -F pci.txt -vv",
    u"The Shell's > writes UCS-2, which lspci cannot read.",
    u"dump acpi prints every ACPI table as acpidump does. On Linux, acpixtract splits",
    u"the file into one binary per table, and iasl decompiles them:",
    u"  kvq.efi dump acpi >a fs0:\\acpi.txt    then    acpixtract -a acpi.txt",
    u"                                              and  iasl -d dsdt.dat",
    u"read msr and write msr take a 32-bit MSR index and a 64-bit value, on the",
    u"processor kvq runs on; an MSR the processor refuses (#GP) ends with an error.",
    u"dump cpuid prints every CPUID leaf of every processor as cpuid -r prints it;",
    u"  kvq.efi dump cpuid >a fs0:\\cpuid.txt    then    cpuid -f cpuid.txt",
    u"dump vars prints every UEFI variable as dmpstore -all does (in the firmware's",
    u"order, which dmpstore prints backwards). A variable is NAME and its GUID, or a",
    u"name the Shell gives one (EFIGlobalVariable). write var changes only the bytes",
    u"given, keeping the variable's attributes and size; it never writes an AT or AW",
    u"variable. Before the first change to a variable, its bytes go to kvq-undo.txt",
    u"beside kvq.efi; kvq.efi undo puts back every change recorded, newest first.",
    u"dump setup prints every form set, form and question of the firmware's Setup",
    u"forms (hidden ones included) with its storage, options and current value.",
    u"write setup changes a one-of, checkbox or numeric question, by its form set's",
    u"GUID, its varstore's name and its offset (as dump setup shows them), to a value",
    u"it allows, through the firmware's RouteConfig; the old bytes go to kvq-undo.txt.",
};

void print_synopsis(Stream stream, const char16_t* lead, const CommandForm& form) {
  char16_t buffer[96];
  synopsis(form, buffer, 96);
  text::line(stream, u"%skvq.efi %s", lead, buffer);
}

void print_help() {
  text::line(Stream::kOut, u"kvq: PCI, memory, I/O and MSR registers, CPUID and UEFI variables from the UEFI Shell.");
  const char16_t* lead = u"usage: ";
  for (int i = 0; i < kCommandCount; ++i) {
    const CommandForm& c = kCommands[i];
    if (!c.listed) continue;
    print_synopsis(Stream::kOut, lead, c);
    lead = u"       ";
  }
  for (const char16_t* note : kHelpNotes) text::line(Stream::kOut, u"%s", note);
}

void print_value(uint64_t value, int size) {
  text::line(Stream::kOut, size == 4 ? u"%08X" : (size == 2 ? u"%04X" : u"%02X"), value);
}

// Memory is touched only where the processor can address it; memio
// refuses the rest (the memory space map, the page tables, alignment, the
// APICs), accessing nothing then: a page fault would halt the firmware.
Status memory_value(const Command& c, uint32_t typed, uint32_t* value) {
  const uint64_t last = c.where + static_cast<uint64_t>(c.size - 1);
  if (last > phys::highest_address()) {
    text::line(Stream::kErr, u"kvq: ADDRESS %X lies beyond the processor's %d-bit physical address space", c.where,
               phys::address_bits());
    return Status::kUnsupported;
  }
  const bool write = c.form->action == Action::kWrite;
  memio::Refusal refused = write ? memio::write_value(c.where, c.size, typed) : memio::Refusal::kNone;
  if (refused == memio::Refusal::kNone) refused = memio::read_value(c.where, c.size, value);
  if (refused == memio::Refusal::kNone) return Status::kOk;
  text::line(Stream::kErr, u"kvq: ADDRESS %X %s: nothing was %s", c.where, memio::why(refused),
             write ? u"written" : u"read");
  return Status::kUnsupported;
}

// The parser takes an MSR index of 32 bits at most.
uint32_t msr_index(const Command& c) { return static_cast<uint32_t>(c.where); }

Status msr_read_or_write(const Command& c) {
  const uint32_t cpu = cpu::this_processor();
  plat::MsrStatus status = plat::MsrStatus::kOk;
  if (c.form->action == Action::kWrite) status = cpu::write_msr(cpu, msr_index(c), c.value);
  cpu::MsrValue read{plat::MsrStatus::kCpuDown, 0};
  if (status == plat::MsrStatus::kOk) status = (read = cpu::read_msr(cpu, msr_index(c))).status;
  if (status != plat::MsrStatus::kOk) {
    text::line(Stream::kErr, u"kvq: MSR %08X: %s", msr_index(c), cpu::status_text(status));
    return Status::kUnsupported;
  }
  text::line(Stream::kOut, u"%016X", read.value);
  return Status::kOk;
}

// COUNT guarded reads of one MSR; the caller times the command.
Status time_msr(const Command& c) {
  const uint32_t cpu = cpu::this_processor();
  for (uint64_t i = 0; i < c.value; ++i) {
    const plat::MsrStatus status = cpu::read_msr(cpu, msr_index(c)).status;
    if (status != plat::MsrStatus::kOk && status != plat::MsrStatus::kRefused) {
      text::line(Stream::kErr, u"kvq: MSR %08X: %s", msr_index(c), cpu::status_text(status));
      return Status::kUnsupported;
    }
  }
  text::line(Stream::kOut, u"%u reads of MSR %08X", static_cast<uint32_t>(c.value), c.where);
  return Status::kOk;
}

void print_leaf(void*, const cpu::Leaf& l) {
  text::line(Stream::kOut, u"   0x%08x 0x%02x: eax=0x%08x ebx=0x%08x ecx=0x%08x edx=0x%08x", l.leaf, l.subleaf,
             l.regs.eax, l.regs.ebx, l.regs.ecx, l.regs.edx);
}

// Every processor, as `cpuid -r` lays its dump out.
Status dump_cpuid() {
  Status status = Status::kOk;
  for (uint32_t n = 0; n < cpu::processor_count(); ++n) {
    // A processor the firmware disabled or found unhealthy is left out.
    if (const plat::MsrStatus skip = cpu::reachable(n); skip == plat::MsrStatus::kCpuSkipped) {
      text::line(Stream::kErr, u"kvq: CPU %u left out: %s", n, cpu::status_text(skip));
      continue;
    }
    text::line(Stream::kOut, u"CPU %u:", n);
    if (!cpu::each_leaf(n, print_leaf, nullptr)) {
      text::line(Stream::kErr, u"kvq: CPU %u did not run CPUID", n);
      status = Status::kUnsupported;
    }
  }
  return status;
}

Status read_or_write(const Command& c) {
  const bool write = c.form->action == Action::kWrite;
  const uint32_t typed = static_cast<uint32_t>(c.value);  // checked to fit the width
  uint32_t value = 0;
  switch (c.form->target) {
    case Space::kPci: {
      // The same choke point as the pages: the ports below 100h, the
      // memory-mapped space above.
      const pci::Bdf& f = c.function;
      const uint32_t offset = static_cast<uint32_t>(c.where);
      if (!pci::reaches(f, offset, c.size)) {
        char16_t name[16];
        pci::function_name(f, false, name, 16);
        text::line(Stream::kErr, u"kvq: no memory-mapped configuration space reaches %s", name);
        return Status::kUnsupported;
      }
      if (write) pci::config_write(f, offset, c.size, typed);
      value = pci::config_read(f, offset, c.size);
      break;
    }
    case Space::kMem:
      if (const Status refused = memory_value(c, typed, &value); refused != Status::kOk) return refused;
      break;
    case Space::kIo:
      if (write) memio::write_io(static_cast<uint16_t>(c.where), c.size, typed);
      value = memio::read_io(static_cast<uint16_t>(c.where), c.size);
      break;
    case Space::kMsr:
      return msr_read_or_write(c);
    case Space::kNone:
    case Space::kAcpi:
    case Space::kCpuid:
    case Space::kVar:
    case Space::kSetup:
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
      if (c.form->target == Space::kCpuid) return dump_cpuid();
      if (c.form->target == Space::kVar) return dump_vars();
      if (c.form->target == Space::kSetup) return dump_setup();
      dump_pci();
      return Status::kOk;
    case Action::kRead:
    case Action::kWrite:
      if (c.form->target == Space::kSetup) return write_setup(c);
      return c.form->target == Space::kVar ? var_read_or_write(c) : read_or_write(c);
    case Action::kTime:
      if (c.form->target == Space::kSetup) return time_setup(static_cast<uint32_t>(c.value));
      return c.form->target == Space::kVar ? time_vars(c) : time_msr(c);
    case Action::kUndo:
      return undo::run(c.file);
  }
  return Status::kOk;
}

}  // namespace

Status run(int argc, const char16_t* const* argv) {
  pci::forget_board();
  undo::begin_run();
  apic::forget_board();
  cpu::forget_processors();
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
