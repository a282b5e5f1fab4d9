// The levels among the files chosen or dropped, each with the bitmaps as
// the converter finds them from its own folder. files: [{ path, file }],
// paths as chosen or dropped (a folder's relative paths kept).

function folderOf(path) {
  return path.includes('/') ? path.slice(0, path.lastIndexOf('/') + 1) : '';
}

// [{ level, bitmaps }] in the order of the levels' paths: level is one of
// `files`, bitmaps [{ path, file }] with paths from the level's folder. A
// bitmap outside that folder keeps its path within what was chosen, and
// one inside it wins over such a one of the same path.
export function levelsIn(files) {
  const levels = files.filter(({ path }) => /\.bsp$/i.test(path))
    .sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  const bitmaps = files.filter(({ path }) => /\.bmp$/i.test(path));
  return levels.map((level) => {
    const folder = folderOf(level.path);
    const placed = new Map();
    for (const { path, file } of bitmaps) {
      const inside = path.startsWith(folder);
      const relative = inside ? path.slice(folder.length) : path.slice(path.indexOf('/') + 1);
      if (inside || !placed.has(relative))
        placed.set(relative, { path: relative, file, inside });
    }
    return { level, bitmaps: [...placed.values()].map(({ path, file }) => ({ path, file })) };
  });
}
