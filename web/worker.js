// The page's worker: runs the steps of one level off the page's thread, so
// that the page answers clicks all the while, and keeps the converter for
// the OBJ and material file until the page asks for them.
import { convertSteps } from './steps.js';

self.importScripts('meshwright.js');

let makeObj = null;

self.onmessage = async (event) => {
  if (event.data.make === 'obj') {
    makeObj?.();
    return;
  }
  const { bytes, fileName, bitmaps, preview } = event.data;
  makeObj = await convertSteps(bytes, fileName, bitmaps, preview,
                               (message, transfer = []) => self.postMessage(message, [...new Set(transfer)]));
};
