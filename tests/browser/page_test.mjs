// The web page in a real browser: Debian's chromium, headless, driven by
// puppeteer-core. The page must make the same files as the command line,
// show how the run went, play what it made, stop when asked, and never hold
// the movie whole or reach beyond the computer.
//
//   node tests/browser/page_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE SCRATCH-FOLDER
//
// Exits 77, which CTest reports as skipped, when chromium is not installed.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { closeSync, existsSync, mkdtempSync, openSync, readFileSync, rmSync, writeFileSync, writeSync, ftruncateSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { unzipSync } from 'fflate';
import { CHROMIUM, startBrowser, openPage, convertIn, shown, rendererPeakMiB, convertNatively, downloaded } from './browser.mjs';

const [pagePath, converter, makeDemoMovie, scratchRoot] = process.argv.slice(2);
if (!existsSync(CHROMIUM)) {
  console.log(`skipped: ${CHROMIUM} is not installed (Debian package chromium)`);
  process.exit(77);
}
const scratch = mkdtempSync(scratchRoot + '/page-test-');
after(() => rmSync(scratch, { recursive: true, force: true }));

const demoPath = scratch + '/demo.mov';
execFileSync(makeDemoMovie, [demoPath]);
const demo = readFileSync(demoPath);

// A chunk head: type, then the 32-bit little-endian length.
function chunkHead(type, length) {
  const head = Buffer.alloc(5);
  head[0] = type;
  head.writeInt32LE(length, 1);
  return head;
}

// A movie of `bytes`, then a hole up to `size` bytes, which takes no disk.
function writeMovie(name, bytes, size = bytes.length) {
  const path = scratch + '/' + name;
  const fd = openSync(path, 'w');
  writeSync(fd, bytes);
  ftruncateSync(fd, size);
  closeSync(fd);
  return path;
}

let folders = 0;
function native(moviePath) {
  const folder = mkdtempSync(scratch + '/native-');
  folders += 1;
  return convertNatively(converter, moviePath, folder);
}

// The .zip the page offers, unpacked.
async function downloadZip(page, expectedName) {
  const folder = mkdtempSync(scratch + '/download-');
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  await page.click('#download');
  const zip = await downloaded(folder + '/' + expectedName);
  return new Map(Object.entries(unzipSync(new Uint8Array(zip))).map(([name, bytes]) => [name, Buffer.from(bytes)]));
}

function expectSameFiles(got, want, what) {
  assert.deepEqual([...got.keys()].sort(), [...want.keys()].sort(), what + ': file names');
  for (const [name, bytes] of want) assert.ok(got.get(name).equals(bytes), `${what}: ${name} differs`);
}

// A hang fails the test.
const LIMIT = { timeout: 180000 };
const browser = await startBrowser();
after(() => browser.close());
const foreign = [];
const nothingForeign = () => assert.deepEqual(foreign.splice(0), [], 'requests beyond file:, blob: and data:');

test('the demo and damaged movies give the command line\'s files, messages and statuses', LIMIT, async () => {
  const movies = [
    { name: 'demo.mov', path: demoPath, status: 0 },
    { name: 'short.mov', path: writeMovie('short.mov', demo.subarray(0, 10)), status: 2 },
    { name: 'cut.mov', path: writeMovie('cut.mov', demo.subarray(0, 200000)), status: 2 },
    { name: 'negative.mov', path: writeMovie('negative.mov', Buffer.concat([demo, chunkHead(2, -1)])), status: 2 },
    // Another kind of file under any name: the first chunk is beyond use.
    { name: 'clip.mp4', path: writeMovie('clip.mp4', Buffer.concat([Buffer.alloc(32), chunkHead(0, 1711800320), Buffer.alloc(100)])), status: 2 },
  ];
  for (const movie of movies) {
    const page = await openPage(browser, pagePath, foreign);
    await convertIn(page, movie.path);
    const seen = await shown(page);
    const want = native(movie.path);
    assert.equal(want.status, movie.status, movie.name);
    assert.equal(seen.status, want.status, movie.name);
    assert.equal(seen.outcome, `${movie.status === 0 ? 'Complete' : 'Damaged'} (status ${want.status})`, movie.name);
    assert.equal(seen.messages, want.err, movie.name + ': the messages');
    const images = [...want.files.keys()].filter((name) => name.endsWith('.tga')).length;
    assert.equal(seen.pictures, 'Pictures written: ' + images, movie.name);
    if (movie.status === 0) assert.equal(seen.progress, 1, movie.name + ': progress at its end');
    expectSameFiles(await downloadZip(page, movie.name.replace(/\.[^.]*$/, '') + '.zip'), want.files, movie.name);
    if (movie.name === 'clip.mp4') assert.match(seen.messages, /; BOOK\.MOV may not be a movie of this kind\n$/);
    if (movie.name === 'demo.mov' && process.env.PAGE_SCREENSHOT) {
      await page.screenshot({ path: process.env.PAGE_SCREENSHOT, fullPage: true });
    }
    await page.close();
  }
  nothingForeign();
});

