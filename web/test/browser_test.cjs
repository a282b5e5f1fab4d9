// Tests the page in Debian's Chromium, driven headless by puppeteer-core,
// against the Linux program's own output:
//   - the sample level, chosen through the file input, gives the report that
//     "meshwright -v" prints, and downloads that equal its binary glTF, OBJ
//     and MTL files byte for byte; the 3D view, read from the glTF file, has
//     the level's triangles and is not blank;
//   - the view's counts are the converter's: vertices, triangles, materials;
//   - a level over the preview's triangle budget is shown simplified, says
//     so with both counts while it is (a fast view refines it), and its
//     downloads are still exact;
//   - a damaged level puts the program's message in the status line and
//     offers no download;
//   - the OBJ and material file are made only when asked for;
//   - a worker that fails after showing the level leaves the level done,
//     says the preview is gone, and the OBJ is made on the page instead;
//   - without WebGL the sample still ends done, does no preview work (three.js
//     is not loaded), says so in plain words, and offers the exact downloads
//     and the report;
//   - the sample chosen with its twelve bitmaps, and the page's own sample
//     button, give the program's textured binary glTF file byte for byte,
//     show the textures, and say that all were found; with three bitmaps
//     left out, the status names the missing textures;
//   - the page does the same opened from its folder (file://), without a server.
// The site is served on 127.0.0.1 with python3 -m http.server.
//
//   node browser_test.cjs --site DIR --converter MESHWRIGHT --sample SAMPLE.bsp --level-maker MAKE_BIG_LEVEL
//                         [--screenshot OUT.png] [--measure LEVEL.bsp,LEVEL.bsp... [--runs N] [--only-measure]]
// --screenshot saves the sample's preview; --measure opens further levels,
// with and without WebGL, each N times (3) in a fresh browser, and prints
// for each the time to its first frame (with the median of the runs), where
// the worker spent it, the browser's peak memory and the longest task on the
// page's thread, without checking; --only-measure skips the checks.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

function options() {
  const args = process.argv.slice(2);
  const value = (name) => {
    const at = args.indexOf(name);
    return at >= 0 ? args[at + 1] : undefined;
  };
  const absolute = (name) => (value(name) === undefined ? undefined : path.resolve(value(name)));
  return {
    site: absolute('--site'),
    converter: absolute('--converter'),
    sample: absolute('--sample'),
    screenshot: absolute('--screenshot'),
    levelMaker: absolute('--level-maker'),
    measure: value('--measure') ? value('--measure').split(',').map((level) => path.resolve(level)) : [],
    runs: Number(value('--runs') || 3),
    onlyMeasure: args.includes('--only-measure'),
  };
}

// What the command-line program prints and writes for `level`, converted to
// NAME.obj as the page names its files.
function expectedFor(converter, level, work, bitmaps = []) {
  const folder = fs.mkdtempSync(path.join(work, 'cli-'));
  const name = path.basename(level).replace(/\.[^.]*$/, '');
  fs.copyFileSync(level, path.join(folder, path.basename(level)));
  for (const bitmap of bitmaps)
    fs.copyFileSync(bitmap, path.join(folder, path.basename(bitmap)));
  let printed;
  let status = 0;
  try {
    printed = execFileSync(converter, ['-v', path.basename(level), name + '.obj'], { cwd: folder }).toString('latin1');
  } catch (error) {
    printed = error.stdout.toString('latin1');
    status = error.status;
  }
  // The page reports its glTF run, textures line and all.
  if (status === 0)
    printed = execFileSync(converter, ['-v', path.basename(level), name + '.glb'], { cwd: folder }).toString('latin1');
  const read = (file) => (fs.existsSync(path.join(folder, file)) ? fs.readFileSync(path.join(folder, file)) : null);
  const triangles = [...printed.matchAll(/num triangles: (\d+)/g)].reduce((sum, match) => sum + Number(match[1]), 0);
  const vertices = Number((/\tNum vertices: (\d+)/.exec(printed) || [0, 0])[1]);
  const glb = read(name + '.glb');
  // The materials the binary glTF file names, one per texture with triangles.
  const materials = glb ? (/"materials":\[(.*?)\],"accessors"/.exec(glb.toString('latin1')) || ['', ''])[1]
    .split('"name":').length - 1 : 0;
  return { console: printed, status, name, triangles, vertices, materials, glb, obj: read(name + '.obj'),
           mtl: read(name + '.mtl') };
}

// Serves `site` on 127.0.0.1 and resolves to the server and its address.
function serve(site) {
  return new Promise((resolve, reject) => {
    const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '--directory', site], {
      stdio: ['ignore', 'pipe', 'ignore'],
    });
    server.on('error', reject);
    server.stdout.on('data', (data) => {
      const match = /port (\d+)/.exec(data.toString());
      if (match)
        resolve({ server, address: `http://127.0.0.1:${match[1]}/` });
    });
  });
}

