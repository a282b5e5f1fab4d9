// Binary glTF files as plain data: the parts of one that is read, and one
// made of a few parts with positions, texture coordinates and triangles of
// their own. The preview and the 3D view's first warm-up both use them.

const componentArrays = { 5123: Uint16Array, 5125: Uint32Array, 5126: Float32Array };

// The JSON and binary chunk of a binary glTF file (Uint8Array at offset 0).
export function chunksOf(glb) {
  const words = new DataView(glb.buffer, glb.byteOffset, glb.byteLength);
  const jsonLength = words.getUint32(12, true);
  const json = JSON.parse(new TextDecoder().decode(glb.subarray(20, 20 + jsonLength)));
  const binaryStart = 20 + jsonLength + 8;
  return { json, binaryStart };
}

export function accessorArray(glb, json, binaryStart, index) {
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
  for (let i = 0; i < positions.length; i += 3) {
    for (let axis = 0; axis < 3; ++axis) {
      const value = positions[i + axis];
      if (value < low[axis])
        low[axis] = value;
      if (value > high[axis])
        high[axis] = value;
    }
  }
  return { low, high };
}

// A binary glTF file of one node whose mesh has one primitive per part,
// each over positions and, where it has them, texture coordinates or
// colours of its own (Float32Array each; indices: Uint32Array), with the
// materials, textures and samplers of `source` and the images of the
// textures (`images`: the bytes of each, in order).
export function encodeGlb(parts, source, images) {
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
  const addAccessor = (array, type, more = {}) => {
    const components = { VEC3: 3, VEC2: 2, SCALAR: 1 }[type];
    accessors.push({ bufferView: addView(array), componentType: array instanceof Uint32Array ? 5125 : 5126,
                     count: array.length / components, type, ...more });
    return accessors.length - 1;
  };
  for (const part of parts) {
    const { low, high } = boundsOf(part.positions);
    const attributes = { POSITION: addAccessor(part.positions, 'VEC3', { min: low, max: high }) };
    if (part.texCoords)
      attributes.TEXCOORD_0 = addAccessor(part.texCoords, 'VEC2');
    if (part.colors)
      attributes.COLOR_0 = addAccessor(part.colors, 'VEC3');
    primitives.push({ attributes, indices: addAccessor(part.indices, 'SCALAR'), material: part.material });
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
export function imagesOf(glb, json, binaryStart) {
  return (json.images || []).map((image) => {
    const view = json.bufferViews[image.bufferView];
    const start = glb.byteOffset + binaryStart + (view.byteOffset || 0);
    return new Uint8Array(glb.buffer, start, view.byteLength);
  });
}
