// What the converter did with a level's textures, in the page's words: from
// its own result for each texture ([{ name, outcome }], outcome embedded,
// not_found or unreadable) and the paths of the bitmaps chosen with the
// level (from the level's folder), which tell where a bitmap that was not
// found sits instead.

// The bitmap the converter looks for: the name as the material file gives
// it, followed by .bmp.
function bitmapOf(name) {
  return name + '.bmp';
}

function fileNameOf(path) {
  return path.slice(Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
}

// { embedded, total, summary, entries }: summary for the status line;
// entries, one for each texture not embedded, { bitmap, outcome, elsewhere }
// with the chosen files of that file name found at other places.
export function describeTextures(outcomes, paths) {
  const total = outcomes.length;
  const embedded = outcomes.filter(({ outcome }) => outcome === 'embedded').length;
  const entries = outcomes.filter(({ outcome }) => outcome !== 'embedded').map(({ name, outcome }) => {
    const bitmap = bitmapOf(name);
    const wanted = fileNameOf(bitmap).toLowerCase();
    const elsewhere = outcome === 'not_found'
      ? paths.filter((path) => fileNameOf(path).toLowerCase() === wanted && path !== bitmap) : [];
    return { bitmap, outcome, elsewhere };
  });
  const count = (outcome) => entries.filter((entry) => entry.outcome === outcome).length;
  const missing = count('not_found');
  const unreadable = count('unreadable');
  let summary = '';
  if (total > 0 && entries.length === 0)
    summary = total === 1 ? 'its texture found' : `all ${total} textures found`;
  else if (total > 0)
    summary = `${embedded} of ${total} textures found` +
              [missing && `${missing} missing`, unreadable && `${unreadable} unreadable`].filter(Boolean)
                .map((part) => `, ${part}`).join('');
  return { embedded, total, summary, entries };
}

// One sentence for an entry of describeTextures().
export function entryText({ bitmap, outcome, elsewhere }) {
  if (outcome === 'unreadable')
    return `${bitmap}: given, but not a bitmap the converter reads (a BMP of 1, 4, 8, 16, 24 or 32 bits, ` +
           'not compressed)';
  if (elsewhere.length === 0)
    return `${bitmap}: missing (no such file among the chosen ones)`;
  return `${bitmap}: missing beside the level, but chosen as ${elsewhere.join(', ')}: ` +
         `the converter looks for it as ${bitmap} from the level's folder (where the command line looks ` +
         'beside its output), so put it there and choose again';
}
