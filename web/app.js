// The Meshwright page: takes a level file, has the converter (meshwright.js,
// the C++ program built as WebAssembly) turn it into binary glTF and into an
// OBJ and a material file, offers all three for download and shows the
// model as three.js's glTF loader reads the converter's very bytes.
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const page = {
  drop: document.getElementById('drop'),
  file: document.getElementById('file'),
  status: document.getElementById('status'),
  result: document.getElementById('result'),
  downloadGlb: document.getElementById('download-glb'),
  downloadObj: document.getElementById('download-obj'),
  downloadMtl: document.getElementById('download-mtl'),
  counts: document.getElementById('counts'),
  view: document.getElementById('view'),
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

// Lets the browser paint the status before a long step on this thread.
function nextFrame() {
  return new Promise((resolve) => setTimeout(resolve, 20));
}

// Converts on a worker, so that the page stays responsive; a page opened
// from a local folder may not start one, and then converts on its own thread.
async function runConverter(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  let worker = null;
  try {
    worker = new Worker('meshwright.js');
  } catch {
    await nextFrame();
    return convertLevel(bytes, file.name);
  }
  return new Promise((resolve) => {
    worker.onmessage = (event) => {
      worker.terminate();
      resolve(event.data);
    };
    worker.onerror = async (event) => {
      event.preventDefault();
      worker.terminate();
      await nextFrame();
      resolve(await convertLevel(bytes, file.name));
    };
    worker.postMessage({ bytes, fileName: file.name });
  });
}

// ---- Downloads

let objectUrls = [];

function offerDownloads(result) {
  objectUrls.forEach((url) => URL.revokeObjectURL(url));
  objectUrls = [];
  const offer = (link, parts, fileName, type) => {
    const url = URL.createObjectURL(new Blob(parts, { type }));
    objectUrls.push(url);
    link.href = url;
    link.download = fileName;
    link.textContent = 'Download ' + fileName;
  };
  offer(page.downloadGlb, [result.glb], result.name + '.glb', 'model/gltf-binary');
  offer(page.downloadObj, result.obj, result.name + '.obj', 'model/obj');
  offer(page.downloadMtl, result.mtl, result.name + '.mtl', 'model/mtl');
}

// ---- 3D view

const background = new THREE.Color(0x1d2230);
let viewer = null;

function makeViewer() {
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio);
  page.view.appendChild(renderer.domElement);
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
  new ResizeObserver(resize).observe(page.view);
  return { renderer, scene, camera, controls, render, resize, model: null };
}

function disposeModel(model) {
  model.traverse((node) => {
    if (node.isMesh) {
      node.geometry.dispose();
      [].concat(node.material).forEach((material) => material.dispose());
    }
  });
}

// Reads the binary glTF file with three.js's own loader. Each material has
// the flat colour the converter gave it, since the level holds no textures;
// without normals in the file, the loader shades every triangle flat.
function loadModel(glb) {
  return new Promise((resolve, reject) => {
    const buffer = glb.buffer.slice(glb.byteOffset, glb.byteOffset + glb.byteLength);
    new GLTFLoader().parse(buffer, '', (gltf) => resolve(gltf.scene), reject);
  });
}

// Triangles and distinct materials of a loaded model.
function countsOf(model) {
  let triangles = 0;
  const materials = new Set();
  model.traverse((node) => {
    if (node.isMesh) {
      triangles += (node.geometry.index ? node.geometry.index.count : node.geometry.attributes.position.count) / 3;
      materials.add(node.material.name);
    }
  });
  return { triangles, materials: materials.size };
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

async function showLevel(result, report) {
  viewer ??= makeViewer();
  if (viewer.model) {
    viewer.scene.remove(viewer.model);
    disposeModel(viewer.model);
    viewer.model = null;
  }
  const model = await loadModel(result.glb);
  viewer.model = model;
  viewer.scene.add(model);
  const { triangles, materials } = countsOf(model);
  const vertices = Number((/\tNum vertices: (\d+)/.exec(report) || [0, 0])[1]);
  page.counts.textContent =
    `${vertices.toLocaleString('en')} vertices, ${triangles.toLocaleString('en')} triangles, ` +
    `${materials.toLocaleString('en')} materials`;
  page.counts.dataset.triangles = triangles;
  frame(viewer.camera, viewer.controls, model);
  viewer.resize();
}

// ---- One level

async function open(file) {
  if (!file)
    return;
  page.result.hidden = true;
  page.reportBox.hidden = true;
  setState('working', `Converting ${file.name} (${megabytes(file.size)})…`);
  const started = performance.now();
  const result = await runConverter(file);
  const converted = performance.now();
  page.report.textContent = result.console;
  page.reportBox.hidden = false;
  if (result.status !== 0) {
    setState('failed', `The converter rejected ${file.name}: status ${result.status}.`);
    return;
  }
  offerDownloads(result);
  // The Blobs hold the files now; the pieces may go.
  result.obj = result.mtl = null;
  page.result.hidden = false;
  setState('working', `Showing ${result.name}.glb (${megabytes(result.glb.length)})…`);
  await nextFrame();
  await showLevel(result, result.console);
  const seconds = (from, to) => ((to - from) / 1000).toFixed(1);
  setState('done', `${file.name}: converted in ${seconds(started, converted)} s, ` +
                   `shown in ${seconds(converted, performance.now())} s.`);
}

page.file.addEventListener('change', () => open(page.file.files[0]));
for (const type of ['dragenter', 'dragover'])
  page.drop.addEventListener(type, (event) => {
    event.preventDefault();
    page.drop.classList.add('dragging');
  });
for (const type of ['dragleave', 'drop'])
  page.drop.addEventListener(type, () => page.drop.classList.remove('dragging'));
page.drop.addEventListener('drop', (event) => {
  event.preventDefault();
  open(event.dataTransfer.files[0]);
});
setState('ready', '');
