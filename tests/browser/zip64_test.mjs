// The page's .zip past both limits of the plain zip format: more than 65,535
// files and more than 4 GiB, from a 66,300-picture movie, in chromium. The
// .zip's central directory must list every file with the command line's size
// and CRC-32; it is read straight from the downloaded file, not unpacked.
// It takes minutes, and has a CTest label of its own, zip64.
//
//   node tests/browser/zip64_test.mjs PAGE.html CONVERTER MOVIE-BENCH SCRATCH-FOLDER
//
// Exits 77, which CTest reports as skipped, when chromium is not installed.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { statSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { scratchWithDemo, skipUnlessInstalled, convertIn, downloadTo, nativeSizesAndCrcs, openPage, shown, startBrowser, zipDirectory } from './browser.mjs';

const PICTURES = 66300;
const [pagePath, converter, movieBench, scratchRoot] = process.argv.slice(2);
skipUnlessInstalled('chromium');
const { scratch } = scratchWithDemo(scratchRoot, 'zip64-test', null, after);
test(`a .zip of ${PICTURES} pictures, over 65,535 files and 4 GiB, lists every file as the command line wrote it`,
     { timeout: 1800000 }, async () => {
  const movie = scratch + '/long.mov';
  execFileSync(movieBench, ['--movie-only', movie, String(PICTURES), 'band'], { stdio: 'ignore' });
  const want = nativeSizesAndCrcs(converter, movie, scratch + '/native');
  assert.equal(want.size, PICTURES + 1);

  const browser = await startBrowser('chromium');
  try {
    const foreign = [];
    const page = await openPage(browser, pagePath, foreign);
    const began = Date.now();
    await convertIn(page, movie, 1200000);
    const converted = Date.now();
    assert.match((await shown(page)).outcome, new RegExp(`^Complete: ${PICTURES} pictures and \\d+\\.\\d s of sound$`));
    // A .zip that fails, or never comes, says what the page said instead.
    const said = () => page.evaluate(() => ['outcome', 'saving-text'].map((id) => document.getElementById(id).textContent).join('; '));
    const failed = page.waitForFunction(() => document.getElementById('outcome').textContent.startsWith('Failed'), { timeout: 0, polling: 1000 })
      .then(() => { throw new Error('no .zip'); });
    const zip = await Promise.race([downloadTo(page, '#download', 'long.zip', scratch, 1200000), failed])
      .catch(async (error) => { throw new Error(`${error.message}; the page: ${await said()}`); });
    console.log(`converted in ${((converted - began) / 1000).toFixed(0)} s, the .zip of ` +
                `${(statSync(zip).size / 2 ** 30).toFixed(2)} GiB saved ${((Date.now() - converted) / 1000).toFixed(0)} s later`);
    assert.ok(statSync(zip).size > 2 ** 32, 'the .zip is over 4 GiB');
    const listed = zipDirectory(zip);
    assert.equal(listed.size, want.size, 'the files listed');
    for (const [name, file] of want) assert.deepEqual(listed.get(name), file, name);
    assert.deepEqual(foreign, []);
  } finally {
    await browser.close();
  }
});
