// The tempo map as segments of constant rate, and exact times on it.
#include "midi_time.h"

#include <algorithm>

void set_timing(tempo_map &map, std::uint32_t rate, std::uint64_t units_per_ms) {
  map.default_rate = rate;
  map.den = units_per_ms;
}

std::uint64_t advance_at(const segment &s, std::uint64_t tick) {
  std::uint64_t units = 0, at = 0;
  if (__builtin_mul_overflow(tick - s.tick, std::uint64_t{s.rate}, &units) ||
      __builtin_add_overflow(s.at, units, &at)) {
    return UINT64_MAX; // far beyond any time QEV can hold
  }
  return at;
}

std::uint64_t to_ms(const tempo_map &map, std::uint64_t at) {
  std::uint64_t den = map.den;
  return at / den + ((at % den) * 2 >= den);
}

static void mark_whole(tempo_map &map) {
  std::uint64_t den = map.den;
  for (segment &s : map.segments) {
    s.whole = s.at % den == 0 && s.rate % den == 0;
    s.ms = s.at / den;
    s.ms_per_tick = s.rate / den;
  }
}

void build_segments(tempo_map &map, const tempo_change *first, const tempo_change *last,
                    std::uint64_t start_at) {
  std::vector<segment> &segments = map.segments;
  segments.assign(1, segment{0, start_at, map.default_rate, false, 0, 0});
  for (const tempo_change *t = first; t != last; ++t) {
    segment &back = segments.back();
    if (t->tick == back.tick) {
      back.rate = t->tempo;
    } else {
      segments.push_back({t->tick, advance_at(back, t->tick), t->tempo, false, 0, 0});
    }
  }
  mark_whole(map);
}

std::size_t segment_from(const tempo_map &map, std::size_t from, std::uint64_t tick) {
  const std::vector<segment> &segments = map.segments;
  std::size_t n = segments.size(), low = from, step = 1;
  while (step < n - low && segments[low + step].tick <= tick) {
    low += step;
    step *= 2;
  }
  auto high = segments.begin() + static_cast<std::ptrdiff_t>(std::min(n, low + step));
  auto s = std::upper_bound(segments.begin() + static_cast<std::ptrdiff_t>(low) + 1, high, tick,
                            [](std::uint64_t t, const segment &seg) { return t < seg.tick; });
  return static_cast<std::size_t>(s - segments.begin()) - 1;
}

std::uint64_t exact_at(const tempo_map &map, std::uint64_t tick) {
  const std::vector<segment> &segments = map.segments;
  auto s = std::upper_bound(segments.begin(), segments.end(), tick,
                            [](std::uint64_t t, const segment &seg) { return t < seg.tick; });
  return advance_at(*(s - 1), tick);
}
