// UEFI variables on the simulated firmware's store: the walk, the
// Variables page's rows, filter and writes, the undo file and `undo`, and
// the variable commands.
#include <functional>
#include <string>

#include "hw/variables.h"
#include "platform/sim/hii_sim.h"
#include "platform/sim/q35.h"
#include "platform/text_out.h"
#include "support.h"

namespace kvq {
namespace {

using sim::kGlobalVariableGuid;
using test::row_text;

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<uint8_t> data_of(const sim::Board& b, const char* name) {
  const sim::SimVariable* v = b.variables.find(wide(name), kGlobalVariableGuid);
  return v != nullptr ? v->data : std::vector<uint8_t>{};
}

std::string undo_file(sim::Board& b) { return b.files_beside_image[u"kvq-undo.txt"]; }

// The walk of every store shape: as many names as the firmware has, each
// once, however long; a firmware that walks in a circle stops it.
TEST(VariableWalkTest, ListsEveryNameOnceAndStopsAtARepeat) {
  const struct {
    const char* what;
    std::function<void(sim::VariableStore&)> shape;
    int count;
    vars::WalkEnd end;
  } kCases[] = {
      {"OVMF's store", [](sim::VariableStore&) {}, 18, vars::WalkEnd::kComplete},
      {"no variables", [](sim::VariableStore& s) { s.variables.clear(); }, 0, vars::WalkEnd::kComplete},
      {"a circle after 5", [](sim::VariableStore& s) { s.circle_after = 5; }, 5, vars::WalkEnd::kRepeated},
      {"attributes only with the data", [](sim::VariableStore& s) { s.attributes_only_on_success = true; }, 18,
       vars::WalkEnd::kComplete},
  };
  for (const auto& c : kCases) {
    sim::Board board;
    sim::set_board(&board);
    sim::build_q35(board);
    c.shape(board.variables);
    vars::VariableList list;
    vars::walk(&list);
    EXPECT_EQ(list.count, c.count) << c.what;
    EXPECT_EQ(list.end, c.end) << c.what;
    for (int i = 0; i < list.count; ++i) {
      const sim::SimVariable& v = board.variables.variables[static_cast<size_t>(i)];
      EXPECT_EQ(std::u16string(list.name(i)), v.name) << c.what;
      const vars::Info info = vars::info(list.name(i), list.guid(i));
      EXPECT_EQ(info.attributes, v.attributes) << c.what << " " << test::narrow(v.name);
      EXPECT_EQ(info.size, v.data.size()) << c.what;
    }
    vars::release(&list);
    EXPECT_EQ(board.pool_in_use, 0) << c.what;
    sim::set_board(nullptr);
  }
}

class VariablesPageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
  }
  void list() {
    start();
    state.page = PageId::kVariables;
    con::clear_screen();
    pass();
  }
  void keys(const std::string& text) {
    for (char c : text) console().push_char(static_cast<char16_t>(c));
  }
  void filter(const std::string& text) {
    console().push_char(u'/');
    keys(text);
    console().push_char(kCharEnter);
    pass();
  }
  // Opens the variable `name`, in `width`.
  void open(const std::string& name, int width = kByte) {
    list();
    filter(name);
    for (int i = 0; i < 20 && row_text(21).find(":" + name + "'") == std::string::npos; ++i) pass_scan(kScanDown);
    state.width = width;
    pass_char(kCharEnter);
    pass();
    board.variables.sets.clear();
  }
  // Value entry in the cell `cells` to the right of the first.
  void enter(int cells, const std::string& digits) {
    for (int i = 0; i < cells; ++i) pass_scan(kScanRight);
    console().push_char(kCharEnter);
    keys(digits);
    pass();
    pass();
  }
  cli::Status command(const std::string& line) {
    text::set_sink([](text::Stream s, const char16_t* t) { (s == text::Stream::kErr ? test::g_cli_err : test::g_cli_out) += t; });
    test::g_cli_out.clear();
    test::g_cli_err.clear();
    std::vector<std::u16string> words;
    for (size_t at = 0, end = 0; at < line.size(); at = end + 1) {
      end = line.find(' ', at);
      end = end == std::string::npos ? line.size() : end;
      words.push_back(wide(line.substr(at, end - at)));
    }
    std::vector<const char16_t*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());
    return cli::run(static_cast<int>(argv.size()), argv.data());
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (int r = 1; r <= 20 && !row_text(r).empty(); ++r) out.push_back(row_text(r).substr(0, row_text(r).find(' ')));
    return out;
  }
};

