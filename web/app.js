// The Meshwright page: takes a level file, with its bitmaps or the folder
// that holds them, has the converter (meshwright.js, the C++ program built
// as WebAssembly) turn it into binary glTF, with the textures it finds,
// offers it for download and shows the model as three.js's glTF loader
// reads it (or a simplified copy of it, for a level of very many
// triangles); the OBJ and material file are made when asked for. The work
// runs on a worker where the browser allows, so that the page answers
// clicks all the while; three.js is loaded only when there is a preview to
// draw. Several levels may be chosen at once: the page lists them, and
// converts and holds only the one shown.
import { collision, folderOf, gameIn } from './files.js';
import { describeTextures, entryText, lostText } from './textures.js';
import { zipParts } from './zip.js';

const page = {
  drop: document.getElementById('drop'),
  file: document.getElementById('file'),
  folder: document.getElementById('folder'),
  sample: document.getElementById('sample'),
  status: document.getElementById('status'),
  levelsBox: document.getElementById('levels-box'),
  levels: document.getElementById('levels'),
  levelsCount: document.getElementById('levels-count'),
  makeZip: document.getElementById('make-zip'),
  downloadAll: document.getElementById('download-all'),
  texturesBox: document.getElementById('textures-box'),
  texturesSummary: document.getElementById('textures-summary'),
  texturesList: document.getElementById('textures-list'),
  result: document.getElementById('result'),
  downloadGlb: document.getElementById('download-glb'),
  makeObj: document.getElementById('make-obj'),
  downloadObj: document.getElementById('download-obj'),
  downloadMtl: document.getElementById('download-mtl'),
  counts: document.getElementById('counts'),
  view: document.getElementById('view'),
  unavailable: document.getElementById('view-unavailable'),
  reportBox: document.getElementById('report-box'),
  report: document.getElementById('report'),
  wholeReport: document.getElementById('whole-report'),
};

// Whether this browser can draw 3D graphics at all; without, the page makes
// no preview.
const canDraw = (() => {
  try {
    const canvas = document.createElement('canvas');
    return Boolean(canvas.getContext('webgl2') || canvas.getContext('webgl'));
  } catch {
    return false;
  }
})();

// The state the page is in, for people (the status line) and for tests
// (the body's data-state: working, done or failed).
function setState(state, text) {
  document.body.dataset.state = state;
  page.status.textContent = text;
  page.status.className = state;
}

// A count with its thousands marked, as "12,345".
const numberFormat = new Intl.NumberFormat('en');

function number(value) {
  return numberFormat.format(value);
}

function megabytes(bytes) {
  return (bytes / 1e6).toFixed(bytes < 1e6 ? 3 : 1) + ' MB';
}

function seconds(from, to) {
  return ((to - from) / 1000).toFixed(1);
}

// Lets the browser paint the status before a long step on this thread.
function nextPaint() {
  return new Promise((resolve) => setTimeout(resolve, 20));
}

// The converter's own words for a level it rejected: its message without
// the "Exception thrown: " before it, or its last line.
function messageOf(printed) {
  const lines = printed.split('\n').filter((line) => line !== '');
  const thrown = lines.find((line) => line.startsWith('Exception thrown: '));
  return thrown ? thrown.slice('Exception thrown: '.length) : lines[lines.length - 1] || 'no message';
}

// Loads a script of the site once, and resolves to the global it sets: the
// page's own script stays small, and loads the rest only when it needs it.
const scripts = new Map();

function loadScript(name, global) {
  if (!scripts.has(name)) {
    scripts.set(name, new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = name;
      script.onload = () => resolve(globalThis[global]);
      script.onerror = () => reject(new Error(`${name} did not load`));
      document.head.appendChild(script);
    }));
  }
  return scripts.get(name);
}

// ---- The report

// Laying out a report of tens of thousands of lines holds the page up: the
// box shows its head, and the whole text is a download.
const reportHeadLines = 200;
let reportUrl = null;

function showReport(text, name) {
  if (reportUrl)
    URL.revokeObjectURL(reportUrl);
  reportUrl = null;
  // Only the head is cut out and only the lines are counted: splitting a
  // report of tens of thousands of lines takes long.
  let headEnd = -1;
  let lines = 0;
  for (let at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) {
    if (++lines === reportHeadLines)
      headEnd = at + 1;
  }
  const long = lines > reportHeadLines;
  page.report.textContent = long ? text.slice(0, headEnd) + '…\n' : text;
  page.wholeReport.hidden = !long;
  if (long) {
    reportUrl = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
    page.wholeReport.href = reportUrl;
    page.wholeReport.download = name + '-report.txt';
    page.wholeReport.textContent = `Download the whole report (${number(lines)} lines)`;
  }
  page.reportBox.hidden = false;
}

