// The scanner of the older text settings file, and the import it feeds.
#include <cctype>
#include <cstring>

#include "content.h"
#include "settings/textfile.h"

namespace {

using namespace contenttest;
namespace tf = pellam::textfile;
using Lines = std::vector<std::string>;

Lines ScanText(const std::string& text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back(0);
  Lines out;
  tf::Scan(buf.data(), [&](const char* s, const char* n, const char* t, const char* v) {
    out.push_back(std::string(s) + "|" + n + "|" + t + "|" + v);
  });
  return out;
}

struct ScanCase {
  const char* what;
  std::string text;
  Lines entries;
};
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.what; }

class Scanner : public testing::TestWithParam<ScanCase> {};

TEST_P(Scanner, ReportsTheEntries) { EXPECT_EQ(ScanText(GetParam().text), GetParam().entries); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Scanner,
    testing::Values(
        ScanCase{"crlf", "[VIDEO]\r\nWidth=400,720\r\nHeight=400,576\r\n[Audio]\r\nRate=3800,48000\r\n",
                 {"VIDEO|Width|400|720", "VIDEO|Height|400|576", "Audio|Rate|3800|48000"}},
        // Line feeds alone: the entry after a stored one keeps its first letter.
        ScanCase{"lf", "[VIDEO]\nWidth=400,720\nHeight=400,576\n[Audio]\nRate=3800,48000\n",
                 {"VIDEO|Width|400|720", "VIDEO|Height|400|576", "Audio|Rate|3800|48000"}},
        ScanCase{"cr", "[V]\rA=400,1\rB=400,2", {"V|A|400|1", "V|B|400|2"}},
        ScanCase{"lfcr", "[V]\nA=400,1\n\rB=400,2\n", {"V|A|400|1", "V|B|400|2"}},
        ScanCase{"before the first section", "X=400,1\r\nY=1000,text\r\n[S]\r\nZ=400,2\r\n", {"S|Z|400|2"}},
        ScanCase{"no comma, no equals, no value",
                 "[S]\r\nA=400\r\nnoequals\r\nB=400,\r\nC=400,   \r\n=400,9\r\nD=400,4\r\n", {"S|D|400|4"}},
        ScanCase{"commas and brackets in values", "[S]\nR=3400,0,0,640,480\nT=1000,a[b],c=d\n",
                 {"S|R|3400|0,0,640,480", "S|T|1000|a[b],c=d"}},
        ScanCase{"blanks", "[S]\r\n  Name  =  1000 ,  value  \r\n\x1f" "K\x1f=\x1f" "400\x1f,\x1f" "7\x1f\r\n",
                 {"S|Name  |1000 |value  ", "S|K\x1f|400\x1f|7\x1f"}},
        // A tab (0x09) ends a line like a line feed.
        ScanCase{"tabs end lines", "[S]\nK=400,\t7\nJ=400,8\tI=400,9\n", {"S|J|400|8", "S|I|400|9"}},
        ScanCase{"bracket starts a section mid-line", "[A]\nk [B]\ny=400,2\n", {"B|y|400|2"}},
        ScanCase{"header spans lines", "[A\r\nB]\r\nk=400,1", {"A\r\nB|k|400|1"}},
        ScanCase{"unclosed header", "[A\nk=400,1\n", {}},
        ScanCase{"value ends the text", "[S]\nk=400,7", {"S|k|400|7"}},
        ScanCase{"crlf at the very end", "[S]\nk=400,7\r", {"S|k|400|7"}},
        ScanCase{"high bytes", "[\xe9t\xe9]\nn\xe4me=1400,v\xfc\n", {"\xe9t\xe9|n\xe4me|1400|v\xfc"}},
        ScanCase{"empty section name and entries", "[]\nA=400,1\n[S]\n\n\n", {"|A|400|1"}},
        ScanCase{"control bytes end lines", "[S]\x01k=400,1\x0bj=400,2\x0c", {"S|k|400|1", "S|j|400|2"}}),
    [](const testing::TestParamInfo<ScanCase>& info) {
      std::string n = info.param.what;
      for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(Scanner, WritesZerosIntoTheBuffer) {
  char text[] = "[S]\r\nA=400,5\r\n";
  tf::Scan(text, [](const char*, const char*, const char*, const char*, void*) {}, nullptr);
  EXPECT_EQ(0, std::memcmp(text, "[S\0\r\nA\0" "400\0" "5\0\n", sizeof text - 1));
}

TEST(Scanner, EmptyTextReportsNothing) { EXPECT_EQ(ScanText(""), Lines{}); }

// What the import does with each entry, for the fixed-size types.
TEST(Import, TextEntriesBecomeRecords) {
  std::vector<char> text;
  const std::string src =
      "; exported settings\r\n[Video]\r\nWidth=400,720\r\nFlags=c00,no\r\nFrame=3400,0,0,640,480\r\n"
      "Blob=2400,abc\r\nKind=2000,6B29FC40-CA47-1067-B31D-00DD-0106-62DA\r\n[video]\r\nwidth=400,1024\r\n";
  text.assign(src.begin(), src.end());
  text.push_back(0);
  Bytes c;
  tf::Scan(text.data(), [&](const char* s, const char* n, const char* t, const char* v) {
    unsigned char value[16];
    const DWORD type = tf::ReadHex(t);
    const DWORD size = tf::ReadFixedValue(type, v, value);
    if (size) Write(c, s, n, type, std::string(reinterpret_cast<char*>(value), size));
  });
  const Bytes guid = {0x40, 0xFC, 0x29, 0x6B, 0x47, 0xCA, 0x67, 0x10, 0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA};
  EXPECT_EQ(List(c), (Lines{"VIDEO", std::string("VIDEO/WIDTH/400=\x00\x04\0\0", 20),
                            std::string("VIDEO/FLAGS/c00=\x01\0\0\0", 20),
                            std::string("VIDEO/FRAME/3400=\0\0\0\0\0\0\0\0\x80\x02\0\0\xe0\x01\0\0", 33),
                            "VIDEO/KIND/2000=" + std::string(guid.begin(), guid.end())}));
}

}  // namespace
