// The piano roll's input: Ctrl+wheel, a pinch and the keys zoom and move,
// a drag moves the view, a hover shows a note or a finding, and a click
// selects a note's lines or a finding, or on the time axis moves the
// playhead. Drawing is in roll.js.
'use strict';

// The note drawn at a point, the last drawn where several overlap: found by
// time among the few that start near it, not among all in view.
function noteAt(x, y) {
  const kh = keyHeight();
  const key = roll.high - Math.floor((y - AXIS_HEIGHT - MARK_STRIP) / kh);
  const t = timeAt(x);
  const hit = (i) => {
    roll.work.scanned++;
    const at = i * NOTE_FIELDS, packed = roll.notes[at + 4];
    const start = roll.notes[at], end = roll.notes[at + 1];
    return ((packed >> 8) & 0x7f) === key && !roll.hidden[packed >> 16] && x >= xOf(start) &&
      x <= xOf(start) + noteWidth(packed >> 16, start, end);
  };
  roll.work.scanned = 0;
  let found = -1;
  for (let i = firstNoteAt(t - HIT_PX * roll.msPerPx), last = firstNoteAfter(t); i < last; i++) {
    if (hit(i)) found = i;
  }
  for (const i of roll.stuck) {
    if (i > found && hit(i)) found = i;
  }
  return found;
}

// The mark at a point, among those near it in time.
function markAt(x, y) {
  for (let k = firstMarkAt(timeAt(x - 7)); k < roll.markOrder.length; k++) {
    const m = roll.marks[roll.markOrder[k]];
    if (m.time > timeAt(x + 7)) break;
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
  const name = isDrum(n[4] >> 16) ? drumName(key) : noteName(key);
  return `${lines}: channel ${String.fromCharCode(97 + (n[4] >> 16))}, ${name} (${key}), ` +
    `velocity ${n[4] & 0x7f}, ${(n[0] / 1000).toFixed(3)} s ${end}`;
}

// Zooms by factor (below 1 in), keeping the time at x where it is: the
// middle of the view unless given.
function zoomRoll(factor, x) {
  const { w } = rollSize();
  const at = x === undefined ? (KEYS_WIDTH + w) / 2 : x;
  const t = timeAt(at);
  roll.msPerPx = Math.min(Math.max(roll.msPerPx * factor, 0.05), 3.6e6);
  roll.t0 = t - (at - KEYS_WIDTH) * roll.msPerPx;
  drawRoll();
}

// Moves the keys in view up (positive) or down by steps.
function movePitches(steps) {
  const span = roll.high - roll.low;
  roll.low = Math.min(Math.max(roll.low + steps, 0), 127 - span);
  roll.high = roll.low + span;
  drawRoll();
}

function startRoll(canvas, tip) {
  roll.canvas = canvas;
  let drag = null;
  // A plain wheel scrolls the page, as everywhere; Ctrl+wheel, which is
  // also what a pinch gives, zooms, and Shift+wheel moves through the
  // pitches, down going down.
  canvas.addEventListener('wheel', (e) => {
    if (!e.ctrlKey && !e.shiftKey) return;
    e.preventDefault();
    const rect = canvas.getBoundingClientRect();
    if (e.ctrlKey) {
      zoomRoll(Math.exp(e.deltaY * 0.002), e.clientX - rect.left);
    } else {
      movePitches(-Math.sign(e.deltaY || e.deltaX) * 2);
    }
  }, { passive: false });
  // The keys, on the focused roll: + and - zoom, the arrows move through
  // time and pitch, 0 fits.
  canvas.addEventListener('keydown', (e) => {
    const { w } = rollSize();
    const span = (w - KEYS_WIDTH) * roll.msPerPx;
    const actions = {
      '+': () => zoomRoll(0.5), '=': () => zoomRoll(0.5), '-': () => zoomRoll(2),
      ArrowLeft: () => { roll.t0 -= span / 8; drawRoll(); },
      ArrowRight: () => { roll.t0 += span / 8; drawRoll(); },
      ArrowUp: () => movePitches(2), ArrowDown: () => movePitches(-2), 0: fitRoll,
    };
    if (!actions[e.key] || e.ctrlKey || e.metaKey || e.altKey) return;
    e.preventDefault();
    actions[e.key]();
  });
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