// ---- The conversion, on a worker where there can be one

// Runs the steps of one level on a worker, or on this page where no worker
// can be started (a page opened from a local folder); `onStep` gets each
// step's result. Resolves, once the binary glTF file is made (or the level
// rejected), to { makeObj, close }: makeObj() has the OBJ and material file
// made, as an "obj" step. trees: where the level's bitmaps are looked for
// (see gameIn).
//
// A worker that fails after its result (an error while it draws or refines
// the preview) is gone with its view and its copy of the level: a "lost"
// step says so, and the OBJ is then made here, from the files.
// `onStart` gets a function that stops the worker.
async function runSteps(file, trees, preview, handOver, onStep, onStart) {
  const onPage = async (withPreview, step) => {
    await nextPaint();
    await loadScript('meshwright.js', 'createMeshwright');
    const { convertSteps } = await loadScript('onpage.js', 'meshwrightSteps');
    const makeObj = await convertSteps(file, trees, withPreview, step);
    return { makeObj: async () => { await nextPaint(); makeObj?.(); }, send() {}, close() {} };
  };
  // Of a level converted again here: the download, where the worker had
  // not sent it, and the OBJ (a rejection is the OBJ's).
  let downloadDelivered = false;
  const fromHere = (message) => {
    if (message.step === 'download' && !downloadDelivered)
      onStep(message);
    else if (message.step === 'obj' || message.step === 'failed')
      onStep({ ...message, step: 'obj' });
  };
  let worker = null;
  let warmCanvas = null;
  if (spare && handOver) {
    ({ worker, canvas: warmCanvas } = spare);
    spare = null;
  } else {
    try {
      worker = new Worker('worker.js');
    } catch {
      return onPage(preview, onStep);
    }
  }
  onStart(() => worker.terminate());
  return new Promise((resolve) => {
    let delivered = false;
    let lost = false;
    let objAsked = false;
    let here = null;
    const convertHere = () => {
      here ??= onPage(false, fromHere);
      return here;
    };
    const makeObjHere = () => {
      convertHere().then((steps) => steps.makeObj()).catch(() => onStep({ step: 'obj', status: 1, console: '' }));
    };
    const handle = {
      makeObj: () => {
        objAsked = true;
        if (lost)
          makeObjHere();
        else
          worker.postMessage({ make: 'obj' });
      },
      send: (message) => lost || worker.postMessage(message),
      close: () => worker.terminate(),
    };
    worker.onmessage = (event) => {
      if (event.data.step === 'obj')
        objAsked = false;
      if (event.data.step === 'download')
        downloadDelivered = true;
      onStep(event.data, handle);
      if (event.data.step === 'preview' || event.data.step === 'failed') {
        delivered = true;
        resolve(handle);
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      worker.terminate();
      if (!delivered) {
        resolve(onPage(preview, onStep));
        return;
      }
      lost = true;
      onStep({ step: 'lost' }, handle);
      if (objAsked)
        makeObjHere();
      else if (!downloadDelivered)
        convertHere().catch(() => onStep({ step: 'download', glb: null }));
    };
    // The worker reads the files itself, and the canvas goes to it without a
    // copy; a worker started ahead has its canvas already.
    if (warmCanvas)
      newCanvas(warmCanvas);
    const canvas = !warmCanvas && handOver && handOver();
    worker.postMessage({ file, trees, preview, canvas }, canvas ? [canvas.canvas] : []);
  });
}

// ---- Downloads

let objectUrls = [];

function forgetDownloads() {
  objectUrls.forEach((url) => URL.revokeObjectURL(url));
  objectUrls = [];
  for (const link of [page.downloadGlb, page.downloadObj, page.downloadMtl]) {
    link.removeAttribute('href');
    link.classList.add('pending');
  }
  page.downloadObj.hidden = page.downloadMtl.hidden = true;
  page.makeObj.hidden = false;
  page.makeObj.disabled = false;
  page.makeObj.textContent = 'Make the OBJ and MTL files';
}

function offer(link, parts, fileName, type) {
  const url = URL.createObjectURL(new Blob(parts, { type }));
  objectUrls.push(url);
  link.href = url;
  link.download = fileName;
  link.textContent = 'Download ' + fileName;
  link.classList.remove('pending');
  link.hidden = false;
}

// ---- 3D view

let input = null; // the view's canvas and what it turns

// three.js and the view for this page's own thread, loaded once, when first
// needed.
function loadViewer() {
  return loadScript('viewer.js', 'meshwrightViewer');
}

// Whether a worker can draw on a canvas of the page.
const canHandOver = typeof HTMLCanvasElement !== 'undefined' &&
                    typeof HTMLCanvasElement.prototype.transferControlToOffscreen === 'function';

// A fresh canvas in the view (or `canvas`, handed to a worker before),
// whose drags and wheel turns and zooms `target` ({ turn, zoom, resize }),
// set later.
function newCanvas(canvas = document.createElement('canvas')) {
  input?.stop();
  page.view.replaceChildren(canvas);
  page.view.hidden = false;
  page.unavailable.hidden = true;
  const state = { canvas, target: null, last: null };
  canvas.addEventListener('pointerdown', (event) => {
    state.last = [event.clientX, event.clientY];
    canvas.setPointerCapture(event.pointerId);
  });
  canvas.addEventListener('pointermove', (event) => {
    if (!state.last)
      return;
    state.target?.turn(event.clientX - state.last[0], event.clientY - state.last[1]);
    state.last = [event.clientX, event.clientY];
  });
  for (const type of ['pointerup', 'pointercancel'])
    canvas.addEventListener(type, () => { state.last = null; });
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    state.target?.zoom(event.deltaY);
  }, { passive: false });
  const observer = new ResizeObserver(() => state.target?.resize(page.view.clientWidth, page.view.clientHeight));
  observer.observe(page.view);
  state.stop = () => observer.disconnect();
  input = state;
  return state;
}

