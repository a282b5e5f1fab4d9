// The preview module as code, with Node's test runner: its simplified copy
// of a level is a valid binary glTF file that keeps the textures and draws
// the flat colours at once, it finds positions through the primitives'
// POSITION attribute wherever that accessor is, it joins a material's
// primitives each over vertices of its own, it keeps every n-th
// triangle across arrays, and its bounds are the data's.
//   MESHWRIGHT_PAGE=page MESHWRIGHT_CONVERTER=meshwright MESHWRIGHT_SAMPLE=sample.bsp \
//     node --test preview_test.mjs
// (page: a copy of the page's modules beside the npm packages, so that they
// find meshoptimizer; NODE_PATH: the npm packages, for the validator.)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';

const { everyNth, makePreview, triangleCount } = await import(`${process.env.MESHWRIGHT_PAGE}/preview.js`);
const { boundsOf, encodeGlb } = await import(`${process.env.MESHWRIGHT_PAGE}/glb.js`);
const validator = createRequire(import.meta.url)('gltf-validator');

// The sample converted with its bitmaps beside it.
function texturedSample() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'meshwright-preview-'));
  const examples = path.dirname(process.env.MESHWRIGHT_SAMPLE);
  for (const name of fs.readdirSync(examples).filter((name) => name.endsWith('.bmp')))
    fs.copyFileSync(path.join(examples, name), path.join(folder, name));
  execFileSync(process.env.MESHWRIGHT_CONVERTER, [process.env.MESHWRIGHT_SAMPLE, path.join(folder, 'sample.glb')]);
  const glb = new Uint8Array(fs.readFileSync(path.join(folder, 'sample.glb')));
  fs.rmSync(folder, { recursive: true });
  return glb;
}

function chunks(glb) {
  const words = new DataView(glb.buffer, glb.byteOffset, glb.byteLength);
  const jsonLength = words.getUint32(12, true);
  return { json: JSON.parse(new TextDecoder().decode(glb.subarray(20, 20 + jsonLength))), jsonLength };
}

// The file with `json` in place of its own (same binary chunk).
function withJson(glb, json) {
  const { jsonLength } = chunks(glb);
  const text = new TextEncoder().encode(JSON.stringify(json));
  const padded = Math.ceil(text.length / 4) * 4;
  const binary = glb.subarray(20 + jsonLength);
  const out = new Uint8Array(20 + padded + binary.length);
  const words = new DataView(out.buffer);
  words.setUint32(0, 0x46546c67, true);
  words.setUint32(4, 2, true);
  words.setUint32(8, out.length, true);
  words.setUint32(12, padded, true);
  words.setUint32(16, 0x4e4f534a, true);
  out.fill(0x20, 20, 20 + padded);
  out.set(text, 20);
  out.set(binary, 20 + padded);
  return out;
}

async function issuesOf(glb) {
  const report = await validator.validateBytes(glb);
  return { errors: report.issues.numErrors, warnings: report.issues.numWarnings,
           messages: report.issues.messages.filter((message) => message.severity < 2).map((message) => message.code) };
}

function positionBounds(glb) {
  const { json } = chunks(glb);
  const lows = [];
  const highs = [];
  for (const mesh of json.meshes) {
    for (const primitive of mesh.primitives) {
      const accessor = json.accessors[primitive.attributes.POSITION];
      lows.push(accessor.min);
      highs.push(accessor.max);
    }
  }
  return { low: [0, 1, 2].map((k) => Math.min(...lows.map((low) => low[k]))),
           high: [0, 1, 2].map((k) => Math.max(...highs.map((high) => high[k]))) };
}

test('a simplified preview is a valid file with the textures', async () => {
  const glb = texturedSample();
  const preview = await makePreview(glb, 20);
  assert.ok(preview.shownTriangles < preview.triangles, 'simplified');
  assert.equal(preview.triangles, triangleCount(glb));
  assert.deepEqual(await issuesOf(preview.glb), { errors: 0, warnings: 0, messages: [] });
  const { json } = chunks(preview.glb);
  assert.equal(json.images.length, 12);
  const textured = (file) => chunks(file).json.materials
    .map((material) => [material.name, Boolean(material.pbrMetallicRoughness.baseColorTexture)]);
  assert.deepEqual(textured(preview.glb), textured(glb));
  assert.equal(textured(glb).filter(([, shown]) => shown).length, 12);
});

