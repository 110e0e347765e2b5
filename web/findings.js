// The findings list and the editor's places: each finding as qevcheck
// gives it, rendered a few thousand at a time, and the editor's cursor put
// on a finding's line and column, or on a note's lines.
'use strict';

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
    severity: severityName(f[3]),
    code: codeName(f[4]),
    message: message(i),
  };
  if (f[5] !== 0) out.related_line = f[5];
  return out;
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

// Selects lines first to last in the editor, as a click on a note does.
function selectLines(first, last) {
  const editor = $('editor');
  const start = offsetOf(first, 1, 1);
  let end = editor.value.indexOf('\n', offsetOf(last, 1, 1));
  if (end === -1) end = editor.value.length;
  // The roll stays in view: the person is looking at it.
  editor.focus({ preventScroll: true });
  editor.setSelectionRange(start, end);
  const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 20;
  editor.scrollTop = Math.max(0, (first - 3) * lineHeight);
}

// Selects a finding, as a click on its mark does: shown in the list, and
// the editor's cursor at its place.
function selectFinding(i) {
  while (page.shown <= i) showMore();
  const item = $('findings').children[i];
  for (const li of $('findings').querySelectorAll('.current')) li.classList.remove('current');
  item.classList.add('current');
  page.current = i;
  select(i, true);
}

function select(i, fromRoll = false) {
  const f = page.fields.subarray(i * FIELDS, i * FIELDS + FIELDS);
  if (f[0] === 0) return;
  const editor = $('editor');
  const at = offsetOf(f[0], f[1], f[2]);
  editor.focus({ preventScroll: fromRoll });
  editor.setSelectionRange(at, at);
  // Scroll the line into view: the editor has no API for it.
  const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 20;
  editor.scrollTop = Math.max(0, (f[0] - 3) * lineHeight);
}

