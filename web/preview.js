// What the 3D view shows of a level: the converter's binary glTF file as it
// is, or, for a level of more triangles than a browser draws with ease, a
// simplified copy of it made with meshoptimizer's simplifier. Plain data in,
// plain data out, so that it runs on a worker as well as on the page.
import { MeshoptSimplifier } from 'meshoptimizer';
import { accessorArray, chunksOf, encodeGlb, imagesOf } from './glb.js';

// Above this many triangles the view shows a simplified copy. Software
// WebGL takes about a second over a quarter of a million small triangles
// (to the end of the frame); the 2 million of a large level take it many
// seconds and gigabytes.
export const previewBudget = 250000;

// Nor may the triangles cover the level's widest side more often than this:
// software WebGL fills every pixel of every triangle, and half a million
// triangles that each span a room take it a minute; 60 layers of large
// triangles take it a fifth of a second. A view whose frames prove fast
// asks for more (see makePreview's `layers`).
export const previewLayers = 60;

// How often the triangles of `indices` (over `positions`) would cover the
// widest side of `bounds`, the level's box, added up and times `scale`.
function layersOf(positions, bounds, indices, scale) {
  const [x, y, z] = bounds.high.map((value, axis) => value - bounds.low[axis]);
  const side = Math.max(x * y, y * z, x * z, 1e-12);
  let area = 0;
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
  return (area * scale) / side;
}

// layersOf() over every `step`-th triangle of the level, counted across its
// primitives.
function levelLayersOf(primitives, bounds, step) {
  let layers = 0;
  let skip = 0; // triangles to pass over at the start of the next primitive
  for (const primitive of primitives) {
    const count = Math.floor(primitive.indices.length / 3);
    if (skip >= count) {
      skip -= count;
      continue;
    }
    const sample = everyNth([primitive.indices.subarray(skip * 3)], step);
    layers += layersOf(primitive.positions, bounds, sample, step);
    skip = (step - ((count - skip) % step)) % step;
  }
  return layers;
}

// How many triangles a converted level has.
export function triangleCount(glb) {
  return countsOf(chunksOf(glb).json).triangles;
}

// How many triangles and materials the meshes of a file's JSON draw.
function countsOf(json) {
  const primitives = (json.meshes || []).flatMap((mesh) => mesh.primitives);
  return { triangles: primitives.reduce((sum, primitive) => sum + json.accessors[primitive.indices].count / 3, 0),
           materials: new Set(primitives.map((primitive) => primitive.material)).size };
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
  // Plain loops: an array object a vertex keeps the collector busy.
  for (let at = 0; at < used.length; ++at) {
    const vertex = used[at];
    localPositions[at * 3] = positions[vertex * 3];
    localPositions[at * 3 + 1] = positions[vertex * 3 + 1];
    localPositions[at * 3 + 2] = positions[vertex * 3 + 2];
    localTexCoords[at * 2] = texCoords[vertex * 2];
    localTexCoords[at * 2 + 1] = texCoords[vertex * 2 + 1];
    remap[vertex] = -1;
  }
  return { indices: local, positions: localPositions, texCoords: localTexCoords };
}

// Every `stride`-th triangle of index arrays taken one after the other, in
// one array: all of them with a stride of 1. It is also what is left of a
// triangle soup that the simplifiers cannot thin out while keeping its shape.
export function everyNth(arrays, stride) {
  const triangles = arrays.reduce((sum, array) => sum + Math.floor(array.length / 3), 0);
  const kept = new Uint32Array(Math.ceil(triangles / stride) * 3);
  let at = 0;
  let next = 0; // the next triangle kept, counted from the start of the array at hand
  for (const array of arrays) {
    const count = Math.floor(array.length / 3);
    for (; next < count; next += stride) {
      kept[at++] = array[next * 3];
      kept[at++] = array[next * 3 + 1];
      kept[at++] = array[next * 3 + 2];
    }
    next -= count;
  }
  return kept;
}

// Above this many triangles, the level's area is estimated from every so
// many of them: plenty to tell how often they cover its box.
const areaSamples = 1 << 17;

