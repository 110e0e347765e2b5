// How a note looks on the roll: the themes' colours, a note's opacity by
// its velocity, the drums' names and their short hits, and the two ways of
// drawing notes: one by one, or where thousands are in view, straight into
// a buffer of pixels. The view and the rest of the drawing are in roll.js.
'use strict';

// The colours of each theme. A channel's colour reaches 3:1 against the
// background even at the lowest velocity's opacity; sixteen hues cannot all
// be told apart by every reader, so the legend and the hover name the
// channel as well.
const THEMES = {
  light: {
    palette: ['#074788', '#633c05', '#04522b', '#ae0977', '#054b5a', '#8f2908', '#494304', '#730bda',
      '#1f2e7a', '#663919', '#134b3d', '#7a1f3d', '#184962', '#7a261f', '#364712', '#414141'],
    background: '#ffffff', blackRow: '#f3f4f6', grid: '#e5e7eb', text: '#57606a', whiteKey: '#ffffff',
    blackKey: '#24292f', keyEdge: '#d0d7de', keyText: '#24292f', playhead: '#1f6feb', mark: '#d1242f',
    markEdge: '#ffffff',
  },
  dark: {
    palette: ['#53a4f6', '#f2930d', '#0df280', '#f770ca', '#0dccf2', '#f6815a', '#f2df0d', '#bf86f9',
      '#8f9de3', '#e0ab85', '#85e0c9', '#e085a3', '#85c2e0', '#e08c85', '#c2e085', '#b2b2b2'],
    background: '#0d1117', blackRow: '#161b22', grid: '#30363d', text: '#8b949e', whiteKey: '#c9d1d9',
    blackKey: '#010409', keyEdge: '#30363d', keyText: '#0d1117', playhead: '#58a6ff', mark: '#ff7b72',
    markEdge: '#0d1117',
  },
};
const darkScheme = matchMedia('(prefers-color-scheme: dark)');
const theme = () => (darkScheme.matches ? THEMES.dark : THEMES.light);
// A note's opacity by its velocity, from 0.6 at 0 to 1 at 127.
const velocityAlpha = (v) => 0.6 + 0.4 * v / 127;
// General MIDI's percussion, keys 35 to 81, as a drummer names them.
const DRUM_NAMES = ['Kick 2', 'Kick', 'Side stick', 'Snare', 'Clap', 'Snare 2', 'Low floor tom',
  'Closed hat', 'High floor tom', 'Pedal hat', 'Low tom', 'Open hat', 'Low-mid tom', 'High-mid tom',
  'Crash', 'High tom', 'Ride', 'China', 'Ride bell', 'Tambourine', 'Splash', 'Cowbell', 'Crash 2',
  'Vibraslap', 'Ride 2', 'High bongo', 'Low bongo', 'Mute high conga', 'Open high conga', 'Low conga',
  'High timbale', 'Low timbale', 'High agogo', 'Low agogo', 'Cabasa', 'Maracas', 'Short whistle',
  'Long whistle', 'Short guiro', 'Long guiro', 'Claves', 'High wood block', 'Low wood block',
  'Mute cuica', 'Open cuica', 'Mute triangle', 'Open triangle'];

function drumName(key) {
  return DRUM_NAMES[key - 35] || `Drum ${key}`;
}

const isDrum = (chan) => ((roll.drums >> chan) & 1) !== 0;
// A drum's hit is drawn this wide, however long its note lasts.
const HIT_PX = 4;

// A note's width on the roll: a drum's a short hit; any other its length,
// at least 2 px, less a pixel at its end once it is wide enough to spare
// one, so that each note on starts a bar of its own.
function noteWidth(chan, start, end) {
  if (isDrum(chan)) return HIT_PX;
  const width = Math.round(xOf(end)) - Math.round(xOf(start));
  return width >= 4 ? width - 1 : Math.max(2, width);
}

