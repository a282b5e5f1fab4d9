// The Meshwright page: takes a level file, with its bitmaps or the folder
// that holds them, has the converter (meshwright.js, the C++ program built
// as WebAssembly) turn it into binary glTF, with the textures it finds, and
// into an OBJ and a material file, offers all three for download and shows
// the model as three.js's glTF loader reads the converter's binary glTF file
// (or a simplified copy of it, for a level of very many triangles). The work
// runs on a worker where the browser allows, so that the page answers
// clicks all the while.
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { convertSteps } from './steps.js';

const page = {
  drop: document.getElementById('drop'),
  file: document.getElementById('file'),
  folder: document.getElementById('folder'),
  sample: document.getElementById('sample'),
  status: document.getElementById('status'),
  result: document.getElementById('result'),
  downloadGlb: document.getElementById('download-glb'),
  downloadObj: document.getElementById('download-obj'),
  downloadMtl: document.getElementById('download-mtl'),
  counts: document.getElementById('counts'),
  view: document.getElementById('view'),
  unavailable: document.getElementById('view-unavailable'),
  reportBox: document.getElementById('report-box'),
  report: document.getElementById('report'),
};

// The state the page is in, for people (the status line) and for tests
// (the body's data-state: working, done or failed).
function setState(state, text) {
  document.body.dataset.state = state;
  page.status.textContent = text;
  page.status.className = state;
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

// Resolves once the frame drawn now is on the screen.
function frameShown() {
  return new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
}

// The converter's own words for a level it rejected: its message without
// the "Exception thrown: " before it, or its last line.
function messageOf(console) {
  const lines = console.split('\n').filter((line) => line !== '');
  const thrown = lines.find((line) => line.startsWith('Exception thrown: '));
  return thrown ? thrown.slice('Exception thrown: '.length) : lines[lines.length - 1] || 'no message';
}

// Runs the steps of one level on a worker, or on this page where no worker
// can be started (a page opened from a local folder); `onStep` gets each
// step's result. bitmaps: [{ path, file }].
async function runSteps(file, bitmaps, onStep) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const bitmapBytes = await Promise.all(bitmaps.map(async (bitmap) =>
    ({ path: bitmap.path, bytes: new Uint8Array(await bitmap.file.arrayBuffer()) })));
  let worker = null;
  try {
    worker = new Worker('worker.js');
  } catch {
    await nextPaint();
    return convertSteps(bytes, file.name, bitmapBytes, onStep);
  }
  return new Promise((resolve) => {
    worker.onmessage = (event) => {
      onStep(event.data);
      if (event.data.step === 'obj' || event.data.step === 'failed') {
        worker.terminate();
        resolve();
      }
    };
    worker.onerror = async (event) => {
      event.preventDefault();
      worker.terminate();
      await nextPaint();
      resolve(convertSteps(bytes, file.name, bitmapBytes, onStep));
    };
    worker.postMessage({ bytes, fileName: file.name, bitmaps: bitmapBytes });
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
}

function offer(link, parts, fileName, type) {
  const url = URL.createObjectURL(new Blob(parts, { type }));
  objectUrls.push(url);
  link.href = url;
  link.download = fileName;
  link.textContent = 'Download ' + fileName;
  link.classList.remove('pending');
}

// ---- 3D view

const background = new THREE.Color(0x1d2230);
let viewer = null;

function makeViewer() {
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio);
  const scene = new THREE.Scene();
  scene.background = background;
  scene.add(new THREE.HemisphereLight(0xffffff, 0x404050, 1.6));
  const sun = new THREE.DirectionalLight(0xffffff, 1.8);
  sun.position.set(0.5, 1, 0.8);
  scene.add(sun);
  const camera = new THREE.PerspectiveCamera(50, 1, 0.1, 1000);
  const controls = new OrbitControls(camera, renderer.domElement);
  const render = () => renderer.render(scene, camera);
  controls.addEventListener('change', render);
  const resize = () => {
    const { clientWidth, clientHeight } = page.view;
    renderer.setSize(clientWidth, clientHeight, false);
    camera.aspect = clientWidth / Math.max(clientHeight, 1);
    camera.updateProjectionMatrix();
    render();
  };
  const observer = new ResizeObserver(resize);
  observer.observe(page.view);
  renderer.domElement.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    dropViewer('the graphics context was lost');
  });
  page.view.appendChild(renderer.domElement);
  return { renderer, scene, camera, controls, render, resize, observer, model: null };
}

