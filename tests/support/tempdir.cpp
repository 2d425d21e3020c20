#include <atomic>
#include <fstream>
#include <map>
#include <sstream>

#include "support.h"

namespace fs = std::filesystem;

namespace testsupport {

wstring W(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return p.u16string();
#endif
}

fs::path P(const wstring& w) { return fs::path(w); }

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "qz-";
  if (info) name += std::string(info->test_suite_name()) + "-" + info->name() + "-";
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
  name += std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
  path_ = fs::temp_directory_path() / name;
  std::error_code ec;
  fs::remove_all(path_, ec);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only entries would stop the removal on Windows: make everything writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

wstring TempDir::Wide() const { return W(path_); }

wstring TempDir::Wide(const wstring& name) const { return W(path_ / P(name)); }

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {
std::map<std::string, ChildRole>& Roles() {
  static std::map<std::string, ChildRole> roles;
  return roles;
}
}  // namespace

RegisterChildRole::RegisterChildRole(const char* name, ChildRole role) { Roles()[name] = role; }

bool RunChildRoleIfAsked(int argc, char** argv, int& exitCode) {
  if (argc < 3 || std::string(argv[1]) != "--child") return false;
  auto it = Roles().find(argv[2]);
  if (it == Roles().end()) {
    exitCode = 125;
    return true;
  }
  std::vector<wstring> args;
  for (int i = 3; i < argc; ++i) args.push_back(plat::Wide(argv[i]));
  exitCode = it->second(args);
  return true;
}

}  // namespace testsupport