// One note as a rectangle, at least 2 px wide, its velocity as opacity; one
// that never ends with a red edge.
function drawNote(g, i, t1, kh) {
  const notes = roll.notes, at = i * NOTE_FIELDS;
  const packed = notes[at + 4];
  const chan = packed >> 16, key = (packed >> 8) & 0x7f;
  const start = notes[at], end = notes[at + 1], stuck = notes[at + 5] & STUCK;
  if (roll.hidden[chan] || key < roll.low || key > roll.high || end < roll.t0 || start > t1) return;
  // On whole pixels, so that the pixel between two notes stays clear.
  const x = Math.round(xOf(start));
  const width = noteWidth(chan, start, end);
  const y = yOf(key);
  g.globalAlpha = velocityAlpha(packed & 0x7f);
  g.fillStyle = theme().palette[chan];
  g.fillRect(x, y + 0.5, width, Math.max(kh - 1, 1));
  g.globalAlpha = 1;
  roll.work.rects++;
  if (stuck) {
    g.strokeStyle = theme().mark;
    g.lineWidth = 2;
    g.strokeRect(x + 1, y + 1, width - 2, Math.max(kh - 2, 1));
    g.lineWidth = 1;
  }
}

// Each channel's colour as the pixel buffer holds it, red in the low byte,
// and each velocity's opacity, as drawNote draws them.
const pixelRgb = (palette) => palette.map((c) => parseInt(c.slice(1, 3), 16) |
  parseInt(c.slice(3, 5), 16) << 8 | parseInt(c.slice(5, 7), 16) << 16);
const PIXEL_ALPHA = Array.from({ length: 128 }, (_, v) => Math.round(255 * velocityAlpha(v)));
const pixels = { canvas: null, image: null, data: null };

// Notes first to last into a buffer of device pixels, laid over the roll in
// one drawImage. The notes that never end are left to drawNote.
function drawNotePixels(g, first, last, ratio, kh) {
  const W = g.canvas.width, H = g.canvas.height;
  if (!pixels.canvas || pixels.canvas.width !== W || pixels.canvas.height !== H) {
    pixels.canvas = document.createElement('canvas');
    pixels.canvas.width = W;
    pixels.canvas.height = H;
    pixels.image = new ImageData(W, H);
    pixels.data = new Uint32Array(pixels.image.data.buffer);
  }
  const data = pixels.data, notes = roll.notes;
  data.fill(0);
  const left = Math.round(KEYS_WIDTH * ratio), rows = Math.max(1, Math.round(Math.max(kh - 1, 1) * ratio));
  const minWidth = Math.max(1, Math.round(2 * ratio));
  const hit = Math.round(HIT_PX * ratio), gap = Math.round(ratio);
  // Device pixels from a time, and each key's first row, worked out once.
  const scale = ratio / roll.msPerPx, shift = (KEYS_WIDTH - roll.t0 / roll.msPerPx) * ratio;
  const keyRow = new Int32Array(128);
  for (let key = roll.low; key <= roll.high; key++) keyRow[key] = Math.round((yOf(key) + 0.5) * ratio);
  const { t0, low, high, hidden } = roll;
  const PIXEL_RGB = pixelRgb(theme().palette);
  let count = 0;
  for (let at = first * NOTE_FIELDS, stop = last * NOTE_FIELDS; at < stop; at += NOTE_FIELDS) {
    const packed = notes[at + 4];
    const chan = packed >> 16, key = (packed >> 8) & 0x7f;
    if (hidden[chan] || key < low || key > high || (notes[at + 5] & STUCK) || notes[at + 1] < t0) continue;
    const x = Math.floor(notes[at] * scale + shift);
    const x0 = x > left ? x : left;
    const x1 = Math.min(W, isDrum(chan) ? x + hit
      : Math.max(x + minWidth, Math.floor(notes[at + 1] * scale + shift) - gap));
    if (x1 <= x0) continue;
    const value = (PIXEL_RGB[chan] | PIXEL_ALPHA[packed & 0x7f] << 24) >>> 0;
    const y0 = keyRow[key];
    for (let y = y0, y1 = Math.min(H, y0 + rows); y < y1; y++) {
      for (let p = y * W + x0, end = y * W + x1; p < end; p++) data[p] = value;
    }
    count++;
  }
  roll.work.pixelNotes = count;
  pixels.canvas.getContext('2d').putImageData(pixels.image, 0, 0);
  g.save();
  g.setTransform(1, 0, 0, 1, 0, 0);
  g.drawImage(pixels.canvas, 0, 0);
  g.restore();
}
