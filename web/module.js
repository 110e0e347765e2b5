// The calls into the C++ module, compiled in, so that nothing is fetched and
// the page works opened from disk. Bytes go into the module's memory and
// results come back as copies of its flat arrays: the module's memory may
// grow and move at the next call.
'use strict';

// Per finding: line, column, byte column, severity, code, related line,
// message offset, time on the roll, note + 1 (0 for none).
const FIELDS = 9;
// Per fix: its finding, 1 where safe, the offsets of its title and of what
// it changes in fixTexts.
const FIX_FIELDS = 4;

function withBytes(bytes, use) {
  const at = Module._malloc(bytes.length || 1);
  Module.HEAPU8.set(bytes, at);
  try {
    return use(at, bytes.length);
  } finally {
    Module._free(at);
  }
}

function withString(text, use) {
  const size = Module.lengthBytesUTF8(text) + 1;
  const at = Module._malloc(size);
  Module.stringToUTF8(text, at, size);
  try {
    return use(at);
  } finally {
    Module._free(at);
  }
}

function heap32(at, count) {
  return Module.HEAPU32.slice(at >>> 2, (at >>> 2) + count);
}

// qevcheck's pass over the bytes of a file called name: its findings, their
// messages, the summary, the notes paired for the roll, and the fixes.
function checkBytes(bytes, name) {
  const count = Math.max(withString(name, (n) => withBytes(bytes, (at, size) => Module._qev_check(at, size, n))), 0);
  const messages = Module._qev_messages();
  const noteCount = Module._qev_note_count();
  const fixCount = Module._qev_fix_count();
  const fixTexts = Module._qev_fix_texts();
  return {
    fixCount,
    fixFields: heap32(Module._qev_fix_fields(), fixCount * FIX_FIELDS),
    fixTexts: Module.HEAPU8.slice(fixTexts, fixTexts + Module._qev_fix_texts_size()),
    count,
    fields: heap32(Module._qev_finding_fields(), count * FIELDS),
    messages: Module.HEAPU8.slice(messages, messages + Module._qev_messages_size()),
    summary: Module.UTF8ToString(Module._qev_summary()),
    notes: heap32(Module._qev_notes(), noteCount * NOTE_FIELDS),
    noteCount,
  };
}

function output(size) {
  const out = Module._qev_output();
  return Module.HEAPU8.slice(out, out + size);
}

// The bytes last checked with fix i of that check applied, or null.
function applyFix(i) {
  const size = Module._qev_apply_fix(i);
  return size >= 0 ? output(size) : null;
}

// The bytes as qevcheck --fix leaves them, with the drum channels set.
function repairBytes(bytes) {
  return output(withBytes(bytes, (at, n) => Module._qev_repair(at, n)));
}

// qev2mid's Standard MIDI File for the bytes, or null where it would fail.
function convertBytes(bytes) {
  const size = withBytes(bytes, (at, n) => Module._qev_convert(at, n));
  const out = Module._qev_output();
  return size >= 0 ? Module.HEAPU8.slice(out, out + size) : null;
}

// mid2qev's text for a MIDI file called name, or mid2qev --salvage's, with
// what QEV dropped of it and what a salvage read past: { text, dropped,
// damage } or { error }.
function qevFromMidi(bytes, name, salvage = false) {
  const size = withString(name, (n) => withBytes(bytes, (at, len) => Module._qev_from_midi(at, len, n, salvage ? 1 : 0)));
  if (size < 0) return { error: Module.UTF8ToString(Module._qev_error()) };
  return { text: output(size), dropped: Module.UTF8ToString(Module._qev_dropped()),
    damage: Module.UTF8ToString(Module._qev_damage()) };
}

// Sets the drum channels, as qevcheck's --drums=LETTERS does: "j", "jk" or
// "none". Returns them, bit n for channel n, or -1, with nothing changed,
// where the letters name no channels.
function setDrumChannels(letters) {
  return withString(letters, (l) => Module._qev_set_drums(l));
}

// The name beside path with extension ext, by the programs' own rule.
function outputName(path, ext) {
  return withString(path, (p) => withString(ext, (e) => Module.UTF8ToString(Module._qev_output_name(p, e))));
}

const codeName = (code) => Module.UTF8ToString(Module._qev_code_name(code));
const severityName = (level) => Module.UTF8ToString(Module._qev_severity_name(level));
