// The game's levels: listed by folder, N and P for the next and previous,
// and every level's .glb in one .zip.
import { collision, folderOf, gameIn } from './files.js';
import { loadScript, page, setState } from './page.js';
import { zipParts } from './zip.js';

let levels = []; // the game's levels, each with where its bitmaps are looked for

let show = null; // shows one of the levels

// Lists the levels among the files, grouped by folder, when there are
// several, and shows the first with `showLevel`; nothing is converted
// before it is shown.
export async function listLevels(files, showLevel) {
  show = showLevel;
  const found = gameIn(files);
  if (found.length === 0) {
    if (files.length > 0)
      setState('failed', 'No level among the files: choose a .bsp file, with its .bmp textures if you have them.');
    return;
  }
  levels = found;
  const groups = new Map();
  levels.forEach(({ level }, index) => {
    const folder = folderOf(level.path) || 'the files chosen';
    if (!groups.has(folder)) {
      groups.set(folder, document.createElement('optgroup'));
      groups.get(folder).label = folder;
    }
    groups.get(folder).append(new Option(level.path.slice(folderOf(level.path).length), String(index)));
  });
  page.levels.replaceChildren(...groups.values());
  page.levelsCount.textContent = `${levels.length} levels chosen: pick one to show it (keys N and P: next, previous)`;
  page.levelsBox.hidden = levels.length < 2;
  page.downloadAll.removeAttribute('href');
  page.downloadAll.hidden = true;
  page.makeZip.disabled = false;
  await show(levels[0]);
}

page.levels.addEventListener('change', () => show(levels[Number(page.levels.value)]));

// N and P (or Page Down and Page Up) show the next and the previous level,
// but not while something is typed into the page.
document.addEventListener('keydown', (event) => {
  const step = { n: 1, N: 1, PageDown: 1, p: -1, P: -1, PageUp: -1 }[event.key];
  if (!step || levels.length < 2 || event.ctrlKey || event.metaKey || event.altKey ||
      event.target.closest?.('input, textarea, select, [contenteditable]'))
    return;
  event.preventDefault();
  const index = Math.min(levels.length - 1, Math.max(0, Number(page.levels.value || 0) + step));
  if (String(index) === page.levels.value)
    return;
  page.levels.value = String(index);
  show(levels[index]);
});

// ---- Every level as one .zip

// Converts each level in turn, on a worker of its own where there can be
// one, and resolves to its entry for the .zip: { name, data, size, crc },
// or null for a level that fails.
function convertForZip({ level, trees, output }, worker) {
  return new Promise((resolve) => {
    const onStep = (message) => {
      if (message.step === 'download')
        resolve(message.glb ? { name: output, data: message.glb, size: message.glb.size, crc: message.crc } : null);
      else if (message.step === 'failed')
        resolve(null);
    };
    if (!worker) {
      loadScript('meshwright.js', 'createMeshwright').then(() => loadScript('onpage.js', 'meshwrightSteps'))
        .then(({ convertSteps }) => convertSteps(level.file, trees, false, onStep)).catch(() => resolve(null));
      return;
    }
    worker.onmessage = (event) => onStep(event.data);
    worker.onerror = (event) => {
      event.preventDefault();
      resolve(null);
    };
    worker.postMessage({ file: level.file, trees, preview: false, forZip: true });
  });
}

let zipUrl = null; // the last .zip made, kept while other levels are shown

// The levels' .glb files, named as meshwright-batch names its outputs, in
// one .zip stored without compression.
async function makeZip() {
  const clash = collision(levels);
  if (clash) {
    setState('failed', `Two levels would have one name in the .zip: ${clash}`);
    return;
  }
  page.makeZip.disabled = true;
  const entries = [];
  const failed = [];
  let worker = null;
  for (const [index, entry] of levels.entries()) {
    setState('working', `Converting level ${index + 1} of ${levels.length} for the .zip: ${entry.level.path}…`);
    try {
      worker ??= new Worker('worker.js');
    } catch {
      worker = null;
    }
    const made = await convertForZip(entry, worker);
    if (made) {
      entries.push(made);
    } else {
      failed.push(entry.level.path);
      // A worker that failed is not trusted with the next level.
      worker?.terminate();
      worker = null;
    }
  }
  worker?.terminate();
  if (zipUrl)
    URL.revokeObjectURL(zipUrl);
  const url = URL.createObjectURL(new Blob(zipParts(entries), { type: 'application/zip' }));
  zipUrl = url;
  const top = levels[0].level.path.includes('/') ? levels[0].level.path.slice(0, levels[0].level.path.indexOf('/')) : '';
  page.downloadAll.href = url;
  page.downloadAll.download = (top || 'levels') + '.zip';
  page.downloadAll.textContent = `Download ${page.downloadAll.download} (${entries.length} levels)`;
  page.downloadAll.hidden = false;
  page.makeZip.disabled = false;
  setState(failed.length ? 'failed' : 'done', `${entries.length} of ${levels.length} levels in ` +
           `${page.downloadAll.download}` + (failed.length ? `; failed: ${failed.join(', ')}` : '') + '.');
}

page.makeZip.addEventListener('click', () => makeZip());