TEST_F(VariablesPageTest, RowsAndTheFilter) {
  list();
  EXPECT_EQ(row_text(4), "PlatformLangCodes        EFIGlobalVariable                    RT+BS         0x12");
  EXPECT_EQ(row_text(8), "certdb                   D9BEE56E-75DC-49D9-B4D7-B534210F637A NV+RT+BS+AT    0x4");
  EXPECT_EQ(row_text(18), "KvqVariableWhoseNameIsL> 12345678-1234-1234-1234-123456789ABC NV+RT+BS       0x4");
  EXPECT_EQ(row_text(21), "Variable RT+BS 'EFIGlobalVariable:SetupMode' DataSize = 0x01");
  const struct {
    const char* typed;
    std::vector<std::string> names;
  } kCases[] = {
      {"boot", {"SecureBoot", "BootCurrent", "Boot0000", "BootOrder"}},  // any case, anywhere in the name
      {"LANG", {"PlatformLangCodes", "PlatformLang", "Lang"}},
      {"zz", {}},
  };
  for (const auto& c : kCases) {
    filter(c.typed);
    EXPECT_EQ(names(), c.names) << c.typed;
    EXPECT_EQ(row_text(22).substr(60), "VARIABLE : " + std::string(c.names.empty() ? "0000" : "0001") + "/000" +
                                           std::to_string(c.names.size()))
        << c.typed;
  }
  console().push_char(u'/');
  console().push_scan(kScanEsc);  // clears the filter
  pass();
  EXPECT_EQ(names().size(), 18u);
}

// Each width, a refused write, a full store and an authenticated variable:
// the typed bytes and nothing else, in one SetVariable with the same
// attributes and size.
TEST_F(VariablesPageTest, ValueEntryWritesOnlyTheTypedBytes) {
  const struct {
    const char* name;
    int width;
    int cell;
    const char* typed;
    std::vector<uint8_t> after;
    const char* message;
    size_t capacity = 64 * 1024;
  } kCases[] = {
      {"Timeout", kByte, 1, "05", {0x00, 0x05}, "SetVariable: EFI_SUCCESS; offset 1 reads back 05"},
      {"BootOrder", kWord, 1, "0302", {0, 0, 2, 3, 2, 0, 3, 0}, "SetVariable: EFI_SUCCESS; offset 2 reads back 0302"},
      {"MTC", kDword, 0, "DEADBEEF", {0xEF, 0xBE, 0xAD, 0xDE}, "SetVariable: EFI_SUCCESS; offset 0 reads back DEADBEEF"},
      {"PlatformLangCodes", kByte, 0, "00", {}, "SetVariable refused: EFI_WRITE_PROTECTED; the variable is as it was."},
      {"Lang", kByte, 0, "45", {}, "SetVariable refused: EFI_OUT_OF_RESOURCES; the variable is as it was.", 900},
      {"certdb", kByte, 0, "00", {}, "An authenticated variable (AT or AW): read-only."},
  };
  for (const auto& c : kCases) {
    board.variables.nv_capacity = c.capacity;
    open(c.name, c.width);
    const sim::SimVariable* v = nullptr;
    for (const sim::SimVariable& s : board.variables.variables) v = s.name == wide(c.name) ? &s : v;
    ASSERT_NE(v, nullptr) << c.name;
    const std::vector<uint8_t> old = v->data;
    const uint32_t attributes = v->attributes;
    enter(c.cell, c.typed);
    EXPECT_EQ(row_text(18), c.message) << c.name;
    EXPECT_EQ(v->data, c.after.empty() ? old : c.after) << c.name;
    const bool at = (attributes & plat::kVarTimeAuthenticatedWrite) != 0;
    ASSERT_EQ(board.variables.sets.size(), at ? 0u : 1u) << c.name;
    if (!at) {
      EXPECT_EQ(board.variables.sets[0].attributes, attributes) << c.name;
      EXPECT_EQ(board.variables.sets[0].data.size(), old.size()) << c.name;
    }
  }
}

