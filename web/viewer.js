// The 3D view for the page itself, where no worker can draw it: bundled on
// its own, so that the page loads three.js only when it draws a preview.
import { createView } from './view.js';

globalThis.meshwrightViewer = { createView };
