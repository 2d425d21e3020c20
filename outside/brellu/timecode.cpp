// The timecode value: a frame count and a time-system code (layout and text
// form in include/brellu.h).
#include "brellu.h"

#include <cstdint>

namespace {

struct System {
  DWORD code;
  DWORD rate;  // nominal frames per second
  DWORD drop;  // frame numbers skipped at the start of each minute not divisible by ten
};

const System kSystems[] = {
    {TCS_24, 24, 0}, {TCS_25, 25, 0}, {TCS_30DF, 30, 2}, {TCS_30, 30, 0},
    {TCS_50, 50, 0}, {TCS_60DF, 60, 4}, {TCS_60, 60, 0},
};

const System& Lookup(DWORD code) {
  for (const System& s : kSystems)
    if (s.code == code) return s;
  return Lookup(TCS_DEFAULT);
}

// The system a text means when it names no rate.
DWORD ImpliedSystem(bool drop) { return drop ? TCS_30DF : TCS_DEFAULT; }

DWORD SystemForRate(DWORD rate, bool drop) {
  for (const System& s : kSystems)
    if (s.rate == rate && (s.drop != 0) == drop) return s.code;
  return 0;
}

int64_t FramesPerTenMinutes(const System& s) { return 600 * int64_t(s.rate) - 9 * int64_t(s.drop); }
int64_t FramesPerDay(const System& s) { return 144 * FramesPerTenMinutes(s); }

int64_t Wrap(int64_t frames, const System& s) {
  int64_t day = FramesPerDay(s);
  frames %= day;
  return frames < 0 ? frames + day : frames;
}

struct Clock {
  DWORD hours, minutes, seconds, frames;
};

// count lies in [0, one day).
Clock ToClock(int64_t count, const System& s) {
  if (s.drop) {
    // Put back the frame numbers that drop frame skips, then count plainly.
    int64_t perTen = FramesPerTenMinutes(s);
    int64_t perMinute = 60 * int64_t(s.rate) - s.drop;
    int64_t tens = count / perTen, rest = count % perTen;
    count += 9 * int64_t(s.drop) * tens;
    if (rest > int64_t(s.drop)) count += s.drop * ((rest - s.drop) / perMinute);
  }
  Clock c;
  c.frames = DWORD(count % s.rate);
  int64_t secs = count / s.rate;
  c.seconds = DWORD(secs % 60);
  c.minutes = DWORD(secs / 60 % 60);
  c.hours = DWORD(secs / 3600);
  return c;
}

int64_t FromClock(const Clock& c, const System& s) {
  int64_t count = (int64_t(c.hours) * 3600 + c.minutes * 60 + c.seconds) * s.rate + c.frames;
  if (s.drop) {
    int64_t minutes = int64_t(c.hours) * 60 + c.minutes;
    count -= s.drop * (minutes - minutes / 10);
  }
  return count;
}

bool Blank(WCHAR c) { return c == ' ' || c == '\t'; }
bool Digit(WCHAR c) { return c >= '0' && c <= '9'; }

// One or two digits.
bool Field(const WCHAR*& p, DWORD& value) {
  if (!Digit(*p)) return false;
  value = DWORD(*p++ - '0');
  if (Digit(*p)) value = value * 10 + DWORD(*p++ - '0');
  return true;
}

bool Parse(const WCHAR* p, Clock& c, DWORD& system) {
  if (!p) return false;
  while (Blank(*p)) ++p;
  if (!Field(p, c.hours) || *p++ != ':') return false;
  if (!Field(p, c.minutes) || *p++ != ':') return false;
  if (!Field(p, c.seconds)) return false;
  bool drop;
  if (*p == ':')
    drop = false;
  else if (*p == ';')
    drop = true;
  else
    return false;
  ++p;
  if (!Field(p, c.frames)) return false;
  while (Blank(*p)) ++p;
  system = ImpliedSystem(drop);
  if (*p == '@') {
    ++p;
    DWORD rate = 0;
    if (!Field(p, rate)) return false;
    system = SystemForRate(rate, drop);
    if (!system) return false;
    while (Blank(*p)) ++p;
  }
  if (*p) return false;
  const System& s = Lookup(system);
  if (c.hours >= 24 || c.minutes >= 60 || c.seconds >= 60 || c.frames >= s.rate) return false;
  // Drop frame has no frames 0..drop-1 in minutes not divisible by ten.
  if (s.drop && c.seconds == 0 && c.minutes % 10 != 0 && c.frames < s.drop) return false;
  return true;
}

}  // namespace

timecode::timecode() : m_frames(0), m_system(TCS_DEFAULT) {}

timecode::timecode(const WCHAR* text) : m_frames(0), m_system(TCS_DEFAULT) {
  Clock c;
  DWORD system;
  if (Parse(text, c, system)) {
    m_system = system;
    m_frames = LONG(FromClock(c, Lookup(system)));
  }
}

timecode::timecode(LONG frames, DWORD system) {
  m_system = NormalizeSystem(system);
  m_frames = LONG(Wrap(frames, Lookup(m_system)));
}

DWORD timecode::GetSystem() const { return m_system; }

void timecode::SetSystem(DWORD system) { m_system = system; }

DWORD WINAPI timecode::NormalizeSystem(DWORD system) {
  for (const System& s : kSystems)
    if (s.code == system) return system;
  return TCS_DEFAULT;
}

LONG timecode::Fields(DWORD what, LONG arg) const {
  const System& s = Lookup(m_system);
  switch (what) {
    case TCF_COUNT:
      return LONG(uint32_t(m_frames) + uint32_t(arg));
    case TCF_RATE:
      return LONG(s.rate);
    case TCF_DROP:
      return s.drop ? 1 : 0;
    case TCF_DAY:
      return LONG(FramesPerDay(s));
    case TCF_HOURS:
    case TCF_MINUTES:
    case TCF_SECONDS:
    case TCF_FRAMES: {
      Clock c = ToClock(Wrap(int64_t(m_frames) + arg, s), s);
      DWORD v = what == TCF_HOURS ? c.hours : what == TCF_MINUTES ? c.minutes : what == TCF_SECONDS ? c.seconds : c.frames;
      return LONG(v);
    }
    default:
      return -1;
  }
}

DWORD timecode::ToString(WCHAR* out, DWORD cap) const {
  const System& s = Lookup(m_system);
  Clock c = ToClock(Wrap(m_frames, s), s);
  WCHAR text[32];
  int n = plat::FormatW(text, 32, TEXT("%02u:%02u:%02u%c%02u"), unsigned(c.hours), unsigned(c.minutes),
                        unsigned(c.seconds), s.drop ? ';' : ':', unsigned(c.frames));
  if (s.code != ImpliedSystem(s.drop != 0)) n += plat::FormatW(text + n, 32 - n, TEXT("@%u"), unsigned(s.rate));
  if (out && cap) plat::WCopy(out, cap, text);
  return DWORD(n);
}
