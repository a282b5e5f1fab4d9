// What the 3D view shows of a level: the converter's binary glTF file as it
// is, or, for a level of more triangles than a browser draws with ease, a
// simplified copy of it made with meshoptimizer's simplifier. Plain data in,
// plain data out, so that it runs on a worker as well as on the page.
import { MeshoptSimplifier } from 'meshoptimizer';

// Above this many triangles the view shows a simplified copy. Software
// WebGL draws half a million triangles in about a second; the 2 million of a
// large level take it many seconds and gigabytes.
export const previewBudget = 500000;

// Nor may the triangles cover the level's widest side more often than this:
// software WebGL fills every pixel of every triangle, and half a million
// triangles that each span a room take it a minute. A view whose frames
// prove fast asks for more (see makePreview's `layers`).
export const previewLayers = 300;

const componentArrays = { 5123: Uint16Array, 5125: Uint32Array, 5126: Float32Array };

// The JSON and binary chunk of a binary glTF file (Uint8Array at offset 0).
function chunksOf(glb) {
  const words = new DataView(glb.buffer, glb.byteOffset, glb.byteLength);
  const jsonLength = words.getUint32(12, true);
  const json = JSON.parse(new TextDecoder().decode(glb.subarray(20, 20 + jsonLength)));
  const binaryStart = 20 + jsonLength + 8;
  return { json, binaryStart };
}

function accessorArray(glb, json, binaryStart, index) {
  const accessor = json.accessors[index];
  const view = json.bufferViews[accessor.bufferView];
  const ArrayType = componentArrays[accessor.componentType];
  const components = { SCALAR: 1, VEC2: 2, VEC3: 3 }[accessor.type];
  const offset = glb.byteOffset + binaryStart + (view.byteOffset || 0) + (accessor.byteOffset || 0);
  return new ArrayType(glb.buffer, offset, accessor.count * components);
}

// The smallest and largest x, y and z of a list of positions.
export function boundsOf(positions) {
  const low = [Infinity, Infinity, Infinity];
  const high = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < positions.length; ++i) {
    low[i % 3] = Math.min(low[i % 3], positions[i]);
    high[i % 3] = Math.max(high[i % 3], positions[i]);
  }
  return { low, high };
}

// How often the triangles would cover the widest side of the level's box,
// added up; `lists` are index arrays over `positions`.
function layersOf(positions, lists) {
  const { low, high } = boundsOf(positions);
  const [x, y, z] = high.map((value, axis) => value - low[axis]);
  const side = Math.max(x * y, y * z, x * z, 1e-12);
  let area = 0;
  for (const indices of lists) {
    for (let t = 0; t + 2 < indices.length; t += 3) {
      const a = indices[t] * 3;
      const b = indices[t + 1] * 3;
      const c = indices[t + 2] * 3;
      const ux = positions[b] - positions[a];
      const uy = positions[b + 1] - positions[a + 1];
      const uz = positions[b + 2] - positions[a + 2];
      const vx = positions[c] - positions[a];
      const vy = positions[c + 1] - positions[a + 1];
      const vz = positions[c + 2] - positions[a + 2];
      const nx = uy * vz - uz * vy;
      const ny = uz * vx - ux * vz;
      const nz = ux * vy - uy * vx;
      area += Math.sqrt(nx * nx + ny * ny + nz * nz) / 2;
    }
  }
  return area / side;
}

// How many triangles a converted level has.
export function triangleCount(glb) {
  const { json } = chunksOf(glb);
  return (json.accessors || []).filter((accessor) => accessor.type === 'SCALAR')
    .reduce((sum, accessor) => sum + accessor.count / 3, 0);
}

// One primitive's triangles over vertices of its own, in the order of first
// use; `remap` is a scratch array over all vertices, all -1.
function compacted(indices, positions, texCoords, remap) {
  const local = new Uint32Array(indices.length);
  const used = [];
  for (let i = 0; i < indices.length; ++i) {
    const vertex = indices[i];
    if (remap[vertex] < 0) {
      remap[vertex] = used.length;
      used.push(vertex);
    }
    local[i] = remap[vertex];
  }
  const localPositions = new Float32Array(used.length * 3);
  const localTexCoords = new Float32Array(used.length * 2);
  used.forEach((vertex, at) => {
    localPositions.set(positions.subarray(vertex * 3, vertex * 3 + 3), at * 3);
    localTexCoords.set(texCoords.subarray(vertex * 2, vertex * 2 + 2), at * 2);
    remap[vertex] = -1;
  });
  return { indices: local, positions: localPositions, texCoords: localTexCoords };
}

// Every `stride`-th triangle: what is left of a triangle soup that the
// simplifiers cannot thin out while keeping its shape.
function everyNth(indices, stride) {
  const kept = new Uint32Array(Math.ceil(Math.floor(indices.length / 3) / stride) * 3);
  for (let t = 0, at = 0; at < kept.length; t += 3 * stride, at += 3)
    kept.set(indices.subarray(t, t + 3), at);
  return kept;
}

// A level that must lose most of its triangles loses most of them at once:
// the simplifier then works on a few times the triangles it keeps, not on
// millions (which take software WebGL's machines seconds).
const sampledAbove = 4;

// About a fraction `ratio` of a part's triangles: as the simplifier keeps
// the shape, else as its sloppy variant does, else every so many triangles.
function simplified(part, ratio) {
  const target = Math.max(3, Math.floor((part.indices.length * ratio) / 3) * 3);
  const near = (indices) => indices.length >= target / 2 && indices.length <= target * 1.5;
  let [indices] = MeshoptSimplifier.simplify(part.indices, part.positions, 3, target, 0.01);
  if (!near(indices))
    [indices] = MeshoptSimplifier.simplifySloppy(part.indices, part.positions, 3, null, target, 1);
  if (!near(indices))
    indices = everyNth(part.indices, Math.ceil(1 / ratio));
  return { indices, positions: part.positions, texCoords: part.texCoords, material: part.material };
}

