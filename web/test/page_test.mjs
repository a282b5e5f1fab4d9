// The page's own logic as code, with Node's test runner, on small hand-made
// inputs: the words on textures, the levels among chosen files, the count of
// triangles, the one finer preview, and the steps of a rejected level.
//   MESHWRIGHT_PAGE=page MESHWRIGHT_CONVERTER=meshwright MESHWRIGHT_SAMPLE=sample.bsp node --test page_test.mjs
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';

const page = process.env.MESHWRIGHT_PAGE;
const { describeTextures } = await import(`${page}/textures.js`);
const { collision, gameIn } = await import(`${page}/files.js`);
const { triangleCount } = await import(`${page}/preview.js`);
const { encodeGlb } = await import(`${page}/glb.js`);
const walk = await import(`${page}/walk.js`);
const { convertSteps, refine } = await import(`${page}/steps.js`);

// A binary glTF file of `json` alone.
function glbOf(json) {
  const text = new TextEncoder().encode(JSON.stringify(json));
  const padded = Math.ceil(text.length / 4) * 4;
  const out = new Uint8Array(20 + padded).fill(0x20);
  const words = new DataView(out.buffer);
  [0x46546c67, 2, out.length, padded, 0x4e4f534a].forEach((word, i) => words.setUint32(4 * i, word, true));
  out.set(text, 20);
  return out;
}

test('texture words: found, missing, unreadable and no longer readable told apart, with where they came from', () => {
  const outcome = (name, what, file = null) => ({ name, outcome: what, file });
  const rows = [
    { outcomes: [], lost: [], summary: '', entries: [] },
    { outcomes: [outcome('a', 'embedded', 'a.bmp')], lost: [], summary: 'its texture found from the files chosen',
      entries: [] },
    {
      outcomes: [outcome('a', 'embedded', 'game/textures/A.BMP'), outcome('b', 'not_found'),
                 outcome('c', 'unreadable', 'game/c.bmp'), outcome('d/e', 'unreadable', 'game/textures/d/E.bmp'),
                 outcome('f', 'embedded', 'game/maps/f.bmp'), outcome('g', 'embedded', 'game/textures/g.bmp')],
      lost: ['game/textures/d/E.bmp', 'game/maps/x.bmp'],
      summary: '3 of 6 textures found from game/textures and 1 other folder, 1 missing, 2 unreadable',
      entries: [{ bitmap: 'b.bmp', outcome: 'not_found', file: null, lost: false },
                { bitmap: 'c.bmp', outcome: 'unreadable', file: 'game/c.bmp', lost: false },
                { bitmap: 'd/e.bmp', outcome: 'unreadable', file: 'game/textures/d/E.bmp', lost: true }],
    },
  ];
  for (const row of rows) {
    const words = describeTextures(row.outcomes, row.lost);
    assert.equal(words.summary, row.summary);
    assert.deepEqual(words.entries, row.entries);
  }
});

