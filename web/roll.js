// The piano roll: the notes the module paired, drawn on a canvas from its
// typed arrays, only what is in view, with the findings marked where they
// stand in time. Time runs left to right in milliseconds, pitch bottom to
// top; C4 is 60.
'use strict';

const NOTE_FIELDS = 6; // start, end, note on line, note off line, chan << 16 | key << 8 | vel, flags
const STUCK = 1;
const KEYS_WIDTH = 44;
const AXIS_HEIGHT = 22;
const MARK_STRIP = 12; // markers of skipped lines, which have no pitch, under the axis
// Okabe and Ito's palette, which readers with any colour vision tell apart,
// then the same hues darker for channels i to p.
const PALETTE = ['#0072b2', '#e69f00', '#009e73', '#cc79a7', '#56b4e9', '#d55e00', '#f0e442', '#000000',
  '#004a75', '#996a00', '#00694d', '#8a4f70', '#2f7fad', '#8f3f00', '#a39a2c', '#5c5c5c'];
const MARK_COLOR = '#d1242f';
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
  playhead: -1,
  visible: [],        // the notes drawn last, for hovering
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
  let end = 0, longest = 0, low = 127, high = 0;
  for (let i = 0; i < count; i++) {
    const n = notes.subarray(i * NOTE_FIELDS, i * NOTE_FIELDS + NOTE_FIELDS);
    end = Math.max(end, n[1]);
    if (!(n[5] & STUCK)) longest = Math.max(longest, n[1] - n[0]);
    const key = (n[4] >> 8) & 0x7f;
    low = Math.min(low, key);
    high = Math.max(high, key);
  }
  for (const m of marks) {
    end = Math.max(end, m.time);
    if (m.key >= 0) { low = Math.min(low, m.key); high = Math.max(high, m.key); }
  }
  roll.end = end;
  roll.longest = longest;
  if (low > high) { low = 60; high = 72; }
  roll.fitLow = Math.max(0, low - 2);
  roll.fitHigh = Math.min(127, high + 2);
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

