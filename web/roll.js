// The piano roll's view and its drawing: the notes the module paired, drawn
// on a canvas from its typed arrays, only what is in view, with the findings
// marked where they stand in time and a time axis whose labels are exact.
// Time runs left to right in milliseconds, pitch bottom to top; C4 is 60.
// How a note looks, the themes and the drums' names are in roll_notes.js;
// what the mouse and the wheel do is in roll_input.js.
'use strict';

const NOTE_FIELDS = 6; // start, end, note on line, note off line, chan << 16 | key << 8 | vel, flags
const STUCK = 1;
const KEYS_WIDTH = 44;
const AXIS_HEIGHT = 22;
const MARK_STRIP = 12; // markers of skipped lines, which have no pitch, under the axis
const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

function noteName(key) {
  return NAMES[key % 12] + (Math.floor(key / 12) - 1);
}

const roll = {
  canvas: null,
  notes: new Uint32Array(0),
  count: 0,
  marks: [],          // {finding, time, key or -1}
  hidden: new Uint8Array(16),
  t0: 0,              // the time at the left edge, ms
  msPerPx: 10,
  low: 48, high: 84,  // the keys shown
  end: 0,             // the last time any note sounds
  longest: 0,         // the longest note that is not stuck, for finding what is in view
  playhead: 0,        // where Play starts, ms
  drums: 1 << 9,      // the drum channels, bit n for channel n, as the checker takes them
  drumKeys: new Uint8Array(128), // the keys the drum channels play, which get their lane's names
  stuck: [],          // the notes that never end, which may start long before the view
  markOrder: [],      // the marks' indices in order of time, for finding those in view
  work: { rects: 0, pixelNotes: 0, marks: 0, scanned: 0 }, // what the last drawing and hover did
  pixelThreshold: 2000, // notes in view past which they go into a pixel buffer
  onSelectLines: null,
  onSelectFinding: null,
};

function rollSize() {
  const c = roll.canvas;
  return { w: c.clientWidth, h: c.clientHeight };
}

function keyHeight() {
  const { h } = rollSize();
  return (h - AXIS_HEIGHT - MARK_STRIP) / (roll.high - roll.low + 1);
}

function xOf(ms) {
  return KEYS_WIDTH + (ms - roll.t0) / roll.msPerPx;
}

function yOf(key) {
  return AXIS_HEIGHT + MARK_STRIP + (roll.high - key) * keyHeight();
}

function timeAt(x) {
  return roll.t0 + (x - KEYS_WIDTH) * roll.msPerPx;
}

function setRollData(notes, count, marks) {
  roll.notes = notes;
  roll.count = count;
  roll.marks = marks;
  roll.stuck = [];
  roll.drumKeys.fill(0);
  let end = 0, longest = 0, low = 127, high = 0;
  for (let i = 0, at = 0; i < count; i++, at += NOTE_FIELDS) {
    end = Math.max(end, notes[at + 1]);
    if (notes[at + 5] & STUCK) roll.stuck.push(i); else longest = Math.max(longest, notes[at + 1] - notes[at]);
    const key = (notes[at + 4] >> 8) & 0x7f;
    if (isDrum(notes[at + 4] >> 16)) roll.drumKeys[key] = 1;
    low = Math.min(low, key);
    high = Math.max(high, key);
  }
  for (const m of marks) {
    end = Math.max(end, m.time);
    if (m.key >= 0) { low = Math.min(low, m.key); high = Math.max(high, m.key); }
  }
  roll.markOrder = marks.map((_, i) => i).sort((a, b) => marks[a].time - marks[b].time);
  roll.end = end;
  roll.longest = longest;
  if (low > high) { low = 60; high = 72; }
  roll.fitLow = Math.max(0, low - 2);
  roll.fitHigh = Math.min(127, high + 2);
}

// A file newly opened: every channel shown, the playhead at the start.
function resetRoll() {
  roll.hidden.fill(0);
  roll.playhead = 0;
}

function fitRoll() {
  const { w } = rollSize();
  roll.low = roll.fitLow;
  roll.high = roll.fitHigh;
  roll.t0 = 0;
  roll.msPerPx = Math.max(roll.end, 1000) / Math.max(w - KEYS_WIDTH - 14, 1);
  drawRoll();
}