// A level of up to this many primitives is drawn as the file has them;
// one of more, each model with a few hundred materials as compiled levels
// have them, takes software WebGL a millisecond a draw: it is drawn joined
// by material, its flat colours as one, every triangle kept.
const drawsAsGiven = 64;

// A level that must lose most of its triangles loses most of them at once:
// the simplifier then works on a few times the triangles it keeps, not on
// millions (which take software WebGL's machines seconds).
const sampledAbove = 4;

// About a fraction `ratio` of a part's triangles (or fewer, with
// `fewerWelcome`): as the simplifier keeps the shape, else as its sloppy
// variant does, else every so many triangles.
function simplified(part, ratio, fewerWelcome) {
  const target = Math.max(3, Math.floor((part.indices.length * ratio) / 3) * 3);
  const near = (indices) => (fewerWelcome || indices.length >= target / 2) && indices.length <= target * 1.5;
  let [indices] = MeshoptSimplifier.simplify(part.indices, part.positions, 3, target, 0.01);
  if (!near(indices))
    [indices] = MeshoptSimplifier.simplifySloppy(part.indices, part.positions, 3, null, target, 1);
  if (!near(indices))
    indices = everyNth([part.indices], Math.ceil(1 / ratio));
  // Only the vertices the triangles kept still use: the view then reads,
  // uploads and colours no more than it draws.
  const remap = new Int32Array(part.positions.length / 3).fill(-1);
  return { ...compacted(indices, part.positions, part.texCoords, remap), material: part.material };
}

// Every primitive of the file with its own positions, texture coordinates
// and triangles: [{ material, positions, texCoords, indices }].
function primitivesOf(glb, json, binaryStart) {
  return json.meshes.flatMap((mesh) => mesh.primitives.map((primitive) => ({
    material: primitive.material,
    positions: accessorArray(glb, json, binaryStart, primitive.attributes.POSITION),
    texCoords: accessorArray(glb, json, binaryStart, primitive.attributes.TEXCOORD_0),
    indices: accessorArray(glb, json, binaryStart, primitive.indices),
    bounds: json.accessors[primitive.attributes.POSITION],
  })));
}

// `indices` into `into` from `at` on, each `offset` higher.
function addOffset(into, at, indices, offset) {
  for (let i = 0; i < indices.length; ++i)
    into[at + i] = indices[i] + offset;
}

// Parts over vertices of their own, one after the other in one part.
function joined(parts) {
  const vertices = parts.reduce((sum, part) => sum + part.positions.length / 3, 0);
  const whole = { positions: new Float32Array(vertices * 3), texCoords: new Float32Array(vertices * 2),
                  indices: new Uint32Array(parts.reduce((sum, part) => sum + part.indices.length, 0)) };
  let vertex = 0;
  let index = 0;
  for (const part of parts) {
    whole.positions.set(part.positions, vertex * 3);
    whole.texCoords.set(part.texCoords, vertex * 2);
    addOffset(whole.indices, index, part.indices, vertex);
    index += part.indices.length;
    vertex += part.positions.length / 3;
  }
  return whole;
}

// Every `stride`-th triangle of each primitive, over only the vertices
// they use, joined by material, so that the view draws a few hundred meshes
// at most, whatever the number of models: [{ material, positions,
// texCoords, indices }].
function sampledByMaterial(primitives, stride) {
  const byMaterial = new Map();
  for (const primitive of primitives) {
    const remap = new Int32Array(primitive.positions.length / 3).fill(-1);
    const part = compacted(everyNth([primitive.indices], stride), primitive.positions, primitive.texCoords, remap);
    if (!byMaterial.has(primitive.material))
      byMaterial.set(primitive.material, []);
    byMaterial.get(primitive.material).push(part);
  }
  return [...byMaterial].map(([material, parts]) => ({ ...joined(parts), material }));
}

