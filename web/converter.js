// Appended to emscripten's output, outside its module factory: converts a
// level to binary glTF and to OBJ and material file, each in a fresh
// instance of the converter, and hands back what it printed, its status and
// the files it wrote. The same file serves the page (which calls
// convertLevel) and its worker (which answers messages).

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

// Runs "meshwright [-v] INPUT OUTPUT" once; `outputs` are the file names
// it writes in /output. Returns { console, status, files } with each file's
// bytes as the list of pieces the converter wrote (Uint8Array each), which
// a Blob takes as they are: a 240 MB OBJ is never copied into one piece.
async function runOnce(bytes, fileName, verbose, outputs) {
  const lines = [];
  const converter = await createMeshwright({
    print: (line) => lines.push(line),
    printErr: (line) => lines.push(line),
  });
  const FS = converter.FS;
  // Input and output in folders of their own, so that no name the user
  // gives the level can meet the outputs'.
  FS.mkdir('/level');
  FS.mkdir('/output');
  const input = '/level/' + (fileName.replace(/[\/\\]/g, '_') || 'level.bsp');
  const parts = outputs.map((output, minor) => collectWrites(FS, '/output/' + output, minor));
  FS.writeFile(input, bytes);
  let status;
  try {
    status = converter.ccall('convert_level', 'number', ['string', 'string', 'number'],
                             [input, '/output/' + outputs[0], verbose ? 1 : 0]);
  } catch (error) {
    // Only a failure of the WebAssembly machine itself lands here, such as
    // running out of memory.
    lines.push('The converter stopped: ' + error);
    status = -1;
  }
  const files = {};
  outputs.forEach((output, index) => {
    files[output] = status === 0 ? parts[index] : null;
  });
  return { console: lines.length ? lines.join('\n') + '\n' : '', status, files };
}

// bytes: the level file's bytes (Uint8Array); fileName: its name.
// Returns { console, status, name, glb, obj, mtl }: the glTF file as one
// Uint8Array, the OBJ and material file as lists of pieces (null when the
// converter wrote none). The report is the one of the binary glTF
// conversion, "meshwright -v LEVEL NAME.glb".
async function convertLevel(bytes, fileName) {
  const name = levelStem(fileName);
  const glb = await runOnce(bytes, fileName, true, [name + '.glb']);
  const glbParts = glb.files[name + '.glb'];
  const result = { console: glb.console, status: glb.status, name, glb: glbParts && joined(glbParts), obj: null, mtl: null };
  if (glb.status !== 0)
    return result;
  const obj = await runOnce(bytes, fileName, false, [name + '.obj', name + '.mtl']);
  if (obj.status !== 0)
    return { ...result, console: result.console + obj.console, status: obj.status };
  return { ...result, obj: obj.files[name + '.obj'], mtl: obj.files[name + '.mtl'] };
}

if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  self.onmessage = async (event) => {
    const result = await convertLevel(event.data.bytes, event.data.fileName);
    const transfer = [result.glb, ...(result.obj || []), ...(result.mtl || [])].filter(Boolean)
      .map((array) => array.buffer);
    self.postMessage(result, transfer);
  };
}
