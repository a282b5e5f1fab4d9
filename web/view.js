// The 3D view of a level, with three.js: the converter's binary glTF file
// (or the simplified copy of it) drawn on a canvas, turned by dragging and
// zoomed by the wheel. The same code draws on the page's canvas or, where
// the browser can hand a canvas to a worker (OffscreenCanvas), on the
// worker, so that loading and drawing a large level never holds up the page.
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { encodeGlb } from './glb.js';
import { anglesOf, looked, movement, stepped, walkSpeed } from './walk.js';

const background = new THREE.Color(0x1d2230);

// A triangle in each form the view draws: two as the converter writes a
// level's (positions, texture coordinates and 32-bit indices), one of a
// flat colour and one with a picture (a grey pixel) as its texture, and one
// as the preview of a large level draws all flat colours at once, with the
// colour of each vertex its material's.
const warmLevel = (() => {
  const triangle = (material) => ({ positions: new Float32Array([material, 0, 0, material + 1, 0, 0, material, 1, 0]),
                                    texCoords: new Float32Array([0, 0, 1, 0, 0, 1]),
                                    indices: new Uint32Array([0, 1, 2]), material });
  const material = (colour) => ({ pbrMetallicRoughness: { ...colour, metallicFactor: 0, roughnessFactor: 1 } });
  const greyPixel = Uint8Array.from(
    atob('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR42mNoaGgAAAMEAYF1LgG8AAAAAElFTkSuQmCC'),
    (letter) => letter.charCodeAt(0));
  const coloured = { positions: new Float32Array([2, 0, 0, 3, 0, 0, 2, 1, 0]), colors: new Float32Array(9).fill(0.5),
                     indices: new Uint32Array([0, 1, 2]), material: 2 };
  return encodeGlb([triangle(0), triangle(1), coloured], {
    materials: [material({ baseColorFactor: [0.5, 0.5, 0.5, 1] }),
                material({ baseColorFactor: [1, 1, 1, 1], baseColorTexture: { index: 0 } }),
                material({ baseColorFactor: [1, 1, 1, 1] })],
    textures: [{ sampler: 0, source: 0 }],
    samplers: [{ wrapS: 10497, wrapT: 10497 }],
  }, [greyPixel]);
})();

// Waits until the GPU has drawn everything asked of it: reading a pixel
// back is what waits (browsers return from finish() at once).
function drawnToEnd(gl) {
  gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
}

