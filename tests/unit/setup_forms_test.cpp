// The firmware's forms on the simulated board: the IFR parser over each
// question type, the string package decoder over each block type, the
// conditions, the damaged packages, and the configuration strings kvq
// sends and reads.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "hw/hii_config.h"
#include "hw/hii_ifr.h"
#include "hw/setup.h"
#include "platform/sim/hii_builder.h"
#include "platform/sim/hii_forms.h"
#include "platform/sim/hii_sim.h"
#include "support.h"

namespace kvq {
namespace {

namespace hb = sim::hii_build;
using hb::Ifr;
using hb::Q;
using hb::Strings;

constexpr plat::Guid kGuid = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

// A form set with a buffer store (ID 1, 64 bytes) and one form around the
// opcodes `body` adds.
hb::Bytes formset_list(const std::function<void(Ifr&)>& body, const Strings& strings = Strings("en-US").ucs2(u"x")) {
  Ifr ifr;
  ifr.formset(kGuid, 1, 0).varstore(kGuid, 1, 64, "Store").form(1, 1);
  body(ifr);
  ifr.end().end();
  return hb::package_list(kGuid, {hb::forms_package(ifr), strings.package()});
}

class FormsTest : public test::BoardTest {
 protected:
  void TearDown() override {
    model.release();
    EXPECT_EQ(board.pool_in_use, 0);
    test::BoardTest::TearDown();
  }
  void parse(const hb::Bytes& list) {
    bytes = list;
    hii::add_list(model, plat::HiiPackageList{1, bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, 0});
  }
  std::string text(uint16_t id) {
    char16_t out[128];
    hii::text(model, 0, id, out, 128);
    return test::narrow(out);
  }
  std::string problem() { return test::narrow(model.lists[0].problem); }

