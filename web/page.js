// The page: opens, checks, converts and downloads through the C++ module
// (module.js), and shows the findings, the editor and the roll; no rule of
// the format is written again here.
'use strict';

const SHOWN = 2000; // findings rendered at a time; a large file can have millions
// Lines the editor takes: past some ten thousand, a browser's text area takes
// seconds to lay out, so a larger file is shown in part, and read-only.
const EDITOR_LINES = 10000;

const page = {
  runs: 0,              // checks started; a newer one makes an older one give up
  name: 'untitled',     // the opened file's name, for the summary and downloads
  bytes: null,          // the opened file's own bytes, until the first edit
  qevName: null,        // where a MIDI file was opened: the .qev download's name
  fields: new Uint32Array(0),
  messages: new Uint8Array(0),
  count: 0,
  shown: 0,
  summary: '',
  mid: null,            // qev2mid's output, or null when it would fail
  checks: 0,            // checks done, for tests to wait on
  timer: 0,
  timings: {},          // ms for each stage of the last check
  current: -1,          // the finding selected
  cut: false,           // whether the editor shows only the file's first lines
  lines: 0,
};

const $ = (id) => document.getElementById(id);
const decoder = new TextDecoder('utf-8', { ignoreBOM: true });

// The bytes checked and converted: the file's own until it is edited, so
// that CR, 0x1A, a byte-order mark or a missing last line feed are seen as
// they are; after an edit, the text as UTF-8 with LF line ends.
function currentBytes() {
  return page.bytes !== null ? page.bytes : new TextEncoder().encode($('editor').value);
}

// A moment for the page to answer input between stages, so that no single
// task holds it for long, even on a file of a million events.
const yieldToPage = () => new Promise((resolve) => setTimeout(resolve, 0));

async function checkNow() {
  const run = ++page.runs;
  const timings = {};
  let t = performance.now();
  const bytes = currentBytes();
  const checked = checkBytes(bytes, page.name);
  page.count = checked.count;
  page.fields = checked.fields;
  page.messages = checked.messages;
  page.summary = checked.summary;
  timings.check = performance.now() - t;
  await yieldToPage();
  if (run !== page.runs) return;
  t = performance.now();
  setRollData(checked.notes, checked.noteCount, marks());
  if (page.fitOnCheck) {
    page.fitOnCheck = false;
    fitRoll();
  } else {
    drawRoll();
  }
  legend();
  render();
  timings.draw = performance.now() - t;
  await yieldToPage();
  if (run !== page.runs) return;
  t = performance.now();
  page.mid = convertBytes(bytes);
  renderDownloads();
  timings.convert = performance.now() - t;
  page.timings = timings;
  page.checks++;
}

// The findings the roll marks: those about a line or a note, but not the
// notes still sounding, whose red edge says it.
function marks() {
  const out = [];
  for (let i = 0; i < page.count; i++) {
    const f = page.fields.subarray(i * FIELDS, i * FIELDS + FIELDS);
    if (f[0] === 0 || f[3] === 2 || codeName(f[4]) === 'still-sounding') continue;
    out.push({ finding: i, time: f[7], key: f[8] - 1, text: `line ${f[0]}: ${message(i)}` });
  }
  return out;
}

function legend() {
  const used = new Uint8Array(16);
  for (let i = 0; i < roll.count; i++) used[roll.notes[i * NOTE_FIELDS + 4] >> 16] = 1;
  const box = $('legend');
  box.textContent = '';
  used.forEach((u, chan) => {
    if (!u) return;
    const b = document.createElement('button');
    b.type = 'button';
    b.setAttribute('aria-pressed', String(!roll.hidden[chan]));
    b.innerHTML = '<span class="swatch"></span>';
    b.firstChild.style.background = PALETTE[chan];
    b.append(`channel ${String.fromCharCode(97 + chan)}`);
    b.addEventListener('click', () => {
      roll.hidden[chan] ^= 1;
      b.setAttribute('aria-pressed', String(!roll.hidden[chan]));
      drawRoll();
    });
    box.appendChild(b);
  });
}

function render() {
  $('summary').textContent = page.summary || `${page.name}: nothing to report`;
  $('findings').textContent = '';
  page.shown = 0;
  showMore();
  $('source').textContent = page.bytes === null
    ? `${page.name}: checking the text as edited, as UTF-8 with LF line ends.`
    : page.cut
      ? `${page.name}: ${page.lines.toLocaleString('en')} lines. The editor shows the first ` +
        `${EDITOR_LINES.toLocaleString('en')}, read-only; the findings, the roll and the downloads ` +
        'cover the whole file, as qevcheck reads it.'
      : `${page.name}: checking the file's own bytes, as qevcheck reads them.`;
}

