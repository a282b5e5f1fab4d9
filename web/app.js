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
import { chosenFiles, droppedFiles } from './files.js';
import { viewCommands } from './view_commands.js';
import { listLevels } from './levels.js';
import { canDraw, loadScript, megabytes, messageOf, nextPaint, number, page, seconds, setState } from './page.js';
import { describeTextures, entryText, lostText } from './textures.js';
import { canHandOver, drawingFailed, dropViewer, handOverCanvas, loadViewer, newCanvas, noDrawing, setViewTarget,
         showLevel, takeSpare, warmSpare } from './view_controls.js';

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
  const taken = handOver && takeSpare();
  if (taken) {
    ({ worker, canvas: warmCanvas } = taken);
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
  // Where the worker draws, the report comes after the first frame; the
  // level is done with it.
  let reportArrived = null;
  let reported = Promise.resolve();
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
      report = message.console;
      // Laid out after the first frame where the worker draws it, so that
      // the browser's drawing the page does not hold that frame up.
      const showWords = () => {
        showTextures(textures);
        showReport(report, message.name);
      };
      page.result.hidden = false;
      if (!canDraw) {
        dropViewer(noDrawing);
        describeCounts(message.console, preview, false);
        showWords();
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
        setViewTarget(Object.fromEntries(viewCommands.map((name) => [name,
                                                                     (...args) => worker.send({ view: name, args })])));
        showing = new Promise((resolve) => { shownOnWorker = resolve; });
        reported = new Promise((resolve) => { reportArrived = resolve; });
      }
      showing.then(() => number === opened && showWords());
    } else if (message.step === 'report') {
      // Where the worker drew the first frame before it made the report.
      report = message.console;
      showReport(report, preview.name);
      describeCounts(report, preview, Boolean(shownAt));
      reportArrived();
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
    } else if (message.step === 'walked') {
      document.body.dataset.walked = `${message.frames} frames in ${message.seconds.toFixed(2)} s`;
    } else if (message.step === 'lost') {
      // The view drawn on the worker went with it, and the report if it was
      // still to come.
      reportArrived?.();
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
  await Promise.all([showing, downloadOffered, reported]);
  if (number !== opened)
    return;
  document.body.dataset.firstFrame = shownAt ? Math.round(shownAt - started) : '';
  setState('done', doneText());
  warmSpare();
}


// Lists the game's levels and shows the first.
function open(files) {
  return listLevels(files, openLevel);
}

page.makeObj.addEventListener('click', () => {
  if (!current)
    return;
  page.makeObj.disabled = true;
  page.makeObj.textContent = 'Making the OBJ and MTL files…';
  current.makeObj();
});

// ---- Choosing and dropping files

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