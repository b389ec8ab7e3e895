// Checks over the generated PCI name tables and the list-screen fitting rule.

#include "data/pci_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kvq::pci_names {
namespace {

constexpr uint32_t key_of(uint16_t vendor, uint16_t device) {
  return static_cast<uint32_t>(device) << 16 | vendor;
}
constexpr uint16_t vendor_of(uint32_t key) { return static_cast<uint16_t>(key & 0xFFFF); }
constexpr uint16_t device_of(uint32_t key) { return static_cast<uint16_t>(key >> 16); }

// Searches the groups in order, as the application does.
const char* lookup(uint32_t key) {
  for (const NameGroup& group : kGroups) {
    if (const char* name = find(group, key)) return name;
  }
  return nullptr;
}

std::string list_name(const char* plain) {
  char out[kListNameWidth + 1];
  std::memset(out, '#', sizeof out);
  fit_list_name(plain, out);
  return std::string(out, sizeof out);
}

// Independent statement of the fitting rule, used to check every table name.
std::string expected_list_name(const std::string& plain) {
  std::string s;
  if (plain.size() > static_cast<size_t>(kListNameWidth)) {
    s = plain.substr(0, kListNameWidth);
  } else {
    s = plain;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    s.resize(kListNameWidth, ' ');
  }
  return s + '\0';
}

struct GroupShape {
  std::vector<std::pair<uint16_t, std::string>> vendors;  // order and prefix
};

const GroupShape kShapes[kGroupCount] = {
    {{{0x8086, "Intel"}, {0x10EC, "Realtek"}}},
    {{{0x1002, "AMD"}}},
    {{{0x10DE, "Nvidia"}}},
};

// ---------------------------------------------------------------------------
// Names that users and the other screens rely on.

struct Telling {
  uint16_t vendor;
  uint16_t device;
  int group;
  const char* name;
};

const Telling kTelling[] = {
    {0x8086, 0x0007, 0, "Intel 82379AB"},
    {0x8086, 0x0040, 0, "Intel Core Processor DRAM Controller"},
    {0x8086, 0x010B, 0,
     "Intel Xeon E3-1200/2nd Generation Core Processor Family Integrated Graphics Controller"},
    {0x8086, 0x1C22, 0, "Intel 6 Series/C200 Series Chipset Family SMBus Controller"},
    {0x8086, 0x29C0, 0, "Intel 82G33/G31/P35/P31 Express DRAM Controller"},
    {0x10EC, 0x8168, 0, "Realtek RTL8111/8168/8411 PCI Express Gigabit Ethernet Controller"},
    {0x1002, 0x1304, 1, "AMD Kaveri"},
    {0x10DE, 0x0008, 2, "Nvidia NV1 [EDGE 3D]"},
    {0x10DE, 0x1393, 2, "Nvidia GM107M [GeForce 840M]"},
};

TEST(PciNamesTelling, KnownDevicesHaveTheirNamesInTheirGroup) {
  for (const Telling& t : kTelling) {
    SCOPED_TRACE(t.name);
    const uint32_t key = key_of(t.vendor, t.device);
    const char* name = find(kGroups[t.group], key);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, t.name);
    EXPECT_EQ(lookup(key), name);
  }
}

TEST(PciNamesTelling, GroupsStartWhereExpected) {
  EXPECT_EQ(kGroups[0].records[0].key, 0x00078086u);
  EXPECT_EQ(kGroups[1].records[0].key, 0x13041002u);
  EXPECT_EQ(kGroups[2].records[0].key, 0x000810DEu);
}

TEST(PciNamesTelling, RealtekFollowsTheLastIntelRecord) {
  const NameGroup& g = kGroups[0];
  uint32_t first_realtek = g.count;
  for (uint32_t i = 0; i < g.count; ++i) {
    if (vendor_of(g.records[i].key) == 0x10EC) {
      first_realtek = i;
      break;
    }
  }
  ASSERT_GT(first_realtek, 0u);
  ASSERT_LT(first_realtek, g.count);
  EXPECT_EQ(vendor_of(g.records[first_realtek - 1].key), 0x8086);
  for (uint32_t i = first_realtek; i < g.count; ++i) {
    EXPECT_EQ(vendor_of(g.records[i].key), 0x10EC) << "record " << i;
  }
}