function renderDownloads() {
  const mid = $('download-mid');
  mid.disabled = page.mid === null;
  mid.textContent = `Download ${outputName(page.name, '.mid')}`;
  const qev = $('download-qev');
  qev.hidden = page.qevName === null;
  if (page.qevName !== null) qev.textContent = `Download ${page.qevName}`;
}

function download(bytes, name, type) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([bytes], { type }));
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

function showText(bytes) {
  let end = 0;
  let lines = 0;
  for (; lines < EDITOR_LINES && end < bytes.length; lines++) {
    const lf = bytes.indexOf(10, end);
    end = lf === -1 ? bytes.length : lf + 1;
  }
  page.cut = end < bytes.length;
  page.lines = lines;
  if (page.cut) {
    for (let at = end; (at = bytes.indexOf(10, at) + 1) > 0;) page.lines++;
  }
  $('editor').value = decoder.decode(bytes.subarray(0, end));
  $('editor').readOnly = page.cut;
}

async function open(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  page.qevName = null;
  if (/\.(mid|midi|kar|rmi)$/i.test(file.name)) {
    const back = qevFromMidi(bytes, file.name);
    if (back.error) {
      $('summary').textContent = `${file.name} ${back.error}`;
      return;
    }
    page.qevName = outputName(file.name, '.qev');
    page.name = page.qevName;
    page.bytes = back.text;
  } else {
    page.name = file.name;
    page.bytes = bytes;
  }
  showText(page.bytes);
  page.fitOnCheck = true;
  await yieldToPage();
  await checkNow();
}

function togglePlay() {
  if (synth.playing) {
    stopPlaying();
  } else {
    startPlaying(roll.playhead >= 0 ? roll.playhead : Math.max(roll.t0, 0));
  }
}

function edited() {
  page.bytes = null;
  clearTimeout(page.timer);
  page.timer = setTimeout(checkNow, 250);
}

async function start() {
  $('open').addEventListener('change', (e) => { if (e.target.files.length) open(e.target.files[0]); });
  $('editor').addEventListener('input', edited);
  $('more').addEventListener('click', showMore);
  $('findings').addEventListener('click', (e) => {
    const li = e.target.closest('li');
    if (li) select(Number(li.dataset.index));
  });
  $('findings').addEventListener('keydown', (e) => {
    const li = e.target.closest('li');
    if (li && e.key === 'Enter') select(Number(li.dataset.index));
  });
  $('download-mid').addEventListener('click', () => {
    if (page.mid !== null) download(page.mid, outputName(page.name, '.mid'), 'audio/midi');
  });
  $('download-qev').addEventListener('click', () => download(currentBytes(), page.qevName, 'text/plain'));
  document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('dragging'); });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    if (e.dataTransfer.files.length) open(e.dataTransfer.files[0]);
  });
  startRoll($('roll'), $('tip'));
  roll.onSelectLines = selectLines;
  roll.onSelectFinding = selectFinding;
  roll.onSeek = (t) => {
    roll.playhead = t;
    $('position').textContent = `${(t / 1000).toFixed(3)} s`;
    drawRoll();
    if (synth.playing) startPlaying(t);
  };
  synth.onTick = (t) => {
    roll.playhead = t;
    $('position').textContent = `${(t / 1000).toFixed(3)} s`;
    drawRoll();
  };
  synth.onEnd = () => { $('play').textContent = 'Play'; };
  $('play').addEventListener('click', () => {
    togglePlay();
    $('play').textContent = synth.playing ? 'Stop' : 'Play';
  });
  $('fit').addEventListener('click', fitRoll);
  // Space plays and stops, but not while typing or on a control of its own.
  document.addEventListener('keydown', (e) => {
    if (e.code !== 'Space' || e.target.closest('textarea, input, button, select, a')) return;
    e.preventDefault();
    togglePlay();
    $('play').textContent = synth.playing ? 'Stop' : 'Play';
  });
  page.fitOnCheck = true;
  await checkNow();
  window.qevStudio.ready = true;
}

// What the browser tests read.
window.qevStudio = {
  ready: false,
  checks: () => page.checks,
  findings: () => Array.from({ length: page.count }, (_, i) => finding(i)),
  summary: () => page.summary,
  text: () => $('editor').value,
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

var Module = { onRuntimeInitialized: start };