// The view's size in CSS pixels, also while it is hidden: the width of the
// page's column and the height its style gives it.
function viewSize() {
  return [page.view.clientWidth || page.view.closest('main').clientWidth,
          page.view.clientHeight || parseFloat(getComputedStyle(page.view).height) || 450];
}

// `canvas` handed over to a worker, with the view's size.
function offscreen(canvas) {
  const [width, height] = viewSize();
  return { canvas: canvas.transferControlToOffscreen(), width, height, pixelRatio: window.devicePixelRatio };
}

// The canvas handed over to the worker, with its size.
function handOverCanvas() {
  return offscreen(newCanvas().canvas);
}

// A worker started ahead of the next level, with its scripts loaded and its
// 3D view and shaders made on a canvas of its own, so that a level chosen a
// moment later is shown sooner: { worker, canvas }. The body's data-warm
// says when it is ready ("yes"), or that there is none ("no").
let spare = null;

function warmSpare() {
  if (spare)
    return;
  if (!canDraw || !canHandOver) {
    document.body.dataset.warm = 'no';
    return;
  }
  let worker;
  try {
    worker = new Worker('worker.js');
  } catch {
    document.body.dataset.warm = 'no';
    return;
  }
  const canvas = document.createElement('canvas');
  const warm = offscreen(canvas);
  spare = { worker, canvas };
  document.body.dataset.warm = '';
  worker.onmessage = (event) => {
    if (event.data.step === 'warm' && spare?.worker === worker)
      document.body.dataset.warm = 'yes';
  };
  worker.onerror = (event) => {
    event.preventDefault();
    worker.terminate();
    if (spare?.worker === worker)
      spare = null;
    document.body.dataset.warm = 'no';
  };
  worker.postMessage({ warm }, [warm.canvas]);
}

// Puts a plain sentence in place of the view; a later level tries again.
function dropViewer(sentence) {
  input?.stop();
  input = null;
  page.view.replaceChildren();
  page.view.hidden = true;
  page.unavailable.hidden = false;
  page.unavailable.textContent = sentence;
}

const noDrawing = 'This browser does not draw 3D graphics here (WebGL is off or missing), so there is no preview. ' +
                  'The downloads are ready.';
const drawingFailed = 'The 3D preview could not be drawn in this browser. The downloads are ready.';

// Draws the preview on this page's thread and resolves once its first
// frame is drawn; throws when the browser cannot draw it.
async function showLevel(preview) {
  const { createView } = await loadViewer();
  const state = newCanvas();
  const view = createView(state.canvas, ...viewSize(), window.devicePixelRatio);
  state.target = view;
  state.canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    dropViewer(drawingFailed);
  });
  return view.show(preview.glb);
}

// The level's counts; its materials once it is drawn.
function describeCounts(report, preview, drawn) {
  const vertices = Number((/\tNum vertices: (\d+)/.exec(report) || [0, 0])[1]);
  page.counts.dataset.triangles = preview.shownTriangles;
  page.counts.textContent = `${number(vertices)} vertices, ${number(preview.triangles)} triangles` +
                            (drawn ? `, ${number(preview.materials)} materials` : '');
}

