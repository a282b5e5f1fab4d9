// Appended to emscripten's output, outside its module factory: runs one
// conversion in a fresh instance of the converter and hands back what it
// printed, its status, and the OBJ and material files it wrote. The same
// file serves the page (which calls convertLevel) and its worker (which
// answers messages).

// The name of a level's file without its last extension: "e1m1.bsp" gives "e1m1".
function levelStem(fileName) {
  const dot = fileName.lastIndexOf('.');
  const stem = dot > 0 ? fileName.slice(0, dot) : fileName;
  return stem.replace(/[\/\\]/g, '_') || 'level';
}

// Makes `path` a character device that keeps every write as it comes. A
// regular file on emscripten's in-memory file system is copied anew each
// time it grows by an eighth, which for a 240 MB OBJ costs seconds; the
// converter writes to a device in place, with the very same bytes.
function collectWrites(FS, path, minor) {
  const parts = [];
  const device = FS.makedev(64, minor);
  FS.registerDevice(device, {
    read: () => 0,
    write: (stream, buffer, offset, length) => {
      parts.push(buffer.slice(offset, offset + length));
      return length;
    },
  });
  FS.mkdev(path, device);
  return parts;
}

function joined(parts) {
  const whole = new Uint8Array(parts.reduce((size, part) => size + part.length, 0));
  let at = 0;
  for (const part of parts) {
    whole.set(part, at);
    at += part.length;
  }
  return whole;
}

// bytes: the level file's bytes (Uint8Array); fileName: its name.
// Returns { console, status, name, obj, mtl } with obj and mtl as Uint8Array
// (null when the converter wrote none).
async function convertLevel(bytes, fileName) {
  const lines = [];
  const converter = await createMeshwright({
    print: (line) => lines.push(line),
    printErr: (line) => lines.push(line),
  });
  const FS = converter.FS;
  const name = levelStem(fileName);
  // Input and output in folders of their own, so that no name the user
  // gives the level can meet the outputs'.
  FS.mkdir('/level');
  FS.mkdir('/output');
  const input = '/level/' + (fileName.replace(/[\/\\]/g, '_') || 'level.bsp');
  const objPath = '/output/' + name + '.obj';
  const objParts = collectWrites(FS, objPath, 0);
  const mtlParts = collectWrites(FS, '/output/' + name + '.mtl', 1);
  FS.writeFile(input, bytes);
  let status;
  try {
    status = converter.ccall('convert_level', 'number', ['string', 'string'], [input, objPath]);
  } catch (error) {
    // Only a failure of the WebAssembly machine itself lands here, such as
    // running out of memory.
    lines.push('The converter stopped: ' + error);
    status = -1;
  }
  return {
    console: lines.length ? lines.join('\n') + '\n' : '',
    status,
    name,
    obj: status === 0 ? joined(objParts) : null,
    mtl: status === 0 ? joined(mtlParts) : null,
  };
}

if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  self.onmessage = async (event) => {
    const result = await convertLevel(event.data.bytes, event.data.fileName);
    const transfer = [result.obj, result.mtl].filter(Boolean).map((array) => array.buffer);
    self.postMessage(result, transfer);
  };
}