// The triangles of each material in one index list, so that the view draws
// a few hundred meshes at most, whatever the number of models.
function indicesByMaterial(glb, json, binaryStart) {
  const lists = new Map();
  for (const mesh of json.meshes) {
    for (const primitive of mesh.primitives) {
      if (!lists.has(primitive.material))
        lists.set(primitive.material, []);
      lists.get(primitive.material).push(accessorArray(glb, json, binaryStart, primitive.indices));
    }
  }
  return [...lists].map(([material, arrays]) => {
    const indices = new Uint32Array(arrays.reduce((sum, array) => sum + array.length, 0));
    let at = 0;
    for (const array of arrays) {
      indices.set(array, at);
      at += array.length;
    }
    return { material, indices };
  });
}

// A binary glTF file of one node whose mesh has one primitive per part,
// each over positions and texture coordinates of its own, with the
// converter's materials and the images of their textures (`images`: the
// bytes of each, in order).
function encodeGlb(parts, source, images) {
  const accessors = [];
  const bufferViews = [];
  const primitives = [];
  const pieces = [];
  let binaryLength = 0;
  const addView = (array) => {
    bufferViews.push({ buffer: 0, byteOffset: binaryLength, byteLength: array.byteLength });
    pieces.push(new Uint8Array(array.buffer, array.byteOffset, array.byteLength));
    binaryLength += Math.ceil(array.byteLength / 4) * 4;
    return bufferViews.length - 1;
  };
  for (const part of parts) {
    const { low, high } = boundsOf(part.positions);
    accessors.push({ bufferView: addView(part.positions), componentType: 5126, count: part.positions.length / 3,
                     type: 'VEC3', min: low, max: high });
    accessors.push({ bufferView: addView(part.texCoords), componentType: 5126, count: part.texCoords.length / 2,
                     type: 'VEC2' });
    accessors.push({ bufferView: addView(part.indices), componentType: 5125, count: part.indices.length,
                     type: 'SCALAR' });
    primitives.push({ attributes: { POSITION: accessors.length - 3, TEXCOORD_0: accessors.length - 2 },
                      indices: accessors.length - 1, material: part.material });
  }
  const json = { asset: { version: '2.0' }, scene: 0, scenes: [{ nodes: [0] }], nodes: [{ mesh: 0 }],
                 meshes: [{ primitives }], materials: source.materials, accessors, bufferViews };
  if (images.length > 0) {
    json.images = images.map((bytes) => ({ bufferView: addView(bytes), mimeType: 'image/png' }));
    json.textures = source.textures;
    json.samplers = source.samplers;
  }
  json.buffers = [{ byteLength: binaryLength }];
  const jsonBytes = new TextEncoder().encode(JSON.stringify(json));
  const jsonLength = Math.ceil(jsonBytes.length / 4) * 4;
  const glb = new Uint8Array(12 + 8 + jsonLength + 8 + binaryLength);
  const words = new DataView(glb.buffer);
  words.setUint32(0, 0x46546c67, true);
  words.setUint32(4, 2, true);
  words.setUint32(8, glb.length, true);
  words.setUint32(12, jsonLength, true);
  words.setUint32(16, 0x4e4f534a, true);
  glb.fill(0x20, 20, 20 + jsonLength);
  glb.set(jsonBytes, 20);
  const binaryStart = 20 + jsonLength + 8;
  words.setUint32(binaryStart - 8, binaryLength, true);
  words.setUint32(binaryStart - 4, 0x004e4942, true);
  pieces.forEach((piece, index) => glb.set(piece, binaryStart + bufferViews[index].byteOffset));
  return glb;
}

// The bytes of each image of the converter's file, in order.
function imagesOf(glb, json, binaryStart) {
  return (json.images || []).map((image) => {
    const view = json.bufferViews[image.bufferView];
    const start = glb.byteOffset + binaryStart + (view.byteOffset || 0);
    return new Uint8Array(glb.buffer, start, view.byteLength);
  });
}

// glb: the converter's binary glTF file (Uint8Array at offset 0). Returns
// { glb, triangles, shownTriangles }: the file to show (the same one when
// the level is within the budget), the level's triangles and those shown.
export async function makePreview(glb, budget = previewBudget, layers = previewLayers) {
  const triangles = triangleCount(glb);
  if (triangles === 0)
    return { glb, triangles, shownTriangles: triangles };
  const { json, binaryStart } = chunksOf(glb);
  // Every primitive shares the one list of positions and texture coordinates.
  const { attributes } = json.meshes[0].primitives[0];
  const positions = accessorArray(glb, json, binaryStart, attributes.POSITION);
  const texCoords = accessorArray(glb, json, binaryStart, attributes.TEXCOORD_0);
  const lists = indicesByMaterial(glb, json, binaryStart);
  const ratio = Math.min(budget / triangles, layers / layersOf(positions, lists.map((list) => list.indices)));
  if (ratio >= 1)
    return { glb, triangles, shownTriangles: triangles };
  await MeshoptSimplifier.ready;
  const remap = new Int32Array(positions.length / 3).fill(-1);
  const stride = Math.max(1, Math.floor(1 / (ratio * sampledAbove)));
  const parts = lists.map(({ material, indices }) => simplified(
    { ...compacted(stride > 1 ? everyNth(indices, stride) : indices, positions, texCoords, remap), material },
    ratio * stride));
  const shownTriangles = parts.reduce((sum, part) => sum + part.indices.length / 3, 0);
  return { glb: encodeGlb(parts, json, imagesOf(glb, json, binaryStart)), triangles, shownTriangles };
}