async function launch(work, extraArgs = []) {
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(work, 'profile-')),
    args: [
      '--no-sandbox', '--no-first-run', '--disable-quic', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--window-size=1000,1100', ...extraArgs,
    ],
    defaultViewport: { width: 1000, height: 1100 },
  });
}

// Opens a level through the file input and waits until the page is done
// with it; returns the page's state and report.
async function openLevel(page, level, bitmaps = []) {
  // Not done until the page has taken the new files.
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  const input = await page.$('#file');
  await input.uploadFile(level, ...bitmaps);
  return finished(page);
}

// Waits until the page is done with a level; returns its state and report.
async function finished(page) {
  await page.waitForFunction(() => ['done', 'failed'].includes(document.body.dataset.state), { timeout: 240000 });
  return page.evaluate(() => ({
    state: document.body.dataset.state,
    status: document.getElementById('status').textContent,
    report: document.getElementById('report').textContent,
    resultShown: !document.getElementById('result').hidden,
    counts: document.getElementById('counts').textContent,
    unavailable: document.getElementById('view-unavailable').hidden ? '' :
      document.getElementById('view-unavailable').textContent,
  }));
}

// Clicks `link` and waits for the browser to finish the download it starts;
// returns the file's bytes. The browser's own download events say what
// became of it, so that a download that never starts, or ends canceled,
// says which.
async function download(page, client, link, folder, fileName) {
  await client.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder, eventsEnabled: true });
  const seen = [];
  let ended;
  const done = new Promise((resolve) => { ended = resolve; });
  const began = (event) => seen.push(`began ${event.suggestedFilename}`);
  const progress = (event) => {
    if (event.state !== 'inProgress') {
      seen.push(event.state);
      ended(event.state);
    }
  };
  const timer = setTimeout(ended, 60000, 'no end within 60 s');
  client.on('Browser.downloadWillBegin', began);
  client.on('Browser.downloadProgress', progress);
  try {
    await page.click(link);
    const state = await done;
    assert.equal(state, 'completed', `the download of ${fileName}: ${seen.join(', ') || 'never began'}`);
  } finally {
    clearTimeout(timer);
    client.off('Browser.downloadWillBegin', began);
    client.off('Browser.downloadProgress', progress);
  }
  return fs.readFileSync(path.join(folder, fileName));
}

// What of the 3D view is drawn: the share of its pixels that differ from
// its background, and how far across it, or up it, they reach, as a share
// of its width or height (the larger).
function drawnShape(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('#view canvas');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const pixels = context.getImageData(0, 0, copy.width, copy.height).data;
    let drawn = 0;
    let [left, right, top, bottom] = [copy.width, -1, copy.height, -1];
    for (let i = 0; i < pixels.length; i += 4) {
      if (Math.abs(pixels[i] - 0x1d) + Math.abs(pixels[i + 1] - 0x22) + Math.abs(pixels[i + 2] - 0x30) > 24) {
        ++drawn;
        const x = (i / 4) % copy.width;
        const y = Math.floor(i / 4 / copy.width);
        [left, right, top, bottom] = [Math.min(left, x), Math.max(right, x), Math.min(top, y), Math.max(bottom, y)];
      }
    }
    return { share: drawn / (pixels.length / 4),
             extent: Math.max((right - left + 1) / copy.width, (bottom - top + 1) / copy.height) };
  });
}

// The share of the 3D view's pixels that differ from its background.
async function drawnShare(page) {
  return (await drawnShape(page)).share;
}

// W typed into one of the page's inputs leaves the view as it is; held on
// the page, it walks the view towards the level, which then fills more of
// it; Home puts back the first framing, pixel for pixel.
async function checkWalking(page) {
  const hold = async (key, ms) => {
    await page.keyboard.down(key);
    await new Promise((resolve) => setTimeout(resolve, ms));
    await page.keyboard.up(key);
    await new Promise((resolve) => setTimeout(resolve, 500));
  };
  const framed = await drawnShape(page);
  await page.focus('#file');
  await hold('KeyW', 600);
  assert.deepEqual(await drawnShape(page), framed, 'a key typed into an input does not move the view');
  await page.evaluate(() => {
    document.activeElement.blur();
    delete document.body.dataset.walked;
  });
  await hold('KeyW', 600);
  await page.waitForFunction(() => document.body.dataset.walked, { timeout: 10000 });
  const walked = await drawnShape(page);
  assert.ok(walked.share > framed.share * 1.1, `walking nearer, the level fills more of the view: ${framed.share} ` +
                                               `before, ${walked.share} after`);
  await hold('Home', 50);
  assert.deepEqual(await drawnShape(page), framed, 'Home puts back the first framing');
  console.log(`walking: ${(framed.share * 100).toFixed(1)}% of the view drawn, ${(walked.share * 100).toFixed(1)}% ` +
              'after W held for 0.6 s, the first framing back with Home; W typed into an input moved nothing');
}

