// The steps of one level, the same on the page's worker and, where no
// worker can be started, on the page itself: the binary glTF file with the
// report, and the preview made from it where the page can draw one; later,
// when asked, the OBJ and material file. Each step's result goes to `post`
// as soon as it is there. openConverter comes from meshwright.js.
import { firstFrameBudget, makePreview, previewBudget, previewLayers, triangleCount } from './preview.js';
import { crc32 } from './zip.js';

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

// After a level's first frame: the preview proper in its place, as a
// "refined" step, a simplified copy to draw while walking, and then finer
// still where its frames are fast.
async function settle(glb, first, view, post) {
  const shown = await makePreview(glb);
  if (shown.shownTriangles > first.shownTriangles) {
    await view.show(shown.glb);
    post({ step: 'refined', shownTriangles: shown.shownTriangles });
    // Drawn while walking: as few triangles as the first frame, but keeping
    // the level's shape, as the simplifier does.
    await view.setStandIn((await makePreview(glb, firstFrameBudget, previewLayers, 'shape')).glb);
  }
  if (shown.glb !== glb)
    await refine(glb, shown, view, post);
}

// A file's bytes: read at once where the reading may wait (on a worker),
// which is faster.
async function bytesOf(file) {
  return new Uint8Array(typeof FileReaderSync === 'function' ? new FileReaderSync().readAsArrayBuffer(file)
                                                             : await file.arrayBuffer());
}

// Reads the bitmaps of the plan (those the level's texture names chose
// among `trees`), each once, into the converter: { bytes, chosen, lost },
// the bytes read, each texture's file as chosen (null for one without), and
// the files that could not be read (changed or removed since they were
// chosen), which then count as unreadable.
async function readPlanned(converter, plan, trees) {
  const byPath = trees.map(({ files }) => new Map(files.map(({ path, file }) => [path, file])));
  const read = new Set();
  const lost = [];
  let bytes = 0;
  for (const place of plan.filter(Boolean)) {
    const key = place.tree + '\t' + place.path;
    if (read.has(key))
      continue;
    read.add(key);
    const file = byPath[place.tree].get(place.path);
    try {
      const bitmap = await bytesOf(file);
      bytes += bitmap.length;
      converter.addBitmap(place, bitmap);
    } catch {
      lost.push(trees[place.tree].prefix + place.path);
    }
  }
  const chosen = plan.map((place) => place && trees[place.tree].prefix + place.path);
  return { bytes, chosen, lost };
}

// level: the level's file (a File); trees: where its bitmaps are looked
// for, [{ prefix, files: [{ path, file }] }] (see gameIn); preview: whether
// to make one; draw: where the preview is drawn right here (on the worker),
// a function that draws it and resolves to the view, once drawn, posted as
// a "shown" step; started: an instance of the converter started ahead
// (startConverter), if any. Only the level and the bitmaps its textures
// choose are read. Returns a function that makes the OBJ and material file
// and posts them, or nothing when the level was rejected or could not be
// read.
//
// The "shown" step carries how long each step took, in milliseconds:
// { read, load, convert, preview, draw, parse, compile, frame } (reading
// the level, starting the converter and reading the bitmaps, the
// conversion, the preview, its first frame, and of that: reading the
// preview's file, compiling the shaders, drawing).
export async function convertSteps(level, trees, preview, post, draw = null, started = undefined) {
  const marks = [performance.now()];
  let bytes;
  try {
    bytes = await bytesOf(level);
  } catch {
    post({ step: 'failed', console: '', lost: [level.name] });
    return null;
  }
  marks.push(performance.now());
  post({ step: 'converting' });
  const converter = await openConverter(bytes, level.name, started);
  // Without a bitmap among the files, no texture has one: the level is not
  // read for its names.
  const listing = trees.map(({ files }) => files.map(({ path }) => path));
  const planned = await readPlanned(converter, listing.some((paths) => paths.length) ? converter.plan(listing) : [],
                                    trees);
  marks.push(performance.now());
  // Where the first frame is drawn here, it comes before the report: the
  // conversion that prints it takes a third longer in a fresh converter.
  const converted = converter.toGlb(!draw);
  marks.push(performance.now());
  const report = () => (draw ? converter.report() : converted.console);
  if (converted.status !== 0) {
    post({ step: 'failed', console: report(), status: converted.status, lost: planned.lost });
    return null;
  }
  const glb = converted.glb;
  const triangles = triangleCount(glb);
  const file = { console: converted.console, status: converted.status, name: converted.name, glbBytes: glb.length,
                 textures: converted.textures.map((texture, i) => ({ ...texture, file: planned.chosen[i] ?? null })),
                 bytesRead: bytes.length + planned.bytes, lost: planned.lost };
  // The download as a Blob made here, so that the page's thread never
  // copies the file; after the preview's first frame, which copying tens of
  // megabytes would hold up. Its checksum is the .zip's.
  const offerDownload = () => post({ step: 'download', name: converted.name, glb: new Blob([glb]), crc: crc32(glb) });
  if (!preview) {
    post({ step: 'preview', ...file, preview: { triangles, shownTriangles: 0 } });
    offerDownload();
  } else {
    if (triangles > 0)
      post({ step: 'preparing' });
    if (draw) {
      // The first frame comes quickly, of every so many triangles where the
      // level has many; the preview proper then takes its place. The page
      // gets the file to download; the preview stays here, and so does the
      // level's file while a finer preview may be made of it.
      const first = await makePreview(glb, firstFrameBudget, previewLayers, 'sampled');
      marks.push(performance.now());
      const counts = { triangles: first.triangles, shownTriangles: first.shownTriangles, materials: first.materials };
      post({ step: 'preview', ...file, preview: counts });
      let view = null;
      try {
        view = await draw(first.glb, first.glb !== glb);
        marks.push(performance.now());
        const [read, load, convert, made, drawn] = marks.slice(1).map((mark, i) => Math.round(mark - marks[i]));
        post({ step: 'shown', drawn: true,
               timings: { read, load, convert, preview: made, draw: drawn, ...view.timings } });
      } catch {
        post({ step: 'shown', drawn: false });
      }
      // The download does not wait for the report, which takes seconds
      // over millions of triangles.
      offerDownload();
      post({ step: 'report', console: report() });
      // A finer preview that cannot be made leaves the one shown.
      if (view && first.glb !== glb)
        settle(glb, first, view, post).catch(() => {});
    } else {
      const shown = await makePreview(glb);
      // Before the preview, which may be the level's file itself, goes.
      offerDownload();
      post({ step: 'preview', ...file, preview: shown }, [shown.glb.buffer]);
    }
  }
  return () => {
    const obj = converter.toObj();
    // Blobs pass to the page without a copy, and the pieces can go at once.
    const blob = (pieces) => pieces && new Blob(pieces);
    post({ step: 'obj', console: obj.console, status: obj.status, obj: blob(obj.obj), mtl: blob(obj.mtl) });
  };
}
