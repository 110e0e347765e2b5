// The page: opens, checks, converts and downloads through the C++ module
// (module.js), and shows the findings, the editor and the roll; no rule of
// the format is written again here.
'use strict';

// Lines the editor takes: past some ten thousand, a browser's text area takes
// seconds to lay out, so a larger file is shown in part, and read-only.
const EDITOR_LINES = 10000;

const page = {
  runs: 0,              // checks started; a newer one makes an older one give up
  name: 'untitled.qev', // the shown file's name, for the summary and downloads
  bytes: null,          // the opened file's own bytes, until the first edit
  fromMidi: null,       // the MIDI file's name, where one was opened
  dropped: '',          // what QEV could not keep of it
  damage: '',           // what a salvage of it read past
  salvage: null,        // where the error line offers it, the salvage of a damaged file
  dirty: false,         // edited since it was opened or saved
  highlight: null,      // the lines the page shows in the editor: { first, last }
  fields: new Uint32Array(0),
  messages: new Uint8Array(0),
  count: 0,
  summary: '',
  mid: null,            // qev2mid's output, or null when it would fail
  checks: 0,            // checks done, for tests to wait on
  opens: 0,             // files opened and checked, for tests to wait on
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
  fixes.stale = true;
  const checked = checkBytes(bytes, page.name);
  setFixes(checked);
  page.count = checked.count;
  page.fields = checked.fields;
  page.messages = checked.messages;
  page.summary = checked.summary;
  timings.check = performance.now() - t;
  await yieldToPage();
  if (run !== page.runs) return;
  t = performance.now();
  setRollData(checked.notes, checked.noteCount, marks());
  const opened = page.fitOnCheck;
  if (page.fitOnCheck) {
    page.fitOnCheck = false;
    fitRoll();
  } else {
    drawRoll();
  }
  legend();
  render(opened);
  fixes.stale = false;
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
    b.firstChild.style.background = theme().palette[chan];
    b.append(`channel ${String.fromCharCode(97 + chan)}`);
    b.addEventListener('click', () => {
      roll.hidden[chan] ^= 1;
      b.setAttribute('aria-pressed', String(!roll.hidden[chan]));
      drawRoll();
    });
    box.appendChild(b);
  });
}

