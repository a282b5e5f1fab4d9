// Converts every level in a folder, and the sample, to binary glTF and to
// glTF's JSON form with the Linux program, with the bitmaps of the level folder (and the sample's)
// beside the outputs, and has the Khronos glTF validator check each file:
// any error or warning fails; infos are listed.
//   node validate_glb.cjs CONVERTER LEVEL_FOLDER WORK_FOLDER SAMPLE
const { spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function main() {
  const [converter, levelFolder, workFolder, sample] = process.argv.slice(2);
  fs.mkdirSync(workFolder, { recursive: true });
  const levels = fs.readdirSync(levelFolder).filter((name) => name.endsWith('.bsp'))
    .map((name) => path.join(levelFolder, name));
  levels.push(sample);
  // Names as bytes: some bitmaps' names are not UTF-8.
  const inside = (folder, name) => Buffer.concat([Buffer.from(folder + path.sep), name]);
  for (const folder of [levelFolder, path.dirname(sample)]) {
    for (const name of fs.readdirSync(folder, { encoding: 'buffer' })
      .filter((name) => name.toString('latin1').toLowerCase().endsWith('.bmp')))
      fs.copyFileSync(inside(folder, name), inside(workFolder, name));
  }
  let failed = 0;
  const outputs = levels.flatMap((level) => ['.glb', '.gltf'].map((form) => [level, form]));
  for (const [level, form] of outputs) {
    const output = path.join(workFolder, path.basename(level, '.bsp') + form);
    const run = spawnSync(converter, [level, output], { encoding: 'utf8' });
    if (run.status !== 0) {
      console.log(`${level}: the converter failed with status ${run.status}: ${run.stdout}`);
      failed++;
      continue;
    }
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(output)));
    const { numErrors, numWarnings, numInfos, messages } = report.issues;
    console.log(`${path.basename(output)}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos`);
    for (const message of messages) {
      const severity = ['error', 'warning', 'info', 'hint'][message.severity];
      console.log(`  ${severity} ${message.code} at ${message.pointer || message.offset}: ${message.message}`);
    }
    if (numErrors > 0 || numWarnings > 0)
      failed++;
  }
  console.log(`${outputs.length - failed} passed, ${failed} failed`);
  process.exit(failed > 0 ? 1 : 0);
}

main().catch((error) => {
  console.log(error);
  process.exit(1);
});
