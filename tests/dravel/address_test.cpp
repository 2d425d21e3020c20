// Addresses named by module and nearest exports: inside this suite's own
// library, inside a win32 DLL mapped section by section (on both targets),
// in free memory and nowhere; and the text made of it.
#include <cstring>
#include <vector>

#include "dravel_test.h"
#include "mapped_image.h"

namespace {

using dravel_test::MappedImage;
using Addr = DRAVEL_ADDRESS;

#if __SIZEOF_POINTER__ == 4
const char* const kHex = "%08X";
#else
const char* const kHex = "%016IX";
#endif

std::string Hex(Addr a) { return plat::FormatAS(kHex, a); }
std::string Narrow(const WCHAR* text) { return plat::Utf8(text); }

Addr BaseOf(Addr a) {
  MEMORY_BASIC_INFORMATION mi;
  return VirtualQuery(reinterpret_cast<LPCVOID>(a), &mi, sizeof mi) ? reinterpret_cast<Addr>(mi.AllocationBase) : 0;
}

// ---- Dravel's own library ----

struct Exported {
  Addr address;
  const char* name;  // as Dravel shows it on this target
};

#ifdef _WIN32
#define SHOWN(plain, bytes) "__stdcall " plain "(" bytes " byte(s))"
const char* const kLibrary = "dravel";
#else
#define SHOWN(plain, bytes) plain
const char* const kLibrary = "libdravel";
#endif

std::vector<Exported> DravelExports() {
  return {{reinterpret_cast<Addr>(&TranslateExportedName), SHOWN("TranslateExportedName", "8")},
          {reinterpret_cast<Addr>(&dmp_output), SHOWN("dmp_output", "4")},
          {reinterpret_cast<Addr>(&dmp_printf), "pascal dmp_printf"},
          {reinterpret_cast<Addr>(&GetMemDemandInfo), SHOWN("GetMemDemandInfo", "4")},
          {reinterpret_cast<Addr>(&WalkCallStack), SHOWN("WalkCallStack", "16")},
          {reinterpret_cast<Addr>(&GetAddressInfo), SHOWN("GetAddressInfo", "8")},
          {reinterpret_cast<Addr>(&GetAddressInfoString), SHOWN("GetAddressInfoString", "12")},
          {reinterpret_cast<Addr>(&TraceOutException), SHOWN("TraceOutException", "12")}};
}

TEST(AddressInfo, NamesAddressesInsideTheSuitesOwnLibrary) {
  auto exports = DravelExports();
#ifndef _WIN32
  exports[2].name = "dmp_printf";  // ELF names are shown as they are
#endif
  for (const Exported& e : exports) {
    for (DWORD offset : {0u, 1u, 7u}) {
      const Addr a = e.address + offset;
      // The nearest known export above, by brute force over all of them.
      const Exported* above = nullptr;
      for (const Exported& o : exports)
        if (o.address > a && (!above || o.address < above->address)) above = &o;
      AddressInfo info;
      ASSERT_TRUE(GetAddressInfo(a, &info));
      EXPECT_EQ(info.ModuleBase, BaseOf(a));
      EXPECT_STREQ(info.ModuleName, kLibrary);
      EXPECT_STREQ(info.ExportBelow, e.name);
      EXPECT_EQ(info.DistanceBelow, offset);
      if (above) {
        EXPECT_STREQ(info.ExportAbove, above->name) << e.name;
        EXPECT_EQ(info.DistanceAbove, above->address - a);
      }
      WCHAR text[DRAVEL_ADDRESS_TEXT];
      ASSERT_TRUE(GetAddressInfoString(a, text, &info));
      std::string expected = std::string(kLibrary) + " [" + e.name + " + " + std::to_string(offset) + " bytes,";
      if (above) {
        EXPECT_EQ(Narrow(text), expected + above->name + " - " + std::to_string(above->address - a) + " bytes]");
      }
      WCHAR fresh[DRAVEL_ADDRESS_TEXT];
      ASSERT_TRUE(GetAddressInfoString(a, fresh, nullptr));
      EXPECT_EQ(Narrow(fresh), Narrow(text));
    }
  }
}

// ---- a win32 DLL mapped by hand ----
//
// order.dll (data/order.S) lists its functions in three orders: by address,
// by ordinal and by name. Addresses are RVAs.

struct InImage {
  DWORD rva;
  const char* below;  // nullptr: none
  DWORD belowDistance;
  const char* above;
  DWORD aboveDistance;
};

class MappedPe : public ::testing::TestWithParam<InImage> {
 protected:
  static void SetUpTestSuite() {
    file_ = new std::string(testsupport::ReadBytes(dravel_test::DataDir() / "order.dll"));
  }
  static void TearDownTestSuite() { delete file_; }
  static std::string* file_;
};
std::string* MappedPe::file_;

TEST_P(MappedPe, NamesTheFunctionsAroundAnAddress) {
  const InImage& c = GetParam();
  MappedImage image(*file_);
  ASSERT_NE(image.base(), nullptr);
  const Addr a = image.At(c.rva);
  AddressInfo info;
  ASSERT_TRUE(GetAddressInfo(a, &info));
  EXPECT_EQ(info.ModuleBase, image.At(0));
  EXPECT_STREQ(info.ModuleName, "");  // mapped by hand: no module of the system
  EXPECT_STREQ(info.ExportBelow, c.below ? c.below : "");
  EXPECT_EQ(info.DistanceBelow, c.below ? c.belowDistance : 0u);
  EXPECT_STREQ(info.ExportAbove, c.above ? c.above : "");
  EXPECT_EQ(info.DistanceAbove, c.above ? c.aboveDistance : 0u);

  WCHAR text[DRAVEL_ADDRESS_TEXT];
  ASSERT_TRUE(GetAddressInfoString(a, text, nullptr));
  const std::string base = Hex(image.At(0)) + " + " + std::to_string(c.rva) + " bytes";
  std::string expected = " [";
  expected += c.below ? std::string(c.below) + " + " + std::to_string(c.belowDistance) + " bytes," : base + ",";
  expected += c.above ? std::string(c.above) + " - " + std::to_string(c.aboveDistance) + " bytes]" : base + "]";
  EXPECT_EQ(Narrow(text), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Order, MappedPe,
    ::testing::Values(InImage{0x1004, nullptr, 0, "__stdcall Sleep(4 byte(s))", 0xC},  // before the first export
                      InImage{0x1010, "__stdcall Sleep(4 byte(s))", 0, "CFoo::Run(...)", 0x10},
                      InImage{0x1025, "CFoo::Run(...)", 5, "pascal Export1", 0xB},
                      // In the thunk: Jumper counts where it jumps to.
                      InImage{0x1045, "pascal Export1", 0x15, "CFoo::CFoo(CFoo &)", 0xB},
                      InImage{0x1062, "CFoo::~CFoo()", 2, "pascal Jumper", 0xE},
                      InImage{0x1072, "pascal Jumper", 2, "__cdecl main", 0xE},
                      // The last function: the forwarder after it is no code.
                      InImage{0x1095, "__cdecl main", 0x15, nullptr, 0},
                      // Outside the code: data and the export directory.
                      InImage{0x2004, nullptr, 0, nullptr, 0}, InImage{0x3010, nullptr, 0, nullptr, 0}));

TEST(MappedPeFaults, UnreadablePartsEndTheSearchQuietly) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  const std::string file = testsupport::ReadBytes(dravel_test::DataDir() / "order.dll");
  AddressInfo info;
  {
    // The name of the export below lies in unreadable memory: only the one above is named.
    MappedImage image(file);
    const DWORD names = 0x3048;  // the name pointer table; entry 6 is _Sleep@4
    image.Patch(names + 4 * 6, image.Unreadable());
    ASSERT_TRUE(GetAddressInfo(image.At(0x1012), &info));
    EXPECT_STREQ(info.ExportBelow, "");
    EXPECT_STREQ(info.ExportAbove, "CFoo::Run(...)");
    EXPECT_EQ(info.DistanceAbove, 0xEu);
  }
  {
    // The PE header lies in unreadable memory: no exports, still an answer.
    MappedImage image(file);
    image.Patch(pe::kNewHeaderOffset, image.Unreadable());
    ASSERT_TRUE(GetAddressInfo(image.At(0x1012), &info));
    EXPECT_EQ(info.ModuleBase, image.At(0));
    EXPECT_STREQ(info.ExportBelow, "");
    EXPECT_STREQ(info.ExportAbove, "");
  }
}

// ---- where there is nothing to name ----

TEST(AddressInfo, FreeMemoryHasNoModule) {
  AddressInfo info;
  std::memset(&info, 0x55, sizeof info);
  ASSERT_TRUE(GetAddressInfo(0x100, &info));
  EXPECT_EQ(info.ModuleBase, 0u);
  EXPECT_STREQ(info.ModuleName, "");
  EXPECT_STREQ(info.ExportBelow, "");
  EXPECT_STREQ(info.ExportAbove, "");
  EXPECT_EQ(info.DistanceBelow, 0u);
  EXPECT_EQ(info.DistanceAbove, 0u);
  WCHAR text[DRAVEL_ADDRESS_TEXT];
  ASSERT_TRUE(GetAddressInfoString(0x100, text, &info));
  EXPECT_EQ(Narrow(text), " [" + Hex(0) + " + 256 bytes," + Hex(0) + " + 256 bytes]");
}

TEST(AddressInfo, AnAddressNoRegionHoldsGivesNothing) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const Addr nowhere = reinterpret_cast<Addr>(si.lpMaximumApplicationAddress) + 0x1000;
  AddressInfo info;
  std::memset(&info, 0x55, sizeof info);
  EXPECT_FALSE(GetAddressInfo(nowhere, &info));
  EXPECT_EQ(info.ModuleBase, 0u);
  EXPECT_STREQ(info.ModuleName, "");
  WCHAR text[DRAVEL_ADDRESS_TEXT] = {'x', 0};
  EXPECT_FALSE(GetAddressInfoString(nowhere, text, nullptr));
  EXPECT_EQ(Narrow(text), "<No address info: " + Hex(nowhere) + ">");
  EXPECT_FALSE(GetAddressInfoString(nowhere, nullptr, nullptr));
  EXPECT_FALSE(GetAddressInfo(0x100, nullptr));
}

TEST(AddressInfo, TextOfAGivenRecordStaysWithinItsLongestForm) {
  AddressInfo info;
  std::memset(&info, 'n', sizeof info);  // no terminators anywhere
  info.ModuleBase = 0x1000;
  info.DistanceBelow = 0xFFFFFFFF;
  info.DistanceAbove = 0xFFFFFFFF;
  dravel_test::EdgeBuffer edge(DRAVEL_ADDRESS_TEXT * sizeof(WCHAR));
  WCHAR* text = reinterpret_cast<WCHAR*>(edge.data());
  ASSERT_TRUE(GetAddressInfoString(0x1234, text, &info));
  EXPECT_EQ(plat::WLen(text), DRAVEL_ADDRESS_TEXT - 1u);
  EXPECT_EQ(Narrow(text), std::string(259, 'n') + " [" + std::string(255, 'n') + " + 4294967295 bytes," +
                              std::string(255, 'n') + " - 4294967295 bytes]");
}

}  // namespace
