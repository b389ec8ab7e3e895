// The CPU page: what CPUID says of one processor, and 16 of its MSRs from a
// base index, each read under the #GP guard, with the selected one's bits.
// < and > step through the firmware's processors; every access runs on the
// processor shown. A pass makes one batch there: the microcode read when it
// is due, a typed value's write, and the 16 rows (the write's read-back),
// so another processor is woken once per pass. The pass takes its key
// first, so that a write goes into that pass's batch.
#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/input.h"
#include "data/msr_names.h"
#include "hw/cpu.h"
#include "pages/pages.h"
#include "platform/console.h"

namespace kvq {
namespace {

constexpr int kRows = 16;
constexpr int kFirstRow = 2;
constexpr int kValueCol = 10;
constexpr int kNameCol = 28;
constexpr int kMessageRow = 18;
constexpr int kBaseDigitsCol = 10;  // after "MSR Base: "

uint32_t index_of(const CpuPageState& page, int row) { return page.base + static_cast<uint32_t>(row); }

void draw_header(const CpuPageState& page) {
  const cpu::Identity& id = page.identity;
  con::set_attr(kAttrWhite);
  con::set_cursor(0, 0);
  con::print(u"MSR Base: %08X", page.base);
  con::set_cursor(20, 0);
  char16_t which[16];
  sformat(which, 16, u"CPU %u of %u", page.cpu, cpu::processor_count());
  con::print(u"%-14s %-12a  ", which, id.vendor);
  if (id.reached) {
    con::print(u"Family %02Xh Model %02Xh Stepping %X", id.family, id.model, id.stepping);
  } else {
    con::print(u"%-31s", u"not reached");
  }
  con::set_cursor(0, 1);
  con::print(u"%-48a", id.brand);
  con::set_cursor(62, 1);
  if (id.microcode_status == plat::MsrStatus::kOk) {
    con::print(u"Microcode %08X", id.microcode);
  } else {
    con::print(u"Microcode %-8s", u"--");
  }
}

void draw_row(const CpuPageState& page, int row, const cpu::MsrValue& msr) {
  const uint32_t index = index_of(page, row);
  con::set_cursor(0, kFirstRow + row);
  con::set_attr(kAttrYellow);
  con::print(u"%08X", index);
  con::set_cursor(kValueCol, kFirstRow + row);
  const bool cursor = row == page.row;
  if (msr.status == plat::MsrStatus::kOk) {
    con::set_attr(cursor ? kAttrWhiteOnBlue : (msr.value != 0 ? kAttrWhite : kAttrGray));
    con::print(u"%016X", msr.value);
  } else {
    // "--": the processor refused the read, or has no #GP guard to read
    // it under; anything else: not read.
    const bool dashes = msr.status == plat::MsrStatus::kRefused || msr.status == plat::MsrStatus::kNoApGuard;
    con::set_attr(cursor ? kAttrWhiteOnBlue : kAttrGray);
    con::print(u"%-16s", dashes ? u"--" : u"not read");
  }
  char name[data::kMaxMsrName + 1] = {};
  data::msr_name(index, name);
  int length = 0;
  while (name[length] != 0) ++length;
  con::set_attr(kAttrWhite);
  con::set_cursor(kNameCol, kFirstRow + row);
  con::put_text8(name);
  con::repeat(u' ', data::kMaxMsrName - length);
}

// Row 18: why nothing could be read, or the value the processor refused.
void draw_message(const CpuPageState& page, const cpu::MsrValue& first) {
  con::set_cursor(0, kMessageRow);
  con::set_attr(kAttrWhite);
  char16_t line[81];
  if (first.status != plat::MsrStatus::kOk && first.status != plat::MsrStatus::kRefused) {
    sformat(line, 81, u"No MSR read on CPU %u: %s.", page.cpu, cpu::status_text(first.status));
  } else if (page.refused) {
    sformat(line, 81, u"#GP: the processor refused %016X for MSR %08X; it is unchanged.", page.refused_value,
            page.refused_index);
  } else if (page.cancelled) {
    sformat(line, 81, u"Cancelled: nothing written to MSR %08X.", page.refused_index);
  } else {
    line[0] = 0;
  }
  con::print(u"%-80s", line);
}

// A value typed for the selected MSR, written by this pass's batch.
struct Write {
  bool due = false;
  uint32_t index = 0;
  uint64_t value = 0;
};

// Row 18 asks before a write that can hang or reset the board, or cannot
// be undone; only y writes.
bool confirmed(uint32_t index, const cpu::AskFirst& ask) {
  char16_t line[81];
  sformat(line, 81, u"MSR %08X: %a. y to write", index, ask.why);
  con::set_cursor(0, kMessageRow);
  con::set_attr(kAttrYellow);
  con::print(u"%-80s", line);
  const Key key = con::wait_key();
  return key.scan == 0 && key.ch == u'y';
}

void enter_value(CpuPageState& page, Write* write) {
  uint64_t value = 0;
  if (!value_entry(CellCursor{kFirstRow + page.row, kValueCol, 0}, 16, &value)) return;
  const uint32_t index = index_of(page, page.row);
  const cpu::AskFirst* ask = cpu::ask_first(index);
  page.refused = false;
  page.refused_index = index;
  page.refused_value = value;
  page.cancelled = ask != nullptr && !confirmed(index, *ask);
  if (!page.cancelled) *write = Write{true, index, value};
}

void step_cpu(CpuPageState& page, int direction) {
  page.cpu = cpu::step_processor(page.cpu, direction);
  page.identified = false;
}

void act_on_key(AppState& state, Write* write) {
  CpuPageState& page = state.cpu;
  const Key key = state.key;
  if (key.scan == kScanUp) {
    page.row = (page.row + kRows - 1) % kRows;
  } else if (key.scan == kScanDown) {
    page.row = (page.row + 1) % kRows;
  } else if (key.scan == kScanPageUp) {
    page.base -= kRows;
  } else if (key.scan == kScanPageDown) {
    page.base += kRows;
  } else if (key.scan != 0) {
    page.kept = false;  // F5, F6, F7, Esc and other keys: left to the loop
    return;
  } else if (key.ch == kCharEnter) {
    enter_value(page, write);
  } else if (key.ch == u'p') {
    uint32_t typed = 0;
    if (address_entry(u"MSR Base:", kBaseDigitsCol, 8, true, &typed)) page.base = typed;
  } else if (key.ch == u'<' || key.ch == u'>') {
    step_cpu(page, key.ch == u'<' ? -1 : 1);
  } else {
    return;
  }
  if (key.ch != kCharEnter) page.refused = page.cancelled = false;
  state.key = Key{0, 0};
}

}  // namespace

// The microcode update trigger: a write may load a new revision.
constexpr uint32_t kMicrocodeTrigger = 0x79;

// The rows the last batch read. A pass whose key only moves the row cursor
// draws these rather than wake the processor again (on QEMU a wake-up costs
// as much as the rest of the pass): the pass after it, which follows at
// once, reads them afresh.
constinit cpu::MsrValue g_kept[kRows] = {};

void cpu_pass(AppState& state) {
  CpuPageState& page = state.cpu;
  if (page.cpu >= cpu::processor_count()) page.cpu = cpu::this_processor();
  con::poll_key(&state.key);
  const bool row_move = state.key.scan == kScanUp || state.key.scan == kScanDown;
  Write write;
  act_on_key(state, &write);
  if (!page.identified) {
    page.identity = cpu::identify(page.cpu);
    page.identified = true;
    page.microcode_due = true;
  }
  if (!row_move || !page.kept || page.microcode_due) {
    cpu::Batch batch;
    const cpu::MicrocodeSteps microcode =
        page.microcode_due ? cpu::queue_microcode(batch, page.identity) : cpu::MicrocodeSteps{};
    const int written = write.due ? batch.write(write.index, write.value) : -1;
    const int first = batch.read(page.base);
    for (int row = 1; row < kRows; ++row) batch.read(index_of(page, row));
    batch.run(page.cpu);
    if (page.microcode_due) cpu::finish_microcode(batch, microcode, &page.identity);
    page.microcode_due = write.due && write.index == kMicrocodeTrigger;
    if (written >= 0) page.refused = batch.result(written).status == plat::MsrStatus::kRefused;
    for (int row = 0; row < kRows; ++row) g_kept[row] = batch.result(first + row);
    page.kept = true;
  }

  draw_header(page);
  for (int row = 0; row < kRows; ++row) draw_row(page, row, g_kept[row]);
  draw_message(page, g_kept[0]);
  con::set_attr(kAttrWhite);
  con::set_cursor(col_before_ruler64(13), 19);  // "0xNNNNNNNN ->"
  con::print(u"0x%08X ->", index_of(page, page.row));
  draw_ruler64(g_kept[page.row].value);
  draw_footer(false);
}

}  // namespace kvq
