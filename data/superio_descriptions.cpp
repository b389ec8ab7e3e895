#include "data/superio_descriptions.h"

namespace kvq::data {
namespace {

constexpr RegisterDescription kCmosRows[] = {
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x00, .text = u"Seconds"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x01, .text = u"Seconds Alarm"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x02, .text = u"Minutes"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x03, .text = u"Minutes Alarm"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x04, .text = u"Hours"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x05, .text = u"Hours Alarm"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x06, .text = u"Day of Week"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x07, .text = u"Day of Month"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x08, .text = u"Month"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x09, .text = u"Year"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x0A, .text = u"Register A"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x0B, .text = u"Register B"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x0C, .text = u"Register C"},
    {.vid = 0x0070, .did = 0x0071, .space = kSpaceCmos, .reg = 0x0D, .text = u"Register D"},
};
static_assert(sizeof(kCmosRows) / sizeof(kCmosRows[0]) == 14);
static_assert(well_formed(kCmosRows, 0x0070, 0x0071));

}  // namespace

constinit const DescriptionTable kCmosDescriptions = {0x0070, 0x0071, false, kCmosRows, 14};

}  // namespace kvq::data
