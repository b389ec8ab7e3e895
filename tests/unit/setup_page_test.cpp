// The Setup page on the simulated board's forms: its rows and marks, its
// keys, the exact ConfigResp of a change, a refused change, and undo.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/colors.h"
#include "pages/pages.h"
#include "platform/sim/hii_builder.h"
#include "platform/sim/hii_forms.h"
#include "platform/sim/hii_sim.h"
#include "platform/sim/q35.h"
#include "platform/text_out.h"
#include "support.h"

namespace kvq {
namespace {

namespace hb = sim::hii_build;
using test::row_text;

// The ConfigHdr of OVMF's platform store as its driver answers to it, and
// of the board's Setup variable.
const std::string kPlatformHdr =
    "GUID=1cc53572800cab4c87ac3b084a6304b1&NAME=0050006c006100740066006f0072006d0043006f006e006600690067"
    "&PATH=01041400dfc5dcd907405e4390988970935504b27fff0400";
const std::string kSetupHdr =
    "GUID=1e0c7a4b3d2f5a4e9b617c8d9eaf1021&NAME=00530065007400750070&PATH=010414004f3e2d1c6b5a7d4c8e9fa0b1c2d3e4f57fff0400";

constexpr Key kEnter{0, kCharEnter};
constexpr Key kUp{kScanUp, 0};
constexpr Key kEsc{kScanEsc, 0};
constexpr Key ch(char16_t c) { return Key{0, c}; }

class SetupPageTest : public test::KvqTest {
 protected:
  void SetUp() override {
    KvqTest::SetUp();
    sim::build_q35(board);
    stores = board.hii->stores;
  }
  // The page opened afresh on the board as built, on row `row`.
  void open(int row = 0) {
    board.hii->stores = stores;
    board.hii->responses.clear();
    board.files_beside_image.clear();
    start();
    state.page = PageId::kSetup;
    con::clear_screen();
    pass();
    for (int i = 0; i < row; ++i) pass_scan(kScanDown);
  }
  void press(const std::vector<Key>& keys) {
    for (const Key& k : keys) console().push_key(k);
    pass();
  }
  std::string responses() {
    std::string s;
    for (const auto& r : board.hii->responses) s += test::narrow(r) + "\n";
    return s;
  }
  std::vector<sim::SimStore> stores;
};

TEST_F(SetupPageTest, RowsUnderTheirFormSetWithValuesAndMarks) {
  open(2);
  const char* kRows[] = {
      "SETUP: the firmware's forms                 Value                    Marks",
      "[ OVMF Platform Configuration ]",
      "  Preferred Resolution at Next Boot          1280x800                   R",
      "  Change Preferred Resolution for Next Boot  1280x800                     I",
      "[ Board Setup ]",
      "  Above 4G Decoding                          Disabled",
      "  Debug Port                                 [X]                      H",
      "  PCIe ASPM                                  [X]                      G",
      "  Fan Duty                                   60",
      "  Boot Delay                                 0x3                      ?",
      "  Spread Spectrum                            2",
  };
  for (int r = 0; r < 11; ++r) EXPECT_EQ(row_text(r), kRows[r]);
  EXPECT_EQ(test::attr_at(0, 3), kAttrWhiteOnGreen);
  EXPECT_EQ(test::attr_at(2, 6), kAttrGray);  // hidden
  EXPECT_EQ(row_text(18), "MainFormState offset 20 width 4 default 0x3: You can specify a new preference");
  EXPECT_EQ(row_text(22), "                                                                ROW : 0003/0010");
  // `/` leaves the questions whose prompt holds the text, under their title.
  press({ch(u'/'), ch(u'F'), ch(u'A'), ch(u'n'), kEnter});
  EXPECT_EQ(row_text(1), "[ Board Setup ]");
  EXPECT_EQ(row_text(2), "  Fan Duty                                   60");
  EXPECT_EQ(row_text(3), "");
  EXPECT_EQ(row_text(22), "                                                                ROW : 0001/0002");
}

// Each kind of question takes its own entry; only a completed one with a
// value the question allows sends a ConfigResp, for exactly its bytes.
TEST_F(SetupPageTest, EnterChangesOnlyToAValueTheQuestionAllows) {
  struct Case {
    const char* name;
    int row;
    std::vector<Key> keys;
    std::string response;  // "" for none
    const char* row18;
  };
  const Case kCases[] = {
      {"one-of: the option above the current", 2, {kEnter, kUp, kEnter},
       kPlatformHdr + "&OFFSET=0020&WIDTH=0004&VALUE=00000002",
       "RouteConfig: EFI_SUCCESS; it reads back 0x2 (interactive: its form callback did"},
      {"one-of left with Esc", 2, {kEnter, kUp, kEsc}, "", "Nothing was written."},
      {"checkbox: y", 5, {kEnter, ch(u'y')}, kSetupHdr + "&OFFSET=0001&WIDTH=0001&VALUE=00",
       "RouteConfig: EFI_SUCCESS; it reads back 0x0"},
      {"checkbox: another key", 5, {kEnter, ch(u'n')}, "", "Nothing was written."},
      {"numeric within its range", 7, {kEnter, ch(u'4'), ch(u'5'), kEnter},
       kSetupHdr + "&OFFSET=0004&WIDTH=0001&VALUE=2d", "RouteConfig: EFI_SUCCESS; it reads back 0x2D"},
      {"numeric past its maximum", 7, {kEnter, ch(u'2'), ch(u'0'), ch(u'0'), kEnter}, "",
       "0xC8 lies outside 0x14..0x64: nothing was written."},
      {"hex numeric, a word", 8, {kEnter, ch(u'b'), ch(u'E'), ch(u'e'), ch(u'F'), kEnter},
       kSetupHdr + "&OFFSET=0006&WIDTH=0002&VALUE=beef", "RouteConfig: EFI_SUCCESS; it reads back 0xBEEF"},
      {"read-only string", 1, {kEnter}, "", "A read-only question: nothing is written to it."},
      {"name/value store", 9, {kEnter}, "",
       "kvq changes one-of, checkbox and numeric questions of buffer and EFI stores"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    open(c.row);
    press(c.keys);
    EXPECT_EQ(responses(), c.response.empty() ? "" : c.response + "\n");
    EXPECT_EQ(row_text(18), c.row18);
  }
}

// A refused RouteConfig names its status and where the driver stopped; the
// undo file holds the old bytes all the same, and `undo` puts back what a
// change wrote, through the routing again.
TEST_F(SetupPageTest, ARefusedChangeSaysWhyAndUndoPutsBackAChange) {
  open(7);
  board.hii->stores[1].refuse_writes = plat::kEfiWriteProtected;
  press({kEnter, ch(u'2'), ch(u'0'), kEnter});
  EXPECT_EQ(row_text(18), "RouteConfig refused: EFI_WRITE_PROTECTED at character 118 of the ConfigResp; it");
  EXPECT_EQ(row_text(19), "reads back 0x3C");
  EXPECT_EQ(board.hii->stores[1].bytes[4], 60);

  open(2);
  press({kEnter, kUp, kUp, kEnter});
  EXPECT_EQ(board.hii->stores[0].bytes[0x20], 1);
  EXPECT_EQ(board.files_beside_image[u"kvq-undo.txt"],
            "setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 00000000 00000020 00000004 MainFormState\r\n  03000000\r\n");
  board.hii->responses.clear();
  test::g_cli_out.clear();
  text::set_sink([](text::Stream s, const char16_t* t) { (s == text::Stream::kErr ? test::g_cli_err : test::g_cli_out) += t; });
  const char16_t* argv[] = {u"undo"};
  EXPECT_EQ(cli::run(1, argv), cli::Status::kOk);
  EXPECT_EQ(responses(), kPlatformHdr + "&OFFSET=0020&WIDTH=0004&VALUE=00000003\n");
  EXPECT_EQ(board.hii->stores[0].bytes[0x20], 3);
}

// Where the undo file cannot be written, a change waits for y; a damaged
// package list is named on row 18 when the page opens.
TEST_F(SetupPageTest, WithoutTheUndoFileAChangeWaitsForYAndADamagedListIsNamed) {
  for (const char16_t answer : {u'n', u'y'}) {
    open(7);
    board.file_append_status = plat::kEfiWriteProtected;
    press({kEnter, ch(u'2'), ch(u'1'), kEnter, ch(answer)});
    EXPECT_EQ(board.hii->stores[1].bytes[4], answer == u'y' ? 21 : 60);
    board.file_append_status = plat::kEfiSuccess;
  }
  hb::Bytes broken = board.hii->lists[1].data;
  broken[0x18] = 0x77;
  board.hii->lists.push_back({broken, {}});
  open();
  EXPECT_EQ(row_text(18) + " " + row_text(19),
            "Package list 1C2D3E4F-5A6B-4C7D-8E9F-A0B1C2D3E4F5: opcode 77h at 0018h is unknown");
}

using SetupCommandLineTest = test::CommandTest;

TEST_F(SetupCommandLineTest, WriteSetupTakesTheQuestionByFormSetStoreAndOffset) {
  struct Case {
    const char* line;
    cli::Status status;
    const char* out;
    const char* err;
  };
  const Case kCases[] = {
      {"write setup 4B7A0C1E-2F3D-4E5A-9B61-7C8D9EAF1021 Setup 4 50", cli::Status::kOk, "50\r\n", ""},
      {"write setup 4B7A0C1E-2F3D-4E5A-9B61-7C8D9EAF1021 Setup 4 65", cli::Status::kBadArgument, "",
       "kvq: VALUE 65 is not one the question allows (0x14..0x64): nothing was written\r\n"},
      {"write setup 4B7A0C1E-2F3D-4E5A-9B61-7C8D9EAF1021 Setup 6 12", cli::Status::kBadArgument, "",
       "kvq: the question at offset 6 of Setup takes 2 bytes: give w\r\n"},
      {"write setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 MainFormState 20 4 d", cli::Status::kBadArgument, "",
       "kvq: VALUE 4 is not one the question allows (0x0 0x1 0x2 0x3): nothing was written\r\n"},
      {"write setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 MainFormState 0 1 d", cli::Status::kBadArgument, "",
       "kvq: the question at offset 0 of MainFormState takes 32 bytes, which kvq does not write\r\n"},
      {"write setup 7235C51C-0C80-4CAB-87AC-3B084A6304B1 Setup 20 1", cli::Status::kBadArgument, "",
       "kvq: no question of form set 7235C51C-0C80-4CAB-87AC-3B084A6304B1 stores in Setup at offset 20\r\n"},
  };
  for (const Case& c : kCases) {
    test::g_cli_out.clear();
    test::g_cli_err.clear();
    board.hii->responses.clear();
    EXPECT_EQ(run(c.line), c.status) << c.line;
    EXPECT_EQ(out(), c.out) << c.line;
    EXPECT_EQ(err(), c.err) << c.line;
    EXPECT_EQ(board.hii->responses.size(), c.status == cli::Status::kOk ? 1u : 0u) << c.line;
  }
  EXPECT_EQ(board.hii->stores[1].bytes[4], 0x50);
}

}  // namespace
}  // namespace kvq