// The findings, after a check: a file just opened from the top, an edited
// one where the list stood.
function render(opened) {
  $('summary').textContent = page.summary || `${page.name}: nothing to report`;
  resetFindingList(opened);
  renderFixAll();
  $('source').textContent = page.bytes === null
    ? `${page.name}: checking the text as edited, as UTF-8 with LF line ends.`
    : page.cut
      ? `${page.name}: ${page.lines.toLocaleString('en')} lines. The editor shows the first ` +
        `${EDITOR_LINES.toLocaleString('en')}, read-only; the findings, the roll and the downloads ` +
        'cover the whole file, as qevcheck reads it. A fix changes the page\'s copy of the whole ' +
        'file, with no undo, and Save writes it.'
      : page.dirty
        ? `${page.name}: checking the bytes Save writes, line ends and all, as qevcheck reads them.`
        : `${page.name}: checking the file's own bytes, as qevcheck reads them.`;
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

// Says why a file could not be opened, or nothing; all else stays as it
// was. Where a damaged MIDI file may still give notes, a button offers to
// salvage them.
function showError(text, salvage = null) {
  $('error').hidden = !text;
  $('error').textContent = text;
  page.salvage = salvage;
  $('salvage').hidden = salvage === null;
}

// Opens a file: a failed open changes only the error line, so the file
// shown stays whole; a good one starts afresh, stopped, every channel shown.
async function open(file) {
  if (page.dirty && !confirm(`Open ${file.name} and lose the edits to ${page.name}?`)) return;
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch (e) {
    showError(`${file.name} could not be read.`);
    return;
  }
  await openBytes(file.name, bytes, false);
}

// Opens a file's bytes: a MIDI file's by mid2qev's reader, or where asked,
// as mid2qev --salvage reads a damaged one.
async function openBytes(fileName, bytes, salvage) {
  let name = fileName, fromMidi = null, dropped = '', damage = '';
  if (/\.(mid|midi|kar|rmi)$/i.test(fileName)) {
    const back = qevFromMidi(bytes, fileName, salvage);
    if (back.error) {
      // Offered only where a salvage gives notes.
      const rescued = !salvage && !qevFromMidi(bytes, fileName, true).error;
      showError(`${fileName} ${back.error}.`, rescued ? () => openBytes(fileName, bytes, true) : null);
      return;
    }
    name = outputName(fileName, '.qev');
    fromMidi = fileName;
    ({ dropped, damage } = back);
    bytes = back.text;
  }
  showError('');
  // An edit's check still waiting is for the text this file replaces.
  clearTimeout(page.timer);
  stopPlaying();
  resetRoll();
  Object.assign(page, { name, bytes, fromMidi, dropped, damage, dirty: false, highlight: null, current: -1 });
  placeHighlight();
  showText(page.bytes);
  // An undo back to the file as opened gives its own bytes again.
  fixes.states.clear();
  if (!page.cut) keepState($('editor').value, page.bytes);
  page.fitOnCheck = true;
  await yieldToPage();
  await checkNow();
  page.opens++;
}

function edited(e) {
  page.bytes = bytesAfterInput(e);
  page.dirty = true;
  page.highlight = null;
  placeHighlight();
  staleFixes();
  renderDownloads();
  clearTimeout(page.timer);
  page.timer = setTimeout(checkNow, e && e.inputType && e.inputType.startsWith('history') ? 0 : 250);
}

async function start() {
  $('open').addEventListener('change', (e) => {
    const file = e.target.files[0];
    // Emptied, so that the same file can be chosen again after a refusal.
    e.target.value = '';
    if (file) open(file);
  });
  $('editor').addEventListener('input', edited);
  startFindingList();
  startFixes();
  $('download-mid').addEventListener('click', () => {
    if (page.mid !== null) download(page.mid, midName(), 'audio/midi');
  });
  $('save').addEventListener('click', save);
  $('salvage').addEventListener('click', () => page.salvage && page.salvage());
  window.addEventListener('beforeunload', (e) => {
    if (!page.dirty) return;
    e.preventDefault();
    e.returnValue = '';
  });
  $('editor').addEventListener('scroll', placeHighlight);
  $('editor').addEventListener('focus', placeHighlight);
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
  // Every control shows the one playback state; a seek while playing plays
  // on from there.
  roll.onSeek = (t) => {
    movePlayhead(t);
    if (synth.playing) startPlaying(t);
  };
  synth.onTick = movePlayhead;
  synth.onChange = showPlayState;
  $('play').addEventListener('click', togglePlay);
  $('fit').addEventListener('click', fitRoll);
  // One drum setting for the checker, the roll and the sound.
  $('drums').addEventListener('change', () => {
    const mask = setDrumChannels($('drums').value.trim());
    if (mask < 0) {
      showError('Drums: name the channels by their letters, a to p, as in jk, or write none.');
      return;
    }
    showError('');
    roll.drums = mask;
    checkNow();
  });
  $('zoom-in').addEventListener('click', () => zoomRoll(0.5));
  $('zoom-out').addEventListener('click', () => zoomRoll(2));
  darkScheme.addEventListener('change', () => { legend(); drawRoll(); });
  // Space plays and stops, but not while typing or on a control that Space
  // itself activates.
  document.addEventListener('keydown', (e) => {
    if (e.code !== 'Space' || e.target.closest('textarea, input, button, select, a, label')) return;
    e.preventDefault();
    togglePlay();
  });
  page.fitOnCheck = true;
  await checkNow();
  window.qevStudio.ready = true;
}

var Module = { onRuntimeInitialized: start };
