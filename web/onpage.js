// The steps of a level for a page that cannot start a worker (one opened
// from its folder): bundled on its own, with meshoptimizer, and loaded only
// then, together with the converter.
import { convertSteps } from './steps.js';

globalThis.meshwrightSteps = { convertSteps };
