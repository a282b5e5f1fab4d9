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
const { levelsIn } = await import(`${page}/files.js`);
const { triangleCount } = await import(`${page}/preview.js`);
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

test('texture words: found, missing and unreadable told apart, with where a missing one sits', () => {
  const outcome = (name, what) => ({ name, outcome: what });
  const rows = [
    { outcomes: [], paths: [], summary: '', entries: [] },
    { outcomes: [outcome('a', 'embedded')], paths: ['a.bmp'], summary: 'its texture found', entries: [] },
    {
      outcomes: [outcome('a', 'embedded'), outcome('b', 'not_found'), outcome('c', 'unreadable'),
                 outcome('d/e', 'not_found'), outcome('f', 'embedded')],
      paths: ['a.bmp', 'textures/B.bmp', 'c.bmp', 'e.bmp', 'f.bmp', 'other/c.bmp'],
      summary: '2 of 5 textures found, 2 missing, 1 unreadable',
      entries: [{ bitmap: 'b.bmp', outcome: 'not_found', elsewhere: ['textures/B.bmp'] },
                { bitmap: 'c.bmp', outcome: 'unreadable', elsewhere: [] },
                { bitmap: 'd/e.bmp', outcome: 'not_found', elsewhere: ['e.bmp'] }],
    },
  ];
  for (const row of rows) {
    const words = describeTextures(row.outcomes, row.paths);
    assert.equal(words.summary, row.summary);
    assert.deepEqual(words.entries, row.entries);
  }
});

test('levels among the chosen files, each with its bitmaps from its own folder', () => {
  const file = (name) => ({ path: name, file: name });
  const files = ['game/maps/b.bsp', 'game/maps/A.BSP', 'game/maps/wall.bmp', 'game/maps/sub/floor.BMP',
                 'game/textures/wall.bmp', 'game/textures/door.bmp', 'game/readme.txt'].map(file);
  const levels = levelsIn(files).map(({ level, bitmaps }) =>
    [level.path, bitmaps.map(({ path: relative, file: from }) => `${relative}<${from}`)]);
  assert.deepEqual(levels, [
    ['game/maps/A.BSP', ['wall.bmp<game/maps/wall.bmp', 'sub/floor.BMP<game/maps/sub/floor.BMP',
                         'textures/wall.bmp<game/textures/wall.bmp', 'textures/door.bmp<game/textures/door.bmp']],
    ['game/maps/b.bsp', ['wall.bmp<game/maps/wall.bmp', 'sub/floor.BMP<game/maps/sub/floor.BMP',
                         'textures/wall.bmp<game/textures/wall.bmp', 'textures/door.bmp<game/textures/door.bmp']],
  ]);
  // A bitmap of the level's own folder wins over one elsewhere of that path.
  const clash = levelsIn(['drop/wall.bmp', 'drop/maps/wall.bmp', 'drop/maps/x.bsp', 'drop/door.bmp'].map(file));
  assert.deepEqual(clash[0].bitmaps.map((bitmap) => `${bitmap.path}<${bitmap.file}`),
                   ['wall.bmp<drop/maps/wall.bmp', 'door.bmp<drop/door.bmp']);
  assert.deepEqual(levelsIn([file('a.bmp')]), []);
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
  for (const [shownTriangles, expected] of [[64, []], [10, [{ step: 'refined', shownTriangles: 64 }]]]) {
    const posted = [];
    let shows = 0;
    const view = { frameTime: () => 1, show: async () => { shows += 1; } };
    await refine(glb, { shownTriangles }, view, (message) => posted.push(message));
    assert.deepEqual(posted, expected);
    assert.equal(shows, expected.length);
  }
});

test('a rejected level stops at "failed"', async () => {
  const rejected = { status: 1, console: 'Exception thrown: Invalid .bsp file! Unexpected end of file!\n\n' };
  globalThis.openConverter = async () => ({ toGlb: () => rejected, toObj: () => assert.fail('no OBJ') });
  const posted = [];
  const makeObj = await convertSteps(new File([new Uint8Array(4)], 'cut.bsp'), [], true, (message) => posted.push(message));
  assert.equal(makeObj, null);
  assert.deepEqual(posted.map((message) => message.step), ['converting', 'failed']);
  delete globalThis.openConverter;
});
