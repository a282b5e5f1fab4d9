// The steps of one level, the same on the page's worker and, where no
// worker can be started, on the page itself: the binary glTF file with the
// report, the preview made from it, then the OBJ and material file. Each
// step's result goes to `post` as soon as it is there, so that the page can
// show the level before the OBJ is written. openConverter comes from
// meshwright.js.
import { makePreview, textureSummary, triangleCount } from './preview.js';

// bitmaps: [{ path, bytes }], the textures given with the level.
export async function convertSteps(bytes, fileName, bitmaps, post) {
  post({ step: 'converting' });
  const converter = await openConverter(bytes, fileName, bitmaps);
  const converted = converter.toGlb();
  if (converted.status !== 0) {
    post({ step: 'failed', console: converted.console, status: converted.status });
    return;
  }
  if (triangleCount(converted.glb) > 0)
    post({ step: 'preparing' });
  const textures = textureSummary(converted.glb);
  const preview = await makePreview(converted.glb);
  post({ step: 'preview', ...converted, preview, textures }, [converted.glb.buffer, preview.glb.buffer]);
  const obj = converter.toObj();
  // Blobs pass to the page without a copy, and the pieces can go at once.
  const blob = (pieces) => pieces && new Blob(pieces);
  post({ step: 'obj', console: obj.console, status: obj.status, obj: blob(obj.obj), mtl: blob(obj.mtl) });
}