function disposeModel(model) {
  model.traverse((node) => {
    if (node.isMesh) {
      node.geometry.dispose();
      [].concat(node.material).forEach((material) => material.dispose());
    }
  });
}

// Puts the reason in place of the view; a later level tries again.
function dropViewer(reason) {
  if (viewer) {
    viewer.observer.disconnect();
    viewer.renderer.domElement.remove();
    viewer.renderer.dispose();
    viewer = null;
  }
  page.view.hidden = true;
  page.unavailable.hidden = false;
  page.unavailable.textContent =
    `3D preview unavailable in this browser: ${reason.replace(/\.+$/, '')}. The downloads are complete.`;
}

// Reads a binary glTF file with three.js's own loader: each material shows
// its embedded texture, or the flat colour the converter gave it; without
// normals in the file, the loader shades every triangle flat.
function loadModel(glb) {
  return new Promise((resolve, reject) => {
    const buffer = glb.buffer.slice(glb.byteOffset, glb.byteOffset + glb.byteLength);
    new GLTFLoader().parse(buffer, '', (gltf) => resolve(gltf.scene), reject);
  });
}

function materialCount(model) {
  const materials = new Set();
  model.traverse((node) => {
    if (node.isMesh)
      materials.add(node.material.name);
  });
  return materials.size;
}

function frame(camera, controls, model) {
  const box = new THREE.Box3().setFromObject(model);
  const center = box.getCenter(new THREE.Vector3());
  const size = Math.max(...box.getSize(new THREE.Vector3()).toArray(), 1);
  camera.near = size / 1000;
  camera.far = size * 20;
  camera.position.copy(center).add(new THREE.Vector3(0.7, 0.72, 0.9).multiplyScalar(size));
  camera.updateProjectionMatrix();
  controls.target.copy(center);
  controls.update();
}

// Shows the preview and resolves once its first frame is drawn; throws when
// the browser cannot draw it.
async function showLevel(preview) {
  page.view.hidden = false;
  page.unavailable.hidden = true;
  viewer ??= makeViewer();
  if (!viewer.renderer.getContext() || viewer.renderer.getContext().isContextLost())
    throw new Error('no WebGL context');
  if (viewer.model) {
    viewer.scene.remove(viewer.model);
    disposeModel(viewer.model);
    viewer.model = null;
  }
  const model = await loadModel(preview.glb);
  viewer.model = model;
  viewer.scene.add(model);
  frame(viewer.camera, viewer.controls, model);
  // Shaders compile in the background where the browser can, so that the
  // first frame does not hold up the page.
  await viewer.renderer.compileAsync(viewer.scene, viewer.camera);
  viewer.resize();
  await frameShown();
  return materialCount(model);
}

function describeCounts(report, preview, materials) {
  const vertices = Number((/\tNum vertices: (\d+)/.exec(report) || [0, 0])[1]);
  const number = (value) => value.toLocaleString('en');
  page.counts.dataset.triangles = preview.shownTriangles;
  page.counts.textContent = `${number(vertices)} vertices, ${number(preview.triangles)} triangles` +
                            (materials === null ? '' : `, ${number(materials)} materials`);
}

// How many textures were found, and the names of a few missing ones.
function texturesNote(textures) {
  const total = textures.found + textures.missing.length;
  if (total === 0)
    return '';
  if (textures.missing.length === 0)
    return `; ${total === 1 ? 'its texture' : `all ${total} textures`} found`;
  const shown = textures.missing.slice(0, 3);
  const more = textures.missing.length - shown.length;
  return `; ${textures.found} of ${total} textures found, missing ${shown.join(', ')}` +
         (more > 0 ? ` and ${more} more` : '');
}

function simplifiedNote(preview) {
  if (preview.shownTriangles === preview.triangles)
    return '';
  const number = (value) => value.toLocaleString('en');
  return `; preview simplified to ${number(preview.shownTriangles)} of ${number(preview.triangles)} triangles; ` +
         'downloads are exact';
}

// ---- One level

// The level among the files given (the first .bsp) and the bitmaps, each
// with its path from the level's folder. files: [{ path, file }], the paths
// as chosen or dropped (a folder's relative paths kept).
function levelAndBitmaps(files) {
  const level = files.find(({ path }) => /\.bsp$/i.test(path));
  if (!level)
    return { level: null, bitmaps: [] };
  const folder = level.path.includes('/') ? level.path.slice(0, level.path.lastIndexOf('/') + 1) : '';
  const bitmaps = files.filter(({ path }) => /\.bmp$/i.test(path)).map(({ path, file }) => ({
    // Beside the level as they were, or else within what was dropped.
    path: path.startsWith(folder) ? path.slice(folder.length) : path.slice(path.indexOf('/') + 1),
    file,
  }));
  return { level, bitmaps };
}