// Resolves once the frame drawn now is drawn to its end and on the screen
// (on a worker too): the browser's frames go on meanwhile.
function frameShown(gl) {
  drawnToEnd(gl);
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

// A camera that circles a point: turned by dragging, nearer or farther by
// the wheel.
class Orbit {
  constructor(camera) {
    this.camera = camera;
    this.target = new THREE.Vector3();
    this.spherical = new THREE.Spherical(1, Math.PI / 3, Math.PI / 4);
  }

  // Looks at the whole model from above one corner, as near as lets all of
  // it into the view: it fills the view's width or height.
  frame(model) {
    const box = new THREE.Box3().setFromObject(model);
    box.getCenter(this.target);
    const size = Math.max(...box.getSize(new THREE.Vector3()).toArray(), 1e-6);
    const toCamera = new THREE.Vector3(0.7, 0.72, 0.9).normalize();
    const forward = toCamera.clone().negate();
    const right = new THREE.Vector3().crossVectors(forward, this.camera.up).normalize();
    const up = new THREE.Vector3().crossVectors(right, forward);
    const margin = 0.95;
    const tanHeight = Math.tan(THREE.MathUtils.degToRad(this.camera.fov) / 2) * margin;
    const tanWidth = tanHeight * this.camera.aspect;
    // Each corner of the box within the view, its side and height over
    // its depth from the camera.
    let distance = 0;
    for (let corner = 0; corner < 8; ++corner) {
      const point = new THREE.Vector3(corner & 1 ? box.max.x : box.min.x, corner & 2 ? box.max.y : box.min.y,
                                      corner & 4 ? box.max.z : box.min.z).sub(this.target);
      const depth = point.dot(forward);
      distance = Math.max(distance, Math.abs(point.dot(right)) / tanWidth - depth,
                          Math.abs(point.dot(up)) / tanHeight - depth);
    }
    this.size = size;
    this.camera.near = size / 1000;
    this.camera.far = distance + size * 4;
    this.spherical.setFromVector3(toCamera.multiplyScalar(distance));
    this.place();
  }

  turn(dx, dy) {
    this.spherical.theta -= dx * 0.006;
    this.spherical.phi = Math.min(Math.PI - 0.05, Math.max(0.05, this.spherical.phi - dy * 0.006));
    this.place();
  }

  zoom(delta) {
    this.spherical.radius *= Math.exp(Math.max(-100, Math.min(100, delta)) * 0.002);
    this.place();
  }

  place() {
    this.camera.position.setFromSpherical(this.spherical).add(this.target);
    this.camera.lookAt(this.target);
    this.camera.updateProjectionMatrix();
  }

  // Circles a point as far ahead of the camera as the point circled before,
  // from where the camera is: leaving a walk moves nothing.
  from(camera) {
    const ahead = camera.getWorldDirection(new THREE.Vector3());
    this.target.copy(camera.position).addScaledVector(ahead, camera.position.distanceTo(this.target));
    this.spherical.setFromVector3(camera.position.clone().sub(this.target));
    this.place();
  }
}

// How long the view keeps still before the preview proper takes the place
// of the copy of few triangles drawn while walking.
const stillMs = 300;

// A view on `canvas` (an HTML canvas or an OffscreenCanvas) of `width` x
// `height` CSS pixels. Throws when the browser cannot draw at all. A walk
// ends in `onWalked({ frames, seconds })`: the frames drawn while keys
// were held, and for how long.
export function createView(canvas, width, height, pixelRatio, onWalked = () => {}) {
  const renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
  if (!renderer.getContext() || renderer.getContext().isContextLost())
    throw new Error('no WebGL context');
  renderer.setPixelRatio(pixelRatio);
  const scene = new THREE.Scene();
  scene.background = background;
  scene.add(new THREE.HemisphereLight(0xffffff, 0x404050, 1.6));
  const sun = new THREE.DirectionalLight(0xffffff, 1.8);
  sun.position.set(0.5, 1, 0.8);
  scene.add(sun);
  const camera = new THREE.PerspectiveCamera(50, 1, 0.1, 1000);
  const orbit = new Orbit(camera);
  let model = null;
  // The level's first frame, of few triangles: drawn in place of the
  // preview proper while walking, which software WebGL draws too slowly.
  let standIn = null;
  let touched = false; // turned, zoomed or walked since the level came
  let walking = null; // { angles, held, fast, ticking, last, started, frames } while walking
  let stillTimer = null;
  let pending = false;
  // One frame for any number of moves in between.
  const render = () => {
    if (pending)
      return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      renderer.render(scene, camera);
    });
  };
  let size = [0, 0];
  // Sizing a canvas anew clears it and makes its buffers again, which
  // software WebGL takes long over: only a new size does.
  const resize = (newWidth, newHeight) => {
    if (newWidth === size[0] && newHeight === size[1])
      return;
    size = [newWidth, newHeight];
    renderer.setSize(newWidth, newHeight, false);
    camera.aspect = newWidth / Math.max(newHeight, 1);
    camera.updateProjectionMatrix();
    render();
  };
  resize(width, height);

  // The stand-in shown while moving, the preview proper once still.
  const moving = (on) => {
    if (standIn && model !== standIn) {
      standIn.visible = on;
      model.visible = !on;
    }
  };
  const movedNow = () => {
    touched = true;
    moving(true);
    clearTimeout(stillTimer);
    stillTimer = setTimeout(() => {
      if (!walking?.ticking) {
        moving(false);
        render();
      }
    }, stillMs);
  };
  const aim = () => {
    camera.rotation.set(walking.angles.pitch, walking.angles.yaw, 0, 'YXZ');
  };
  const startWalking = () => {
    if (walking)
      return;
    walking = { angles: anglesOf(camera.getWorldDirection(new THREE.Vector3()).toArray()), held: [], fast: false,
                ticking: false, last: 0, started: 0, frames: 0 };
  };
  // One frame of a walk: the camera moved by the time since the last.
  const tick = () => {
    if (!walking?.ticking)
      return;
    const now = performance.now();
    const move = movement(walking.held);
    const distance = walkSpeed(orbit.size || 1, walking.fast) * Math.min(now - walking.last, 250) / 1000;
    walking.last = now;
    camera.position.fromArray(stepped(camera.position.toArray(), walking.angles, move, distance));
    aim();
    movedNow();
    renderer.render(scene, camera);
    walking.frames += 1;
    if (move.some(Boolean)) {
      requestAnimationFrame(tick);
      return;
    }
    walking.ticking = false;
    onWalked({ frames: walking.frames, seconds: (now - walking.started) / 1000 });
    walking.started = 0;
  };
  return {
    // Shows a level and resolves once its first frame is drawn; `timings`
    // then says how long reading it, compiling its shaders and its first
    // frame took, in milliseconds.
    // With `firstFrame`, the level's copy of few triangles, kept to be
    // drawn while walking once the preview proper has taken its place. A
    // view that was turned, zoomed or walked keeps its camera.
    async show(glb, firstFrame = false) {
      const started = performance.now();
      const shown = model;
      model = await loadModel(glb);
      const parsed = performance.now();
      if (shown && shown === standIn && !firstFrame)
        shown.visible = false;
      else if (shown)
        scene.remove(shown);
      const replaced = firstFrame ? standIn : null;
      if (firstFrame)
        standIn = model;
      scene.add(model);
      if (!touched)
        orbit.frame(model);
      // Shaders compile in the background where the browser can.
      await renderer.compileAsync(scene, camera);
      // Only now: the shaders that the two share stay made.
      for (const old of [shown, replaced])
        if (old && old !== standIn)
          disposeModel(old);
      const compiled = performance.now();
      renderer.render(scene, camera);
      await frameShown(renderer.getContext());
      this.timings = { parse: Math.round(parsed - started), compile: Math.round(compiled - parsed),
                       frame: Math.round(performance.now() - compiled) };
    },
    // `glb`, a copy of few triangles, drawn while walking from now on.
    async setStandIn(glb) {
      const next = await loadModel(glb);
      const old = standIn;
      next.visible = Boolean(old?.visible);
      scene.add(next);
      standIn = next;
      if (old && old !== model) {
        scene.remove(old);
        disposeModel(old);
      }
    },
    // Shows a triangle in each form a level is drawn in, so that a level
    // shown later finds their shaders made and software WebGL's code for
    // drawing them ready; then clears the canvas, which the page shows
    // before its level is ready.
    async warm() {
      await this.show(warmLevel);
      model.visible = false;
      renderer.render(scene, camera);
    },
    // How long drawing a frame takes, in milliseconds: the best of a few,
    // each waited for to the end.
    frameTime() {
      let best = Infinity;
      for (let i = 0; i < 3; ++i) {
        const started = performance.now();
        renderer.render(scene, camera);
        drawnToEnd(renderer.getContext());
        best = Math.min(best, performance.now() - started);
      }
      return best;
    },
    resize,
    turn(dx, dy) {
      touched = true;
      orbit.turn(dx, dy);
      render();
    },
    zoom(delta) {
      touched = true;
      orbit.zoom(delta);
      render();
    },
    // Walks while movement keys are held (`held`: their codes; `fast`:
    // Shift), a frame at a time.
    walkKeys(held, fast) {
      if (held.length === 0 && !walking)
        return;
      startWalking();
      Object.assign(walking, { held, fast });
      if (walking.ticking || !movement(held).some(Boolean))
        return;
      walking.ticking = true;
      walking.last = performance.now();
      if (!walking.started)
        Object.assign(walking, { started: walking.last, frames: 0 });
      requestAnimationFrame(tick);
    },
    // Looks around by a mouse movement of (dx, dy) pixels, walking.
    look(dx, dy) {
      startWalking();
      walking.angles = looked(walking.angles, dx, dy);
      aim();
      movedNow();
      render();
    },
    // Back to turning around the level, from where the walk left the camera.
    stopWalking() {
      if (!walking)
        return;
      walking = null;
      orbit.from(camera);
      render();
    },
    // The level framed as it first was, turning around it.
    home() {
      walking = null;
      moving(false);
      orbit.frame(model);
      render();
    },
    dispose() {
      if (model)
        disposeModel(model);
      renderer.dispose();
    },
  };
}
