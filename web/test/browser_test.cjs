// Tests the page in Debian's Chromium, driven headless by puppeteer-core,
// against the Linux program's own output:
//   - the sample level, chosen through the file input, gives the report that
//     "meshwright -v" prints, and downloads that equal its binary glTF, OBJ
//     and MTL files byte for byte; the 3D view, read from the glTF file, has
//     the level's triangles and is not blank;
//   - a damaged level shows the program's message and offers no download;
//   - the page does the same opened from its folder (file://), without a server.
// The site is served on 127.0.0.1 with python3 -m http.server.
//
//   node browser_test.cjs --site DIR --converter MESHWRIGHT --sample SAMPLE.bsp
//                         [--screenshot OUT.png] [--measure LEVEL.bsp]
// --screenshot saves the sample's preview; --measure converts a further level
// and prints the time it took and the browser's memory, without checking.
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
    measure: absolute('--measure'),
  };
}

// What the command-line program prints and writes for `level`, converted to
// NAME.obj as the page names its files.
function expectedFor(converter, level, work) {
  const folder = fs.mkdtempSync(path.join(work, 'cli-'));
  const name = path.basename(level).replace(/\.[^.]*$/, '');
  fs.copyFileSync(level, path.join(folder, path.basename(level)));
  let console;
  let status = 0;
  try {
    console = execFileSync(converter, ['-v', path.basename(level), name + '.obj'], { cwd: folder }).toString('latin1');
  } catch (error) {
    console = error.stdout.toString('latin1');
    status = error.status;
  }
  if (status === 0)
    execFileSync(converter, [path.basename(level), name + '.glb'], { cwd: folder });
  const read = (file) => (fs.existsSync(path.join(folder, file)) ? fs.readFileSync(path.join(folder, file)) : null);
  const triangles = [...console.matchAll(/num triangles: (\d+)/g)].reduce((sum, match) => sum + Number(match[1]), 0);
  return { console, status, name, triangles, glb: read(name + '.glb'), obj: read(name + '.obj'), mtl: read(name + '.mtl') };
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

async function launch(work) {
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(work, 'profile-')),
    args: [
      '--no-sandbox', '--no-first-run', '--disable-quic', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--window-size=1000,1100',
    ],
    defaultViewport: { width: 1000, height: 1100 },
  });
}

// Opens a level through the file input and waits until the page is done
// with it; returns the page's state and report.
async function openLevel(page, level) {
  const input = await page.$('#file');
  await input.uploadFile(level);
  await page.waitForFunction(() => ['done', 'failed'].includes(document.body.dataset.state), { timeout: 240000 });
  return page.evaluate(() => ({
    state: document.body.dataset.state,
    status: document.getElementById('status').textContent,
    report: document.getElementById('report').textContent,
    resultShown: !document.getElementById('result').hidden,
  }));
}

async function download(page, client, link, folder, fileName) {
  const target = path.join(folder, fileName);
  await client.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  await page.click(link);
  for (let waited = 0; waited < 30000; waited += 100) {
    if (fs.existsSync(target) && !fs.existsSync(target + '.crdownload'))
      return fs.readFileSync(target);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error('no download of ' + fileName);
}

// The share of the 3D view's pixels that differ from its background.
function drawnShare(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('#view canvas');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const pixels = context.getImageData(0, 0, copy.width, copy.height).data;
    let drawn = 0;
    for (let i = 0; i < pixels.length; i += 4) {
      if (Math.abs(pixels[i] - 0x1d) + Math.abs(pixels[i + 1] - 0x22) + Math.abs(pixels[i + 2] - 0x30) > 24)
        ++drawn;
    }
    return drawn / (pixels.length / 4);
  });
}