// Software WebGL takes a millisecond and more over each thing drawn,
// however small: the preview draws the triangles of every material of a
// flat colour as one, each vertex in its material's colour, with a
// material of their own (white, so that the colours show as they are).
function withFlatColoursJoined(parts, materials) {
  const textured = (part) => Boolean(materials[part.material].pbrMetallicRoughness?.baseColorTexture);
  const flat = parts.filter((part) => !textured(part));
  if (flat.length < 2)
    return { parts, materials };
  const vertices = flat.reduce((sum, part) => sum + part.positions.length / 3, 0);
  const joined = { positions: new Float32Array(vertices * 3), colors: new Float32Array(vertices * 3),
                   indices: new Uint32Array(flat.reduce((sum, part) => sum + part.indices.length, 0)),
                   material: materials.length };
  let vertex = 0;
  let index = 0;
  for (const part of flat) {
    const [red, green, blue] = materials[part.material].pbrMetallicRoughness?.baseColorFactor || [1, 1, 1];
    joined.positions.set(part.positions, vertex * 3);
    for (let at = vertex * 3; at < (vertex * 3) + part.positions.length; at += 3) {
      joined.colors[at] = red;
      joined.colors[at + 1] = green;
      joined.colors[at + 2] = blue;
    }
    addOffset(joined.indices, index, part.indices, vertex);
    index += part.indices.length;
    vertex += part.positions.length / 3;
  }
  const white = { name: 'flat colours', pbrMetallicRoughness: { baseColorFactor: [1, 1, 1, 1], metallicFactor: 0,
                                                                 roughnessFactor: 1 } };
  return { parts: [...parts.filter(textured), joined], materials: [...materials, white] };
}

// A level's first frame draws at most this many triangles, every so many
// of its own, made in a few milliseconds: software WebGL takes about 4
// microseconds over each, and the simplifier a tenth of a second over a
// level at the format's limit. The preview proper follows.
export const firstFrameBudget = 4096;

// glb: the converter's binary glTF file (Uint8Array at offset 0). Returns
// { glb, triangles, shownTriangles, materials }: the file to show (the same
// one when the level is within the budget and of few primitives), the
// level's triangles, those shown, and the level's materials. A level over
// the budget is simplified `how`: 'budget', to near its budget, from a
// sample where it must lose most of its triangles; 'sampled', every so many
// of its triangles, without the simplifier; 'shape', all of it through the
// simplifier, which may keep fewer triangles.
export async function makePreview(glb, budget = previewBudget, layers = previewLayers, how = 'budget') {
  const { json, binaryStart } = chunksOf(glb);
  const { triangles, materials } = countsOf(json);
  const whole = { glb, triangles, shownTriangles: triangles, materials };
  if (triangles === 0)
    return whole;
  const primitives = primitivesOf(glb, json, binaryStart);
  // The level's box as the file gives it, and its area from a sample of its
  // triangles where it has very many.
  const bounds = { low: [0, 1, 2].map((axis) => Math.min(...primitives.map((p) => p.bounds.min[axis]))),
                   high: [0, 1, 2].map((axis) => Math.max(...primitives.map((p) => p.bounds.max[axis]))) };
  const areaStep = Math.max(1, Math.floor(triangles / areaSamples));
  const ratio = Math.min(budget / triangles, layers / levelLayersOf(primitives, bounds, areaStep));
  if (ratio >= 1 && primitives.length <= drawsAsGiven)
    return whole;
  let parts;
  if (ratio >= 1) {
    // Every triangle, in one draw per material and one for the flat colours.
    parts = sampledByMaterial(primitives, 1);
  } else if (how === 'sampled') {
    parts = sampledByMaterial(primitives, Math.ceil(1 / ratio));
  } else {
    await MeshoptSimplifier.ready;
    const stride = how === 'shape' ? 1 : Math.max(1, Math.floor(1 / (ratio * sampledAbove)));
    parts = sampledByMaterial(primitives, stride).map((part) => simplified(part, ratio * stride, how === 'shape'));
  }
  const shownTriangles = parts.reduce((sum, part) => sum + part.indices.length / 3, 0);
  const shown = withFlatColoursJoined(parts, json.materials);
  return { glb: encodeGlb(shown.parts, { ...json, materials: shown.materials }, imagesOf(glb, json, binaryStart)),
           triangles, shownTriangles, materials };
}