test('a game among the chosen files: its levels, their outputs and where their bitmaps are looked for', () => {
  const file = (name) => ({ path: name, file: name });
  const tree = ({ prefix, files }) => prefix + ': ' + files.map(({ path, file: from }) => `${path}<${from}`).join(' ');
  const game = gameIn(['b/maps/E1.BSP', 'a/maps/x.bmp', 'a/maps/e1.bsp', 'a/maps/sub/y.BMP', 'a/TEXTURES/w.bmp',
                       'a/read.txt', 'l.bsp', 'z.bmp', 'b/z.bmp', 'b/.bsp', 'c/e.f.bsp'].map(file));
  assert.deepEqual(game.map(({ level, output, trees }) => [level.path, output, ...trees.map(tree)]), [
    ['a/maps/e1.bsp', 'maps/e1.glb', 'a/maps/: x.bmp<a/maps/x.bmp sub/y.BMP<a/maps/sub/y.BMP',
     'a/: maps/x.bmp<a/maps/x.bmp maps/sub/y.BMP<a/maps/sub/y.BMP TEXTURES/w.bmp<a/TEXTURES/w.bmp',
     'b/: z.bmp<b/z.bmp', 'c/: '],
    ['b/.bsp', '.bsp.glb', 'b/: z.bmp<b/z.bmp', 'a/: maps/x.bmp<a/maps/x.bmp maps/sub/y.BMP<a/maps/sub/y.BMP ' +
     'TEXTURES/w.bmp<a/TEXTURES/w.bmp', 'b/: z.bmp<b/z.bmp', 'c/: '],
    ['b/maps/E1.BSP', 'maps/E1.glb', 'b/maps/: ', 'a/: maps/x.bmp<a/maps/x.bmp maps/sub/y.BMP<a/maps/sub/y.BMP ' +
     'TEXTURES/w.bmp<a/TEXTURES/w.bmp', 'b/: z.bmp<b/z.bmp', 'c/: '],
    ['c/e.f.bsp', 'e.f.glb', 'c/: ', 'a/: maps/x.bmp<a/maps/x.bmp maps/sub/y.BMP<a/maps/sub/y.BMP ' +
     'TEXTURES/w.bmp<a/TEXTURES/w.bmp', 'b/: z.bmp<b/z.bmp', 'c/: '],
    ['l.bsp', 'l.glb', ': a/maps/x.bmp<a/maps/x.bmp a/maps/sub/y.BMP<a/maps/sub/y.BMP a/TEXTURES/w.bmp<a/TEXTURES/w.bmp ' +
     'z.bmp<z.bmp b/z.bmp<b/z.bmp', 'a/: maps/x.bmp<a/maps/x.bmp maps/sub/y.BMP<a/maps/sub/y.BMP ' +
     'TEXTURES/w.bmp<a/TEXTURES/w.bmp', 'b/: z.bmp<b/z.bmp', 'c/: '],
  ]);
  assert.equal(collision(game), '');
  assert.equal(collision(gameIn(['a/maps/e1.bsp', 'b/maps/e1.BSP'].map(file))), 'a/maps/e1.bsp and b/maps/e1.BSP as maps/e1.glb');
  assert.deepEqual(gameIn([file('a.bmp')]), []);
});

// A chosen file whose reading counts it, or fails as one changed on disk does.
class CountedFile extends File {
  constructor(name, size, readable = true) {
    super([new Uint8Array(size)], name);
    this.readable = readable;
  }

  async arrayBuffer() {
    reads.push(this.name);
    if (!this.readable)
      throw new DOMException('changed on disk', 'NotReadableError');
    return super.arrayBuffer();
  }
}
const reads = [];

test('only the level and the bitmaps its textures choose are read, each once; one that fails counts as unreadable', async () => {
  const file = (path, size, readable) => ({ path, file: new CountedFile(path, size, readable) });
  const trees = [{ prefix: 'g/maps/', files: [file('a.bmp', 10), file('big.bmp', 1000)] },
                 { prefix: 'g/', files: [file('t/b.bmp', 20), file('t/gone.bmp', 30, false), file('t/c.bmp', 40)] }];
  const added = [];
  let planned = null;
  globalThis.openConverter = async () => ({
    plan: (paths) => {
      planned = paths;
      return [{ tree: 0, path: 'a.bmp' }, null, { tree: 1, path: 't/b.bmp' }, { tree: 1, path: 't/gone.bmp' },
              { tree: 1, path: 't/b.bmp' }];
    },
    addBitmap: (place, bytes) => added.push(`${place.tree}:${place.path}:${bytes.length}`),
    toGlb: () => ({ status: 0, console: '', name: 'l', glb: glbOf({ asset: { version: '2.0' } }),
                    textures: ['a', 'n', 'b', 'gone', 'B'].map((name) => ({ name, outcome: 'embedded' })) }),
  });
  reads.length = 0;
  const posted = [];
  await convertSteps(new CountedFile('l.bsp', 5), trees, false, (message) => posted.push(message));
  delete globalThis.openConverter;
  assert.deepEqual(planned, [['a.bmp', 'big.bmp'], ['t/b.bmp', 't/gone.bmp', 't/c.bmp']]);
  assert.deepEqual(reads, ['l.bsp', 'a.bmp', 't/b.bmp', 't/gone.bmp']);
  assert.deepEqual(added, ['0:a.bmp:10', '1:t/b.bmp:20']);
  const shown = posted.find((message) => message.step === 'preview');
  assert.equal(shown.bytesRead, 5 + 10 + 20);
  assert.deepEqual(shown.lost, ['g/t/gone.bmp']);
  assert.deepEqual(shown.textures.map(({ file: chosen }) => chosen),
                   ['g/maps/a.bmp', null, 'g/t/b.bmp', 'g/t/gone.bmp', 'g/t/b.bmp']);
  // A level that can no longer be read ends in words.
  posted.length = 0;
  assert.equal(await convertSteps(new CountedFile('l.bsp', 5, false), trees, false, (message) => posted.push(message)),
               null);
  assert.deepEqual(posted, [{ step: 'failed', console: '', lost: ['l.bsp'] }]);
});

