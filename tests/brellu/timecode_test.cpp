// The timecode value: text in and out, drop-frame counting, byte copies.
#include <array>
#include <cstring>

#include "brellu.h"
#include "support/support.h"

namespace {

using plat::wstring;

wstring Text(const timecode& tc) {
  WCHAR buf[64];
  DWORD n = tc.ToString(buf, 64);
  EXPECT_EQ(n, plat::WLen(buf));
  return buf;
}

LONG Count(const timecode& tc) { return tc.Fields(TCF_COUNT, 0); }

// ---- text forms, one row per system ----

struct Known {
  const char* text;  // canonical form, as ToString writes it
  DWORD system;
  LONG count;
};
void PrintTo(const Known& k, std::ostream* os) { *os << k.text; }

class TimecodeText : public testing::TestWithParam<Known> {};

TEST_P(TimecodeText, ReadsCountsAndWritesBack) {
  const Known& k = GetParam();
  timecode tc(plat::Wide(k.text).c_str());
  EXPECT_EQ(tc.GetSystem(), k.system);
  EXPECT_EQ(Count(tc), k.count);
  EXPECT_EQ(plat::Utf8(Text(tc)), k.text);
  timecode made(k.count, k.system);
  EXPECT_EQ(plat::Utf8(Text(made)), k.text);
  EXPECT_EQ(made.GetSystem(), k.system);
}

INSTANTIATE_TEST_SUITE_P(
    PerSystem, TimecodeText,
    testing::Values(Known{"00:00:00:00", TCS_25, 0}, Known{"01:00:00:00", TCS_25, 90000},
                    Known{"23:59:59:24", TCS_25, 2159999}, Known{"00:00:01:00@24", TCS_24, 24},
                    Known{"10:00:00:23@24", TCS_24, 864023}, Known{"00:00:59:29@30", TCS_30, 1799},
                    Known{"00:01:00:00@30", TCS_30, 1800}, Known{"00:00:01:49@50", TCS_50, 99},
                    Known{"00:01:00:00@60", TCS_60, 3600}, Known{"00:00:59;29", TCS_30DF, 1799},
                    Known{"00:01:00;02", TCS_30DF, 1800}, Known{"01:00:00;00", TCS_30DF, 107892},
                    Known{"23:59:59;29", TCS_30DF, 2589407}, Known{"00:01:00;04@60", TCS_60DF, 3600},
                    Known{"23:59:59;59@60", TCS_60DF, 5178815}));

TEST(Timecode, LooseButValidText) {
  EXPECT_EQ(Count(timecode(TEXT(" 1:2:3:4\t"))), ((3600 + 120 + 3) * 25 + 4));
  timecode spaced(TEXT("00:00:01:00 @24"));
  EXPECT_EQ(spaced.GetSystem(), DWORD(TCS_24));
  EXPECT_EQ(Count(spaced), 24);
}

class BadTimecodeText : public testing::TestWithParam<const char*> {};

TEST_P(BadTimecodeText, GivesZeroInTheDefaultSystem) {
  timecode tc(plat::Wide(GetParam()).c_str());
  EXPECT_EQ(tc.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(Count(tc), 0);
}

INSTANTIATE_TEST_SUITE_P(Rejected, BadTimecodeText,
                         testing::Values("", "   ", "1:2:3", "00:00:00", "24:00:00:00", "00:60:00:00",
                                         "00:00:60:00", "00:00:00:25", "00:00:00:30@30", "00:00:00;30",
                                         "00:01:00;00", "00:01:00;01", "00:01:00;03@60", "00:00:00;00@25",
                                         "00:00:00:00@29", "00:00:00:00@", "00:00:00:00x", "000:00:00:00",
                                         "00:00:00:00@24x", "-1:00:00:00", "00.00.00.00"));

TEST(Timecode, NullTextAndDefaultConstructorGiveTheDefault) {
  timecode a(static_cast<const WCHAR*>(nullptr));
  timecode b;
  EXPECT_EQ(a.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(b.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(Count(a), 0);
  EXPECT_EQ(Count(b), 0);
  EXPECT_EQ(Text(b), TEXT("00:00:00:00"));
}

// ---- drop frame against a plain model: walk the labels one by one ----

class DropFrame : public testing::TestWithParam<DWORD> {};

TEST_P(DropFrame, EveryLabelOfElevenMinutesMatchesItsCount) {
  const DWORD system = GetParam();
  const DWORD rate = system == TCS_30DF ? 30 : 60, drop = system == TCS_30DF ? 2 : 4;
  const char* suffix = system == TCS_30DF ? "" : "@60";
  LONG count = 0;
  for (DWORD mm = 0; mm < 11; ++mm)
    for (DWORD ss = 0; ss < 60; ++ss)
      for (DWORD ff = 0; ff < rate; ++ff) {
        if (ss == 0 && mm % 10 != 0 && ff < drop) continue;  // labels drop frame skips
        std::string label = plat::FormatAS("00:%02u:%02u;%02u%s", mm, ss, ff, suffix);
        ASSERT_EQ(plat::Utf8(Text(timecode(count, system))), label) << count;
        ASSERT_EQ(Count(timecode(plat::Wide(label).c_str())), count) << label;
        ++count;
      }
}

INSTANTIATE_TEST_SUITE_P(Systems, DropFrame, testing::Values(DWORD(TCS_30DF), DWORD(TCS_60DF)));

TEST(Timecode, FrameCountsWrapAtTheEndOfTheDay) {
  EXPECT_EQ(Text(timecode(-1, TCS_25)), TEXT("23:59:59:24"));
  EXPECT_EQ(Count(timecode(-1, TCS_25)), 2159999);
  EXPECT_EQ(Count(timecode(2589408, TCS_30DF)), 0);
  EXPECT_EQ(Text(timecode(2589408 + 1800, TCS_30DF)), TEXT("00:01:00;02"));
  timecode unknown(50, 999);
  EXPECT_EQ(unknown.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(Text(unknown), TEXT("00:00:02:00"));
}

// ---- systems ----

TEST(Timecode, NormalizeSystemKeepsKnownCodesAndDefaultsTheRest) {
  for (DWORD code : {TCS_24, TCS_25, TCS_30DF, TCS_30, TCS_50, TCS_60DF, TCS_60})
    EXPECT_EQ(timecode::NormalizeSystem(code), code);
  for (DWORD code : {0u, 8u, 25u, 30u, 0x80000002u, 0xFFFFFFFFu})
    EXPECT_EQ(timecode::NormalizeSystem(code), DWORD(TCS_DEFAULT)) << code;
}

TEST(Timecode, SetSystemChangesTheCodeOnly) {
  timecode tc(1000, TCS_30);
  tc.SetSystem(12345);
  EXPECT_EQ(tc.GetSystem(), 12345u);
  EXPECT_EQ(Count(tc), 1000);
  EXPECT_EQ(Text(tc), TEXT("00:00:40:00"));  // an unknown code reads as the default
  tc.SetSystem(timecode::NormalizeSystem(tc.GetSystem()));
  EXPECT_EQ(tc.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(Count(tc), 1000);
}

// ---- bytes ----

TEST(Timecode, ByteCopiesKeepTheValue) {
  timecode tc(TEXT("00:01:00;02"));
  std::array<unsigned char, 8> bytes;
  std::memcpy(bytes.data(), &tc, 8);
  EXPECT_EQ(bytes, (std::array<unsigned char, 8>{0x08, 0x07, 0, 0, TCS_30DF, 0, 0, 0}));
  timecode back(TEXT("12:00:00:00"));
  std::memcpy(&back, bytes.data(), 8);
  EXPECT_EQ(back.GetSystem(), DWORD(TCS_30DF));
  EXPECT_EQ(Count(back), 1800);
  EXPECT_EQ(Text(back), TEXT("00:01:00;02"));
}

TEST(Timecode, ForeignBytesReadSafely) {
  const unsigned char raw[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x39, 0x05, 0, 0};  // -1 in system 0x539
  timecode tc;
  std::memcpy(&tc, raw, 8);
  EXPECT_EQ(tc.GetSystem(), 0x539u);
  EXPECT_EQ(Count(tc), -1);
  EXPECT_EQ(Text(tc), TEXT("23:59:59:24"));
  EXPECT_EQ(tc.Fields(TCF_HOURS, 0), 23);
  EXPECT_EQ(tc.Fields(TCF_COUNT, 1), 0);
}

// ---- fields ----

TEST(Timecode, FieldsSplitTheTimecodeThatLiesArgFramesLater) {
  timecode tc(TEXT("00:00:59;29"));
  EXPECT_EQ(tc.Fields(TCF_COUNT, 0), 1799);
  EXPECT_EQ(tc.Fields(TCF_COUNT, 10), 1809);
  EXPECT_EQ(tc.Fields(TCF_COUNT, -1800), -1);
  EXPECT_EQ(tc.Fields(TCF_HOURS, 0), 0);
  EXPECT_EQ(tc.Fields(TCF_MINUTES, 0), 0);
  EXPECT_EQ(tc.Fields(TCF_SECONDS, 0), 59);
  EXPECT_EQ(tc.Fields(TCF_FRAMES, 0), 29);
  EXPECT_EQ(tc.Fields(TCF_MINUTES, 1), 1);
  EXPECT_EQ(tc.Fields(TCF_SECONDS, 1), 0);
  EXPECT_EQ(tc.Fields(TCF_FRAMES, 1), 2);
  EXPECT_EQ(tc.Fields(TCF_HOURS, -1800), 23);
  EXPECT_EQ(tc.Fields(TCF_RATE, 0), 30);
  EXPECT_EQ(tc.Fields(TCF_DROP, 0), 1);
  EXPECT_EQ(tc.Fields(TCF_DAY, 0), 2589408);
  EXPECT_EQ(timecode(0, TCS_50).Fields(TCF_DAY, 0), 4320000);
  EXPECT_EQ(tc.Fields(7, 0), -1);
  EXPECT_EQ(tc.Fields(16, 0), -1);
}

TEST(Timecode, ToStringCutsToTheBufferAndReportsTheFullLength) {
  timecode tc(TEXT("01:02:03:04@24"));
  WCHAR buf[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(tc.ToString(buf, 5), 14u);
  EXPECT_EQ(wstring(buf), TEXT("01:0"));
  EXPECT_EQ(buf[5], 'x');
  EXPECT_EQ(tc.ToString(nullptr, 0), 14u);
}

}  // namespace
