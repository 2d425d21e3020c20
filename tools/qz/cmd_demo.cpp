// qz demo: the whole suite at work on built-in data, through qz's own
// commands, in a fresh folder under the temporary directory that is removed
// at the end. Each step shows its command line, then what the command says.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ferrow.h"
#include "image/image.h"
#include "qz.h"
#ifdef QZ_HAVE_INDEX
#include "host.h"
#endif

namespace {

const char kUsage[] =
    "usage: qz demo [--keep]\n"
    "\n"
    "Runs the suite on built-in data: how paths split, a small tree of clips\n"
    "scanned, copied and compressed, a settings file imported from its older\n"
    "text form, listed and changed; the diagnostics: export names made\n"
    "readable, a stack trace of qz itself and one of a child that faults,\n"
    "written to a dump file and shown again, and the memory figures (on win32\n"
    "also the export table of dravel.dll); the codecs of the codec plug-in with\n"
    "the frame formats they negotiate, and a test picture encoded with every\n"
    "codec and decoded back, with the PSNR of each round trip; and a small AVI\n"
    "file indexed, shown and\n"
    "verified. Everything happens in a new folder\n"
    "under the temporary directory, removed at the end (kept with --keep).\n"
    "Exit status 1 when a step does not end as expected.\n";

using plat::wstring;

// The codecs the test picture goes through, and the least PSNR of a round trip.
const char* const kRoundTripCodecs[] = {"planar", "meshed", "packed", "packed-extd", "uyvy", "packed-709"};
constexpr double kLeastPsnr = 35.0;

struct Step {
  std::vector<wstring> args;
  int expected;  // the exit status the step should end with
};

// Deterministic sample bytes: text-like lines, or noise that does not compress.
std::string Sample(size_t size, bool text, unsigned seed) {
  std::string out;
  out.reserve(size);
  static const char* const words[] = {"take", "scene", "clip", "frame", "cut", "fade", "audio", "video", "mark"};
  unsigned x = seed * 2654435761u + 1;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    if (text) {
      out += words[(x >> 16) % 9];
      out += (x >> 8) % 7 ? ' ' : '\n';
    } else {
      out += static_cast<char>(x >> 24);
    }
  }
  out.resize(size);
  return out;
}

bool Write(const wstring& path, const std::string& bytes) {
  return FU_WriteFile(path.c_str(), const_cast<char*>(bytes.data()), static_cast<ULONG>(bytes.size()), 0) != 0;
}

// Shows the command line as a shell would take it.
void Show(const std::vector<wstring>& args) {
  std::string line = "$ qz";
  for (const wstring& a : args) {
    std::string u = plat::Utf8(a);
    bool plain = !u.empty() && u.find_first_of(" \\'\"*?<>|;&()") == std::string::npos;
    line += plain ? " " + u : " '" + u + "'";
  }
  qz::Out("\n%s\n", line.c_str());
}

int RunStep(const Step& step) {
  Show(step.args);
  std::fflush(stdout);
  const qz::Command* c = qz::FindCommand(plat::Utf8(step.args[0]).c_str());
  if (!c) return -1;
  int status = c->run(qz::Args(step.args.begin() + 1, step.args.end()));
  std::fflush(stdout);
  std::fflush(stderr);
  if (status != 0) qz::Out("(exit status %d%s)\n", status, status == step.expected ? ", as expected" : "");
  return status;
}

// The system's own separator, so that paths read as its users write them.
#ifdef _WIN32
const WCHAR kSep = '\\';
#else
const WCHAR kSep = '/';
#endif

wstring Join(const wstring& dir, const char* name) {
  wstring w = dir;
  if (!w.empty() && w.back() != '\\' && w.back() != '/') w += kSep;
  w += plat::Wide(name);
  FU_FormatSlashes(&w[0], kSep);
  return w;
}