// Has the page make the OBJ and material file, which it makes only when
// asked for.
async function makeObj(page) {
  const offered = await page.evaluate(() => !document.getElementById('download-obj').hidden);
  assert.ok(!offered, 'no OBJ is offered before it is asked for');
  await page.click('#make-obj');
  await page.waitForFunction(() => document.getElementById('download-mtl').hasAttribute('href') &&
                                   !document.getElementById('download-mtl').hidden, { timeout: 120000 });
}

// The three downloads equal the program's files byte for byte.
async function checkDownloads(page, expected, work) {
  const client = await page.createCDPSession();
  const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
  await makeObj(page);
  for (const kind of ['glb', 'obj', 'mtl']) {
    const bytes = await download(page, client, '#download-' + kind, downloads, expected.name + '.' + kind);
    assert.ok(bytes.equals(expected[kind]), `the downloaded ${kind} file is the program's, byte for byte`);
  }
  await client.detach();
}

async function checkSample(page, sample, expected, work, screenshot) {
  const shown = await openLevel(page, sample);
  assert.equal(shown.state, 'done', shown.status);
  assert.equal(shown.report, expected.console, 'the report is what "meshwright -v" prints');
  await checkDownloads(page, expected, work);
  const triangles = await page.evaluate(() => Number(document.getElementById('counts').dataset.triangles));
  assert.equal(triangles, expected.triangles, 'the view shows every triangle of the level');
  assert.equal(shown.counts, `${expected.vertices} vertices, ${expected.triangles} triangles, ` +
                             `${expected.materials} materials`);
  const { share, extent } = await drawnShape(page);
  assert.ok(share > 0.05, `the 3D view shows the level (${(share * 100).toFixed(1)}% of its pixels drawn)`);
  assert.ok(extent > 0.65, `the first view frames the level (it spans ${(extent * 100).toFixed(0)}% of the view)`);
  if (screenshot)
    await page.screenshot({ path: screenshot });
  console.log(`sample: report, glTF, OBJ and MTL match; "${shown.counts}"; ` +
              `${(share * 100).toFixed(0)}% of the view drawn; "${shown.status}"`);
}

// The sample with its bitmaps: chosen as files, and from the page's own
// button; then without three of them.
async function checkTexturedSample(page, sample, bitmaps, expected, work, screenshot) {
  const client = await page.createCDPSession();
  for (const how of ['chosen with its bitmaps', 'from the sample button']) {
    let shown;
    if (how === 'from the sample button') {
      await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
      await page.click('#sample');
      shown = await finished(page);
    } else {
      shown = await openLevel(page, sample, bitmaps);
    }
    assert.equal(shown.state, 'done', shown.status);
    assert.match(shown.status, /; all 12 textures found from the files chosen\.$/, how);
    const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
    const glb = await download(page, client, '#download-glb', downloads, expected.name + '.glb');
    assert.ok(glb.equals(expected.glb), `${how}: the downloaded glTF file is the program's, textures and all`);
    const share = await drawnShare(page);
    assert.ok(share > 0.05, `${how}: the textured level is drawn (${(share * 100).toFixed(1)}% of the view)`);
    console.log(`sample ${how}: glTF matches; "${shown.status}"`);
  }
  if (screenshot)
    await page.screenshot({ path: screenshot });
  // Every texture not embedded is named, missing and unreadable told apart.
  const notPng = path.join(work, 'wall_brick.bmp');
  fs.writeFileSync(notPng, Buffer.from('\x89PNG\r\n\x1a\n'));
  const rows = [
    { given: bitmaps.slice(3), status: /; 9 of 12 textures found from the files chosen, 3 missing\.$/,
      entries: ['ceiling_metal', 'ceiling_plaster', 'ceiling_wood']
        .map((name) => `not_found ${name}.bmp: missing (no file of that name among the chosen ones, in any case of ` +
                       'letters)') },
    { given: [...bitmaps.filter((bitmap) => !bitmap.endsWith('wall_brick.bmp')), notPng],
      status: /; 11 of 12 textures found from the files chosen, 1 unreadable\.$/,
      entries: ['unreadable wall_brick.bmp: wall_brick.bmp is not a bitmap the converter reads (a BMP of 1, 4, 8, 16, ' +
                '24 or 32 bits, not compressed)'] },
  ];
  for (const row of rows) {
    const shown = await openLevel(page, sample, row.given);
    assert.equal(shown.state, 'done', shown.status);
    assert.match(shown.status, row.status);
    const entries = await page.evaluate(() => [...document.querySelectorAll('#textures-list li')]
      .map((item) => `${item.dataset.outcome} ${item.textContent}`));
    assert.deepEqual(entries, row.entries);
    console.log(`sample with textures missing or unreadable: "${shown.status}"`);
  }
  await client.detach();
}

