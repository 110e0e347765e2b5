// What the browser tests read of the page: what a person sees, counted
// and named as the programs name it, and where the roll draws.
'use strict';

window.qevStudio = {
  ready: false,
  checks: () => page.checks,
  opens: () => page.opens,
  findings: () => Array.from({ length: page.count }, (_, i) => finding(i)),
  // The fixes offered, as qevcheck's JSON names them: { finding, title, applicability, change }.
  fixes: () => Array.from(fixes.byFinding.keys(), (i) => {
    const f = fixOf(i);
    return { finding: i, title: f.title, applicability: f.safe ? 'safe' : 'unsafe', change: f.change };
  }),
  summary: () => page.summary,
  text: () => $('editor').value,
  playing: () => synth.playing,
  playhead: () => roll.playhead,
  timings: () => page.timings,
  // Where the roll draws note i, or mark i, in the canvas's own pixels.
  notePoint: (i) => {
    const n = roll.notes.subarray(i * NOTE_FIELDS, i * NOTE_FIELDS + NOTE_FIELDS);
    return { x: xOf((n[0] + n[1]) / 2), y: yOf((n[4] >> 8) & 0x7f) + keyHeight() / 2 };
  },
  markPoint: (i) => markPoint(roll.marks[i]),
  marks: () => roll.marks.map((m) => ({ line: page.fields[m.finding * FIELDS], time: m.time, key: m.key })),
  pixel: (x, y) => {
    const ratio = window.devicePixelRatio || 1;
    return Array.from($('roll').getContext('2d').getImageData(Math.round(x * ratio), Math.round(y * ratio), 1, 1).data);
  },
  renderOffline,
};