TEST(PciNamesTelling, RepeatedNamesShareOneString) {
  const char* dram = find(kGroups[0], key_of(0x8086, 0x0040));
  ASSERT_NE(dram, nullptr);
  for (const uint16_t device : {uint16_t{0x0044}, uint16_t{0x0048}, uint16_t{0x0069}}) {
    EXPECT_EQ(find(kGroups[0], key_of(0x8086, device)), dram) << std::hex << device;
  }
}

TEST(PciNamesTelling, LongNameIsCutForTheList) {
  const char* name = find(kGroups[0], key_of(0x8086, 0x010B));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::strlen(name), 86u);
  const std::string list = list_name(name);
  EXPECT_EQ(std::strlen(list.c_str()), 79u);
  EXPECT_EQ(list.substr(79 - 23, 23), "Integrated Graphics Con");
}

// ---------------------------------------------------------------------------
// Whole-table invariants.

TEST(PciNamesTables, GroupsHoldOnlyTheirVendorsWithTheirPrefix) {
  for (int g = 0; g < kGroupCount; ++g) {
    SCOPED_TRACE(g);
    ASSERT_GT(kGroups[g].count, 0u);
    std::map<uint16_t, std::string> prefix;
    for (const auto& [vendor, word] : kShapes[g].vendors) prefix[vendor] = word + " ";
    std::set<uint16_t> seen;
    for (uint32_t i = 0; i < kGroups[g].count; ++i) {
      const NameRecord& r = kGroups[g].records[i];
      const auto it = prefix.find(vendor_of(r.key));
      ASSERT_NE(it, prefix.end()) << std::hex << r.key;
      seen.insert(it->first);
      EXPECT_EQ(std::string(r.name()).rfind(it->second, 0), 0u) << r.name();
      EXPECT_GT(std::strlen(r.name()), it->second.size()) << r.name();
    }
    EXPECT_EQ(seen.size(), prefix.size()) << "a vendor has no records";
  }
}

TEST(PciNamesTables, VendorsAscendByDeviceInGroupOrder) {
  for (int g = 0; g < kGroupCount; ++g) {
    SCOPED_TRACE(g);
    const auto& vendors = kShapes[g].vendors;
    size_t vendor_index = 0;
    int last_device = -1;
    for (uint32_t i = 0; i < kGroups[g].count; ++i) {
      const uint32_t key = kGroups[g].records[i].key;
      while (vendor_index < vendors.size() && vendors[vendor_index].first != vendor_of(key)) {
        ++vendor_index;
        last_device = -1;
      }
      ASSERT_LT(vendor_index, vendors.size()) << "vendor out of order at " << std::hex << key;
      EXPECT_GT(static_cast<int>(device_of(key)), last_device) << std::hex << key;
      last_device = device_of(key);
    }
  }
}

TEST(PciNamesTables, KeysAreUniqueAndNoVendorSpansGroups) {
  std::map<uint16_t, int> vendor_group;
  for (int g = 0; g < kGroupCount; ++g) {
    std::set<uint32_t> keys;
    for (uint32_t i = 0; i < kGroups[g].count; ++i) {
      const uint32_t key = kGroups[g].records[i].key;
      EXPECT_TRUE(keys.insert(key).second) << "duplicate key " << std::hex << key;
      const auto [it, fresh] = vendor_group.emplace(vendor_of(key), g);
      EXPECT_EQ(it->second, g) << "vendor " << std::hex << vendor_of(key) << " in two groups";
      (void)fresh;
    }
  }
}

