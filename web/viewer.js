// The 3D view: three.js draws the converter's binary glTF file (or the
// simplified copy of it) in a container. Bundled on its own, so that the
// page loads three.js only when it has a preview to draw.
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const background = new THREE.Color(0x1d2230);

// Resolves once the frame drawn now is on the screen.
function frameShown() {
  return new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
}

function disposeModel(model) {
  model.traverse((node) => {
    if (node.isMesh) {
      node.geometry.dispose();
      for (const material of [].concat(node.material)) {
        material.map?.dispose();
        material.dispose();
      }
    }
  });
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

// A view in `container`; `onLost` is called when the browser takes the
// graphics context away. Throws when the browser cannot draw at all.
function createViewer(container, onLost) {
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  if (!renderer.getContext() || renderer.getContext().isContextLost())
    throw new Error('no WebGL context');
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
    const { clientWidth, clientHeight } = container;
    renderer.setSize(clientWidth, clientHeight, false);
    camera.aspect = clientWidth / Math.max(clientHeight, 1);
    camera.updateProjectionMatrix();
    render();
  };
  const observer = new ResizeObserver(resize);
  observer.observe(container);
  renderer.domElement.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    onLost();
  });
  container.appendChild(renderer.domElement);
  let model = null;
  return {
    // Shows a level and resolves, with its number of materials, once its
    // first frame is drawn.
    async show(glb) {
      if (model) {
        scene.remove(model);
        disposeModel(model);
        model = null;
      }
      model = await loadModel(glb);
      scene.add(model);
      frame(camera, controls, model);
      // Shaders compile in the background where the browser can, so that
      // the first frame does not hold up the page.
      await renderer.compileAsync(scene, camera);
      resize();
      await frameShown();
      return materialCount(model);
    },
    remove() {
      observer.disconnect();
      if (model)
        disposeModel(model);
      renderer.domElement.remove();
      renderer.dispose();
    },
  };
}

globalThis.meshwrightViewer = { createViewer };