// A game folder chosen whole, its bitmaps in TEXTURES/ in upper case beside
// 300 bitmaps that no level names: each level shows textured with the
// .glb that meshwright-batch writes for the folder, having read the level
// and its 12 bitmaps alone; N shows the next level; a bitmap changed and a
// level removed after choosing are named with what to do; the .zip holds
// every level's .glb under meshwright-batch's names, byte for byte.
async function checkGame(page, sample, bitmaps, batch, work) {
  const game = path.join(work, 'game');
  fs.mkdirSync(path.join(game, 'maps', 'more'), { recursive: true });
  fs.mkdirSync(path.join(game, 'TEXTURES'));
  fs.copyFileSync(sample, path.join(game, 'maps', 'e1m1.bsp'));
  fs.copyFileSync(sample, path.join(game, 'maps', 'more', 'e1m2.bsp'));
  let bitmapBytes = 0;
  for (const bitmap of bitmaps) {
    fs.copyFileSync(bitmap, path.join(game, 'TEXTURES', path.basename(bitmap).toUpperCase()));
    bitmapBytes += fs.statSync(bitmap).size;
  }
  for (let i = 0; i < 300; ++i)
    fs.writeFileSync(path.join(game, 'TEXTURES', `unrelated_${i}.bmp`), Buffer.alloc(1000));
  const out = path.join(work, 'batch-out');
  execFileSync(batch, ['-o', out, game]);
  const expected = (level) => fs.readFileSync(path.join(out, 'maps', level));

  const client = await page.createCDPSession();
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await (await page.$('#folder')).uploadFile(game);
  let shown = await finished(page);
  assert.equal(shown.state, 'done', shown.status);
  assert.match(shown.status, /^e1m1\.bsp: .*; all 12 textures found from game\/TEXTURES\.$/);
  const read = await page.evaluate(() => Number(document.body.dataset.bytesRead));
  assert.equal(read, fs.statSync(sample).size + bitmapBytes, 'the level and its 12 bitmaps are read, nothing else');
  const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
  const glb = await download(page, client, '#download-glb', downloads, 'e1m1.glb');
  assert.ok(glb.equals(expected('e1m1.glb')), 'the .glb is the one meshwright-batch writes');
  const groups = await page.evaluate(() => [...document.querySelectorAll('#levels optgroup')]
    .map((group) => `${group.label}: ${[...group.children].map((option) => option.textContent).join(' ')}`));
  assert.deepEqual(groups, ['game/maps/: e1m1.bsp', 'game/maps/more/: e1m2.bsp']);

  // The next level by its key, with a bitmap changed on disk since.
  fs.appendFileSync(path.join(game, 'TEXTURES', 'WALL_BRICK.BMP'), 'changed');
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await page.keyboard.press('n');
  shown = await finished(page);
  assert.equal(shown.state, 'done', shown.status);
  assert.match(shown.status, /^e1m2\.bsp: .*11 of 12 textures found from game\/TEXTURES, 1 unreadable\.$/);
  const entries = await page.evaluate(() => [...document.querySelectorAll('#textures-list li')].map((item) => item.textContent));
  assert.deepEqual(entries, ['wall_brick.bmp: game/TEXTURES/WALL_BRICK.BMP can no longer be read (changed or removed ' +
                             'since it was chosen): choose it again']);

  // The .zip, the game chosen again with the bitmap as it was.
  fs.copyFileSync(path.join(bitmaps.find((bitmap) => bitmap.endsWith('wall_brick.bmp'))),
                  path.join(game, 'TEXTURES', 'WALL_BRICK.BMP'));
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await (await page.$('#folder')).uploadFile(game);
  assert.equal((await finished(page)).state, 'done');
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await page.click('#make-zip');
  shown = await finished(page);
  assert.match(shown.status, /^2 of 2 levels in game\.zip\.$/);
  const zip = path.join(downloads, 'game.zip');
  await download(page, client, '#download-all', downloads, 'game.zip');
  const listed = execFileSync('python3', ['-c', 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); ' +
    'assert z.testzip() is None; print(" ".join(i.filename for i in z.infolist()))', zip]).toString().trim();
  assert.equal(listed, 'maps/e1m1.glb maps/more/e1m2.glb');
  const entry = (name) => execFileSync('python3', ['-c', 'import sys, zipfile; ' +
    'sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))', zip, name]);
  assert.ok(entry('maps/e1m1.glb').equals(expected('e1m1.glb')), 'the .zip holds what meshwright-batch writes');

  // A level removed since it was chosen ends in words, not in a page that waits.
  fs.rmSync(path.join(game, 'maps', 'e1m1.bsp'));
  for (const key of ['n', 'p']) {
    await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
    await page.keyboard.press(key);
    await finished(page);
  }
  shown = await finished(page);
  assert.equal(shown.state, 'failed');
  assert.equal(shown.status, 'e1m1.bsp can no longer be read (changed or removed since it was chosen): choose it again');
  await client.detach();
  console.log(`a game folder: read ${read} bytes, the .glb and the .zip are meshwright-batch's; changed files named`);
}

