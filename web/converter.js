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
// the script's memory, so that a 240 MB OBJ is never held twice. A binary
// glTF file says its length in its first 12 bytes: its bytes go straight
// into one array of that length, copied once.
const foldBytes = 16 << 20;

function collectWrites(FS, path, minor, folding, kept = true) {
  const parts = [];
  let pending = 0;
  let whole = null; // the binary glTF file's array, while its bytes fit
  let written = 0;
  const device = FS.makedev(64, minor);
  FS.registerDevice(device, {
    read: () => 0,
    write: (stream, buffer, offset, length) => {
      if (!kept)
        return length;
      const bytes = buffer.subarray(offset, offset + length);
      if (written === 0 && !folding)
        whole = glbArray(bytes);
      if (whole && written + length <= whole.length) {
        whole.set(bytes, written);
      } else {
        if (whole)
          parts.push(whole.subarray(0, written));
        whole = null;
        parts.push(bytes.slice());
        pending += length;
        if (folding && pending >= foldBytes) {
          parts.splice(0, parts.length, new Blob(parts));
          pending = 0;
        }
      }
      written += length;
      return length;
    },
  });
  // A file converted again takes the place of the one before.
  if (FS.analyzePath(path).exists)
    FS.unlink(path);
  FS.mkdev(path, device);
  return {
    // The file as the list of pieces written (Uint8Arrays, and Blobs with
    // `folding`), which a Blob takes as they are.
    pieces: () => (whole ? [whole.subarray(0, written)] : parts),
    // The file as one Uint8Array.
    bytes: () => (whole ? whole.subarray(0, written) : joined(parts)),
  };
}

// An array of the length that a binary glTF file's first bytes give, or
// null for any other file.
function glbArray(head) {
  if (head.length < 12)
    return null;
  const words = new DataView(head.buffer, head.byteOffset, 12);
  return words.getUint32(0, true) === 0x46546c67 ? new Uint8Array(words.getUint32(8, true)) : null;
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

// A fresh instance of the converter, made in the background: { ready,
// lines } with what it prints through emscripten's own console gathered in
// `lines`. Made ahead of its level, it is ready when the level comes.
function startConverter() {
  const lines = [];
  const ready = createMeshwright({
    print: (line) => lines.push(line),
    printErr: (line) => lines.push(line),
  });
  return { ready, lines };
}

// Takes what the converter writes to its standard output and error, in the
// order written, onto a device that keeps each write whole: emscripten's
// console hands every byte to a script call of its own and each line to
// another, which for a report of tens of thousands of lines costs a
// conversion's time again. Returns a function that hands back the text
// written since it was last called.
function captureConsole(FS, minor) {
  const parts = [];
  const device = FS.makedev(64, minor);
  FS.registerDevice(device, {
    read: () => 0,
    write: (stream, buffer, offset, length) => {
      parts.push(buffer.slice(offset, offset + length));
      return length;
    },
  });
  FS.mkdev('/console', device);
  // The lowest free numbers go to the files opened next.
  FS.closeStream(1);
  FS.closeStream(2);
  FS.open('/console', 'w');
  FS.open('/console', 'w');
  return () => {
    const text = new TextDecoder().decode(joined(parts));
    parts.length = 0;
    return text;
  };
}

// One instance of the converter for one level, which holds the level once
// and converts it as often as asked, each time as "meshwright [-v] INPUT
// OUTPUT" does. bytes: the level file's bytes (Uint8Array); fileName: its
// name; started: an instance from startConverter that nothing else uses,
// if there is one. Its binary glTF file takes the bitmaps that plan()
// chose and addBitmap() gave, as meshwright-batch takes them.
async function openConverter(bytes, fileName, started = startConverter()) {
  const { lines } = started;
  const converter = await started.ready;
  const FS = converter.FS;
  // Input and output in folders of their own, so that no name the user
  // gives the level can meet the outputs'.
  FS.mkdir('/level');
  FS.mkdir('/output');
  const input = '/level/' + (fileName.replace(/[\/\\]/g, '_') || 'level.bsp');
  // The level's and bitmaps' bytes are this instance's own: the file system
  // keeps them without a copy.
  FS.writeFile(input, bytes, { canOwn: true });
  let devices = 0;
  const consoleText = captureConsole(FS, devices++);

  // Writes `outputs` (file names in /output; the first is the one named on
  // the command line). Returns { console, status, files } with each file's
  // writes as collectWrites keeps them.
  const run = (verbose, outputs, folding, planned, kept = true) => {
    lines.length = 0;
    consoleText();
    const parts = outputs.map((output) => collectWrites(FS, '/output/' + output, devices++, folding, kept));
    let status;
    try {
      // From the outputs' folder, as on the command line.
      FS.chdir('/output');
      status = converter.ccall('convert_level', 'number', ['string', 'string', 'number', 'number'],
                               [input, outputs[0], verbose ? 1 : 0, planned ? 1 : 0]);
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
    const printed = consoleText() + (lines.length ? lines.join('\n') + '\n' : '');
    return { console: printed, status, files };
  };

  const name = levelStem(fileName);
  return {
    // The bitmaps of the level's textures among `trees` (lists of paths,
    // parts joined by '/': the level's own folder's, then each folder's
    // that meshwright-batch would search, in its order), as the lookup
    // chooses them: one { tree, path } for each texture name, null for one
    // without a bitmap; [] for a level the reader rejects.
    plan(trees) {
      FS.writeFile('/listing.txt', trees.map((tree) => tree.map((path) => path + '\n').join('') + '\n').join(''));
      const text = converter.ccall('plan_textures', 'string', ['string', 'string'], [input, '/listing.txt']);
      return text.split('\n').slice(0, -1).map((line) => {
        const tab = line.indexOf('\t');
        return tab < 0 ? null : { tree: Number(line.slice(0, tab)), path: line.slice(tab + 1) };
      });
    },
    // A bitmap that plan() chose, with its bytes.
    addBitmap({ tree, path }, bitmap) {
      const place = '/bitmaps/' + tree + '/' + path;
      FS.mkdirTree(place.slice(0, place.lastIndexOf('/')));
      FS.writeFile(place, bitmap, { canOwn: true });
    },
    // As "meshwright -v LEVEL NAME.glb" with the bitmaps planned (without
    // "-v" where `verbose` is false): { console, status, name, glb,
    // textures } with the file as one Uint8Array (null when none was
    // written), and what the converter did with each texture in the plan's
    // order, [{ name, outcome }], outcome being embedded, not_found or
    // unreadable.
    toGlb(verbose = true) {
      const result = run(verbose, [name + '.glb'], false, true);
      const file = result.files[name + '.glb'];
      const textures = converter.ccall('texture_outcomes', 'string', [], []).split('\n').filter(Boolean)
        .map((line) => ({ outcome: line.slice(0, line.indexOf('\t')), name: line.slice(line.indexOf('\t') + 1) }));
      return { console: result.console, status: result.status, name, glb: file && file.bytes(), textures };
    },
    // What "meshwright -v LEVEL NAME.glb" prints, the file's bytes not kept.
    report() {
      return run(true, [name + '.glb'], false, true, false).console;
    },
    // As "meshwright LEVEL NAME.obj": { console, status, obj, mtl } with the
    // files as lists of pieces.
    toObj() {
      const result = run(false, [name + '.obj', name + '.mtl'], true, false);
      const pieces = (file) => file && file.pieces();
      return { console: result.console, status: result.status, obj: pieces(result.files[name + '.obj']),
               mtl: pieces(result.files[name + '.mtl']) };
    },
  };
}
