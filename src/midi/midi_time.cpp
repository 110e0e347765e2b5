// The tempo map as segments of constant rate, and exact times on it.
#include "midi_time.h"

#include <algorithm>

std::vector<segment> segments;
static std::uint32_t default_rate = 500000;
static std::uint64_t den = 1;

void set_timing(std::uint32_t rate, std::uint64_t units_per_ms) {
  default_rate = rate;
  den = units_per_ms;
}

std::uint64_t advance_at(const segment &s, std::uint64_t tick) {
  std::uint64_t units = 0, at = 0;
  if (__builtin_mul_overflow(tick - s.tick, std::uint64_t{s.rate}, &units) ||
      __builtin_add_overflow(s.at, units, &at)) {
    return UINT64_MAX; // far beyond any time QEV can hold
  }
  return at;
}

std::uint64_t to_ms(std::uint64_t at) {
  return at / den + ((at % den) * 2 >= den);
}

static void mark_whole() {
  for (segment &s : segments) {
    s.whole = s.at % den == 0 && s.rate % den == 0;
    s.ms = s.at / den;
    s.ms_per_tick = s.rate / den;
  }
}

void build_segments(const std::vector<tempo_change> &changes, std::uint64_t start_at, bool all,
                    std::size_t only) {
  segments.assign(1, segment{0, start_at, default_rate, false, 0, 0});
  for (const tempo_change &t : changes) {
    if (!all && t.track != only) {
      continue;
    }
    segment &last = segments.back();
    if (t.tick == last.tick) {
      last.rate = t.tempo;
    } else {
      segments.push_back({t.tick, advance_at(last, t.tick), t.tempo, false, 0, 0});
    }
  }
  mark_whole();
}

std::uint64_t exact_at(std::uint64_t tick) {
  auto s = std::upper_bound(segments.begin(), segments.end(), tick,
                            [](std::uint64_t t, const segment &seg) { return t < seg.tick; });
  return advance_at(*(s - 1), tick);
}
