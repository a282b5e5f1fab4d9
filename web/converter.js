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
// converter writes to a device in place, with the very same bytes. With
// `folding`, every 16 MB written go into a Blob, which keeps them outside
// the script's memory, so that a 240 MB OBJ is never held twice.
const foldBytes = 16 << 20;

function collectWrites(FS, path, minor, folding) {
  const parts = [];
  let pending = 0;
  const device = FS.makedev(64, minor);
  FS.registerDevice(device, {
    read: () => 0,
    write: (stream, buffer, offset, length) => {
      parts.push(buffer.slice(offset, offset + length));
      pending += length;
      if (folding && pending >= foldBytes) {
        parts.splice(0, parts.length, new Blob(parts));
        pending = 0;
      }
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

// The parts of a bitmap's path that name a place inside the output folder:
// none empty, "." or "..".
function insideParts(path) {
  return path.split(/[\/\\]/).filter((part) => part !== '' && part !== '.' && part !== '..');
}

// One instance of the converter for one level, which holds the level once
// and converts it as often as asked, each time as "meshwright [-v] INPUT
// OUTPUT" does. bytes: the level file's bytes (Uint8Array); fileName: its
// name; bitmaps: [{ path, bytes }], each put beside the outputs under its
// path (relative to the level's folder), where the converter looks for the
// binary glTF file's textures.
async function openConverter(bytes, fileName, bitmaps = []) {
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
  FS.writeFile(input, bytes);
  for (const bitmap of bitmaps) {
    const parts = insideParts(bitmap.path);
    if (parts.length === 0)
      continue;
    FS.mkdirTree(['/output', ...parts.slice(0, -1)].join('/'));
    FS.writeFile(['/output', ...parts].join('/'), bitmap.bytes);
  }
  let devices = 0;

  // Writes `outputs` (file names in /output; the first is the one named on
  // the command line). Returns { console, status, files } with each file's
  // bytes as the list of pieces the converter wrote (Uint8Array each, and
  // Blobs with `folding`), which a Blob takes as they are.
  const run = (verbose, outputs, folding) => {
    lines.length = 0;
    const parts = outputs.map((output) => collectWrites(FS, '/output/' + output, devices++, folding));
    let status;
    try {
      // From the outputs' folder, as on the command line, so that the
      // report names it ".".
      FS.chdir('/output');
      status = converter.ccall('convert_level', 'number', ['string', 'string', 'number'],
                               [input, outputs[0], verbose ? 1 : 0]);
    } catch (error) {
      // Only a failure of the WebAssembly machine itself lands here, such
      // as running out of memory.
      lines.push('The converter stopped: ' + error);
      status = -1;
    }
    const files = {};
    outputs.forEach((output, index) => {
      files[output] = status === 0 ? parts[index] : null;
    });
    return { console: lines.length ? lines.join('\n') + '\n' : '', status, files };
  };

  const name = levelStem(fileName);
  return {
    // As "meshwright -v LEVEL NAME.glb": { console, status, name, glb,
    // textures } with the file as one Uint8Array (null when none was
    // written), and what the converter did with each texture,
    // [{ name, outcome }], outcome being embedded, not_found or unreadable.
    toGlb() {
      const result = run(true, [name + '.glb'], false);
      const parts = result.files[name + '.glb'];
      const textures = converter.ccall('texture_outcomes', 'string', [], []).split('\n').filter(Boolean)
        .map((line) => ({ outcome: line.slice(0, line.indexOf('\t')), name: line.slice(line.indexOf('\t') + 1) }));
      return { console: result.console, status: result.status, name, glb: parts && joined(parts), textures };
    },
    // As "meshwright LEVEL NAME.obj": { console, status, obj, mtl } with the
    // files as lists of pieces.
    toObj() {
      const result = run(false, [name + '.obj', name + '.mtl'], true);
      return { console: result.console, status: result.status, obj: result.files[name + '.obj'],
               mtl: result.files[name + '.mtl'] };
    },
  };
}