// The first note that may still sound at time t: notes come in order of start.
function firstNoteAt(t) {
  let lo = 0, hi = roll.count;
  const from = t - roll.longest;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (roll.notes[mid * NOTE_FIELDS] < from) lo = mid + 1; else hi = mid;
  }
  return lo;
}

// The first note that starts after time t.
function firstNoteAfter(t) {
  let lo = 0, hi = roll.count;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (roll.notes[mid * NOTE_FIELDS] <= t) lo = mid + 1; else hi = mid;
  }
  return lo;
}

// The first of the marks in order of time at or after t.
function firstMarkAt(t) {
  let lo = 0, hi = roll.markOrder.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (roll.marks[roll.markOrder[mid]].time < t) lo = mid + 1; else hi = mid;
  }
  return lo;
}

// Grid steps, each a round number in the unit its labels use: milliseconds,
// seconds, minutes, hours, days.
const STEPS = [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 15000, 30000, 60000,
  120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000, 86400000,
  172800000, 432000000, 864000000, 1728000000, 4320000000];

// A time on the axis, with as many decimals as the step needs, so that
// neighbours differ: "2.38 s" below a minute, then "1:02.5", then
// "1:00:00"; hours run on past a day.
function timeLabel(ms, step) {
  const decimals = step % 1000 === 0 ? 0 : step % 100 === 0 ? 1 : step % 10 === 0 ? 2 : 3;
  if (ms < 60000) return `${(ms / 1000).toFixed(decimals)} s`;
  const hours = Math.floor(ms / 3600000), minutes = Math.floor(ms / 60000) % 60;
  const seconds = ((ms % 60000) / 1000).toFixed(decimals).padStart(decimals ? decimals + 3 : 2, '0');
  return hours ? `${hours}:${String(minutes).padStart(2, '0')}:${seconds}` : `${minutes}:${seconds}`;
}

// The finest step whose lines stand 70 px apart and whose labels, the
// widest of those in view, fit between them.
function gridStep(g, from, to) {
  for (const step of STEPS) {
    const px = step / roll.msPerPx;
    if (px < 70) continue;
    const first = Math.ceil(from / step) * step, last = Math.max(first, Math.floor(to / step) * step);
    const widest = Math.max(g.measureText(timeLabel(first, step)).width,
      g.measureText(timeLabel(last, step)).width);
    if (px >= widest + 12) return step;
  }
  return STEPS[STEPS.length - 1];
}