// Several levels chosen at once are listed; the first is shown, and any
// other when picked.
async function checkSeveralLevels(page, sample, damaged, work) {
  const second = path.join(work, 'zz-damaged.bsp');
  fs.copyFileSync(damaged, second);
  const shown = await openLevel(page, sample, [second]);
  assert.equal(shown.state, 'done', shown.status);
  const listed = await page.evaluate(() => ({
    hidden: document.getElementById('levels-box').hidden,
    options: [...document.getElementById('levels').options].map((option) => option.textContent),
  }));
  assert.deepEqual(listed, { hidden: false, options: ['sample.bsp', 'zz-damaged.bsp'] });
  for (const [index, state, status] of [['1', 'failed', /^zz-damaged\.bsp: Invalid/], ['0', 'done', /^sample\.bsp: /]]) {
    await page.evaluate((value) => {
      document.body.dataset.state = 'choosing';
      const select = document.getElementById('levels');
      select.value = value;
      select.dispatchEvent(new Event('change'));
    }, index);
    const picked = await finished(page);
    assert.equal(picked.state, state, picked.status);
    assert.match(picked.status, status);
  }
  console.log('two levels chosen: both listed, each shown when picked');
}

async function checkDamaged(page, damaged, expected) {
  const shown = await openLevel(page, damaged);
  assert.equal(shown.state, 'failed', shown.status);
  assert.equal(shown.report, expected.console, 'the report is what "meshwright -v" prints');
  assert.match(shown.report, /Exception thrown: Invalid \.bsp file! Unexpected end of file!\n/);
  assert.equal(shown.status, 'damaged.bsp: Invalid .bsp file! Unexpected end of file!');
  assert.ok(!shown.resultShown, 'no download is offered');
  console.log(`damaged level: "${shown.status}", no download offered`);
}

// A worker that fails once the level is shown (as when the graphics driver
// gives up while it draws) takes its view with it: the page says the
// preview is gone, not that the level is bad, and makes the OBJ itself;
// and the .glb too, where the worker failed before handing it over.
async function checkWorkerLost(page, sample, expected, work) {
  for (const when of ['after showing', 'before handing over the .glb']) {
    const holdDownload = when !== 'after showing';
    // The page's workers' messages pass through here: a held .glb never
    // reaches the page.
    await page.evaluate((hold) => {
      window.onmessageProperty ??= Object.getOwnPropertyDescriptor(Worker.prototype, 'onmessage');
      const property = window.onmessageProperty;
      window.downloadHeld = false;
      Object.defineProperty(Worker.prototype, 'onmessage', {
        configurable: true,
        get: property.get,
        set(handler) {
          property.set.call(this, (event) => {
            if (hold && event.data.step === 'download')
              window.downloadHeld = true;
            else
              handler(event);
          });
        },
      });
    }, holdDownload);
    await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
    await (await page.$('#file')).uploadFile(sample);
    await page.waitForFunction((hold) => (hold ? window.downloadHeld : document.body.dataset.state === 'done'), {},
                               holdDownload);
    const [worker] = page.workers();
    assert.ok(worker, 'the level is converted and drawn on a worker');
    await worker.evaluate(() => self.reportError(new Error('the worker fails')));
    await page.waitForFunction(() => !document.getElementById('view-unavailable').hidden ||
                                     document.body.dataset.state === 'failed');
    const after = await finished(page);
    assert.equal(after.state, 'done', after.status);
    assert.match(after.status, /^sample\.bsp: converted in [\d.]+ s; 3D preview unavailable; downloads ready; /);
    assert.equal(after.unavailable, 'The 3D preview could not be drawn in this browser. The downloads are ready.');
    await checkDownloads(page, expected, work);
    console.log(`worker failed ${when}: "${after.status}"; the files made on the page; downloads match`);
  }
  await page.evaluate(() => {
    Object.defineProperty(Worker.prototype, 'onmessage', window.onmessageProperty);
  });
}

// A level over the preview's budget is shown simplified, and says so while
// it is: where its frames prove fast, the preview is refined, up to the
// whole level, and the note goes. Read together, the status and the view's
// count agree either way.
async function checkOverBudget(page, level, expected, work) {
  const shown = await openLevel(page, level);
  assert.equal(shown.state, 'done', shown.status);
  const { status, held } = await page.evaluate(() => ({
    status: document.getElementById('status').textContent,
    held: Number(document.getElementById('counts').dataset.triangles),
  }));
  const note = /preview simplified to ([\d,]+) of ([\d,]+) triangles; downloads are exact/.exec(status);
  if (note) {
    const [shownTriangles, triangles] = [note[1], note[2]].map((count) => Number(count.replace(/,/g, '')));
    assert.equal(triangles, expected.triangles);
    assert.equal(shownTriangles, held, 'the note says what the view holds');
    assert.ok(shownTriangles > 0 && shownTriangles < triangles, `${shownTriangles} triangles shown`);
  } else {
    assert.equal(held, expected.triangles, `without a note the view holds the whole level: ${status}`);
  }
  await checkDownloads(page, expected, work);
  const share = await drawnShare(page);
  assert.ok(share > 0.05, `the level is drawn (${(share * 100).toFixed(1)}% of the view)`);
  console.log(`over the budget: "${status}"; downloads match; ${(share * 100).toFixed(0)}% of the view drawn`);
}

