// The page's worker: runs the steps of one level off the page's thread, so
// that the page answers clicks all the while; draws the preview on the
// canvas the page hands over, where the browser can (OffscreenCanvas), and
// turns it as the page says; and keeps the converter for the OBJ and
// material file until the page asks for them.
import { convertSteps } from './steps.js';
import { createView } from './view.js';
import { viewCommands } from './view_commands.js';

self.importScripts('meshwright.js');

let makeObj = null;
let converter; // an instance started ahead of its level, by warming
let view = null; // made when the page warms this worker up, or with its level
let warming = null; // the view's warming up, while it lasts

const viewOn = (canvas) => createView(canvas.canvas, canvas.width, canvas.height, canvas.pixelRatio,
                                      (walked) => post({ step: 'walked', ...walked }));

const post = (message, transfer = []) => self.postMessage(message, [...new Set(transfer)]);

async function onMessage(message) {
  if (message.warm) {
    // Started ahead of its level: the converter, the 3D view and its
    // shaders are made while the page waits for a file.
    converter = startConverter();
    warming = (async () => {
      try {
        view = viewOn(message.warm);
        await view.warm();
      } catch {
        view = null;
      }
    })();
    await warming;
    post({ step: 'warm' });
  } else if (message.make === 'obj') {
    makeObj?.();
  } else if (message.view) {
    if (viewCommands.includes(message.view))
      view?.[message.view](...message.args);
  } else {
    const { file, trees, preview, canvas } = message;
    const draw = (canvas || view) && (async (glb, firstFrame) => {
      // A level that comes while the view warms up waits for it.
      await warming;
      view ??= viewOn(canvas);
      await view.show(glb, firstFrame);
      return view;
    });
    // Each instance serves one level: a later one (for the .zip) starts its
    // own, and one converted for the .zip alone is not kept for its OBJ.
    const started = converter;
    converter = undefined;
    makeObj = null;
    const steps = await convertSteps(file, trees, preview, post, draw, started);
    if (!message.forZip)
      makeObj = steps;
  }
}

// Any failure is this worker's error, whatever step it came from: the page
// then goes on without it.
self.onmessage = (event) => onMessage(event.data).catch((error) => self.reportError(error));