// Every texture that was not embedded, with what to do, in a list that
// opens; the status line says how many.
function showTextures(words) {
  page.texturesBox.hidden = words.entries.length === 0;
  page.texturesSummary.textContent = `Textures: ${words.summary}`;
  page.texturesList.replaceChildren(...words.entries.map((entry) => {
    const item = document.createElement('li');
    item.textContent = entryText(entry);
    item.dataset.outcome = entry.outcome;
    return item;
  }));
}

function simplifiedNote(preview) {
  if (preview.shownTriangles === preview.triangles)
    return '';
  return `; preview simplified to ${number(preview.shownTriangles)} of ${number(preview.triangles)} triangles; ` +
         'downloads are exact';
}

// ---- One level

let current = null; // the level's conversion, kept for its OBJ
let stopRunning = null; // stops the conversion under way
let opened = 0; // levels opened so far: a later one makes the others' steps moot

// Shows a level; whatever a step throws ends in words, never in a page
// that waits.
async function openLevel(entry) {
  const number = opened + 1;
  try {
    await showLevelSteps(entry);
  } catch (error) {
    if (number === opened)
      setState('failed', `${entry.level.file.name}: it could not be shown (${error?.message || error}); choose it again`);
  }
}

async function showLevelSteps({ level, trees }) {
  const { file } = level;
  const number = ++opened;
  stopRunning?.();
  stopRunning = null;
  current?.close();
  current = null;
  page.result.hidden = true;
  page.reportBox.hidden = true;
  page.texturesBox.hidden = true;
  forgetDownloads();
  setState('working', `Reading ${file.name}…`);

  const started = performance.now();
  let converted = 0;
  let shownAt = 0;
  let preview = null;
  let failed = false;
  let textures = null;
  let report = '';
  let shownOnWorker = null;
  // What the status line says once the level is shown; a finer preview
  // changes it.
  const doneText = () => {
    const took = `converted in ${seconds(started, converted)} s`;
    const shown = !canDraw ? '; no 3D preview in this browser; downloads ready'
      : shownAt ? `, shown in ${seconds(converted, shownAt)} s` : '; 3D preview unavailable; downloads ready';
    const found = textures.summary ? `; ${textures.summary}` : '';
    return `${file.name}: ${took}${shown}${found}${canDraw && shownAt ? simplifiedNote(preview) : ''}.`;
  };
  let showing = Promise.resolve();
  // The download comes apart from the level's steps, once the first frame
  // is drawn.
  let offered;
  const downloadOffered = new Promise((resolve) => { offered = resolve; });
  // Drawn on the worker where it can, else here, with three.js fetched
  // meanwhile.
  const handOver = canDraw && canHandOver ? handOverCanvas : null;
  if (canDraw && !handOver)
    loadViewer().catch(() => {});
  const conversion = await runSteps(file, trees, canDraw, handOver, (message, worker) => {
    if (number !== opened)
      return;
    if (message.step === 'converting') {
      setState('working', `Converting ${file.name} (${megabytes(file.size)})…`);
    } else if (message.step === 'preparing') {
      setState('working', `Preparing the preview of ${file.name}…`);
    } else if (message.step === 'failed') {
      failed = true;
      if (message.console)
        showReport(message.console, file.name);
      setState('failed', message.lost?.includes(file.name) && !message.console ? lostText(file.name)
                                                                                 : `${file.name}: ${messageOf(message.console)}`);
    } else if (message.step === 'preview') {
      converted = performance.now();
      preview = { ...message.preview, name: message.name };
      textures = describeTextures(message.textures, message.lost);
      document.body.dataset.bytesRead = message.bytesRead;
      showTextures(textures);
      report = message.console;
      showReport(message.console, message.name);
      page.result.hidden = false;
      if (!canDraw) {
        dropViewer(noDrawing);
        describeCounts(message.console, preview, false);
        return;
      }
      setState('working', `Showing ${message.name}.glb (${megabytes(message.glbBytes)})…`);
      if (preview.glb) {
        showing = showLevel(preview).then(() => {
          shownAt = performance.now();
          describeCounts(message.console, preview, true);
        }).catch(() => {
          dropViewer(drawingFailed);
          describeCounts(message.console, preview, false);
        });
      } else {
        // The worker draws it and says when.
        input.target = {
          turn: (dx, dy) => worker.send({ view: 'turn', dx, dy }),
          zoom: (delta) => worker.send({ view: 'zoom', delta }),
          resize: (width, height) => worker.send({ view: 'resize', width, height }),
        };
        showing = new Promise((resolve) => { shownOnWorker = resolve; });
      }
    } else if (message.step === 'refined') {
      preview.shownTriangles = message.shownTriangles;
      page.counts.dataset.triangles = preview.shownTriangles;
      if (document.body.dataset.state === 'done')
        setState('done', doneText());
    } else if (message.step === 'download') {
      if (message.glb)
        offer(page.downloadGlb, [message.glb], message.name + '.glb', 'model/gltf-binary');
      offered();
    } else if (message.step === 'shown') {
      if (!message.drawn) {
        dropViewer(drawingFailed);
      } else {
        shownAt = performance.now();
        document.body.dataset.timings = JSON.stringify(message.timings || {});
      }
      describeCounts(report, preview, message.drawn);
      shownOnWorker?.();
    } else if (message.step === 'lost') {
      // The view drawn on the worker went with it.
      if (shownOnWorker) {
        shownAt = 0;
        dropViewer(drawingFailed);
        describeCounts(report, preview, false);
        shownOnWorker();
        if (document.body.dataset.state === 'done')
          setState('done', doneText());
      }
    } else if (message.step === 'obj' && message.status === 0) {
      offer(page.downloadObj, [message.obj], preview.name + '.obj', 'model/obj');
      offer(page.downloadMtl, [message.mtl], preview.name + '.mtl', 'model/mtl');
      page.makeObj.hidden = true;
    } else if (message.step === 'obj') {
      page.makeObj.textContent = 'The OBJ could not be made';
      showReport(page.report.textContent + message.console, preview.name);
    }
  }, (stop) => { stopRunning = stop; });
  if (failed || number !== opened) {
    conversion.close();
    return;
  }
  stopRunning = null;
  current = conversion;
  await Promise.all([showing, downloadOffered]);
  if (number !== opened)
    return;
  document.body.dataset.firstFrame = shownAt ? Math.round(shownAt - started) : '';
  setState('done', doneText());
  warmSpare();
}