TEST(PciNamesTables, NamesArePrintableAsciiWithoutTrailingBlanks) {
  for (const NameGroup& group : kGroups) {
    for (uint32_t i = 0; i < group.count; ++i) {
      const char* name = group.records[i].name();
      ASSERT_NE(name, nullptr);
      const size_t len = std::strlen(name);
      ASSERT_GT(len, 0u);
      for (size_t c = 0; c < len; ++c) {
        const unsigned char ch = static_cast<unsigned char>(name[c]);
        EXPECT_TRUE(ch >= 0x20 && ch <= 0x7E) << name << " at " << c;
      }
      EXPECT_NE(name[len - 1], ' ') << name;
    }
  }
}

TEST(PciNamesTables, EqualNamesAreStoredOnce) {
  std::map<std::string, const char*> storage;
  for (const NameGroup& group : kGroups) {
    for (uint32_t i = 0; i < group.count; ++i) {
      const char* name = group.records[i].name();
      const auto [it, fresh] = storage.emplace(name, name);
      EXPECT_EQ(it->second, name) << "second copy of \"" << name << "\"";
      (void)fresh;
    }
  }
}

TEST(PciNamesTables, EveryListNameIsTheFittedPlainName) {
  for (const NameGroup& group : kGroups) {
    for (uint32_t i = 0; i < group.count; ++i) {
      const char* name = group.records[i].name();
      const std::string list = list_name(name);
      EXPECT_EQ(list, expected_list_name(name)) << name;
      EXPECT_EQ(std::strlen(list.c_str()), static_cast<size_t>(kListNameWidth)) << name;
    }
  }
}

// ---------------------------------------------------------------------------
// Lookup.

TEST(PciNamesFind, WholeDwordMustMatch) {
  // Same device ID as Intel's DRAM controller, different vendor.
  EXPECT_EQ(lookup(0x00401234u), nullptr);
  // Vendor and device swapped.
  EXPECT_EQ(lookup(0x80860040u), nullptr);
  // Nothing answers an empty slot or a zero dword.
  EXPECT_EQ(lookup(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(lookup(0x00000000u), nullptr);
  // An Intel device ID searched in the Nvidia group.
  EXPECT_EQ(find(kGroups[2], key_of(0x8086, 0x0040)), nullptr);
}

TEST(PciNamesFind, FindsFirstAndLastRecordOfEveryGroup) {
  for (const NameGroup& group : kGroups) {
    EXPECT_EQ(find(group, group.records[0].key), group.records[0].name());
    const NameRecord& last = group.records[group.count - 1];
    EXPECT_EQ(find(group, last.key), last.name());
  }
}

TEST(PciNamesFind, EmptyGroupFindsNothing) {
  const NameGroup empty{nullptr, 0};
  EXPECT_EQ(find(empty, 0x00078086u), nullptr);
}

// ---------------------------------------------------------------------------
// The fitting rule on hand-made names.

TEST(PciNamesFit, ShortNameIsPaddedAndTrimmed) {
  EXPECT_EQ(list_name("AB"), "AB" + std::string(77, ' ') + '\0');
  EXPECT_EQ(list_name("AB   "), "AB" + std::string(77, ' ') + '\0');
  EXPECT_EQ(list_name(""), std::string(79, ' ') + '\0');
  EXPECT_EQ(list_name(nullptr), std::string(79, ' ') + '\0');
}

TEST(PciNamesFit, BoundaryLengths) {
  const std::string exact(79, 'x');
  EXPECT_EQ(list_name(exact.c_str()), exact + '\0');
  const std::string over = std::string(79, 'y') + "Z";
  EXPECT_EQ(list_name(over.c_str()), std::string(79, 'y') + '\0');
  const std::string almost(78, 'w');
  EXPECT_EQ(list_name(almost.c_str()), almost + " " + '\0');
}

TEST(PciNamesFit, CutNameKeepsABlankAtTheCut) {
  // 78 letters, a blank at column 79, then more text: the cut keeps all 79.
  const std::string name = std::string(78, 'a') + " tail";
  EXPECT_EQ(list_name(name.c_str()), std::string(78, 'a') + " " + '\0');
}

}  // namespace
}  // namespace kvq::pci_names