async function checkWithoutWebgl(browser, address, sample, expected, work, problems) {
  const page = await browser.newPage();
  page.on('pageerror', (error) => problems.push(String(error)));
  await page.goto(address + 'index.html');
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  for (let round = 0; round < 2; ++round) {
    const shown = await openLevel(page, sample);
    assert.equal(shown.state, 'done', shown.status);
    assert.match(shown.status, /^sample\.bsp: converted in [\d.]+ s; no 3D preview in this browser; downloads ready; /);
    assert.equal(shown.unavailable, 'This browser does not draw 3D graphics here (WebGL is off or missing), so ' +
                                    'there is no preview. The downloads are ready.');
    const loaded = await page.evaluate(() => [...document.scripts].some((script) => script.src.endsWith('viewer.js')));
    assert.ok(!loaded, 'without WebGL, three.js is not even loaded');
    assert.equal(shown.report, expected.console);
    await checkDownloads(page, expected, work);
    console.log(`without WebGL: "${shown.status}"; "${shown.unavailable}"; downloads match`);
  }
}

// The browser's memory, all its processes together, in MiB: their
// proportional set sizes, so that pages they share count once.
function browserMemory(browser) {
  const pid = browser.process().pid;
  // Read from /proc rather than with ps, whose start, ten times a second,
  // would take the browser's time on a machine of two cores.
  const tree = [];
  for (const entry of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      // The parent's number follows the name, which ends in the stat's last ')'.
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      tree.push([Number(entry), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1])]);
    } catch {
      // The process ended meanwhile.
    }
  }
  const family = new Set([pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [child, parent] of tree) {
      if (family.has(parent) && !family.has(child)) {
        family.add(child);
        grew = true;
      }
    }
  }
  let kib = 0;
  for (const member of family) {
    try {
      const rollup = fs.readFileSync(`/proc/${member}/smaps_rollup`, 'utf8');
      kib += Number((/^Pss:\s+(\d+)/m.exec(rollup) || [0, 0])[1]);
    } catch {
      // The process ended meanwhile.
    }
  }
  return kib / 1024;
}

// Records the longest task on the page's thread, for measure().
function watchLongTasks() {
  window.longestTask = 0;
  new PerformanceObserver((list) => {
    for (const entry of list.getEntries())
      window.longestTask = Math.max(window.longestTask, entry.duration);
  }).observe({ type: 'longtask', buffered: true });
}

async function measure(browser, address, level, label) {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument(watchLongTasks);
  await page.goto(address + 'index.html');
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  // Chosen once the page has loaded, as a person would a moment later: its
  // worker started ahead is ready.
  await page.waitForFunction(() => ['yes', 'no'].includes(document.body.dataset.warm), { timeout: 60000 });
  // Only the tasks from choosing the file on count, not the page's loading.
  await page.evaluate(() => {
    window.longestTask = 0;
  });
  const before = browserMemory(browser);
  let peak = 0;
  const sampler = setInterval(() => {
    peak = Math.max(peak, browserMemory(browser));
  }, 100);
  const started = Date.now();
  const shown = await openLevel(page, level);
  const seconds = (Date.now() - started) / 1000;
  // A preview that draws fast is refined after its first frame: what it
  // holds once it has kept the same for three seconds (a minute at most).
  const held = () => page.evaluate(() => Number(document.getElementById('counts').dataset.triangles || 0));
  const firstHeld = await held();
  let last = firstHeld;
  for (let still = 0, waited = 0; still < 3000 && waited < 60000; waited += 500) {
    await new Promise((resolve) => setTimeout(resolve, 500));
    const now = await held();
    still = now === last ? still + 500 : 0;
    last = now;
  }
  clearInterval(sampler);
  const { firstFrame, timings, longestTask, shownTriangles, status } = await page.evaluate(() => ({
    status: document.getElementById('status').textContent,
    firstFrame: document.body.dataset.firstFrame,
    timings: document.body.dataset.timings || '',
    longestTask: window.longestTask,
    shownTriangles: Number(document.getElementById('counts').dataset.triangles || 0),
  }));
  const frameText = firstFrame ? `first frame at ${(firstFrame / 1000).toFixed(2)} s (on the worker, ms: ${timings})`
    : 'no frame';
  console.log(`${path.basename(level)} ${label}: ${shown.state} in ${seconds.toFixed(1)} s, ${frameText}; ` +
              `browser memory ${before.toFixed(0)} MiB before, peak ${peak.toFixed(0)} MiB; ` +
              `longest task ${longestTask.toFixed(0)} ms; preview holds ${firstHeld.toLocaleString('en')} ` +
              `triangles at first, ${shownTriangles.toLocaleString('en')} after; "${status}"`);
  await page.close();
  return Number(firstFrame || 0) / 1000;
}