let levels = []; // the game's levels, each with where its bitmaps are looked for

// Lists the levels among the files, grouped by folder, when there are
// several, and shows the first; nothing is converted before it is shown.
async function open(files) {
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
  await openLevel(levels[0]);
}

page.levels.addEventListener('change', () => openLevel(levels[Number(page.levels.value)]));

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
  openLevel(levels[index]);
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

page.makeObj.addEventListener('click', () => {
  if (!current)
    return;
  page.makeObj.disabled = true;
  page.makeObj.textContent = 'Making the OBJ and MTL files…';
  current.makeObj();
});

// ---- Choosing and dropping files

// The files under a dropped folder, each with its path from the drop.
async function filesIn(entry) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    return [{ path: entry.fullPath.replace(/^\//, ''), file }];
  }
  const reader = entry.createReader();
  const readBatch = () => new Promise((resolve, reject) => reader.readEntries(resolve, reject));
  const found = [];
  // A folder's entries come in batches until an empty one.
  for (let batch = await readBatch(); batch.length > 0; batch = await readBatch()) {
    for (const child of batch)
      found.push(...await filesIn(child));
  }
  return found;
}

async function droppedFiles(transfer) {
  const entries = [...transfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
  if (entries.length === 0)
    return [...transfer.files].map((file) => ({ path: file.name, file }));
  return (await Promise.all(entries.map(filesIn))).flat();
}

// The files chosen; the input is emptied, so that choosing the same files
// again opens them again.
function chosenFiles(input) {
  const files = [...input.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));
  input.value = '';
  return files;
}

// The sample level and its textures, from the site's sample folder.
async function openSample() {
  setState('working', 'Fetching the sample level and its textures…');
  let files;
  try {
    const names = await (await fetch('sample/files.json')).json();
    files = await Promise.all(names.map(async (name) => {
      const response = await fetch('sample/' + name);
      if (!response.ok)
        throw new Error(`${name}: ${response.status}`);
      return { path: name, file: new File([await response.blob()], name) };
    }));
  } catch {
    setState('failed', 'The sample cannot be fetched here (a page opened from its folder cannot fetch files): ' +
                       'choose examples/sample.bsp and the bitmaps beside it instead.');
    return;
  }
  await open(files);
}

page.file.addEventListener('change', () => open(chosenFiles(page.file)));
page.folder.addEventListener('change', () => open(chosenFiles(page.folder)));
page.sample.addEventListener('click', openSample);
for (const type of ['dragenter', 'dragover'])
  page.drop.addEventListener(type, (event) => {
    event.preventDefault();
    page.drop.classList.add('dragging');
  });
for (const type of ['dragleave', 'drop'])
  page.drop.addEventListener(type, () => page.drop.classList.remove('dragging'));
page.drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  open(await droppedFiles(event.dataTransfer));
});
setState('ready', '');
warmSpare();
