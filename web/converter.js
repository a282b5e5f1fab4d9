// Appended to emscripten's output, outside its module factory: converts a
// level to binary glTF or to OBJ and material file, each time in a fresh
// instance of the converter, and hands back what it printed, its status and
// the files it wrote. The page and its worker both load it.

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

// bytes: the level file's bytes (Uint8Array); fileName: its name. Converts
// as "meshwright -v LEVEL NAME.glb" does and returns { console, status,
// name, glb } with the file as one Uint8Array (null when none was written).
async function convertToGlb(bytes, fileName) {
  const name = levelStem(fileName);
  const run = await runOnce(bytes, fileName, true, [name + '.glb']);
  const parts = run.files[name + '.glb'];
  return { console: run.console, status: run.status, name, glb: parts && joined(parts) };
}

// Converts as "meshwright LEVEL NAME.obj" does and returns { console,
// status, obj, mtl } with the files as lists of pieces.
async function convertToObj(bytes, fileName) {
  const name = levelStem(fileName);
  const run = await runOnce(bytes, fileName, false, [name + '.obj', name + '.mtl']);
  return { console: run.console, status: run.status, obj: run.files[name + '.obj'], mtl: run.files[name + '.mtl'] };
}
