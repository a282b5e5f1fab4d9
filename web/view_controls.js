// The 3D view's controls: its canvas, which drags turn and the wheel zooms,
// drawn here or handed to a worker; walking through the level with keys
// and mouse; and the worker started ahead of the next level.
import { canDraw, loadScript, page } from './page.js';
import { isMoveKey, startsWalking, typingInto } from './walk.js';

let input = null; // the view's canvas and what it turns

// three.js and the view for this page's own thread, loaded once, when first
// needed.
export function loadViewer() {
  return loadScript('viewer.js', 'meshwrightViewer');
}

// Whether a worker can draw on a canvas of the page.
export const canHandOver = typeof HTMLCanvasElement !== 'undefined' &&
                    typeof HTMLCanvasElement.prototype.transferControlToOffscreen === 'function';

// A fresh canvas in the view (or `canvas`, handed to a worker before),
// whose drags and wheel turns and zooms `target` ({ turn, zoom, resize }),
// set later.
export function newCanvas(canvas = document.createElement('canvas')) {
  input?.stop();
  page.view.replaceChildren(canvas);
  page.view.hidden = false;
  page.unavailable.hidden = true;
  const state = { canvas, target: null, last: null, walking: false, held: new Set() };
  canvas.addEventListener('pointerdown', (event) => {
    if (state.walking && event.pointerType === 'mouse')
      lockPointer(canvas);
    state.last = [event.clientX, event.clientY];
    canvas.setPointerCapture(event.pointerId);
  });
  canvas.addEventListener('pointermove', (event) => {
    if (document.pointerLockElement === canvas) {
      state.target?.look(event.movementX, event.movementY);
      return;
    }
    if (!state.last)
      return;
    const [dx, dy] = [event.clientX - state.last[0], event.clientY - state.last[1]];
    // A finger always turns around the level.
    if (state.walking && event.pointerType !== 'touch')
      state.target?.look(dx, dy);
    else
      state.target?.turn(dx, dy);
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
  showWalking(false);
  return state;
}

// The mouse looks around without a button held, where the browser allows.
function lockPointer(canvas) {
  try {
    canvas.requestPointerLock()?.catch?.(() => {});
  } catch {
    // Dragging looks around instead.
  }
}

function showWalking(on) {
  page.walk.hidden = !input;
  page.walk.textContent = on ? 'Turn around the level (Esc)' : 'Walk through it (W A S D and the mouse)';
}

// Walking, or back to turning around the level.
function setWalking(on) {
  if (!input || input.walking === on)
    return;
  input.walking = on;
  showWalking(on);
  if (on)
    return;
  input.held.clear();
  input.target?.walkKeys([], false);
  input.target?.stopWalking();
  if (document.pointerLockElement)
    document.exitPointerLock();
}

page.walk.addEventListener('click', () => {
  setWalking(!input?.walking);
  if (input?.walking)
    lockPointer(input.canvas);
});

// Keys typed into the page's inputs never move the view; the arrows and
// Space scroll the page until a walk has started.
document.addEventListener('keydown', (event) => {
  if (!input?.target || typingInto(event.target) || event.ctrlKey || event.metaKey || event.altKey)
    return;
  if (event.code === 'Home') {
    event.preventDefault();
    setWalking(false);
    input.target.home();
  } else if (event.code === 'Escape') {
    setWalking(false);
  } else if (event.key === 'Shift' && input.walking) {
    input.target.walkKeys([...input.held], true);
  } else if (isMoveKey(event.code) && (input.walking || startsWalking(event.code))) {
    event.preventDefault();
    setWalking(true);
    input.held.add(event.code);
    input.target.walkKeys([...input.held], event.shiftKey);
  }
});
document.addEventListener('keyup', (event) => {
  if (input?.walking && (input.held.delete(event.code) || event.key === 'Shift'))
    input.target?.walkKeys([...input.held], event.shiftKey);
});
// Keys let go of elsewhere are not seen: a walk stops with the page's focus.
window.addEventListener('blur', () => {
  input?.held.clear();
  input?.target?.walkKeys([], false);
});
// Esc ends the pointer's lock before the page sees the key.
document.addEventListener('pointerlockchange', () => {
  if (!document.pointerLockElement)
    setWalking(false);
});

// The view's size in CSS pixels, also while it is hidden: the width of the
// page's column and the height its style gives it.
export function viewSize() {
  return [page.view.clientWidth || page.view.closest('main').clientWidth,
          page.view.clientHeight || parseFloat(getComputedStyle(page.view).height) || 450];
}

// `canvas` handed over to a worker, with the view's size.
function offscreen(canvas) {
  const [width, height] = viewSize();
  return { canvas: canvas.transferControlToOffscreen(), width, height, pixelRatio: window.devicePixelRatio };
}

// The canvas handed over to the worker, with its size.
export function handOverCanvas() {
  return offscreen(newCanvas().canvas);
}

// A worker started ahead of the next level, with its scripts loaded and its
// 3D view and shaders made on a canvas of its own, so that a level chosen a
// moment later is shown sooner: { worker, canvas }. The body's data-warm
// says when it is ready ("yes"), or that there is none ("no").
let spare = null;

// The worker started ahead, for a level about to be shown, if one is there.
export function takeSpare() {
  const taken = spare;
  spare = null;
  return taken;
}

// What the view's drags, wheel and size now turn, zoom and resize.
export function setViewTarget(target) {
  input.target = target;
}

export function warmSpare() {
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
export function dropViewer(sentence) {
  input?.stop();
  input = null;
  showWalking(false);
  page.view.replaceChildren();
  page.view.hidden = true;
  page.unavailable.hidden = false;
  page.unavailable.textContent = sentence;
}

export const noDrawing = 'This browser does not draw 3D graphics here (WebGL is off or missing), so there is no preview. ' +
                  'The downloads are ready.';
export const drawingFailed = 'The 3D preview could not be drawn in this browser. The downloads are ready.';

// Draws the preview on this page's thread and resolves once its first
// frame is drawn; throws when the browser cannot draw it.
export async function showLevel(preview) {
  const { createView } = await loadViewer();
  const state = newCanvas();
  const view = createView(state.canvas, ...viewSize(), window.devicePixelRatio, ({ frames, seconds }) => {
    document.body.dataset.walked = `${frames} frames in ${seconds.toFixed(2)} s`;
  });
  state.target = view;
  state.canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    dropViewer(drawingFailed);
  });
  return view.show(preview.glb);
}