  hb::Bytes bytes;
  hii::Model model;
};

TEST_F(FormsTest, EachQuestionTypeGivesItsStorageRangeOptionsAndDefault) {
  struct Case {
    const char* name;
    std::function<void(Ifr&)> body;
    hii::Kind kind;
    uint16_t offset, width;
    uint64_t min, max, step;
    uint8_t flags;
    int options;
    bool has_default;
    uint64_t default_value;
  };
  const Case kCases[] = {
      {"one-of, 16 bits, its default option",
       [](Ifr& f) { f.one_of(Q{1, 0, 1, 1, 4, 0x04}, 2, 0, 2, 0).option(1, 0, 1, 0).option(1, 0x10, 1, 2).end(); },
       hii::Kind::kOneOf, 4, 2, 0, 2, 0, 0x04, 2, true, 2},
      {"checkbox on by default", [](Ifr& f) { f.checkbox(Q{1, 0, 1, 1, 9, 0x10}, 0x01).end(); }, hii::Kind::kCheckBox,
       9, 1, 0, 1, 0, 0x10, 0, true, 1},
      {"numeric, 32 bits, a default opcode",
       [](Ifr& f) { f.numeric(Q{1, 0, 1, 1, 8, 0x01}, 4, 0x20, 5, 0x1000, 5).default_value(0, 2, 0x40).end(); },
       hii::Kind::kNumeric, 8, 4, 5, 0x1000, 5, 0x01, 0, true, 0x40},
      {"numeric, 64 bits, a manufacturing default only",
       [](Ifr& f) { f.numeric(Q{1, 0, 1, 1, 16, 0}, 8, 0, 0, ~0ull, 1).default_value(1, 3, 7).end(); },
       hii::Kind::kNumeric, 16, 8, 0, ~0ull, 1, 0, 0, false, 0},
      {"string of 16 characters", [](Ifr& f) { f.string(Q{1, 0, 1, 1, 0, 0x01}, 1, 16).end(); }, hii::Kind::kString,
       0, 32, 1, 16, 0, 0x01, 0, false, 0},
      {"ordered list of 4 words", [](Ifr& f) { f.ordered_list(Q{1, 0, 1, 1, 40, 0}, 4).option(1, 0, 1, 1).end(); },
       hii::Kind::kOrderedList, 40, 8, 0, 4, 0, 0, 1, false, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    parse(formset_list(c.body));
    ASSERT_EQ(model.questions.size(), 1u);
    const hii::Question& q = model.questions[0];
    EXPECT_EQ(q.kind, c.kind);
    EXPECT_EQ(q.store, 0);
    EXPECT_EQ(q.offset, c.offset);
    EXPECT_EQ(q.width, c.width);
    EXPECT_EQ(q.min, c.min);
    EXPECT_EQ(q.max, c.max);
    EXPECT_EQ(q.step, c.step);
    EXPECT_EQ(q.flags, c.flags);
    EXPECT_EQ(q.option_count, c.options);
    EXPECT_EQ(q.has_default, c.has_default);
    if (c.has_default) {
      EXPECT_EQ(q.default_value, c.default_value);
    }
    EXPECT_EQ(problem(), "");
    model.release();
  }
}

TEST_F(FormsTest, StringBlocksGiveTextsByIdAndAnUnknownBlockEndsThem) {
  struct Case {
    const char* name;
    Strings strings;
    uint16_t id;
    const char* text;
    const char* problem;
    bool en_us_after = false;  // an en-US package follows it in the list
  };
  const Case kCases[] = {
      {"UCS-2 strings", Strings("en-US").ucs2(u"one").ucs2(u"two").end(), 2, "two", ""},
      {"a string with a font", Strings("en-US").ucs2(u"one").ucs2_font(u"two").end(), 2, "two", ""},
      {"a run", Strings("en-US").run({u"a", u"b", u"c"}).end(), 3, "c", ""},
      {"SKIP1 and SKIP2", Strings("en-US").skip1(2).skip2(300).ucs2(u"late").end(), 303, "late", ""},
      {"a skipped ID has no text", Strings("en-US").skip1(2).ucs2(u"x").end(), 2, "", ""},
      {"DUPLICATE", Strings("en-US").ucs2(u"same").duplicate(1).end(), 2, "same", ""},
      {"EXT1, EXT2 and EXT4 skipped by length",
       Strings("en-US").ext(1, 5).ext(2, 9).ext(4, 12).ucs2(u"after").end(), 1, "after", ""},
      {"SCSU ends the strings",
       Strings("en-US").ucs2(u"kept").raw({0x10, 'a', 0}).ucs2(u"lost").end(), 2, "",
       "string block 10h at 0053h is not decoded: IDs from 2 on are missing"},
      {"an EXT length past the package", Strings("en-US").ucs2(u"kept").raw({0x31, 0x40, 0x00, 0x01}), 2, "",
       "string block 31h at 0053h runs past its package"},
      {"a string without its NUL", Strings("en-US").ucs2(u"kept").raw({0x14, 'a', 0}), 2, "",
       "the string at 0054h runs past its package"},
      {"en-US before the first language", Strings("fr-FR").ucs2(u"un").end(), 1, "one", "", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.en_us_after) {
      parse(hb::package_list(kGuid, {c.strings.package(), Strings("en-us").ucs2(u"one").end().package()}));
    } else {
      parse(hb::package_list(kGuid, {c.strings.package()}));
    }
    EXPECT_EQ(text(c.id), c.text);
    EXPECT_EQ(problem(), c.problem);
    model.release();
  }
}

// A signed numeric shows and takes its values as signed numbers; a VALUE
// of fewer digits than its width is a number with its high bytes zero.
TEST_F(FormsTest, SignedNumericsAndShortValuesReadAsNumbers) {
  parse(formset_list([](Ifr& f) { f.numeric(Q{1, 0, 1, 1, 0, 0}, 2, 0x00, 0xFFF6, 10, 1).end(); }));
  setup::Db db;
  db.model = model;
  const hii::Question& q = model.questions[0];
  struct Case {
    uint64_t value;
    bool allowed;
  };
  for (const Case& c : {Case{0xFFFB, true}, Case{0xFFF5, false}, Case{10, true}, Case{11, false}}) {
    EXPECT_EQ(setup::allows(db, q, c.value), c.allowed) << c.value;
  }
  std::vector<uint8_t> got;
  hii::parse_results(u"GUID=00&NAME=00&PATH=00&OFFSET=0&WIDTH=4&VALUE=5&GUID=00&ALTCFG=0000&OFFSET=0&WIDTH=4&VALUE=7",
                     [](void* ctx, const hii::Element& e) {
                       auto& out = *static_cast<std::vector<uint8_t>*>(ctx);
                       out.resize(out.size() + e.width);
                       hii::decode_value(e.hex, e.digits, out.data() + out.size() - e.width, e.width);
                     },
                     &got);
  EXPECT_EQ(got, (std::vector<uint8_t>{5, 0, 0, 0}));
}

// The values the conditions see: question ID to value; absent is unknown.
using Values = std::map<uint16_t, uint64_t>;

bool value_from(void* ctx, uint32_t, uint16_t id, uint64_t* v) {
  const Values& values = *static_cast<Values*>(ctx);
  const auto it = values.find(id);
  if (it == values.end()) return false;
  *v = it->second;
  return true;
}

TEST_F(FormsTest, ConditionsHideGreyOrLeaveUnknownAndReadAsVfr) {
  struct Case {
    const char* name;
    std::function<void(Ifr&)> conditions;  // opened around the question
    int scopes;
    Values values;
    hii::Shown shown;
    const char* innermost;
  };
  const Case kCases[] = {
      {"suppressif TRUE hides", [](Ifr& f) { f.suppress_if().true_(); }, 1, {}, hii::Shown::kHidden,
       "suppressif TRUE"},
      {"grayoutif ideqval greys when it holds", [](Ifr& f) { f.gray_out_if().eq_id_val(5, 1); }, 1, {{5, 1}},
       hii::Shown::kGreyed, "grayoutif ideqval 0x5 == 0x1"},
      {"... and shows when it does not", [](Ifr& f) { f.gray_out_if().eq_id_val(5, 1); }, 1, {{5, 0}},
       hii::Shown::kShown, "grayoutif ideqval 0x5 == 0x1"},
      {"an opcode kvq does not evaluate is ?", [](Ifr& f) { f.suppress_if().op(0x51, {}).uint8(1).equal(); }, 1, {},
       hii::Shown::kUnknown, "suppressif ? QUESTION_REF3 UINT8 EQUAL"},
      {"a value kvq has not read is ?", [](Ifr& f) { f.disable_if().eq_id_id(5, 6); }, 1, {{5, 1}},
       hii::Shown::kUnknown, "disableif ideqid 0x5 == 0x6"},
      {"OR decides without the unknown side",
       [](Ifr& f) { f.suppress_if().eq_id_val(9, 1).eq_id_val_list(5, {1, 2, 3}).or_(); }, 1, {{5, 2}},
       hii::Shown::kHidden, "suppressif ideqval 0x9 == 0x1 OR ideqvallist 0x5 == 0x1 0x2 0x3"},
      {"an expression in the scope of its first opcode, as compilers write it",
       [](Ifr& f) { f.suppress_if().op(0x12, {5, 0, 1, 0}, true).eq_id_val(6, 1).or_().end(); }, 1, {{5, 0}, {6, 1}},
       hii::Shown::kHidden, "suppressif ideqval 0x5 == 0x1 OR ideqval 0x6 == 0x1"},
      {"NOT, AND and a question reference",
       [](Ifr& f) { f.suppress_if().false_().not_().question_ref(5).uint8(2).equal().and_(); }, 1, {{5, 2}},
       hii::Shown::kHidden, "suppressif NOT FALSE AND (questionref(0x5) == 0x2)"},
      {"nested: a false suppressif inside a true grayoutif",
       [](Ifr& f) { f.gray_out_if().true_().suppress_if().eq_id_val(5, 7); }, 2, {{5, 1}}, hii::Shown::kGreyed,
       "suppressif ideqval 0x5 == 0x7"},
      {"nested: hidden wins over greyed", [](Ifr& f) { f.suppress_if().true_().gray_out_if().true_(); }, 2, {},
       hii::Shown::kHidden, "grayoutif TRUE"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    parse(formset_list([&](Ifr& f) {
      c.conditions(f);
      f.checkbox(Q{1, 0, 1, 1, 0, 0}, 0).end();
      for (int i = 0; i < c.scopes; ++i) f.end();
    }));
    ASSERT_EQ(model.questions.size(), 1u);
    ASSERT_EQ(problem(), "");
    Values values = c.values;
    const hii::Question& q = model.questions[0];
    EXPECT_EQ(hii::outcome(model, q.condition, 0, value_from, &values), c.shown);
    char16_t text[160];
    hii::condition_text(model, model.conditions[static_cast<uint32_t>(q.condition)], text, 160);
    EXPECT_EQ(test::narrow(text), c.innermost);
    model.release();
  }
}

TEST_F(FormsTest, ADamagedPackageKeepsWhatCameBeforeTheFaultAndNamesIt) {
  const auto two_questions = [](Ifr& f) {
    f.checkbox(Q{1, 0, 1, 1, 0, 0}, 0).end();
    f.checkbox(Q{1, 0, 2, 1, 1, 0}, 0).end();
  };
  struct Case {
    const char* name;
    std::function<void(hb::Bytes&)> damage;  // on the whole list
    uint32_t questions;
    const char* problem;
  };
  // The list: header (20), forms package header (4), FORM_SET at 18h (23
  // bytes), VARSTORE at 2Fh (28), FORM at 4Bh (6), CHECKBOX at 51h (14),
  // END at 5Fh, CHECKBOX at 61h, END at 6Fh, END, END.
  const Case kCases[] = {
      {"an opcode's length past its package", [](hb::Bytes& b) { b[0x62] = 0x80 | 0x7F; }, 1,
       "opcode 06h at 0061h runs past its package"},
      {"an unknown opcode", [](hb::Bytes& b) { b[0x61] = 0x77; }, 1, "opcode 77h at 0061h is unknown"},
      {"an END too many",
       [](hb::Bytes& b) {
         for (int at = 0x61; at < 0x6F; at += 2) b[at] = 0x29, b[at + 1] = 2;
       },
       1, "END at 0065h closes no scope"},
      {"a scope left open", [](hb::Bytes& b) { b[0x6F] = 0x0B; }, 2,
       "1 scopes are left open at the end of the forms"},
      {"a package past its list", [](hb::Bytes& b) { b[20] = 0xFF; b[21] = 0x7F; }, 0,
       "the package at 0014h runs past its list"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    hb::Bytes list = formset_list(two_questions);
    c.damage(list);
    parse(list);
    EXPECT_EQ(model.questions.size(), c.questions);
    EXPECT_EQ(problem(), c.problem);
    model.release();
  }
}

}  // namespace
}  // namespace kvq

namespace kvq {
namespace {

using SetupCommandTest = test::CommandTest;

// The store's bytes, as the board's routing holds them.
std::vector<uint8_t>& store_bytes(const char16_t* name) {
  for (sim::SimStore& s : sim::board().hii->stores) {
    if (s.name == name) return s.bytes;
  }
  throw std::runtime_error("no such store");
}

TEST_F(SetupCommandTest, ReadsEachStoreInOneRequestAndTakesNoDefaultFromTheResults) {
  setup::Db db;
  ASSERT_TRUE(setup::load(db));
  setup::read_values(db);
  // OVMF's platform driver refuses its form's store name, then answers to
  // its variable's.
  ASSERT_EQ(board.hii->requests.size(), 4u);
  const std::string blocks = "&PATH=01041400dfc5dcd907405e4390988970935504b27fff0400&OFFSET=0000&WIDTH=0020&OFFSET=0020&WIDTH=0004";
  EXPECT_EQ(test::narrow(board.hii->requests[0]),
            "GUID=1cc53572800cab4c87ac3b084a6304b1&NAME=004d00610069006e0046006f0072006d00530074006100740065" + blocks);
  EXPECT_EQ(test::narrow(board.hii->requests[1]),
            "GUID=1cc53572800cab4c87ac3b084a6304b1&NAME=0050006c006100740066006f0072006d0043006f006e006600690067" + blocks);
  // The results end with the defaults (ALTCFG), whose byte at offset 0 is
  // EEh: the string keeps its current text.
  char16_t text[64];
  setup::value_text(db, db.model.questions[0], text, 64);
  EXPECT_EQ(test::narrow(text), "1280x800");
  uint64_t v = 0;
  EXPECT_TRUE(setup::value(db, db.model.questions[1], &v));
  EXPECT_EQ(v, 3u);
  db.release();
  EXPECT_EQ(board.pool_in_use, 0);
}

TEST_F(SetupCommandTest, AStoreTheDriverRefusesWholeIsReadOneQuestionAtATime) {
  store_bytes(u"Setup").resize(5);  // the boot delay at 6 now lies beyond it
  ASSERT_EQ(run("dump setup"), cli::Status::kOk);
  EXPECT_EQ(board.hii->requests.size(), 4u + 5u);
  EXPECT_NE(out().find("Value 0x3C = \"60\""), std::string::npos);
  EXPECT_NE(out().find("Value ? (the firmware did not give it: EFI_INVALID_PARAMETER)"), std::string::npos);
}

TEST_F(SetupCommandTest, DumpNamesDamagedPackagesAndEndsWithACount) {
  hb::Bytes broken = board.hii->lists[0].data;
  broken[0x18] = 0x77;  // the form set's opcode
  board.hii->lists.push_back({broken, {}});
  ASSERT_EQ(run("dump setup"), cli::Status::kOk);
  const char* kLines[] = {
      "  Problem: Package list D9DCC5DF-4007-435E-9098-8970935504B2: opcode 77h at 0018h is unknown\r\n",
      "        Option 0x3 = \"1280x800\" default\r\n        Value 0x3 = \"1280x800\"\r\n",
      "size 0x24 (its driver answers to \"PlatformConfig\")\r\n",
      "        suppressif TRUE\r\n        Shown hidden\r\n",
      "        grayoutif ideqval 0x100 == 0x0\r\n        Shown greyed\r\n",
      "Store name/value 4B7A0C1E-2F3D-4E5A-9B61-7C8D9EAF1021 element \"SscLevel\" width 2\r\n"
      "        Min 0x0 Max 0x3 Step 0x1 decimal\r\n        Value 0x2 = \"2\"\r\n",
      "3 package lists, 2510 bytes, 2 form sets, 8 questions\r\n",
  };
  for (const char* line : kLines) EXPECT_NE(out().find(line), std::string::npos) << line;
  EXPECT_EQ(err(), "kvq: Package list D9DCC5DF-4007-435E-9098-8970935504B2: opcode 77h at 0018h is unknown\r\n");
  board.hii->no_database = true;
  EXPECT_EQ(run("dump setup"), cli::Status::kUnsupported);
}

}  // namespace
}  // namespace kvq
