// The steps of one level, the same on the page's worker and, where no
// worker can be started, on the page itself: the binary glTF file with the
// report, and the preview made from it where the page can draw one; later,
// when asked, the OBJ and material file. Each step's result goes to `post`
// as soon as it is there. openConverter comes from meshwright.js.
import { makePreview, previewBudget, previewLayers, triangleCount } from './preview.js';

// A preview is made finer where a frame of it takes less than this, so that
// turning it stays smooth.
const fastFrameMs = 20;

// Refines a simplified preview drawn here where its frames are fast: once,
// to as many more triangles (and layers of them) as the frame time leaves
// room for, up to the level itself; one step, so that no more than one
// finer copy is ever made. Posts the finer preview's triangles as a
// "refined" step.
export async function refine(glb, shown, view, post) {
  const frame = view.frameTime();
  if (frame >= fastFrameMs)
    return;
  const room = fastFrameMs / Math.max(frame, 1);
  const finer = await makePreview(glb, previewBudget * room, previewLayers * room);
  if (finer.shownTriangles <= shown.shownTriangles)
    return;
  await view.show(finer.glb);
  post({ step: 'refined', shownTriangles: finer.shownTriangles });
}

// bitmaps: [{ path, bytes }], the textures given with the level; preview:
// whether to make one; draw: where the preview is drawn right here (on the
// worker), a function that draws it and resolves to the view, with the
// number of materials drawn, posted as a "shown" step. Returns a function
// that makes the OBJ and material file and posts them, or nothing when the
// level was rejected.
//
// The "shown" step carries how long each step took, in milliseconds:
// { load, convert, preview, draw, parse, compile, frame } (the converter's
// start, the conversion, the preview, its first frame, and of that: reading
// the file, compiling the shaders, drawing).
export async function convertSteps(bytes, fileName, bitmaps, preview, post, draw = null) {
  post({ step: 'converting' });
  const marks = [performance.now()];
  const converter = await openConverter(bytes, fileName, bitmaps);
  marks.push(performance.now());
  const converted = converter.toGlb();
  marks.push(performance.now());
  if (converted.status !== 0) {
    post({ step: 'failed', console: converted.console, status: converted.status });
    return null;
  }
  const triangles = triangleCount(converted.glb);
  const { textures } = converted;
  // The download as a Blob made here, so that the page's thread never
  // copies the file.
  const file = { ...converted, glb: new Blob([converted.glb]), glbBytes: converted.glb.length };
  if (!preview) {
    post({ step: 'preview', ...file, preview: { triangles, shownTriangles: 0 }, textures });
  } else {
    if (triangles > 0)
      post({ step: 'preparing' });
    const shown = await makePreview(converted.glb);
    marks.push(performance.now());
    const counts = { triangles: shown.triangles, shownTriangles: shown.shownTriangles };
    if (draw) {
      // The page gets the file to download; the preview stays here, and so
      // does the level's file while a finer preview may be made of it.
      const simplified = shown.glb !== converted.glb;
      const level = converted.glb;
      post({ step: 'preview', ...file, preview: counts, textures });
      let view = null;
      try {
        view = await draw(simplified ? shown.glb : level);
        marks.push(performance.now());
        const [load, convert, made, drawn] = marks.slice(1).map((mark, i) => Math.round(mark - marks[i]));
        post({ step: 'shown', materials: view.materials,
               timings: { load, convert, preview: made, draw: drawn, ...view.timings } });
      } catch {
        post({ step: 'shown', materials: null });
      }
      // A finer preview that cannot be made leaves the one shown.
      if (view && simplified)
        refine(level, shown, view, post).catch(() => {});
    } else {
      post({ step: 'preview', ...file, preview: shown, textures }, [shown.glb.buffer]);
    }
  }
  return () => {
    const obj = converter.toObj();
    // Blobs pass to the page without a copy, and the pieces can go at once.
    const blob = (pieces) => pieces && new Blob(pieces);
    post({ step: 'obj', console: obj.console, status: obj.status, obj: blob(obj.obj), mtl: blob(obj.mtl) });
  };
}