async function open(files) {
  const { level, bitmaps } = levelAndBitmaps(files);
  if (!level) {
    if (files.length > 0)
      setState('failed', 'No level among the files: choose a .bsp file, with its .bmp textures if you have them.');
    return;
  }
  const { file } = level;
  page.result.hidden = true;
  page.reportBox.hidden = true;
  forgetDownloads();
  setState('working', `Reading ${file.name}…`);
  const started = performance.now();
  let converted = 0;
  let shownAt = 0;
  let preview = null;
  let failed = false;
  let showing = Promise.resolve();
  let textures = null;
  await runSteps(file, bitmaps, (message) => {
    if (message.step === 'converting') {
      setState('working', `Converting ${file.name} (${megabytes(file.size)})…`);
    } else if (message.step === 'preparing') {
      setState('working', `Preparing the preview of ${file.name}…`);
    } else if (message.step === 'failed') {
      failed = true;
      page.report.textContent = message.console;
      page.reportBox.hidden = false;
      setState('failed', `${file.name}: ${messageOf(message.console)}`);
    } else if (message.step === 'preview') {
      converted = performance.now();
      preview = { ...message.preview, name: message.name };
      textures = message.textures;
      page.report.textContent = message.console;
      page.reportBox.hidden = false;
      offer(page.downloadGlb, [message.glb], message.name + '.glb', 'model/gltf-binary');
      page.result.hidden = false;
      setState('working', `Showing ${message.name}.glb (${megabytes(message.glb.length)})…`);
      showing = showLevel(preview).then((materials) => {
        shownAt = performance.now();
        describeCounts(message.console, preview, materials);
      }).catch((error) => {
        dropViewer(error.message || String(error));
        describeCounts(message.console, preview, null);
      });
    } else if (message.step === 'obj' && message.status === 0) {
      offer(page.downloadObj, [message.obj], preview.name + '.obj', 'model/obj');
      offer(page.downloadMtl, [message.mtl], preview.name + '.mtl', 'model/mtl');
    } else if (message.step === 'obj') {
      page.report.textContent += message.console;
    }
  });
  if (failed)
    return;
  await showing;
  document.body.dataset.firstFrame = shownAt ? Math.round(shownAt - started) : '';
  const shown = shownAt ? `, shown in ${seconds(converted, shownAt)} s` : '; 3D preview unavailable';
  setState('done', `${file.name}: converted in ${seconds(started, converted)} s${shown}${texturesNote(textures)}` +
                   `${simplifiedNote(preview)}.`);
}

// ---- Choosing and dropping files

// The files under a dropped folder, each with its path from the drop.
async function filesIn(entry) {
  if (entry.isFile)
    return [{ path: entry.fullPath.replace(/^\//, ''), file: await new Promise((resolve, reject) => entry.file(resolve, reject)) }];
  const reader = entry.createReader();
  const found = [];
  // A folder's entries come in batches until an empty one.
  for (let batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject)); batch.length > 0;
       batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject))) {
    for (const child of batch)
      found.push(...await filesIn(child));
  }
  return found;
}

async function droppedFiles(transfer) {
  const entries = [...transfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
  if (entries.length === 0)
    return [...transfer.files].map((file) => ({ path: file.name, file }));
  const lists = await Promise.all(entries.map(filesIn));
  return lists.flat();
}

function chosenFiles(input) {
  return [...input.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));
}

// The sample level and its textures, from the site's sample folder.
async function openSample() {
  setState('working', 'Fetching the sample level and its textures…');
  try {
    const names = await (await fetch('sample/files.json')).json();
    const files = await Promise.all(names.map(async (name) => {
      const response = await fetch('sample/' + name);
      if (!response.ok)
        throw new Error(`${name}: ${response.status}`);
      return { path: name, file: new File([await response.blob()], name) };
    }));
    await open(files);
  } catch {
    setState('failed', 'The sample cannot be fetched here (a page opened from its folder cannot fetch files): ' +
                       'choose examples/sample.bsp and the bitmaps beside it instead.');
  }
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
