// What the converter did with a level's textures, in the page's words: from
// its own result for each texture ([{ name, outcome, file }], outcome
// embedded, not_found or unreadable, file the chosen file that the lookup
// took for it, or null) and the files that could no longer be read.
import { folderOf } from './files.js';

// The folder of a chosen file, as the page names it.
function placeOf(file) {
  return folderOf(file).replace(/\/$/, '') || 'the files chosen';
}

// Where the bitmaps embedded were taken from, said once: " from maps", or
// " from textures and 2 other folders".
function whereFrom(outcomes) {
  const places = [...new Set(outcomes.filter(({ outcome, file }) => outcome === 'embedded' && file)
    .map(({ file }) => placeOf(file)))];
  if (places.length === 0)
    return '';
  const others = places.length - 1;
  return ` from ${places[0]}` + (others ? ` and ${others} other folder${others > 1 ? 's' : ''}` : '');
}

// { embedded, total, summary, entries }: summary for the status line;
// entries, one for each texture not embedded, { bitmap, outcome, file,
// lost }: the bitmap the name asks for, and for one unreadable, the file
// chosen and whether it could no longer be read at all.
export function describeTextures(outcomes, lost = []) {
  const total = outcomes.length;
  const embedded = outcomes.filter(({ outcome }) => outcome === 'embedded').length;
  const entries = outcomes.filter(({ outcome }) => outcome !== 'embedded').map(({ name, outcome, file }) => (
    { bitmap: name + '.bmp', outcome, file: file || null, lost: Boolean(file && lost.includes(file)) }));
  const count = (outcome) => entries.filter((entry) => entry.outcome === outcome).length;
  const missing = count('not_found');
  const unreadable = count('unreadable');
  let summary = '';
  if (total > 0 && entries.length === 0)
    summary = (total === 1 ? 'its texture found' : `all ${total} textures found`) + whereFrom(outcomes);
  else if (total > 0)
    summary = `${embedded} of ${total} textures found` + whereFrom(outcomes) +
              [missing && `${missing} missing`, unreadable && `${unreadable} unreadable`].filter(Boolean)
                .map((part) => `, ${part}`).join('');
  return { embedded, total, summary, entries };
}

// What to do about a chosen file that can no longer be read.
export function lostText(file) {
  return `${file} can no longer be read (changed or removed since it was chosen): choose it again`;
}

// One sentence for an entry of describeTextures().
export function entryText({ bitmap, outcome, file, lost }) {
  if (lost)
    return `${bitmap}: ${lostText(file)}`;
  if (outcome === 'unreadable')
    return `${bitmap}: ${file || 'the file chosen'} is not a bitmap the converter reads (a BMP of 1, 4, 8, 16, 24 ` +
           'or 32 bits, not compressed)';
  return `${bitmap}: missing (no file of that name among the chosen ones, in any case of letters)`;
}