// A scripted walk through `level` on a 1280x720 canvas at a pixel ratio of
// 1: W held for 10 seconds while the mouse, dragged, looks left and right.
// Returns the frames a second drawn while walking.
async function measureWalk(work, address, level) {
  const browser = await launch(work, ['--window-size=1400,1300']);
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1400, height: 1300, deviceScaleFactor: 1 });
    await page.goto(address + 'index.html');
    await page.addStyleTag({ content: 'main { max-width: none !important; } ' +
                                      '#view { width: 1280px !important; height: 720px !important; }' });
    await page.waitForFunction(() => ['yes', 'no'].includes(document.body.dataset.warm), { timeout: 60000 });
    const shown = await openLevel(page, level);
    // Its preview proper in place of the first frame.
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const box = await (await page.$('#view canvas')).boundingBox();
    const size = await page.evaluate(() => [document.querySelector('#view').clientWidth,
                                            document.querySelector('#view').clientHeight]);
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.keyboard.down('KeyW');
    await page.mouse.down();
    const started = Date.now();
    for (let step = 1; Date.now() - started < 10000; ++step) {
      await page.mouse.move(box.x + box.width / 2 + 200 * Math.sin(step / 10), box.y + box.height / 2, { steps: 2 });
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    await page.mouse.up();
    await page.keyboard.up('KeyW');
    await page.waitForFunction(() => document.body.dataset.walked, { timeout: 10000 });
    const walked = await page.evaluate(() => document.body.dataset.walked);
    const [frames, seconds] = /^(\d+) frames in ([\d.]+) s$/.exec(walked).slice(1).map(Number);
    console.log(`${path.basename(level)} walked on a ${size.join('x')} view: ${walked}, ` +
                `${(frames / seconds).toFixed(1)} frames a second (goal 10); "${shown.status}"`);
    return frames / seconds;
  } finally {
    await browser.close();
  }
}

// A game folder of 50 copies of `sample` in maps/, its 12 bitmaps in
// TEXTURES/ in upper case, and `unrelated` bitmaps of 3 MB that no level
// names.
function makeGame(work, sample, bitmaps, unrelated) {
  const game = fs.mkdtempSync(path.join(work, 'game-'));
  fs.mkdirSync(path.join(game, 'maps'));
  fs.mkdirSync(path.join(game, 'TEXTURES'));
  for (let i = 1; i <= 50; ++i)
    fs.copyFileSync(sample, path.join(game, 'maps', `e${Math.ceil(i / 10)}m${i}.bsp`));
  for (const bitmap of bitmaps)
    fs.copyFileSync(bitmap, path.join(game, 'TEXTURES', path.basename(bitmap).toUpperCase()));
  const noise = Buffer.alloc(3 << 20, 7);
  for (let i = 0; i < unrelated; ++i)
    fs.writeFileSync(path.join(game, 'TEXTURES', `photo_${i}.bmp`), noise);
  return game;
}

// The page over a whole game, against its goals: the levels listed within
// 1 s; the first level having read its level and bitmaps alone, and 300
// unrelated bitmaps of 3 MB adding at most 50 MiB to the browser's peak;
// the next level (N) at its first frame within 1 s; every level's .glb in
// one .zip with the browser's peak at most 200 MiB above showing one level.
async function measureGame(settings, work, address) {
  const bitmaps = fs.readdirSync(path.dirname(settings.sample)).filter((name) => name.endsWith('.bmp')).sort()
    .map((name) => path.join(path.dirname(settings.sample), name));
  const peaks = {};
  for (const unrelated of [0, 300]) {
    const game = makeGame(work, settings.sample, bitmaps, unrelated);
    const browser = await launch(work);
    try {
      const page = await browser.newPage();
      await page.goto(address + 'index.html');
      await page.waitForFunction(() => ['yes', 'no'].includes(document.body.dataset.warm), { timeout: 60000 });
      let peak = 0;
      const sampler = setInterval(() => { peak = Math.max(peak, browserMemory(browser)); }, 100);
      const started = Date.now();
      await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
      await (await page.$('#folder')).uploadFile(game);
      await page.waitForFunction(() => !document.getElementById('levels-box').hidden, { timeout: 60000 });
      const listed = (Date.now() - started) / 1000;
      const first = await finished(page);
      const shown = await page.evaluate(() => ({ read: Number(document.body.dataset.bytesRead),
                                                 frame: Number(document.body.dataset.firstFrame) }));
      const needed = fs.statSync(settings.sample).size + bitmaps.reduce((sum, bitmap) => sum + fs.statSync(bitmap).size, 0);
      peaks[unrelated] = peak;
      const switches = [];
      for (let i = 0; i < 3; ++i) {
        // A moment later, as a person would, when the worker started ahead
        // is ready.
        await page.waitForFunction(() => ['yes', 'no'].includes(document.body.dataset.warm), { timeout: 60000 });
        await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
        await page.keyboard.press('n');
        await finished(page);
        switches.push(await page.evaluate(() => Number(document.body.dataset.firstFrame) / 1000));
      }
      switches.sort((a, b) => a - b);
      const showingPeak = peak;
      const zipStarted = Date.now();
      await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
      await page.click('#make-zip');
      const zipped = await finished(page);
      clearInterval(sampler);
      console.log(`game of 50 levels with ${unrelated} unrelated bitmaps of 3 MB: listed in ${listed.toFixed(2)} s ` +
                  '(goal 1 s); first level ' + `${first.state}, first frame at ${(shown.frame / 1000).toFixed(2)} s, ` +
                  `${shown.read} bytes read of ${needed} needed (goal: equal); next level's first frame, median ` +
                  `${switches[1].toFixed(2)} s of ${switches.map((value) => value.toFixed(2)).join(', ')} (goal 1 s); ` +
                  `browser peak ${showingPeak.toFixed(0)} MiB showing levels; .zip of 50 levels in ` +
                  `${((Date.now() - zipStarted) / 1000).toFixed(1)} s, peak ${peak.toFixed(0)} MiB, ` +
                  `${(peak - showingPeak).toFixed(0)} MiB above (goal 200): "${zipped.status}"`);
    } finally {
      await browser.close();
      fs.rmSync(game, { recursive: true, force: true });
    }
  }
  console.log(`300 unrelated bitmaps of 3 MB add ${(peaks[300] - peaks[0]).toFixed(0)} MiB to the browser's peak ` +
              '(goal 50)');
}

