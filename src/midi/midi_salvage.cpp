// A salvage's reading of a damaged file (midi_salvage.h): tracks cut at
// their damage, the notes they leave sounding ended there, and the cut of
// every track where the tempo may have been lost.
#include "midi_salvage.h"

#include <algorithm>
#include <limits>

void count_note(std::vector<std::uint16_t> &on, const track_event &e) {
  std::uint16_t &count = on[static_cast<std::size_t>(e.status & 0x0F) << 7 | e.data1];
  if ((e.status & 0xF0) == 0x90 && e.data2 != 0) {
    count = static_cast<std::uint16_t>(count + (count < UINT16_MAX ? 1 : 0));
  } else if (count != 0) {
    --count;
  }
}

void cut_track(midi_track &t, std::size_t at, std::uint64_t tick,
               const std::vector<std::uint16_t> &on, midi_file_info *info, const midi_fault &damage,
               unsigned number) {
  t.end = at;
  t.damaged = true;
  t.fault_tick = tick;
  for (std::size_t key = 0; key < on.size(); ++key) {
    t.sounding.insert(t.sounding.end(), on[key], static_cast<std::uint16_t>(key));
  }
  // A length that ran past the end, or past the next track, was the damage
  // already; the fault in the events that follows it is its consequence.
  if (std::none_of(info->damage.begin(), info->damage.end(),
                   [number](const midi_damage &d) { return d.track == number; })) {
    note_damage(info, damage, number);
  }
}

void drop_after_damage(midi_reading &r, midi_file_info *info) {
  auto damaged =
      std::find_if(r.tracks.begin(), r.tracks.end(), [](const midi_track &t) { return t.damaged; });
  if (damaged != r.tracks.end() && damaged + 1 != r.tracks.end()) {
    info->tracks_lost = static_cast<unsigned>(r.tracks.end() - damaged - 1);
    r.tracks.erase(damaged + 1, r.tracks.end());
  }
}

void time_damage(midi_reading &r, midi_file_info *info, std::size_t i) {
  const midi_track &t = r.tracks[i];
  if (!t.damaged) {
    return;
  }
  std::uint64_t at = exact_at(r.map, t.fault_tick);
  auto ms = static_cast<std::uint32_t>(std::min<std::uint64_t>(to_ms(r.map, at), UINT32_MAX));
  for (midi_damage &d : info->damage) {
    if (d.track == i + 1) {
      d.timed = true;
      d.lost_after = ms;
    }
  }
  // The first track holds the tempo map by custom, and another may hold
  // part of it; with SMPTE timing there is none to lose.
  bool tempo = i == 0 || t.end_change > t.first_change;
  if (info->format != 2 && !info->smpte && tempo && (!r.cut || at < r.cut_at)) {
    r.cut = info->cut = true;
    r.cut_at = at;
    r.cut_ms = info->cut_ms = ms;
    info->cut_track = static_cast<unsigned>(i) + 1;
    r.on.assign(16 * 128, 0);
  }
}

bool past_cut(midi_reading &r, midi_note *note, bool got) {
  if (got && r.last_at <= r.cut_at) {
    count_note(r.on, {event_kind::note, dropped_kind::kinds, note->status, note->note,
                      note->velocity, 0, 0, 0});
    return true;
  }
  r.ending = true;
  while (r.end_key < r.on.size() && r.on[r.end_key] == 0) {
    ++r.end_key;
  }
  if (r.end_key == r.on.size()) {
    return false;
  }
  --r.on[r.end_key];
  *note = {r.cut_ms, static_cast<std::uint8_t>(0x80 | r.end_key >> 7),
           static_cast<std::uint8_t>(r.end_key & 0x7F), 0, true};
  return true;
}
