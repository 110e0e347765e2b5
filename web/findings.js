// The findings and the editor's places: each finding as qevcheck gives it,
// and the editor's cursor put on a finding's line and column, or a note's
// lines shown there. The list itself is in finding_list.js.
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

// The editor's lines first to last, scrolled into view.
function scrollToLine(first) {
  const editor = $('editor');
  const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 20;
  editor.scrollTop = Math.max(0, (first - 3) * lineHeight);
}

// Shows lines first to last in the editor, as a click on a note does,
// without taking the keyboard from the roll: the person is looking at it,
// and Space must still play. The selection is set for when the editor is
// focused; till then the page draws the lines itself.
function selectLines(first, last) {
  const editor = $('editor');
  const start = offsetOf(first, 1, 1);
  let end = editor.value.indexOf('\n', offsetOf(last, 1, 1));
  if (end === -1) end = editor.value.length;
  editor.setSelectionRange(start, end);
  page.highlight = { first, last };
  scrollToLine(first);
  placeHighlight();
}

// Places the page's own highlight over the lines it shows, clipped to the
// editor's box; the editor shows its own selection once it has the focus.
function placeHighlight() {
  const box = $('highlight');
  const editor = $('editor');
  if (page.highlight === null || document.activeElement === editor) {
    box.hidden = true;
    return;
  }
  const style = getComputedStyle(editor);
  const lineHeight = parseFloat(style.lineHeight) || 20;
  const inner = editor.clientTop + parseFloat(style.paddingTop);
  const top = inner + (page.highlight.first - 1) * lineHeight - editor.scrollTop;
  const bottom = top + (page.highlight.last - page.highlight.first + 1) * lineHeight;
  const from = Math.max(top, editor.clientTop), to = Math.min(bottom, editor.clientTop + editor.clientHeight);
  box.hidden = to <= from;
  box.style.top = `${from}px`;
  box.style.height = `${Math.max(to - from, 0)}px`;
}

// The text of line n of the opened file, past what the editor shows.
function lineText(n) {
  let at = 0;
  for (let l = 1; l < n && at !== -1; l++) at = page.bytes.indexOf(10, at) + 1 || -1;
  if (at === -1) return '';
  const end = page.bytes.indexOf(10, at);
  return decoder.decode(page.bytes.subarray(at, end === -1 ? page.bytes.length : end)).replace(/\r$/, '');
}

// Selects a finding, as a click on its mark does: shown in the list, and
// its place shown in the editor.
function selectFinding(i) {
  markCurrent(i);
  select(i, true);
}

// Puts the editor's cursor at a finding's place: from the list, with the
// focus; from the roll, without it. A line past what the editor shows is
// said so, with its text, in the finding itself.
function select(i, fromRoll = false) {
  const f = page.fields.subarray(i * FIELDS, i * FIELDS + FIELDS);
  if (f[0] === 0) return;
  if (page.cut && f[0] > EDITOR_LINES) {
    list.beyond = {
      index: i,
      text: `Line ${f[0].toLocaleString('en')} lies beyond the first ` +
        `${EDITOR_LINES.toLocaleString('en')} lines the editor shows; it reads: ${lineText(f[0])}`,
    };
    renderFindingList();
    return;
  }
  const editor = $('editor');
  const at = offsetOf(f[0], f[1], f[2]);
  if (fromRoll) {
    editor.setSelectionRange(at, at);
    page.highlight = { first: f[0], last: f[0] };
    scrollToLine(f[0]);
    placeHighlight();
    return;
  }
  page.highlight = null;
  editor.focus();
  editor.setSelectionRange(at, at);
  scrollToLine(f[0]);
}
