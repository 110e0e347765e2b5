// The repairs on the page, as qevcheck --fix makes them: a Fix beside each
// finding that has one, and Fix all for the safe ones. A fix works on the
// bytes the page checks, so it keeps the file's own line ends, and goes
// into the editor as one step of the browser's own undo. Where the editor
// cannot hold those bytes as they are (CR LF, bytes that are no UTF-8), the
// page keeps them beside the text it shows, and an undo or redo that comes
// back to that text takes them up again.
'use strict';

// Editor texts kept with their bytes: a fix or an undo makes a text of
// each step, and this many are enough to undo a session's fixes.
const KEPT_STATES = 64;

const fixes = {
  count: 0,
  fields: new Uint32Array(0),  // FIX_FIELDS per fix (module.js)
  texts: new Uint8Array(0),
  byFinding: new Map(),        // finding → its fix
  safe: 0,
  states: new Map(),           // editor text → the bytes it stands for
  applying: null,              // while a fix goes into the editor: the bytes, or null for its text
  stale: true,                 // the list's Fix buttons are for a check since superseded
};

// The fixes of the check just made, which stand for the list only once it
// shows that check's findings.
function setFixes(checked) {
  fixes.count = checked.fixCount;
  fixes.fields = checked.fixFields;
  fixes.texts = checked.fixTexts;
  fixes.byFinding = new Map();
  fixes.safe = 0;
  for (let k = 0; k < fixes.count; k++) {
    fixes.byFinding.set(fixes.fields[k * FIX_FIELDS], k);
    fixes.safe += fixes.fields[k * FIX_FIELDS + 1];
  }
}

function fixText(offset) {
  return decoder.decode(fixes.texts.subarray(offset, fixes.texts.indexOf(0, offset)));
}

// Finding i's fix: { index, safe, title, change }, or null.
function fixOf(i) {
  const k = fixes.byFinding.get(i);
  if (k === undefined) return null;
  const f = fixes.fields.subarray(k * FIX_FIELDS, k * FIX_FIELDS + FIX_FIELDS);
  return { index: k, safe: f[1] === 1, title: fixText(f[2]), change: fixText(f[3]) };
}

// The text the editor holds for bytes: a text area keeps line feeds alone.
const editorText = (bytes) => decoder.decode(bytes).replace(/\r\n?/g, '\n');

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// Notes the bytes a text stands for, where saving the text would not give
// them. Returns whether it would.
function keepState(text, bytes) {
  fixes.states.delete(text);
  if (sameBytes(new TextEncoder().encode(text), bytes)) return true;
  fixes.states.set(text, bytes);
  if (fixes.states.size > KEPT_STATES) fixes.states.delete(fixes.states.keys().next().value);
  return false;
}

// The bytes behind the editor's text after an input: a fix's own, an undo's
// or redo's where it comes back to a kept text, else none, and the text is
// what the page checks.
function bytesAfterInput(e) {
  if (fixes.applying !== null) return fixes.applying.bytes;
  if (e && e.inputType && e.inputType.startsWith('history')) return fixes.states.get($('editor').value) || null;
  return null;
}

// The span of text that differs from before, not parting a surrogate pair.
function changedSpan(before, text) {
  let a = 0, b = 0;
  while (a < before.length && a < text.length && before[a] === text[a]) a++;
  if (a > 0 && /[\ud800-\udbff]/.test(text[a - 1])) a--;
  while (b < before.length - a && b < text.length - a &&
    before[before.length - 1 - b] === text[text.length - 1 - b]) b++;
  if (b > 0 && /[\udc00-\udfff]/.test(text[text.length - b])) b--;
  return { start: a, end: before.length - b, text: text.slice(a, text.length - b) };
}

const lineAt = (text, offset) => text.slice(0, offset).split('\n').length;

// Puts fixed bytes in place of those the page checks: in the editor as one
// undo step, shown highlighted; in a file past the editor's lines, in the
// page's copy. Then checks at once, and gives the keyboard back.
async function putBytes(bytes) {
  const back = document.activeElement;
  const editor = $('editor');
  const text = editorText(bytes);
  if (page.cut) {
    page.bytes = bytes;
    page.dirty = true;
    showText(bytes);
  } else {
    if (page.bytes !== null) keepState(editor.value, page.bytes);
    const exact = keepState(text, bytes);
    const span = changedSpan(editor.value, text);
    if (span.start === span.end && span.text === '') {
      // The bytes change where the editor shows no change, as a lone CR
      // made a line feed: no undo step to make.
      page.bytes = bytes;
      page.dirty = true;
    } else {
      fixes.applying = { bytes: exact ? null : bytes };
      editor.focus();
      editor.setSelectionRange(span.start, span.end);
      const done = document.execCommand(span.text ? 'insertText' : 'delete', false, span.text);
      fixes.applying = null;
      if (!done || editor.value !== text) {
        // A browser that takes no edit command, or changes what it inserts:
        // the text is still the fixed one, without the undo step.
        editor.value = text;
        page.bytes = exact ? null : bytes;
      }
      page.highlight = { first: lineAt(text, span.start), last: lineAt(text, span.start + span.text.length) };
    }
  }
  clearTimeout(page.timer);
  await checkNow();
  if (back && back.isConnected) back.focus({ preventScroll: true });
  placeHighlight();
}

// Finding i's fix, on the bytes its check was made on.
async function applyFindingFix(i) {
  const fix = fixOf(i);
  if (fixes.stale || fix === null) return;
  const bytes = applyFix(fix.index);
  if (bytes !== null) await putBytes(bytes);
  focusFinding(Math.min(i, page.count - 1));
}

// Every safe fix, round after round: what qevcheck --fix makes of the
// bytes Save writes.
async function fixAll() {
  const before = currentBytes();
  const bytes = repairBytes(before);
  if (!sameBytes(bytes, before)) await putBytes(bytes);
}

// Fix all and the word beside it, as the check just made leaves them.
function renderFixAll() {
  const unsafe = fixes.count - fixes.safe;
  $('fix-all').disabled = fixes.safe === 0;
  const count = (n, one, many) => `${n} ${n === 1 ? one : many}`;
  $('fix-note').textContent = fixes.count === 0 ? ''
    : count(fixes.safe, 'safe fix', 'safe fixes') +
      (unsafe ? `; ${count(unsafe, 'unsafe one', 'unsafe ones')}, each by its own button` : '') + '.';
}

// An edit leaves the list's Fix buttons pointing at text that has changed,
// till the check after it.
function staleFixes() {
  fixes.stale = true;
  for (const b of $('findings').querySelectorAll('button.fix')) b.disabled = true;
}

function startFixes() {
  $('fix-all').addEventListener('click', fixAll);
}
