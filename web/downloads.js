// What the page hands back: the downloads, named after the file, and Save,
// which hands back the bytes the page checks.

// The downloads' names. A .mid made from a MIDI file holds its notes only,
// so it is named apart from the original, and says what was dropped.
function renderDownloads() {
  const mid = $('download-mid');
  mid.disabled = page.mid === null;
  mid.textContent = `Download ${midName()}`;
  mid.title = mid.textContent;
  $('save').textContent = `Save ${qevName()}`;
  $('save').title = $('save').textContent;
  const dropped = $('dropped');
  dropped.hidden = page.fromMidi === null;
  dropped.textContent = page.fromMidi === null ? ''
    : (page.damage ? `Salvaged from the damaged ${page.fromMidi}: ${page.damage}. ` : '') +
      `The notes of ${page.fromMidi} only: ` +
      (page.dropped ? `QEV dropped ${page.dropped}.` : 'it held nothing else.');
}

const qevName = () => outputName(page.name, '.qev');
const midName = () => outputName(page.name, page.fromMidi === null ? '.mid' : '.notes.mid');

function download(bytes, name, type) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([bytes], { type }));
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

// Saves the bytes the page checks: the file's own until the first edit,
// then the editor's text, all of it.
function save() {
  download(currentBytes(), qevName(), 'text/plain');
  page.dirty = false;
}
