// The page's worker: runs the steps of one level off the page's thread, so
// that the page answers clicks all the while.
import { convertSteps } from './steps.js';

self.importScripts('meshwright.js');

self.onmessage = (event) => {
  const { bytes, fileName, bitmaps } = event.data;
  convertSteps(bytes, fileName, bitmaps, (message, transfer = []) => self.postMessage(message, [...new Set(transfer)]));
};
