// A .zip archive of files stored as they are (glTF files compress little,
// and stored entries stream from Blobs without being read again), with
// zip64 records where an offset or the count outgrows the classic ones, and
// a fixed date, so that the same files give the same bytes.

const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k)
      c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

// The CRC-32 of `bytes` (a Uint8Array), as zip and PNG have it.
export function crc32(bytes) {
  let crc = 0xffffffff;
  for (let i = 0; i < bytes.length; ++i)
    crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
  return (crc ^ 0xffffffff) >>> 0;
}

const classicLimit = 0xffffffff; // offsets and sizes in 32 bits
const classicCount = 0xffff;
const dosDate = (1 << 5) | 1; // 1980-01-01, the first day the format has
const utf8Names = 0x0800;

// Little-endian fields: [[bytes, value], ...] with values past 32 bits as
// Numbers (exact to 2^53).
function fields(list) {
  const out = new Uint8Array(list.reduce((size, [bytes]) => size + bytes, 0));
  const view = new DataView(out.buffer);
  let at = 0;
  for (const [bytes, value] of list) {
    if (bytes === 8) {
      view.setUint32(at, value % 2 ** 32, true);
      view.setUint32(at + 4, Math.floor(value / 2 ** 32), true);
    } else if (bytes === 4) {
      view.setUint32(at, value, true);
    } else {
      view.setUint16(at, value, true);
    }
    at += bytes;
  }
  return out;
}

// The archive's parts, for a Blob: entries [{ name, data, size, crc }], name
// the path in the archive (parts joined by '/'), data a Blob or Uint8Array
// of `size` bytes (under 4 GiB, as a binary glTF file is) whose CRC-32 is
// `crc`.
export function zipParts(entries) {
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  for (const { name, data, size, crc } of entries) {
    const nameBytes = encoder.encode(name);
    const far = offset >= classicLimit;
    const needed = far ? 45 : 20;
    const local = fields([[4, 0x04034b50], [2, 20], [2, utf8Names], [2, 0], [2, 0], [2, dosDate], [4, crc],
                          [4, size], [4, size], [2, nameBytes.length], [2, 0]]);
    parts.push(local, nameBytes, data);
    // Past 4 GiB, where the entry starts goes in a zip64 field.
    const extra = far ? fields([[2, 0x0001], [2, 8], [8, offset]]) : new Uint8Array(0);
    central.push(fields([[4, 0x02014b50], [2, 45], [2, needed], [2, utf8Names], [2, 0], [2, 0], [2, dosDate],
                         [4, crc], [4, size], [4, size], [2, nameBytes.length], [2, extra.length], [2, 0], [2, 0],
                         [2, 0], [4, 0], [4, far ? classicLimit : offset]]), nameBytes, extra);
    offset += local.length + nameBytes.length + size;
  }
  const directorySize = central.reduce((size, part) => size + part.length, 0);
  parts.push(...central);
  const count = entries.length;
  if (count >= classicCount || offset >= classicLimit || directorySize >= classicLimit) {
    const record = offset + directorySize;
    parts.push(fields([[4, 0x06064b50], [8, 44], [2, 45], [2, 45], [4, 0], [4, 0], [8, count], [8, count],
                       [8, directorySize], [8, offset]]),
               fields([[4, 0x07064b50], [4, 0], [8, record], [4, 1]]));
  }
  const classic = (value, limit) => Math.min(value, limit);
  parts.push(fields([[4, 0x06054b50], [2, 0], [2, 0], [2, classic(count, classicCount)],
                     [2, classic(count, classicCount)], [4, classic(directorySize, classicLimit)],
                     [4, classic(offset, classicLimit)], [2, 0]]));
  return parts;
}