int Run(const qz::Args& args) {
  bool keep = false;
  for (const wstring& a : args) {
    if (a == TEXT("--keep")) keep = true;
    else return qz::Fail("demo", "unknown argument %s (see qz demo --help)", plat::Utf8(a).c_str());
  }

  WCHAR temp[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return qz::Fail("demo", "no temporary directory");
  wstring work = Join(temp, ("qz-demo-" + std::to_string(GetCurrentProcessId())).c_str());
  if (!FU_CreatePath(work.c_str())) return qz::Fail("demo", "cannot create %s", plat::Utf8(work).c_str());

  // The built-in data: a small tree of clips, notes, and an older text settings file.
  const wstring clips = Join(work, "clips"), backup = Join(work, "backup"), set = Join(work, "edit.set");
  bool made = Write(Join(clips, "take1.avi"), Sample(200000, true, 1)) &&
              Write(Join(clips, "take2.avi"), Sample(65536, false, 2)) &&
              Write(Join(clips, "day2/take3.avi"), Sample(30000, true, 3)) &&
              Write(Join(clips, "day2/log.txt"), Sample(4000, true, 4)) &&
              Write(Join(work, "notes.txt"), Sample(50000, true, 5)) &&
              Write(set + TEXT(".ini"),
                    "[Video]\r\nWidth=400,1920\r\nHeight=400,1080\r\nName=1000,Take one\r\n"
                    "[Timing]\r\nStart=2800,01:00:00:00\r\nSafe=3400,0,0,1920,1080\r\n");
  // A test picture for the codecs, as a PNG file.
  const wstring picture = Join(work, "picture.png");
  std::string png;
  made = made && qzimage::Encode(qzimage::TestPicture(720, 576, false), qzimage::Kind::kPng, png) && Write(picture, png);
#ifdef QZ_HAVE_INDEX
  // A genuine small AVI for the index steps.
  made = made && Write(Join(work, "clip.avi"), qzindex::SampleAvi(16, 8, 30));
#endif
  if (!made) return qz::Fail("demo", "cannot write the sample files under %s", plat::Utf8(work).c_str());
  qz::Out("qz demo: working in %s\n", plat::Utf8(work).c_str());

  const wstring notes = Join(work, "notes.txt"), packed = Join(work, "notes.zq"), unpacked = Join(work, "notes.out");
  const wstring crash = Join(work, "crash.dmp");
  std::vector<Step> steps = {
      // Paths: every form Ferrow reads, and one that it refuses.
      {{TEXT("path"), TEXT("C:\\clips\\take1.avi"), TEXT("\\\\server\\media\\clips\\take1.avi"),
        TEXT("\\\\?\\UNC\\server\\media\\take2.mov"), TEXT("media://server/clips/take1.avi")},
       0},
      {{TEXT("path"), TEXT("-d"), TEXT("\\\\server\\media")}, 0},
      {{TEXT("path"), TEXT("C:\\clips\\bad<name>.avi")}, 1},
      // The file system: one file's facts, then the tree.
      {{TEXT("stat"), Join(clips, "take1.avi")}, 0},
      {{TEXT("scan"), TEXT("-r"), TEXT("--list"), Join(clips, "*.avi")}, 0},
      {{TEXT("copytree"), TEXT("-r"), Join(clips, "*.*"), backup}, 0},
      {{TEXT("scan"), TEXT("-r"), Join(backup, "*.*")}, 0},
      // Compression: a file packed, inspected and restored.
      {{TEXT("zip"), packed, notes}, 0},
      {{TEXT("zipinfo"), packed, Join(clips, "take2.avi")}, 0},
      {{TEXT("unzip"), unpacked, packed}, 0},
      {{TEXT("copy"), unpacked, Join(backup, "notes.txt")}, 0},
      // Settings: the older text file is imported when the store is opened.
      {{TEXT("settings"), set, TEXT("list")}, 0},
      {{TEXT("settings"), set, TEXT("set"), TEXT("Video"), TEXT("Width"), TEXT("int"), TEXT("3840")}, 0},
      {{TEXT("settings"), set, TEXT("set"), TEXT("Audio"), TEXT("Rate"), TEXT("uint"), TEXT("48000")}, 0},
      {{TEXT("settings"), set, TEXT("get"), TEXT("video"), TEXT("width")}, 0},
      {{TEXT("settings"), set, TEXT("rm"), TEXT("Timing")}, 0},
      {{TEXT("settings"), set, TEXT("list")}, 0},
      // Diagnostics: readable export names, stack traces, a dump file, memory figures.
      {{TEXT("names"), TEXT("_Sleep@4"), TEXT("?Run@CFoo@@QAEHXZ"), TEXT("??1CFoo@@QAE@XZ"), TEXT("Export1")}, 0},
      {{TEXT("trace")}, 0},
      {{TEXT("trace"), TEXT("--fault"), TEXT("--dump"), crash}, 0},
      {{TEXT("dump"), crash}, 0},
      {{TEXT("mem")}, 0},
      // Codecs: what the plug-in registers, a 486-line picture in the extended
      // packed layout, and a frame the UYVY codec does not take.
      {{TEXT("frame"), TEXT("codecs")}, 0},
      {{TEXT("frame"), TEXT("formats"), TEXT("packed-extd"), TEXT("720"), TEXT("486")}, 0},
      {{TEXT("frame"), TEXT("formats"), TEXT("uyvy"), TEXT("640"), TEXT("480")}, 1},
  };
  // The test picture through every codec and back; a stored frame described;
  // the UYVY frame as bare bytes, read back as such; the half-size preview.
  std::vector<std::pair<const char*, wstring>> roundTrips;
  for (const char* codec : kRoundTripCodecs) {
    const wstring frame = Join(work, (std::string("picture.") + codec).c_str());
    const wstring back = Join(work, (std::string("back-") + codec + ".png").c_str());
    steps.push_back({{TEXT("frame"), TEXT("encode"), plat::Wide(codec), picture, frame}, 0});
    steps.push_back({{TEXT("frame"), TEXT("decode"), frame, back}, 0});
    roundTrips.emplace_back(codec, back);
  }
  steps.push_back({{TEXT("frame"), TEXT("info"), Join(work, "picture.packed-extd")}, 0});
  const wstring raw = Join(work, "picture.uyvy422"), rawBack = Join(work, "back-raw.png");
  steps.push_back({{TEXT("frame"), TEXT("encode"), TEXT("uyvy"), picture, raw, TEXT("--raw")}, 0});
  steps.push_back({{TEXT("frame"), TEXT("decode"), raw, rawBack, TEXT("--raw"), TEXT("uyvy"), TEXT("720"), TEXT("576")}, 0});
  roundTrips.emplace_back("uyvy, raw", rawBack);
  steps.push_back({{TEXT("frame"), TEXT("decode"), Join(work, "picture.packed"), Join(work, "preview.png"), TEXT("--half")}, 0});
#ifdef QZ_HAVE_INDEX
  // Media indexes: an AVI indexed, shown and verified; the same file as raw frames against the wrong index.
  const wstring clip = Join(work, "clip.avi");
  steps.push_back({{TEXT("index"), TEXT("build"), clip}, 0});
  steps.push_back({{TEXT("index"), TEXT("show"), clip + TEXT(".idx"), TEXT("--entries"), TEXT("0:5")}, 0});
  steps.push_back({{TEXT("index"), TEXT("verify"), clip + TEXT(".idx"), clip}, 0});
  steps.push_back({{TEXT("index"), TEXT("build"), clip, TEXT("--raw"), TEXT("392"), TEXT("-o"), Join(work, "clip.raw.idx")}, 0});
  steps.push_back({{TEXT("index"), TEXT("verify"), clip + TEXT(".idx"), notes}, 1});
#endif
  // The export table of the diagnostics DLL beside qz, where there is one (win32).
  WCHAR self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  wstring dll = length && length < MAX_PATH ? wstring(self, length) : wstring();
  dll = dll.substr(0, dll.find_last_of(TEXT("\\/")) + 1) + TEXT("dravel.dll");
  if (length && length < MAX_PATH && GetFileAttributesW(dll.c_str()) != INVALID_FILE_ATTRIBUTES)
    steps.push_back({{TEXT("exports"), dll}, 0});
  int unexpected = 0;
  for (const Step& step : steps)
    if (RunStep(step) != step.expected) ++unexpected;

  // The restored notes are the notes, byte for byte.
  ULONG a = 0, b = 0;
  void* original = FU_ReadFile(notes.c_str(), &a, FU_AllocProcHeap);
  void* restored = FU_ReadFile(unpacked.c_str(), &b, FU_AllocProcHeap);
  bool same = original && restored && a == b && std::memcmp(original, restored, a) == 0;
  FU_AllocProcHeap(original, 0);
  FU_AllocProcHeap(restored, 0);
  qz::Out("\nrestored notes %s the original (%u bytes)\n", same ? "match" : "DO NOT match", a);
  if (!same) ++unexpected;

  // How close each codec's round trip came to the test picture.
  qz::Out("\nround trips of the 720 x 576 test picture (PSNR over R, G and B; %.0f dB or more expected):\n",
          kLeastPsnr);
  const qzimage::Image picture0 = qzimage::TestPicture(720, 576, false);
  for (const auto& trip : roundTrips) {
    std::string bytes, why;
    qzimage::Image back;
    qzimage::Difference d;
    const bool read = qz::ReadWholeFile(trip.second, bytes, why) && qzimage::Decode(bytes, back, why);
    if (!read || !qzimage::Compare(picture0, back, d)) {
      qz::Out("  %-12s no picture came back\n", trip.first);
      ++unexpected;
      continue;
    }
    qz::Out("  %-12s PSNR %6.2f dB, largest difference %3d%s\n", trip.first, d.psnr, d.maxAbs,
            d.psnr >= kLeastPsnr ? "" : "  (TOO LOW)");
    if (d.psnr < kLeastPsnr) ++unexpected;
  }

  if (!keep) {
    wstring all = Join(work, "*.*");
    if (!FU_DeleteDirectory(all.c_str(), 1, 1)) qz::Out("could not remove everything under %s\n", plat::Utf8(work).c_str());
  }
  qz::Out("\nqz demo: %zu steps, %s\n", steps.size() + 1 + roundTrips.size(),
          unexpected ? (std::to_string(unexpected) + " not as expected").c_str() : "all as expected");
  return unexpected ? 1 : 0;
}

const qz::Register reg({"demo", "run the suite on built-in data, step by step", kUsage, Run});

}  // namespace