// The rows of an accessor of a file, as arrays of `size` numbers.
function rowsOf(glb, index, size) {
  const { json, jsonLength } = chunks(glb);
  const accessor = json.accessors[index];
  const view = json.bufferViews[accessor.bufferView];
  const start = glb.byteOffset + 20 + jsonLength + 8 + (view.byteOffset || 0) + (accessor.byteOffset || 0);
  const ArrayType = { 5123: Uint16Array, 5125: Uint32Array, 5126: Float32Array }[accessor.componentType];
  const values = new ArrayType(glb.buffer.slice(start, start + accessor.count * size * ArrayType.BYTES_PER_ELEMENT));
  return Array.from({ length: accessor.count }, (_, row) => [...values.subarray(row * size, row * size + size)]);
}

test('a simplified preview draws all flat colours as one, each corner in its material\'s colour', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'meshwright-preview-'));
  execFileSync(process.env.MESHWRIGHT_CONVERTER, [process.env.MESHWRIGHT_SAMPLE, path.join(folder, 'sample.glb')]);
  const glb = new Uint8Array(fs.readFileSync(path.join(folder, 'sample.glb')));
  fs.rmSync(folder, { recursive: true });
  const preview = await makePreview(glb, 20);
  assert.deepEqual(await issuesOf(preview.glb), { errors: 0, warnings: 0, messages: [] });
  const level = chunks(glb).json;
  const shown = chunks(preview.glb).json;
  assert.equal(preview.materials, 12);
  assert.deepEqual(shown.materials.slice(0, -1), level.materials);
  assert.deepEqual(shown.materials.at(-1).pbrMetallicRoughness.baseColorFactor, [1, 1, 1, 1]);
  assert.equal(shown.meshes[0].primitives.length, 1);
  const [joined] = shown.meshes[0].primitives;
  assert.equal(joined.material, level.materials.length);
  // Each corner shown where the level has a corner of a material of its colour.
  const key = (values) => values.map((value) => Math.fround(value)).join(' ');
  const colouredCorners = new Set();
  for (const primitive of level.meshes.flatMap((mesh) => mesh.primitives)) {
    const positions = rowsOf(glb, primitive.attributes.POSITION, 3);
    const colour = level.materials[primitive.material].pbrMetallicRoughness.baseColorFactor.slice(0, 3);
    for (const [corner] of rowsOf(glb, primitive.indices, 1))
      colouredCorners.add(key([...positions[corner], ...colour]));
  }
  const positions = rowsOf(preview.glb, joined.attributes.POSITION, 3);
  const colours = rowsOf(preview.glb, joined.attributes.COLOR_0, 3);
  const corners = rowsOf(preview.glb, joined.indices, 1);
  for (const [corner] of corners)
    assert.ok(colouredCorners.has(key([...positions[corner], ...colours[corner]])), `corner ${corner}`);
  // And every material keeps triangles of its own.
  const levelColours = level.materials.map((material) => key(material.pbrMetallicRoughness.baseColorFactor.slice(0, 3)));
  assert.equal(new Set(corners.map(([corner]) => key(colours[corner]))).size, new Set(levelColours).size);
});

test('positions are found through the POSITION attribute', async () => {
  const glb = texturedSample();
  const { json } = chunks(glb);
  // Each primitive's texture coordinates where its positions were, and the
  // other way round.
  for (const mesh of json.meshes) {
    for (const primitive of mesh.primitives) {
      const { POSITION, NORMAL, TEXCOORD_0 } = primitive.attributes;
      [json.accessors[POSITION], json.accessors[TEXCOORD_0]] = [json.accessors[TEXCOORD_0], json.accessors[POSITION]];
      primitive.attributes = { POSITION: TEXCOORD_0, NORMAL, TEXCOORD_0: POSITION };
    }
  }
  const reordered = withJson(glb, json);
  assert.deepEqual((await issuesOf(reordered)).errors, 0);
  const preview = await makePreview(reordered, 20);
  assert.deepEqual(await issuesOf(preview.glb), { errors: 0, warnings: 0, messages: [] });
  const original = positionBounds(glb);
  const shown = positionBounds(preview.glb);
  for (let k = 0; k < 3; ++k) {
    assert.ok(shown.low[k] >= original.low[k] && shown.high[k] <= original.high[k], `axis ${k} within the level`);
  }
});

