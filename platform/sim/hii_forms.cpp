#include "platform/sim/hii_forms.h"

#include "platform/sim/hii_builder.h"
#include "platform/sim/hii_sim.h"

namespace kvq::sim {
namespace {

using hii_build::Ifr;
using hii_build::Q;
using hii_build::Strings;

// PlatformDxe's FILE_GUID: its vendor device path names the driver handle.
constexpr plat::Guid kPlatformDxe = {0xD9DCC5DF, 0x4007, 0x435E, {0x90, 0x98, 0x89, 0x70, 0x93, 0x55, 0x04, 0xB2}};
constexpr plat::Guid kBoardDriver = {0x1C2D3E4F, 0x5A6B, 0x4C7D, {0x8E, 0x9F, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}};
constexpr uint32_t kNvBsRt = 0x7;

void add_ovmf_platform(HiiModel& m) {
  // Strings: 1 title, 2 help, 3 form, 4/5 the current resolution, 6/7 the
  // next one, 8 to 11 the modes the GOP offers.
  const Strings strings = Strings("en-US")
                              .ucs2(u"OVMF Platform Configuration")
                              .ucs2(u"Change various OVMF platform settings.")
                              .ucs2(u"OVMF Settings")
                              .ucs2(u"Preferred Resolution at Next Boot")
                              .ucs2(u"The preferred resolution of the Graphics Console at next boot.")
                              .ucs2(u"Change Preferred Resolution for Next Boot")
                              .ucs2(u"You can specify a new preference for the Graphics Console.")
                              .run({u"640x480", u"800x600", u"1024x768", u"1280x800"})
                              .end();
  Ifr ifr;
  ifr.formset(kOvmfPlatformFormSet, 1, 2)
      .varstore(kOvmfPlatformFormSet, 1, 0x24, "MainFormState")
      .form(1, 3)
      .string(Q{4, 5, 0x1000, 1, 0, 0x01}, 0, 16)
      .end()
      .one_of(Q{6, 7, 0x1001, 1, kResolutionOffset, 0x04}, 4, 0, 3, 0)
      .option(8, 0, 2, 0)
      .option(9, 0, 2, 1)
      .option(10, 0, 2, 2)
      .option(11, 0x10, 2, 3)
      .end()
      .end()
      .end();
  const hii_build::Bytes path = hii_build::vendor_path(kPlatformDxe);
  m.lists.push_back({hii_build::package_list(kPlatformDxe, {hii_build::forms_package(ifr), strings.package()}), path});
  // As Debian's OVMF (edk2 2022.11), the driver answers to its variable's
  // name, not to the one its form gives the store.
  SimStore s{kOvmfPlatformFormSet, u"PlatformConfig", path, std::vector<uint8_t>(0x24), {}, {}, {}};
  const std::u16string current = u"1280x800";
  for (size_t i = 0; i < current.size(); ++i) s.bytes[2 * i] = static_cast<uint8_t>(current[i]);
  s.bytes[kResolutionOffset] = 3;
  m.stores.push_back(s);
}

void add_board_setup(HiiModel& m) {
  const Strings strings = Strings("en-US")
                              .ucs2(u"Board Setup")                  // 1
                              .ucs2(u"Chipset and processor options")  // 2
                              .ucs2(u"Advanced")                     // 3
                              .ucs2(u"Above 4G Decoding")            // 4
                              .ucs2(u"Lets 64-bit BARs be placed above 4 GiB.")  // 5
                              .run({u"Disabled", u"Enabled"})        // 6, 7
                              .ucs2(u"Debug Port")                   // 8 (hidden)
                              .ucs2(u"PCIe ASPM")                    // 9 (greyed while 4G decoding is off)
                              .ucs2(u"Fan Duty")                     // 10
                              .ucs2(u"Percent, 20 to 100.")          // 11
                              .ucs2(u"Boot Delay")                   // 12 (behind a condition kvq cannot evaluate)
                              .ucs2(u"Spread Spectrum")              // 13 (on a name/value store)
                              .ucs2(u"SscLevel")                     // 14: its value's name
                              .end();
  Ifr ifr;
  ifr.formset(kBoardFormSet, 1, 2)
      .varstore_efi(kBoardFormSet, 1, kNvBsRt, 0x10, "Setup")
      .varstore_name_value(kBoardFormSet, 2)
      .form(1, 3)
      .one_of(Q{4, 5, 0x100, 1, 0, 0x10}, 1, 0, 1, 0)
      .option(6, 0x10, 0, 0)
      .option(7, 0, 0, 1)
      .end()
      .suppress_if()
      .true_()
      .checkbox(Q{8, 0, 0x101, 1, 1, 0}, 0)
      .end()
      .end()
      .gray_out_if()
      .eq_id_val(0x100, 0)
      .checkbox(Q{9, 0, 0x102, 1, 2, 0}, 0x01)
      .end()
      .end()
      .numeric(Q{10, 11, 0x103, 1, 4, 0}, 1, 0x10, 20, 100, 5)
      .default_value(0, 0, 50)
      .end()
      .suppress_if()
      .op(0x51, {})  // QUESTION_REF3: not evaluated
      .uint8(1)
      .equal()
      .numeric(Q{12, 0, 0x104, 1, 6, 0}, 2, 0x20, 0, 0xFFFF, 1)
      .end()
      .end()
      .numeric(Q{13, 0, 0x105, 2, 14, 0}, 2, 0x10, 0, 3, 1)
      .end()
      .end()
      .end();
  const hii_build::Bytes path = hii_build::vendor_path(kBoardDriver);
  m.lists.push_back({hii_build::package_list(kBoardDriver, {hii_build::forms_package(ifr), strings.package()}), path});
  SimStore s{kBoardFormSet, u"Setup", path, std::vector<uint8_t>(0x10), {}, {}, {}};
  s.bytes[0] = 0;   // 4G decoding off: ASPM greyed
  s.bytes[1] = 1;   // debug port on
  s.bytes[2] = 1;
  s.bytes[4] = 60;  // fan duty
  s.bytes[6] = 3;   // boot delay
  m.stores.push_back(s);
  m.stores.push_back(SimStore{kBoardFormSet, u"", path, {}, {{u"SscLevel", {0x02, 0x00}}}, {}, {}});
}

}  // namespace

void add_setup_forms(Board& board) {
  if (board.hii == nullptr) board.hii = std::make_shared<HiiModel>();
  add_ovmf_platform(*board.hii);
  add_board_setup(*board.hii);
}

}  // namespace kvq::sim
