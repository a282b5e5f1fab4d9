// What every part of the page shares: its elements, its state as people
// and tests see it, the words for numbers and times, and the scripts it
// loads only when it needs them.

export const page = {
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
  walk: document.getElementById('walk'),
  view: document.getElementById('view'),
  unavailable: document.getElementById('view-unavailable'),
  reportBox: document.getElementById('report-box'),
  report: document.getElementById('report'),
  wholeReport: document.getElementById('whole-report'),
};

// Whether this browser can draw 3D graphics at all; without, the page makes
// no preview.
export const canDraw = (() => {
  try {
    const canvas = document.createElement('canvas');
    return Boolean(canvas.getContext('webgl2') || canvas.getContext('webgl'));
  } catch {
    return false;
  }
})();

// The state the page is in, for people (the status line) and for tests
// (the body's data-state: working, done or failed).
export function setState(state, text) {
  document.body.dataset.state = state;
  page.status.textContent = text;
  page.status.className = state;
}

// A count with its thousands marked, as "12,345".
const numberFormat = new Intl.NumberFormat('en');

export function number(value) {
  return numberFormat.format(value);
}

export function megabytes(bytes) {
  return (bytes / 1e6).toFixed(bytes < 1e6 ? 3 : 1) + ' MB';
}

export function seconds(from, to) {
  return ((to - from) / 1000).toFixed(1);
}

// Lets the browser paint the status before a long step on this thread.
export function nextPaint() {
  return new Promise((resolve) => setTimeout(resolve, 20));
}

// The converter's own words for a level it rejected: its message without
// the "Exception thrown: " before it, or its last line.
export function messageOf(printed) {
  const lines = printed.split('\n').filter((line) => line !== '');
  const thrown = lines.find((line) => line.startsWith('Exception thrown: '));
  return thrown ? thrown.slice('Exception thrown: '.length) : lines[lines.length - 1] || 'no message';
}

// Loads a script of the site once, and resolves to the global it sets: the
// page's own script stays small, and loads the rest only when it needs it.
const scripts = new Map();

export function loadScript(name, global) {
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