function drawRoll() {
  const c = roll.canvas;
  const ratio = window.devicePixelRatio || 1;
  const { w, h } = rollSize();
  if (c.width !== Math.round(w * ratio) || c.height !== Math.round(h * ratio)) {
    c.width = Math.round(w * ratio);
    c.height = Math.round(h * ratio);
  }
  const g = c.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  const colors = theme();
  g.fillStyle = colors.background;
  g.fillRect(0, 0, w, h);
  const kh = keyHeight();
  // Rows: black keys shaded, as on a keyboard.
  for (let key = roll.low; key <= roll.high; key++) {
    if ([1, 3, 6, 8, 10].includes(key % 12)) {
      g.fillStyle = colors.blackRow;
      g.fillRect(KEYS_WIDTH, yOf(key), w - KEYS_WIDTH, kh);
    }
  }
  // The grid and the time axis.
  g.font = '11px system-ui, sans-serif';
  g.textBaseline = 'middle';
  const step = gridStep(g, Math.max(roll.t0, 0), timeAt(w));
  for (let t = Math.ceil(Math.max(roll.t0, 0) / step) * step; xOf(t) < w; t += step) {
    const x = Math.round(xOf(t)) + 0.5;
    g.strokeStyle = colors.grid;
    g.beginPath();
    g.moveTo(x, AXIS_HEIGHT);
    g.lineTo(x, h);
    g.stroke();
    g.fillStyle = colors.text;
    // A label cut off at the edge would read as another time.
    const label = timeLabel(t, step);
    if (x + 3 + g.measureText(label).width <= w) g.fillText(label, x + 3, AXIS_HEIGHT / 2);
  }
  // The notes in view: one by one where they are few, else straight into
  // a buffer of pixels, which a million notes take in milliseconds where as
  // many fillRects take a second. Notes that never end are drawn one by
  // one, with their red edge, wherever they started.
  const t1 = timeAt(w);
  const first = firstNoteAt(roll.t0), last = firstNoteAfter(t1);
  roll.work = { rects: 0, pixelNotes: 0, marks: 0, scanned: 0 };
  const many = last - first > roll.pixelThreshold;
  if (many) drawNotePixels(g, first, last, ratio, kh);
  for (let i = many ? last : first; i < last; i++) drawNote(g, i, t1, kh);
  for (const i of roll.stuck) {
    if (many || i < first || i >= last) drawNote(g, i, t1, kh);
  }
  // The playhead under the marks, which must never be hidden.
  if (roll.playhead >= 0 && xOf(roll.playhead) >= KEYS_WIDTH) {
    g.strokeStyle = colors.playhead;
    g.lineWidth = 2;
    g.beginPath();
    g.moveTo(xOf(roll.playhead), 0);
    g.lineTo(xOf(roll.playhead), h);
    g.stroke();
    g.lineWidth = 1;
  }
  // The marks in view, and where many share a spot, one of them.
  const shown = new Set();
  for (let k = firstMarkAt(timeAt(KEYS_WIDTH - 6)); k < roll.markOrder.length; k++) {
    const m = roll.marks[roll.markOrder[k]];
    if (m.time > timeAt(w + 6)) break;
    const { x, y } = markPoint(m);
    const spot = Math.round(x) * 4096 + Math.round(y);
    if (shown.has(spot)) continue;
    shown.add(spot);
    drawMark(g, m, w);
    roll.work.marks++;
  }
  // The keyboard down the side, over everything.
  g.fillStyle = colors.whiteKey;
  g.fillRect(0, AXIS_HEIGHT, KEYS_WIDTH, h - AXIS_HEIGHT);
  for (let key = roll.low; key <= roll.high; key++) {
    const black = [1, 3, 6, 8, 10].includes(key % 12);
    g.fillStyle = black ? colors.blackKey : colors.whiteKey;
    g.fillRect(black ? 0 : 0, yOf(key), black ? KEYS_WIDTH * 0.6 : KEYS_WIDTH, kh);
    g.strokeStyle = colors.keyEdge;
    g.strokeRect(0.5, yOf(key) + 0.5, KEYS_WIDTH - 1, kh);
  }
  // Every C is named, over the keys, at any row height: an octave always
  // has room for its name.
  g.font = `${Math.min(11, Math.max(8, Math.floor(12 * kh - 2)))}px system-ui, sans-serif`;
  g.fillStyle = colors.keyText;
  for (let key = Math.ceil(roll.low / 12) * 12; key <= roll.high; key += 12) {
    g.fillText(noteName(key), KEYS_WIDTH * 0.62, yOf(key) + kh / 2);
  }
  // The drums' lane: each key they play named as a drummer names it, beside
  // the keyboard, where the rows are tall enough to read.
  if (kh >= 8) {
    g.font = '10px system-ui, sans-serif';
    g.fillStyle = colors.text;
    for (let key = roll.low; key <= roll.high; key++) {
      if (roll.drumKeys[key]) g.fillText(drumName(key), KEYS_WIDTH + 3, yOf(key) + kh / 2);
    }
  }
}

// Where a mark is drawn: at its note's row, or in the strip under the axis.
function markPoint(m) {
  const kh = keyHeight();
  return { x: xOf(m.time), y: m.key >= 0 ? yOf(m.key) + kh / 2 : AXIS_HEIGHT + MARK_STRIP / 2 };
}

function drawMark(g, m, w) {
  const { x, y } = markPoint(m);
  if (x < KEYS_WIDTH - 6 || x > w + 6 || (m.key >= 0 && (m.key < roll.low || m.key > roll.high))) return;
  g.fillStyle = theme().mark;
  g.strokeStyle = theme().markEdge;
  g.beginPath();
  g.moveTo(x, y - 6);
  g.lineTo(x + 6, y);
  g.lineTo(x, y + 6);
  g.lineTo(x - 6, y);
  g.closePath();
  g.fill();
  g.stroke();
}