async function checkSample(page, client, sample, expected, work, screenshot) {
  const shown = await openLevel(page, sample);
  assert.equal(shown.state, 'done', shown.status);
  assert.equal(shown.report, expected.console, 'the report is what "meshwright -v" prints');
  const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
  const glb = await download(page, client, '#download-glb', downloads, expected.name + '.glb');
  assert.ok(glb.equals(expected.glb), 'the downloaded glTF file is the program\'s, byte for byte');
  const triangles = await page.evaluate(() => Number(document.getElementById('counts').dataset.triangles));
  assert.equal(triangles, expected.triangles, 'the view shows every triangle of the level');
  const obj = await download(page, client, '#download-obj', downloads, expected.name + '.obj');
  const mtl = await download(page, client, '#download-mtl', downloads, expected.name + '.mtl');
  assert.ok(obj.equals(expected.obj), 'the downloaded OBJ is the program\'s, byte for byte');
  assert.ok(mtl.equals(expected.mtl), 'the downloaded MTL is the program\'s, byte for byte');
  const share = await drawnShare(page);
  assert.ok(share > 0.05, `the 3D view shows the level (${(share * 100).toFixed(1)}% of its pixels drawn)`);
  if (screenshot)
    await page.screenshot({ path: screenshot });
  console.log(`sample: report, glTF (${glb.length} bytes), OBJ (${obj.length} bytes) and MTL match; ` +
              `${triangles} triangles shown; ${(share * 100).toFixed(0)}% of the view drawn; "${shown.status}"`);
}

async function checkDamaged(page, damaged, expected) {
  const shown = await openLevel(page, damaged);
  assert.equal(shown.state, 'failed', shown.status);
  assert.equal(shown.report, expected.console, 'the report is what "meshwright -v" prints');
  assert.match(shown.report, /Exception thrown: Invalid \.bsp file! Unexpected end of file!\n/);
  assert.ok(!shown.resultShown, 'no download is offered');
  console.log(`damaged level: "${shown.status}", no download offered`);
}

// The browser's memory, all its processes together, in MiB: their
// proportional set sizes, so that pages they share count once.
function browserMemory(browser) {
  const pid = browser.process().pid;
  const tree = execFileSync('ps', ['-e', '-o', 'pid=,ppid=']).toString().trim().split('\n')
    .map((line) => line.trim().split(/\s+/).map(Number));
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

async function measure(browser, address, level) {
  const page = await browser.newPage();
  await page.goto(address + 'index.html');
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  const before = browserMemory(browser);
  let peak = 0;
  const sampler = setInterval(() => {
    peak = Math.max(peak, browserMemory(browser));
  }, 100);
  const started = Date.now();
  const shown = await openLevel(page, level);
  const seconds = (Date.now() - started) / 1000;
  clearInterval(sampler);
  console.log(`${path.basename(level)}: ${shown.state} in ${seconds.toFixed(1)} s ("${shown.status}"); ` +
              `browser memory ${before.toFixed(0)} MiB before, peak ${peak.toFixed(0)} MiB, ` +
              `now ${browserMemory(browser).toFixed(0)} MiB`);
}

async function main() {
  const settings = options();
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'meshwright-page-'));
  const { server, address } = await serve(settings.site);
  const browser = await launch(work);
  try {
    const sampleExpected = expectedFor(settings.converter, settings.sample, work);
    const damaged = path.join(work, 'damaged.bsp');
    fs.writeFileSync(damaged, fs.readFileSync(settings.sample).subarray(0, 100));
    const damagedExpected = expectedFor(settings.converter, damaged, work);

    const page = await browser.newPage();
    const client = await page.createCDPSession();
    const problems = [];
    page.on('pageerror', (error) => problems.push(String(error)));
    await page.goto(address + 'index.html');
    await page.waitForFunction(() => document.body.dataset.state === 'ready');
    await checkSample(page, client, settings.sample, sampleExpected, work, settings.screenshot);
    await checkDamaged(page, damaged, damagedExpected);

    // From its folder, without a server: no worker, the page converts itself.
    const local = await browser.newPage();
    local.on('pageerror', (error) => problems.push(String(error)));
    await local.goto('file://' + path.resolve(settings.site, 'index.html'));
    const shown = await openLevel(local, settings.sample);
    assert.equal(shown.state, 'done', shown.status);
    assert.equal(shown.report, sampleExpected.console);
    console.log('opened from its folder: the sample converts and shows');
    assert.deepEqual(problems, [], 'no script errors');

    if (settings.measure) {
      // In a browser of its own, so that the pages above do not count.
      const fresh = await launch(work);
      try {
        await measure(fresh, address, settings.measure);
      } finally {
        await fresh.close();
      }
    }
  } finally {
    await browser.close();
    server.kill();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