test('triangles are counted once, from the index accessors of the primitives', () => {
  const primitive = (indices) => ({ attributes: { POSITION: 0, TEXCOORD_0: 1 }, indices });
  const glb = glbOf({ asset: { version: '2.0' }, meshes: [{ primitives: [primitive(2)] }, { primitives: [primitive(3)] }],
                      accessors: [{ type: 'VEC3', count: 4 }, { type: 'VEC2', count: 4 }, { type: 'SCALAR', count: 6 },
                                  { type: 'SCALAR', count: 9 }] });
  assert.equal(triangleCount(glb), 5);
});

test('a finer preview replaces the one shown only when it is finer', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'meshwright-page-'));
  execFileSync(process.env.MESHWRIGHT_CONVERTER, [process.env.MESHWRIGHT_SAMPLE, path.join(folder, 'sample.glb')]);
  const glb = new Uint8Array(fs.readFileSync(path.join(folder, 'sample.glb')));
  fs.rmSync(folder, { recursive: true });
  // A frame of 20 ms or more leaves no room for more triangles.
  for (const [shownTriangles, frame, expected] of [[64, 1, []], [10, 1, [{ step: 'refined', shownTriangles: 64 }]],
                                                   [10, 20, []]]) {
    const posted = [];
    let shows = 0;
    const view = { frameTime: () => frame, show: async () => { shows += 1; } };
    await refine(glb, { shownTriangles }, view, (message) => posted.push(message));
    assert.deepEqual(posted, expected);
    assert.equal(shows, expected.length);
  }
});

test('a level of many triangles shows every so many first, then its preview proper', async () => {
  // A strip of `triangles` triangles of one flat colour, which covers its
  // box once: its preview proper is the level itself.
  const strip = (triangles) => {
    const positions = new Float32Array((triangles + 2) * 3);
    positions.forEach((_, i) => { positions[i] = i % 3 === 0 ? Math.floor(i / 6) : (i % 3 === 1 ? (i / 3) % 2 : 0); });
    const indices = Uint32Array.from({ length: triangles * 3 }, (_, i) => Math.floor(i / 3) + (i % 3));
    return encodeGlb([{ positions, texCoords: new Float32Array((triangles + 2) * 2), indices, material: 0 }],
                     { materials: [{ pbrMetallicRoughness: { baseColorFactor: [1, 1, 1, 1] } }] }, []);
  };
  for (const [triangles, drawn, refined] of [[10000, [3334, 10000, 'walking: true'], [10000]], [4096, [4096], []]]) {
    // The report comes from a conversion of its own, after the first frame.
    globalThis.openConverter = async () => ({ plan: () => [], report: () => 'report\n',
      toGlb: () => ({ status: 0, name: 'l', console: '', glb: strip(triangles), textures: [] }) });
    const shown = [];
    const view = { timings: {}, frameTime: () => 100, show: async (glb) => { shown.push(triangleCount(glb)); },
                   setStandIn: async (glb) => { shown.push(`walking: ${triangleCount(glb) <= 4096}`); } };
    const posted = [];
    await convertSteps(new File([new Uint8Array(4)], 'l.bsp'), [], true, (message) => posted.push(message),
                       async (glb) => { await view.show(glb); return view; });
    await new Promise((resolve) => setTimeout(resolve, 100));
    assert.deepEqual(shown, drawn);
    assert.equal(posted.find((message) => message.step === 'preview').preview.shownTriangles, drawn[0]);
    assert.deepEqual(posted.filter((message) => message.step === 'refined').map((message) => message.shownTriangles),
                     refined);
    assert.deepEqual(posted.filter((message) => ['shown', 'report'].includes(message.step)).map(
      (message) => message.console ?? message.step), ['shown', 'report\n']);
  }
  delete globalThis.openConverter;
});