test('a material\'s primitives, each over vertices of its own, are joined without mixing them up', async () => {
  // Two squares of one material, one primitive each (as two models have
  // them), ten units apart.
  const square = (z) => ({ material: 0, positions: new Float32Array([0, 0, z, 1, 0, z, 1, 1, z, 0, 1, z]),
                           texCoords: new Float32Array(8), indices: new Uint32Array([0, 1, 2, 0, 2, 3]) });
  const materials = [{ name: 'floor', pbrMetallicRoughness: { baseColorFactor: [0.5, 0.5, 0.5, 1] } }];
  const glb = encodeGlb([square(0), square(10)], { materials }, []);
  const preview = await makePreview(glb, 3);
  assert.notEqual(preview.glb, glb, 'a simplified copy');
  assert.deepEqual(positionBounds(preview.glb), { low: [0, 0, 0], high: [1, 1, 10] });
});

// Software WebGL takes a millisecond a draw: a level of many primitives
// within the budget keeps every triangle, drawn once per material and once
// for all flat colours.
test('a level of many primitives is drawn joined, every triangle kept', async () => {
  const triangle = (material, z) => ({ material, positions: new Float32Array([0, 0, z, 1, 0, z, 0, 1, z]),
                                       texCoords: new Float32Array(6), indices: new Uint32Array([0, 1, 2]) });
  const flat = (name) => ({ name, pbrMetallicRoughness: { baseColorFactor: [0.5, 0.5, 0.5, 1] } });
  for (const [count, primitives] of [[64, 64], [65, 1]]) {
    const parts = Array.from({ length: count }, (_, i) => triangle(i % 2, i));
    const preview = await makePreview(encodeGlb(parts, { materials: [flat('a'), flat('b')] }, []));
    const { json } = chunks(preview.glb);
    assert.equal(json.meshes.flatMap((mesh) => mesh.primitives).length, primitives, `${count} primitives`);
    assert.equal(preview.shownTriangles, count);
    assert.deepEqual(positionBounds(preview.glb), { low: [0, 0, 0], high: [1, 1, count - 1] });
  }
});

// Over 131,072 triangles the area is measured on every so many: the sample's
// area counts for all of them, or a level of large triangles would be drawn
// with twice the layers it may have.
test('a large level\'s area, measured on a sample, counts for every triangle', async () => {
  const triangles = 270000; // a sample of every second triangle
  const layer = { material: 0, positions: new Float32Array([0, 0, 0, 1, 0, 0, 0, 1, 0]), texCoords: new Float32Array(6),
                  indices: new Uint32Array(triangles * 3).map((_, i) => i % 3) };
  const glb = encodeGlb([layer], { materials: [{ name: 'a', pbrMetallicRoughness: {} }] }, []);
  const preview = await makePreview(glb);
  // Each triangle covers half the level's box: the preview, 60 times at most.
  const layers = preview.shownTriangles / 2;
  assert.ok(layers > 30 && layers <= 75, `${preview.shownTriangles} triangles shown, ${layers} layers`);
});

test('every n-th triangle, counted across the arrays', () => {
  const rows = [
    [[[0, 1, 2, 3, 4, 5, 6, 7, 8]], 2, [0, 1, 2, 6, 7, 8]],
    [[[0, 1, 2], [3, 4, 5, 6, 7, 8], [9, 10, 11]], 2, [0, 1, 2, 6, 7, 8]],
    [[[0, 1, 2], [3, 4, 5, 6, 7, 8], [9, 10, 11]], 3, [0, 1, 2, 9, 10, 11]],
    [[[0, 1, 2], [], [3, 4, 5, 6]], 1, [0, 1, 2, 3, 4, 5]],
    [[[0, 1, 2, 3, 4, 5], [6, 7, 8, 9, 10, 11]], 5, [0, 1, 2]],
  ];
  for (const [arrays, stride, expected] of rows)
    assert.deepEqual([...everyNth(arrays.map((array) => new Uint16Array(array)), stride)], expected, `${stride}`);
});

test('bounds are the data\'s', () => {
  assert.deepEqual(boundsOf(new Float32Array([1, -2, 3, -4, 5, 0.5])), { low: [-4, -2, 0.5], high: [1, 5, 3] });
  assert.deepEqual(boundsOf(new Float32Array([10, 20, 30])), { low: [10, 20, 30], high: [10, 20, 30] });
});