test('the preview shows the chosen picture, from the keyboard too', LIMIT, async () => {
  const page = await openPage(browser, pagePath, foreign);
  await convertIn(page, demoPath);
  const want = native(demoPath);
  const rgbOf = (tga) => {
    const rgb = [];
    for (let i = 0; i < 320 * 200; i++) {
      const entry = 18 + 3 * tga[18 + 768 + i];
      rgb.push(tga[entry + 2], tga[entry + 1], tga[entry]);
    }
    return rgb;
  };
  const canvasRgb = () => page.evaluate(() => {
    const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 200).data;
    return Array.from(data).filter((_, i) => i % 4 !== 3);
  });
  await page.$eval('#picture', (slider) => {
    slider.value = '30';
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForFunction(() => document.getElementById('picture-number').textContent === '31 of 90');
  assert.deepEqual(await canvasRgb(), rgbOf(want.files.get('00000030.tga')), 'picture 30');
  await page.focus('#picture');
  await page.keyboard.press('ArrowRight');
  await page.waitForFunction(() => document.getElementById('picture-number').textContent === '32 of 90');
  assert.deepEqual(await canvasRgb(), rgbOf(want.files.get('00000031.tga')), 'picture 31, by the arrow key');
  // Every control has a name that says what it does.
  const unnamed = await page.evaluate(() => [...document.querySelectorAll('button, input, progress')]
    .filter((control) => !(control.labels && control.labels.length > 0) && control.textContent.trim() === '')
    .map((control) => control.id));
  assert.deepEqual(unnamed, []);
  // Play runs on by itself at the movie's rate, 15 pictures a second.
  await page.$eval('#picture', (slider) => {
    slider.value = '0';
    slider.dispatchEvent(new Event('input'));
  });
  await page.click('#play');
  await new Promise((resolve) => setTimeout(resolve, 1000));
  await page.click('#pause');
  const reached = Number(await page.$eval('#picture', (slider) => slider.value));
  assert.ok(reached >= 8 && reached <= 25, 'a second of playing reached picture ' + reached);
  await page.close();
  nothingForeign();
});

test('Stop inside a long sound chunk ends the run within a second, with BOOK.WAV finished', LIMIT, async () => {
  const LONG = 200 << 20;
  const path = writeMovie('long.mov', Buffer.concat([demo, chunkHead(2, LONG)]), demo.length + 5 + LONG);
  const page = await openPage(browser, pagePath, foreign);
  await (await page.$('#movie')).uploadFile(path);
  const inside = (demo.length + (LONG >> 4)) / (demo.length + 5 + LONG);
  await page.waitForFunction((share) => document.getElementById('progress').value > share, { timeout: 60000 }, inside);
  const asked = Date.now();
  await page.click('#stop');
  await page.waitForFunction(() => document.getElementById('outcome').textContent.startsWith('Stopped'), { timeout: 10000 });
  const ms = Date.now() - asked;
  console.log(`Stop ended the run in ${ms} ms`);
  assert.ok(ms < 1000, `Stop took ${ms} ms`);
  const seen = await shown(page);
  assert.equal(seen.outcome, 'Stopped (status 130)');
  assert.match(seen.messages, /movie-extract: interrupted by the Stop button; BOOK\.WAV holds the sound copied so far\n$/);
  const files = await downloadZip(page, 'long.zip');
  const wav = files.get('BOOK.WAV');
  const samples = wav.length - 44;
  assert.equal(wav.readUInt32LE(40), samples, 'the header states the samples in the file');
  const demoSamples = native(demoPath).files.get('BOOK.WAV').length - 44;
  assert.ok(samples > demoSamples && samples < demoSamples + LONG, `${samples} samples`);
  assert.equal(files.size, 91);
  await page.close();
  nothingForeign();
});

test('served by a web server, it writes the files into the folder chosen first', LIMIT, async (t) => {
  // A folder the browser gives (the origin's private file system) stands for
  // the one the user would pick, which a headless browser cannot show.
  const server = createServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html' });
    response.end(readFileSync(pagePath));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  t.after(() => server.close());
  const address = `http://127.0.0.1:${server.address().port}/movie-extract.html`;
  const page = await browser.newPage();
  page.on('request', (request) => {
    if (request.url() !== address && !/^(blob|data):/.test(request.url())) foreign.push(request.url());
  });
  page.on('pageerror', (error) => foreign.push('page error: ' + error.message));
  await page.evaluateOnNewDocument(() => {
    window.showDirectoryPicker = () => navigator.storage.getDirectory();
  });
  await page.goto(address);
  assert.equal(await page.$eval('#folder-offer', (offer) => offer.hidden), false, 'the page offers a folder');
  await page.click('#folder');
  await page.waitForFunction(() => document.getElementById('folder-name').textContent.startsWith('The files go'));
  await convertIn(page, demoPath);
  assert.equal((await shown(page)).outcome, 'Complete (status 0)');
  assert.equal(await page.$eval('#download', (button) => button.disabled), true, 'no .zip is kept');
  const written = await page.evaluate(async () => {
    const folder = await navigator.storage.getDirectory();
    const files = {};
    for await (const [name, handle] of folder.entries()) {
      files[name] = Array.from(new Uint8Array(await (await handle.getFile()).arrayBuffer()));
    }
    return files;
  });
  const got = new Map(Object.entries(written).map(([name, bytes]) => [name, Buffer.from(bytes)]));
  expectSameFiles(got, native(demoPath).files, 'the folder');
  // The preview reads its pictures back from the folder.
  await page.$eval('#picture', (slider) => {
    slider.value = '45';
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForFunction(() => document.getElementById('picture-number').textContent === '46 of 90');
  await page.close();
  nothingForeign();
});

test('a 2 GiB movie converts without the page ever holding it', LIMIT, async (t) => {
  const skip = 0x7FFFFFF0;
  const head = Buffer.concat([Buffer.alloc(32), chunkHead(9, skip)]);
  const rest = demo.subarray(32);
  const path = scratch + '/big.mov';
  const fd = openSync(path, 'w');
  writeSync(fd, head);
  writeSync(fd, rest, 0, rest.length, head.length + skip);
  closeSync(fd);
  // A browser of its own, so that the peak is this run's.
  const own = await startBrowser();
  t.after(() => own.close());
  const page = await openPage(own, pagePath, foreign);
  await convertIn(page, path);
  const seen = await shown(page);
  assert.equal(seen.outcome, 'Complete (status 0)');
  const peak = rendererPeakMiB(own);
  const converterMiB = Number(await page.$eval('#outcome', (outcome) => outcome.dataset.converterMemory)) / (1 << 20);
  console.log(`peak resident size of the page's renderer over the run: ${peak.toFixed(0)} MiB; ` +
              `the converter's own memory: ${converterMiB} MiB`);
  assert.ok(peak > 0 && peak < 300, `peak ${peak} MiB`);
  assert.ok(converterMiB <= 8, `the converter grew to ${converterMiB} MiB`);
  const want = native(path);
  expectSameFiles(await downloadZip(page, 'big.zip'), want.files, 'big.mov');
  nothingForeign();
});
