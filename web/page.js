// The page: opens, checks, converts and downloads through the C++ module;
// no rule of the format is written again here. The module is compiled in,
// so nothing is fetched: the page works opened from disk.
'use strict';

const FIELDS = 7; // per finding: line, column, byte column, severity, code, related, message
const SHOWN = 2000; // findings rendered at a time; a large file can have millions

const page = {
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
};

const $ = (id) => document.getElementById(id);
const decoder = new TextDecoder('utf-8', { ignoreBOM: true });

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

function outputName(path, ext) {
  return withString(path, (p) => withString(ext, (e) => Module.UTF8ToString(Module._qev_output_name(p, e))));
}

// The bytes checked and converted: the file's own until it is edited, so
// that CR, 0x1A, a byte-order mark or a missing last line feed are seen as
// they are; after an edit, the text as UTF-8 with LF line ends.
function currentBytes() {
  return page.bytes !== null ? page.bytes : new TextEncoder().encode($('editor').value);
}

function checkNow() {
  const bytes = currentBytes();
  const count = withString(page.name, (name) => withBytes(bytes, (at, n) => Module._qev_check(at, n, name)));
  page.count = Math.max(count, 0);
  const fields = Module._qev_finding_fields() >>> 2;
  page.fields = Module.HEAPU32.slice(fields, fields + page.count * FIELDS);
  const messages = Module._qev_messages();
  page.messages = Module.HEAPU8.slice(messages, messages + Module._qev_messages_size());
  page.summary = Module.UTF8ToString(Module._qev_summary());
  const size = withBytes(bytes, (at, n) => Module._qev_convert(at, n));
  const out = Module._qev_output();
  page.mid = size >= 0 ? Module.HEAPU8.slice(out, out + size) : null;
  render();
  page.checks++;
}

function message(i) {
  const start = page.fields[i * FIELDS + 6];
  const end = page.messages.indexOf(0, start);
  return decoder.decode(page.messages.subarray(start, end));
}

// One finding as qevcheck --format=json gives it, less the file.
function finding(i) {
  const f = page.fields.subarray(i * FIELDS, i * FIELDS + FIELDS);
  const out = {
    line: f[0], column: f[1], byte_column: f[2],
    severity: Module.UTF8ToString(Module._qev_severity_name(f[3])),
    code: Module.UTF8ToString(Module._qev_code_name(f[4])),
    message: message(i),
  };
  if (f[5] !== 0) out.related_line = f[5];
  return out;
}

function render() {
  $('summary').textContent = page.summary || `${page.name}: nothing to report`;
  $('findings').textContent = '';
  page.shown = 0;
  showMore();
  const mid = $('download-mid');
  mid.disabled = page.mid === null;
  mid.textContent = `Download ${outputName(page.name, '.mid')}`;
  const qev = $('download-qev');
  qev.hidden = page.qevName === null;
  if (page.qevName !== null) qev.textContent = `Download ${page.qevName}`;
  $('source').textContent = page.bytes !== null
    ? `${page.name}: checking the file's own bytes, as qevcheck reads them.`
    : `${page.name}: checking the text as edited, as UTF-8 with LF line ends.`;
}

function showMore() {
  const list = $('findings');
  const end = Math.min(page.count, page.shown + SHOWN);
  const items = document.createDocumentFragment();
  for (let i = page.shown; i < end; i++) {
    const f = finding(i);
    const li = document.createElement('li');
    li.tabIndex = 0;
    li.dataset.index = i;
    const place = f.line !== 0 ? `${f.line}:${f.column}: ` : '';
    li.innerHTML = '<span class="place"></span><span></span> <span class="text"></span> <span class="code"></span>';
    li.children[0].textContent = place;
    li.children[1].className = f.severity;
    li.children[1].textContent = `${f.severity}:`;
    li.children[2].textContent = f.message;
    li.children[3].textContent = `[${f.code}]`;
    items.appendChild(li);
  }
  list.appendChild(items);
  page.shown = end;
  const more = $('more');
  more.hidden = page.shown >= page.count;
  more.textContent = `Show ${Math.min(SHOWN, page.count - page.shown)} more of ${page.count - page.shown}`;
}

// The editor's offset of a line and column. While the file's own bytes are
// shown, the byte column is the sure one: the editor shows CR LF as LF and
// each invalid byte as U+FFFD, so the line's bytes before it are decoded.
function offsetOf(line, column, byteColumn) {
  const text = $('editor').value;
  let start = 0;
  for (let l = 1; l < line && start !== -1; l++) start = text.indexOf('\n', start) + 1 || -1;
  if (start === -1) return text.length;
  if (page.bytes !== null) {
    let at = 0;
    for (let l = 1; l < line; l++) at = page.bytes.indexOf(10, at) + 1;
    const before = page.bytes.subarray(at, at + byteColumn - 1).filter((b) => b !== 13);
    return start + decoder.decode(before).length;
  }
  let offset = start;
  for (let c = 1; c < column && offset < text.length && text[offset] !== '\n'; c++) {
    offset += text.codePointAt(offset) > 0xFFFF ? 2 : 1;
  }
  return offset;
}

function select(i) {
  const f = page.fields.subarray(i * FIELDS, i * FIELDS + FIELDS);
  if (f[0] === 0) return;
  const editor = $('editor');
  const at = offsetOf(f[0], f[1], f[2]);
  editor.focus();
  editor.setSelectionRange(at, at);
  // Scroll the line into view: the editor has no API for it.
  const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 20;
  editor.scrollTop = Math.max(0, (f[0] - 3) * lineHeight);
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
  $('editor').value = decoder.decode(bytes);
}

async function open(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  page.qevName = null;
  if (/\.(mid|midi|kar|rmi)$/i.test(file.name)) {
    const size = withString(file.name, (name) => withBytes(bytes, (at, n) => Module._qev_from_midi(at, n, name)));
    if (size < 0) {
      $('summary').textContent = `${file.name} ${Module.UTF8ToString(Module._qev_error())}`;
      return;
    }
    const out = Module._qev_output();
    page.qevName = outputName(file.name, '.qev');
    page.name = page.qevName;
    page.bytes = Module.HEAPU8.slice(out, out + size);
  } else {
    page.name = file.name;
    page.bytes = bytes;
  }
  showText(page.bytes);
  checkNow();
}

function edited() {
  page.bytes = null;
  clearTimeout(page.timer);
  page.timer = setTimeout(checkNow, 250);
}

function start() {
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
  checkNow();
  window.qevStudio.ready = true;
}

// What the browser tests read.
window.qevStudio = {
  ready: false,
  checks: () => page.checks,
  findings: () => Array.from({ length: page.count }, (_, i) => finding(i)),
  summary: () => page.summary,
  text: () => $('editor').value,
};

var Module = { onRuntimeInitialized: start };