async function main() {
  const settings = options();
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'meshwright-page-'));
  const { server, address } = await serve(settings.site);
  const browser = await launch(work);
  try {
    if (!settings.onlyMeasure)
      await checkEverything(settings, work, browser, address);
    // Each in a browser of its own, so that the pages before do not count.
    for (const level of settings.measure) {
      for (const [label, args] of [['with WebGL', []], ['without WebGL', ['--disable-webgl']]]) {
        const frames = [];
        for (let run = 0; run < settings.runs; ++run) {
          const fresh = await launch(work, args);
          try {
            frames.push(await measure(fresh, address, level, label));
          } finally {
            await fresh.close();
          }
        }
        frames.sort((a, b) => a - b);
        if (frames[0] > 0 && args.length === 0) {
          const rates = [];
          for (let run = 0; run < settings.runs; ++run)
            rates.push(await measureWalk(work, address, level));
          rates.sort((a, b) => a - b);
          console.log(`${path.basename(level)}: walking, median ${rates[rates.length >> 1].toFixed(1)} frames a ` +
                      `second of ${rates.map((rate) => rate.toFixed(1)).join(', ')} (goal 10)`);
        }
        if (frames[0] > 0)
          console.log(`${path.basename(level)} ${label}: median first frame ${frames[frames.length >> 1].toFixed(2)} s ` +
                      `of ${frames.map((frame) => frame.toFixed(2)).join(', ')}`);
      }
    }
    if (settings.measure.length > 0)
      await measureGame(settings, work, address);
  } finally {
    await browser.close();
    server.kill();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

async function checkEverything(settings, work, browser, address) {
  const sampleExpected = expectedFor(settings.converter, settings.sample, work);
  const damaged = path.join(work, 'damaged.bsp');
  fs.writeFileSync(damaged, fs.readFileSync(settings.sample).subarray(0, 100));
  const damagedExpected = expectedFor(settings.converter, damaged, work);

  const overBudget = path.join(work, 'over_preview_budget.bsp');
  execFileSync(settings.levelMaker, ['over_preview_budget', overBudget]);
  const overBudgetExpected = expectedFor(settings.converter, overBudget, work);

  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(String(error)));
  await page.goto(address + 'index.html');
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  await checkSample(page, settings.sample, sampleExpected, work, null);
  await checkWalking(page);
  const bitmaps = fs.readdirSync(path.dirname(settings.sample)).filter((name) => name.endsWith('.bmp')).sort()
    .map((name) => path.join(path.dirname(settings.sample), name));
  const texturedExpected = expectedFor(settings.converter, settings.sample, work, bitmaps);
  await checkTexturedSample(page, settings.sample, bitmaps, texturedExpected, work, settings.screenshot);
  await checkDamaged(page, damaged, damagedExpected);
  await checkSeveralLevels(page, settings.sample, damaged, work);
  await checkGame(page, settings.sample, bitmaps, path.join(path.dirname(settings.converter), 'meshwright-batch'), work);
  await checkWorkerLost(page, settings.sample, sampleExpected, work);
  await checkOverBudget(page, overBudget, overBudgetExpected, work);

  const withoutWebgl = await launch(work, ['--disable-webgl']);
  try {
    await checkWithoutWebgl(withoutWebgl, address, settings.sample, sampleExpected, work, problems);
  } finally {
    await withoutWebgl.close();
  }

  // From its folder, without a server: no worker, the page converts itself.
  const local = await browser.newPage();
  local.on('pageerror', (error) => problems.push(String(error)));
  await local.goto('file://' + path.resolve(settings.site, 'index.html'));
  const shown = await openLevel(local, settings.sample);
  assert.equal(shown.state, 'done', shown.status);
  assert.equal(shown.report, sampleExpected.console);
  console.log('opened from its folder: the sample converts and shows');
  assert.deepEqual(problems, [], 'no script errors');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
