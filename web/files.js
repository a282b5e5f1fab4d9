// The game among the files chosen or dropped: its levels, each with the
// folder trees where its bitmaps are looked for and the name of its .glb, as
// meshwright-batch has them for the same files. A path's first part, where
// it has more than one, is a folder chosen or dropped, given to
// meshwright-batch as a folder; other files are given as they are.
// files: [{ path, file }], paths as chosen or dropped, parts joined by '/'.

const encoder = new TextEncoder();

// Paths in the order of their UTF-8 bytes, as meshwright-batch orders them.
export function byteOrder(a, b) {
  const x = encoder.encode(a);
  const y = encoder.encode(b);
  for (let i = 0; i < Math.min(x.length, y.length); ++i) {
    if (x[i] !== y[i])
      return x[i] - y[i];
  }
  return x.length - y.length;
}

export function folderOf(path) {
  return path.includes('/') ? path.slice(0, path.lastIndexOf('/') + 1) : '';
}

const isLevel = (path) => /\.bsp$/i.test(path);
const isBitmap = (path) => /\.bmp$/i.test(path);

// The bitmaps below `prefix` (a folder's path with its '/', or ''), by
// their paths from there: { prefix, files: [{ path, file }] }.
function treeBelow(bitmaps, prefix) {
  return { prefix, files: bitmaps.filter(({ path }) => path.startsWith(prefix))
    .map(({ path, file }) => ({ path: path.slice(prefix.length), file })) };
}

// A level's output as meshwright-batch names it: its path below the folder
// given, or its name, with ".glb" for its last extension.
function outputOf(path) {
  const below = path.includes('/') ? path.slice(path.indexOf('/') + 1) : path;
  const name = below.slice(below.lastIndexOf('/') + 1);
  const dot = name.lastIndexOf('.');
  return (dot > 0 ? below.slice(0, below.length - name.length + dot) : below) + '.glb';
}

// [{ level, output, trees }] in byte order of the levels' paths: level is
// one of `files`; trees, where its bitmaps are looked for, in order: its
// own folder with its subfolders, then each folder chosen, in byte order of
// their names.
export function gameIn(files) {
  const bitmaps = files.filter(({ path }) => isBitmap(path));
  const folders = [...new Set(files.filter(({ path }) => path.includes('/'))
    .map(({ path }) => path.slice(0, path.indexOf('/') + 1)))].sort(byteOrder);
  const chosen = folders.map((folder) => treeBelow(bitmaps, folder));
  return files.filter(({ path }) => isLevel(path)).sort((a, b) => byteOrder(a.path, b.path))
    .map((level) => ({ level, output: outputOf(level.path), trees: [treeBelow(bitmaps, folderOf(level.path)), ...chosen] }));
}

// The first output that two levels share, as "a and b as c", or ''.
export function collision(levels) {
  const seen = new Map();
  for (const { level, output } of levels) {
    if (seen.has(output))
      return `${seen.get(output)} and ${level.path} as ${output}`;
    seen.set(output, level.path);
  }
  return '';
}

// ---- Files chosen and dropped

// The files under a dropped folder, each with its path from the drop.
async function filesIn(entry) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    return [{ path: entry.fullPath.replace(/^\//, ''), file }];
  }
  const reader = entry.createReader();
  const readBatch = () => new Promise((resolve, reject) => reader.readEntries(resolve, reject));
  const found = [];
  // A folder's entries come in batches until an empty one.
  for (let batch = await readBatch(); batch.length > 0; batch = await readBatch()) {
    for (const child of batch)
      found.push(...await filesIn(child));
  }
  return found;
}

export async function droppedFiles(transfer) {
  const entries = [...transfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
  if (entries.length === 0)
    return [...transfer.files].map((file) => ({ path: file.name, file }));
  return (await Promise.all(entries.map(filesIn))).flat();
}

// The files chosen; the input is emptied, so that choosing the same files
// again opens them again.
export function chosenFiles(input) {
  const files = [...input.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));
  input.value = '';
  return files;
}