test('walking: keys, speed, looking and steps', () => {
  const rounded = (values) => values.map((value) => Math.round(value * 1e6) / 1e6 + 0);
  const near = (actual, expected) => assert.deepEqual(rounded(actual), rounded(expected));
  // Held keys: [forward, right, up]; opposites cancel; Shift is not a key of its own.
  for (const [held, move] of [[['KeyW', 'ArrowRight'], [1, 1, 0]], [['KeyW', 'KeyS', 'KeyA'], [0, -1, 0]],
                              [['Space', 'KeyC', 'KeyQ', 'ShiftLeft'], [0, 0, -1]]])
    assert.deepEqual(walk.movement(held), move);
  assert.deepEqual([walk.startsWalking('KeyD'), walk.startsWalking('ArrowUp'), walk.isMoveKey('ArrowUp')],
                   [true, false, true]);
  // A level is crossed in 8 s, 2 s with Shift.
  assert.deepEqual([walk.walkSpeed(400, false), walk.walkSpeed(400, true)], [50, 200]);
  // Yaw 0 looks along -z; right is +x; up is +y; a diagonal is no faster.
  const level = { yaw: 0, pitch: 0 };
  near(walk.stepped([1, 2, 3], level, [1, 0, 0], 2), [1, 2, 1]);
  near(walk.stepped([1, 2, 3], level, [0, 1, 1], Math.SQRT2), [2, 3, 3]);
  near(walk.stepped([0, 0, 0], { yaw: Math.PI / 2, pitch: Math.PI / 6 }, [1, 1, 0], 2 * Math.SQRT2),
       [-Math.sqrt(3), 1, -2]);
  // Looking: the mouse turns left and right without end, up and down short of vertical.
  const turned = walk.looked(level, -Math.PI / 0.004, 1e6);
  near([turned.yaw, turned.pitch], [Math.PI, -(Math.PI / 2 - 0.01)]);
  // Angles read back from a direction, as when a walk starts from turning around.
  const angles = walk.anglesOf([-1, 1, 0]);
  near(walk.stepped([0, 0, 0], angles, [1, 0, 0], Math.SQRT2), [-1, 1, 0]);
  // Keys typed into the page's inputs are theirs.
  const target = (selector) => ({ closest: (query) => (query.split(', ').includes(selector) ? {} : null) });
  assert.deepEqual(['input', 'select', 'canvas'].map((element) => walk.typingInto(target(element))), [true, true, false]);
  assert.equal(walk.typingInto(null), false);
});

test('a rejected level stops at "failed"', async () => {
  const rejected = { status: 1, console: 'Exception thrown: Invalid .bsp file! Unexpected end of file!\n\n' };
  globalThis.openConverter = async () => ({ plan: () => [], toGlb: () => rejected, toObj: () => assert.fail('no OBJ') });
  const posted = [];
  const makeObj = await convertSteps(new File([new Uint8Array(4)], 'cut.bsp'), [], true, (message) => posted.push(message));
  assert.equal(makeObj, null);
  assert.deepEqual(posted.map((message) => message.step), ['converting', 'failed']);
  delete globalThis.openConverter;
});