function gridStep() {
  const steps = [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 30000, 60000, 120000,
    300000, 600000, 1800000, 3600000];
  return steps.find((s) => s / roll.msPerPx >= 70) || 7200000;
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
  g.fillStyle = '#ffffff';
  g.fillRect(0, 0, w, h);
  const kh = keyHeight();
  // Rows: black keys shaded, as on a keyboard.
  for (let key = roll.low; key <= roll.high; key++) {
    if ([1, 3, 6, 8, 10].includes(key % 12)) {
      g.fillStyle = '#f3f4f6';
      g.fillRect(KEYS_WIDTH, yOf(key), w - KEYS_WIDTH, kh);
    }
  }
  // The grid and the time axis, in seconds.
  const step = gridStep();
  g.font = '11px system-ui, sans-serif';
  g.textBaseline = 'middle';
  for (let t = Math.ceil(Math.max(roll.t0, 0) / step) * step; xOf(t) < w; t += step) {
    const x = Math.round(xOf(t)) + 0.5;
    g.strokeStyle = '#e5e7eb';
    g.beginPath();
    g.moveTo(x, AXIS_HEIGHT);
    g.lineTo(x, h);
    g.stroke();
    g.fillStyle = '#57606a';
    g.fillText(`${(t / 1000).toFixed(step < 1000 ? 3 - Math.round(Math.log10(step)) : 0)} s`, x + 3, AXIS_HEIGHT / 2);
  }
  // The notes in view.
  const t1 = timeAt(w);
  roll.visible = [];
  // Zoomed out, thousands of notes share a pixel: one of them per column,
  // row and channel is drawn, which looks the same and takes a fraction of
  // the time.
  const drawn = new Int32Array(128 * 16).fill(-1);
  const notes = roll.notes;
  const drawNote = (i) => {
    const at = i * NOTE_FIELDS;
    const packed = notes[at + 4];
    const chan = packed >> 16, key = (packed >> 8) & 0x7f;
    const start = notes[at], end = notes[at + 1], stuck = notes[at + 5] & STUCK;
    if (roll.hidden[chan] || key < roll.low || key > roll.high || end < roll.t0 || start > t1) return;
    const x = xOf(start);
    const width = Math.max(2, (end - start) / roll.msPerPx);
    const column = Math.floor(x);
    if (width < 3 && !stuck && drawn[key * 16 + chan] === column) return;
    drawn[key * 16 + chan] = column;
    const y = yOf(key);
    g.globalAlpha = 0.35 + 0.65 * (packed & 0x7f) / 127;
    g.fillStyle = PALETTE[chan];
    g.fillRect(x, y + 0.5, width, Math.max(kh - 1, 1));
    g.globalAlpha = 1;
    if (stuck) {
      g.strokeStyle = MARK_COLOR;
      g.lineWidth = 2;
      g.strokeRect(x + 1, y + 1, width - 2, Math.max(kh - 2, 1));
      g.lineWidth = 1;
    }
    roll.visible.push(i);
  };
  const first = firstNoteAt(roll.t0);
  for (let i = first; i < roll.count && notes[i * NOTE_FIELDS] <= t1; i++) drawNote(i);
  // Stuck notes may have started long before the view.
  for (let i = 0; i < first; i++) {
    if (notes[i * NOTE_FIELDS + 5] & STUCK) drawNote(i);
  }
  for (const m of roll.marks) drawMark(g, m, w);
  // The keyboard down the side, over everything.
  g.fillStyle = '#ffffff';
  g.fillRect(0, AXIS_HEIGHT, KEYS_WIDTH, h - AXIS_HEIGHT);
  for (let key = roll.low; key <= roll.high; key++) {
    const black = [1, 3, 6, 8, 10].includes(key % 12);
    g.fillStyle = black ? '#24292f' : '#ffffff';
    g.fillRect(black ? 0 : 0, yOf(key), black ? KEYS_WIDTH * 0.6 : KEYS_WIDTH, kh);
    g.strokeStyle = '#d0d7de';
    g.strokeRect(0.5, yOf(key) + 0.5, KEYS_WIDTH - 1, kh);
    if (key % 12 === 0 && kh >= 6) {
      g.fillStyle = '#24292f';
      g.fillText(noteName(key), KEYS_WIDTH * 0.62, yOf(key) + kh / 2);
    }
  }
  if (roll.playhead >= 0 && xOf(roll.playhead) >= KEYS_WIDTH) {
    g.strokeStyle = '#1f6feb';
    g.lineWidth = 2;
    g.beginPath();
    g.moveTo(xOf(roll.playhead), 0);
    g.lineTo(xOf(roll.playhead), h);
    g.stroke();
    g.lineWidth = 1;
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
  g.fillStyle = MARK_COLOR;
  g.strokeStyle = '#ffffff';
  g.beginPath();
  g.moveTo(x, y - 6);
  g.lineTo(x + 6, y);
  g.lineTo(x, y + 6);
  g.lineTo(x - 6, y);
  g.closePath();
  g.fill();
  g.stroke();
}

function noteAt(x, y) {
  for (let k = roll.visible.length - 1; k >= 0; k--) {
    const i = roll.visible[k];
    const n = roll.notes.subarray(i * NOTE_FIELDS, i * NOTE_FIELDS + NOTE_FIELDS);
    const key = (n[4] >> 8) & 0x7f;
    const top = yOf(key);
    if (x >= xOf(n[0]) && x <= xOf(n[0]) + Math.max(2, (n[1] - n[0]) / roll.msPerPx) &&
        y >= top && y <= top + keyHeight()) return i;
  }
  return -1;
}

function markAt(x, y) {
  for (const m of roll.marks) {
    const p = markPoint(m);
    if (Math.abs(p.x - x) + Math.abs(p.y - y) <= 7) return m;
  }
  return null;
}

function noteText(i) {
  const n = roll.notes.subarray(i * NOTE_FIELDS, i * NOTE_FIELDS + NOTE_FIELDS);
  const key = (n[4] >> 8) & 0x7f;
  const lines = n[3] ? `lines ${n[2]} and ${n[3]}` : `line ${n[2]}`;
  const end = n[5] & STUCK ? 'never ends' : `to ${(n[1] / 1000).toFixed(3)} s`;
  return `${lines}: channel ${String.fromCharCode(97 + (n[4] >> 16))}, ${noteName(key)} (${key}), ` +
    `velocity ${n[4] & 0x7f}, ${(n[0] / 1000).toFixed(3)} s ${end}`;
}

function startRoll(canvas, tip) {
  roll.canvas = canvas;
  let drag = null;
  canvas.addEventListener('wheel', (e) => {
    e.preventDefault();
    const rect = canvas.getBoundingClientRect();
    if (e.shiftKey) {
      const shift = Math.sign(e.deltaY || e.deltaX) * 2;
      const span = roll.high - roll.low;
      roll.low = Math.min(Math.max(roll.low + shift, 0), 127 - span);
      roll.high = roll.low + span;
    } else {
      const at = timeAt(e.clientX - rect.left);
      roll.msPerPx = Math.min(Math.max(roll.msPerPx * Math.exp(e.deltaY * 0.002), 0.05), 3.6e6);
      roll.t0 = at - (e.clientX - rect.left - KEYS_WIDTH) * roll.msPerPx;
    }
    drawRoll();
  }, { passive: false });
  canvas.addEventListener('pointerdown', (e) => {
    const rect = canvas.getBoundingClientRect();
    drag = { x: e.clientX, y: e.clientY, t0: roll.t0, low: roll.low, moved: false, top: e.clientY - rect.top };
    canvas.setPointerCapture(e.pointerId);
  });
  canvas.addEventListener('pointermove', (e) => {
    const rect = canvas.getBoundingClientRect();
    const x = e.clientX - rect.left, y = e.clientY - rect.top;
    if (drag) {
      const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
      if (Math.abs(dx) + Math.abs(dy) > 3) drag.moved = true;
      roll.t0 = drag.t0 - dx * roll.msPerPx;
      const span = roll.high - roll.low;
      roll.low = Math.round(Math.min(Math.max(drag.low + dy / keyHeight(), 0), 127 - span));
      roll.high = roll.low + span;
      drawRoll();
      return;
    }
    const mark = markAt(x, y);
    const i = mark ? -1 : noteAt(x, y);
    tip.hidden = !mark && i < 0;
    if (!tip.hidden) {
      tip.textContent = mark ? mark.text : noteText(i);
      tip.style.left = `${Math.min(x + 12, rect.width - tip.offsetWidth - 4)}px`;
      tip.style.top = `${y + 14}px`;
    }
  });
  canvas.addEventListener('pointerleave', () => { tip.hidden = true; });
  canvas.addEventListener('pointerup', (e) => {
    const moved = drag && drag.moved, top = drag ? drag.top : 0;
    drag = null;
    if (moved) return;
    const rect = canvas.getBoundingClientRect();
    const x = e.clientX - rect.left, y = e.clientY - rect.top;
    if (top < AXIS_HEIGHT) {
      if (roll.onSeek) roll.onSeek(Math.max(0, timeAt(x)));
      return;
    }
    const mark = markAt(x, y);
    if (mark && roll.onSelectFinding) { roll.onSelectFinding(mark.finding); return; }
    const i = noteAt(x, y);
    if (i >= 0 && roll.onSelectLines) {
      const n = roll.notes.subarray(i * NOTE_FIELDS, i * NOTE_FIELDS + NOTE_FIELDS);
      roll.onSelectLines(n[2], n[3] || n[2]);
    }
  });
  new ResizeObserver(() => drawRoll()).observe(canvas);
}