// PageUp and PageDown step 256 bytes within the variable, p types the
// offset; a title too long for the screen keeps the attributes and size.
TEST_F(VariablesPageTest, LargerVariablesStepBy256AndLongTitlesKeepTheSize) {
  open("Attempt 1");  // 0x419 bytes
  for (int i = 0; i < 5; ++i) pass_scan(kScanPageDown);
  EXPECT_EQ(state.vars.base, 0x400u);
  EXPECT_EQ(row_text(3).substr(0, 33), "10 70 77 7E 85 8C 93 9A A1 A8 -- ");
  pass_scan(kScanPageUp);
  EXPECT_EQ(state.vars.base, 0x300u);
  console().push_char(u'p');
  keys("1C");
  console().push_char(kCharEnter);
  pass();
  pass();
  EXPECT_EQ(row_text(19).substr(19, 13), "0x0000001C ->");
  open("KvqVariableWhose");
  EXPECT_EQ(row_text(0), "NV+RT+BS 0x04 bytes '12345678-1234-1234-1234-123456789ABC:KvqVariableWhoseNameI>");
}

// The undo file holds each run's first change to a variable, names
// escaped; undo puts every record back, newest first.
TEST_F(VariablesPageTest, UndoFileHoldsEachRunsFirstChangeAndUndoPutsThemBack) {
  const std::vector<uint8_t> alias = board.variables.variables[6].data;  // "cd\": a backslash in its name
  open("Timeout");
  enter(0, "05");
  enter(0, "06");
  const std::string first = "var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000002 Timeout\r\n  0000\r\n";
  EXPECT_EQ(undo_file(board), first);
  open("cd");
  enter(0, "41");
  open("Timeout");  // a new run
  enter(1, "07");
  EXPECT_EQ(undo_file(board), first +
                                  "var 0053D9D6-2659-4599-A26B-EF4536E631A9 00000002 00000000 0000000A cd\\\\\r\n"
                                  "  630064002000" "5C000000\r\n"
                                  "var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000002 Timeout\r\n"
                                  "  0600\r\n");
  EXPECT_EQ(command("undo"), cli::Status::kOk);
  EXPECT_EQ(data_of(board, "Timeout"), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(board.variables.variables[6].data, alias);
  EXPECT_EQ(test::narrow(test::g_cli_out),
            "EFIGlobalVariable:Timeout NV+RT+BS 0x02 bytes: put back\r\n"
            "0053D9D6-2659-4599-A26B-EF4536E631A9:cd\\ BS 0x0A bytes: put back\r\n"
            "EFIGlobalVariable:Timeout NV+RT+BS 0x02 bytes: put back\r\n");
}

// Where the undo file cannot be written, the page writes only after y, and
// the command line not at all.
TEST_F(VariablesPageTest, WithoutTheUndoFileAWriteWaitsForY) {
  board.file_append_status = plat::kEfiWriteProtected;
  for (const char16_t answer : {u'n', u'y'}) {
    open("Timeout");
    console().push_char(kCharEnter);
    keys("05");
    console().push_char(answer);
    pass();
    pass();
    EXPECT_EQ(data_of(board, "Timeout"), (std::vector<uint8_t>{static_cast<uint8_t>(answer == u'y' ? 5 : 0), 0}));
  }
  EXPECT_EQ(command("write var Timeout EFIGlobalVariable 0 9"), cli::Status::kUnsupported);
  EXPECT_EQ(test::narrow(test::g_cli_err), "kvq: kvq-undo.txt cannot be written (EFI_WRITE_PROTECTED): nothing was written\r\n");
  EXPECT_EQ(data_of(board, "Timeout"), (std::vector<uint8_t>{5, 0}));
}

// A record cut short and a line no record starts with: each reported, the
// others put back (without a write where the variable holds the recorded
// bytes already; a Setup question's through the configuration routing).
TEST_F(VariablesPageTest, UndoReportsWhatItCannotPutBack) {
  start();
  board.files_beside_image[u"old.txt"] =
      "var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000002 Timeout\r\n  0909\r\n"
      "var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000004 Lang\r\n  656E6700\r\n"
      "var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000007 00000000 00000004 Lang\r\n  6565\r\n"
      "setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 00000000 00000020 00000004 MainFormState\r\n  01000000\r\n"
      "frob\r\n";
  EXPECT_EQ(command("undo old.txt"), cli::Status::kUnsupported);
  EXPECT_EQ(test::narrow(test::g_cli_out), "setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 MainFormState at 20: put back\r\n"
                                           "EFIGlobalVariable:Lang NV+RT+BS 0x04 bytes: already as recorded\r\n"
                                           "EFIGlobalVariable:Timeout NV+RT+BS 0x02 bytes: put back\r\n");
  EXPECT_EQ(test::narrow(test::g_cli_err),
            "kvq: record 5: not a record kvq wrote\r\n"
            "kvq: record 3 (Lang): its bytes are cut short\r\n");
  EXPECT_EQ(test::narrow(board.hii->responses.at(0)).substr(0, 37), "GUID=1cc53572800cab4c87ac3b084a6304b1");
  EXPECT_EQ(board.hii->stores[0].bytes[0x20], 1);
  EXPECT_EQ(board.variables.sets.size(), 1u);
  EXPECT_EQ(data_of(board, "Timeout"), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(data_of(board, "Lang"), (std::vector<uint8_t>{'e', 'n', 'g', 0}));
  EXPECT_EQ(command("undo"), cli::Status::kUnsupported);
  EXPECT_EQ(test::narrow(test::g_cli_err), "kvq: kvq-undo.txt cannot be read beside kvq.efi\r\n");
}

using VarCommandsTest = test::CommandTest;

TEST_F(VarCommandsTest, ReadWriteAndDumpInDmpstoresLayout) {
  const struct {
    const char* line;
    cli::Status status;
    const char* out;
    const char* err;
  } kCases[] = {
      {"read var Lang EFIGlobalVariable", cli::Status::kOk,
       "Variable NV+RT+BS 'EFIGlobalVariable:Lang' DataSize = 0x04\r\n"
       "  00000000: 65 6E 67 00                                      *eng.*\r\n", ""},
      {"read var MemoryTypeInformation 4c19049f-4137-4dd3-9c10-8b97a83ffdfa", cli::Status::kOk,
       "Variable NV+BS '4C19049F-4137-4DD3-9C10-8B97A83FFDFA:MemoryTypeInformation' DataSize = 0x30\r\n"
       "  00000000: 0A 00 00 00 80 00 00 00-09 00 00 00 12 00 00 00  *................*\r\n"
       "  00000010: 00 00 00 00 80 00 00 00-05 00 00 00 00 01 00 00  *................*\r\n"
       "  00000020: 06 00 00 00 46 02 00 00-10 00 00 00 00 00 00 00  *....F...........*\r\n", ""},
      {"read var BootOrder efiglobalvariable 2 w", cli::Status::kOk, "0001\r\n", ""},
      {"write var Timeout EFIGlobalVariable 1 2a", cli::Status::kOk, "2A\r\n", ""},
      {"read var Nope EFIGlobalVariable", cli::Status::kUnsupported, "",
       "kvq: EFIGlobalVariable:Nope: GetVariable: EFI_NOT_FOUND\r\n"},
      {"read var Lang EFIGlobalVariable 3 w", cli::Status::kUnsupported, "",
       "kvq: OFFSET 3: 2 bytes there lie outside Lang's 0x4\r\n"},
      {"write var certdb D9BEE56E-75DC-49D9-B4D7-B534210F637A 0 1", cli::Status::kUnsupported, "",
       "kvq: D9BEE56E-75DC-49D9-B4D7-B534210F637A:certdb: authenticated (AT or AW), kvq does not write it: "
       "EFI_SECURITY_VIOLATION\r\n"},
      {"write var PlatformLangCodes EFIGlobalVariable 0 1", cli::Status::kUnsupported, "",
       "kvq: EFIGlobalVariable:PlatformLangCodes: SetVariable refused; the variable is as it was: "
       "EFI_WRITE_PROTECTED\r\n"},
  };
  for (const auto& c : kCases) {
    test::g_cli_out.clear();
    test::g_cli_err.clear();
    EXPECT_EQ(run(c.line), c.status) << c.line;
    EXPECT_EQ(out(), c.out) << c.line;
    EXPECT_EQ(err(), c.err) << c.line;
  }
  test::g_cli_out.clear();
  EXPECT_EQ(run("dump vars"), cli::Status::kOk);
  const std::string dump = out();
  const std::string first = "Variable RT+BS 'EFIGlobalVariable:SetupMode' DataSize = 0x01\r\n"
                            "  00000000: 01                                               *.*\r\n";
  EXPECT_EQ(dump.substr(0, first.size()), first);
  size_t headers = 0;
  for (size_t at = 0; (at = dump.find("\r\nVariable ", at)) != std::string::npos; ++at) ++headers;
  EXPECT_EQ(headers + 1, board.variables.variables.size());
}

}  // namespace
}  // namespace kvq
