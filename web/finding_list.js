// The findings list: of a file's findings, which may be millions, only
// those in view and a few beside them are in the page. Each is a button, and
// the list is one Tab stop: the arrow keys, Home and End move among them.
'use strict';

const ESTIMATE = 40;  // px, a finding's height until it has been measured
const MARGIN = 300;   // px rendered above and below the view

const list = {
  heights: new Float64Array(0),
  first: 0,
  last: 0,
  focus: 0,           // the finding that holds the list's Tab stop
  beyond: null,       // { index, text }: a finding past the editor's lines, and that line
};

// A check's findings: none measured; for a file just opened, the view at
// the top, and for an edited one, where it stood, so that one fix after
// another goes down the list.
function resetFindingList(opened = true) {
  list.heights = new Float64Array(page.count).fill(ESTIMATE);
  list.focus = opened ? 0 : Math.max(Math.min(list.focus, page.count - 1), 0);
  list.beyond = null;
  if (opened) $('findings-box').scrollTop = 0;
  renderFindingList();
}

function findingTop(i) {
  let y = 0;
  for (let k = 0; k < i; k++) y += list.heights[k];
  return y;
}

function makeItem(i) {
  const f = finding(i);
  const li = document.createElement('li');
  li.dataset.index = i;
  if (i === page.current) li.classList.add('current');
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'finding';
  button.tabIndex = i === list.focus ? 0 : -1;
  button.innerHTML = '<span class="place"></span><span></span> <span class="text"></span> <span class="code"></span>';
  button.children[0].textContent = f.line !== 0 ? `${f.line}:${f.column}: ` : '';
  button.children[1].className = f.severity;
  button.children[1].textContent = `${f.severity}:`;
  button.children[2].textContent = f.message;
  button.children[3].textContent = `[${f.code}]`;
  li.appendChild(button);
  const fix = fixOf(i);
  if (fix !== null) li.appendChild(fixRow(i, fix));
  if (list.beyond && list.beyond.index === i) {
    const beyond = document.createElement('div');
    beyond.className = 'beyond';
    beyond.textContent = list.beyond.text;
    li.appendChild(beyond);
  }
  return li;
}

// The finding's fix, beside its button: the fix's title on a button of its
// own, and for an unsafe one, what it changes.
function fixRow(i, fix) {
  const row = document.createElement('div');
  row.className = 'fix-row';
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'fix';
  button.tabIndex = i === list.focus ? 0 : -1;
  button.disabled = fixes.stale;
  button.textContent = fix.title;
  button.setAttribute('aria-label', `${fix.title}, on line ${page.fields[i * FIELDS]}` +
    (fix.safe ? '' : `; unsafe: ${fix.change}`));
  row.appendChild(button);
  if (!fix.safe) {
    const change = document.createElement('span');
    change.className = 'change';
    change.textContent = `Unsafe: ${fix.change}.`;
    row.append(' ', change);
  }
  return row;
}

// Gives the list's Tab stop to li's buttons: the finding, and its fix after it.
function takeStop(li) {
  for (const b of $('findings').querySelectorAll('button')) b.tabIndex = -1;
  if (li) for (const b of li.querySelectorAll('button')) b.tabIndex = 0;
}

// Renders the findings in view, padding the list for those that are not,
// then measures what it rendered, so that the padding grows true.
function renderFindingList() {
  const box = $('findings-box'), ol = $('findings');
  const top = box.scrollTop - MARGIN, bottom = box.scrollTop + box.clientHeight + MARGIN;
  let y = 0, first = 0;
  while (first < page.count && y + list.heights[first] < top) y += list.heights[first++];
  const above = y;
  let last = first;
  while (last < page.count && y < bottom) y += list.heights[last++];
  let below = 0;
  for (let k = last; k < page.count; k++) below += list.heights[k];
  const hadFocus = ol.contains(document.activeElement);
  const onFix = hadFocus && document.activeElement.classList.contains('fix');
  const items = document.createDocumentFragment();
  for (let i = first; i < last; i++) items.appendChild(makeItem(i));
  ol.textContent = '';
  ol.appendChild(items);
  ol.style.paddingTop = `${above}px`;
  ol.style.paddingBottom = `${below}px`;
  list.first = first;
  list.last = last;
  for (const li of ol.children) list.heights[Number(li.dataset.index)] = li.offsetHeight;
  if (hadFocus) focusFinding(list.focus, false);
  const fix = onFix && ol.querySelector(`[data-index="${list.focus}"] button.fix`);
  if (fix) fix.focus({ preventScroll: true });
}

// The finding's item, rendered, and in view in the list's box.
function showFinding(i) {
  const box = $('findings-box');
  if (i < list.first || i >= list.last) {
    box.scrollTop = Math.max(0, findingTop(i) - box.clientHeight / 3);
    renderFindingList();
  }
  const li = $('findings').querySelector(`[data-index="${i}"]`);
  if (li && (li.offsetTop < box.scrollTop || li.offsetTop + li.offsetHeight > box.scrollTop + box.clientHeight)) {
    box.scrollTop = li.offsetTop - box.clientHeight / 3;
    renderFindingList();
  }
  return $('findings').querySelector(`[data-index="${i}"]`);
}

// Moves the list's Tab stop to finding i, and the focus with it.
function focusFinding(i, scroll = true) {
  if (page.count === 0) return;
  list.focus = Math.min(Math.max(i, 0), page.count - 1);
  const li = scroll ? showFinding(list.focus) : $('findings').querySelector(`[data-index="${list.focus}"]`);
  takeStop(li);
  if (li) li.firstChild.focus({ preventScroll: true });
}

function markCurrent(i) {
  page.current = i;
  list.focus = i;
  for (const li of $('findings').querySelectorAll('.current')) li.classList.remove('current');
  const li = showFinding(i);
  if (li) li.classList.add('current');
  takeStop(li);
}

function startFindingList() {
  $('findings-box').addEventListener('scroll', renderFindingList);
  new ResizeObserver(() => renderFindingList()).observe($('findings-box'));
  $('findings').addEventListener('click', (e) => {
    const li = e.target.closest('li');
    if (li && e.target.closest('button.fix')) {
      applyFindingFix(Number(li.dataset.index));
    } else if (li) {
      markCurrent(Number(li.dataset.index));
      select(Number(li.dataset.index));
    }
  });
  $('findings').addEventListener('keydown', (e) => {
    const li = e.target.closest('li');
    if (!li) return;
    const i = Number(li.dataset.index);
    const to = { ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: page.count - 1, PageDown: i + 10,
      PageUp: i - 10 }[e.key];
    if (to === undefined) return;
    e.preventDefault();
    focusFinding(to);
  });
}
