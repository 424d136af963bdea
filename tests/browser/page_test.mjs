// The web page in a real browser: Debian's chromium or Firefox ESR,
// headless, driven by puppeteer-core. The page must make the same files as
// the command line, show how the run went, play what it made, stop when
// asked, save where the user chose, say so when it cannot, and never hold
// the movie or the outputs whole or reach beyond the computer.
//
//   node tests/browser/page_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE SCRATCH-FOLDER [chromium|firefox]
//
// Exits 77, which CTest reports as skipped, when the browser is not installed.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { closeSync, existsSync, mkdtempSync, openSync, readFileSync, rmSync, writeFileSync, writeSync, ftruncateSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { unzipSync } from 'fflate';
import { BROWSERS, startBrowser, openPage, convertIn, shown, rendererPeakMiB, convertNatively, download,
         chunkHead, writeMovieIn, rgbOf } from './browser.mjs';

const [pagePath, converter, makeDemoMovie, scratchRoot, engine = 'chromium'] = process.argv.slice(2);
if (!existsSync(BROWSERS[engine].path)) {
  console.log(`skipped: ${BROWSERS[engine].path} is not installed (Debian package ${BROWSERS[engine].package})`);
  process.exit(77);
}
const scratch = mkdtempSync(scratchRoot + '/page-test-');
after(() => rmSync(scratch, { recursive: true, force: true }));

const demoPath = scratch + '/demo.mov';
execFileSync(makeDemoMovie, [demoPath]);
const demo = readFileSync(demoPath);

const writeMovie = (name, bytes, size) => writeMovieIn(scratch, name, bytes, size);

let folders = 0;
function native(moviePath) {
  const folder = mkdtempSync(scratch + '/native-');
  folders += 1;
  return convertNatively(converter, moviePath, folder);
}

// The .zip the page offers, unpacked.
function unzipped(zip) {
  return new Map(Object.entries(unzipSync(new Uint8Array(zip))).map(([name, bytes]) => [name, Buffer.from(bytes)]));
}

async function downloadZip(page, expectedName) {
  return unzipped(await download(page, '#download', expectedName, mkdtempSync(scratch + '/download-')));
}

function expectSameFiles(got, want, what) {
  assert.deepEqual([...got.keys()].sort(), [...want.keys()].sort(), what + ': file names');
  for (const [name, bytes] of want) assert.ok(got.get(name).equals(bytes), `${what}: ${name} differs`);
}

// The preview's pixels, as red, green, blue.
const canvasRgb = (page) => page.evaluate(() => {
  const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 200).data;
  return Array.from(data).filter((_, i) => i % 4 !== 3);
});

// A hang fails the test.
const LIMIT = { timeout: 180000 };
const browser = await startBrowser(engine);
after(() => browser.close());
const chromiumOnly = engine === 'chromium' ? {} : { skip: 'the browser has no pickers of files and folders' };
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
    if (movie.name === 'demo.mov' && engine === 'chromium' && process.env.PAGE_SCREENSHOT) {
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
  await page.$eval('#picture', (slider) => {
    slider.value = '30';
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForFunction(() => document.getElementById('picture-number').textContent === '31 of 90');
  assert.deepEqual(await canvasRgb(page), rgbOf(want.files.get('00000030.tga')), 'picture 30');
  await page.focus('#picture');
  await page.keyboard.press('ArrowRight');
  await page.waitForFunction(() => document.getElementById('picture-number').textContent === '32 of 90');
  assert.deepEqual(await canvasRgb(page), rgbOf(want.files.get('00000031.tga')), 'picture 31, by the arrow key');
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

test('where the browser has no pickers, the page offers none', async (t) => {
  if (engine === 'chromium') return t.skip('chromium has them');
  const page = await openPage(browser, pagePath, foreign);
  assert.equal(await page.$eval('#place-offer', (offer) => offer.hidden), true);
  await page.close();
});

// The places a user would pick, which a headless browser cannot show: a
// folder or a file of the origin's private file system, or ones that fail
// as a full disk does part of the way.
const PLACES = [
  { name: 'a folder', button: '#folder', outcome: 'Complete (status 0)',
    pick: `window.showDirectoryPicker = async () =>
             (await navigator.storage.getDirectory()).getDirectoryHandle('folder', { create: true });` },
  { name: 'a .zip', button: '#zip-file', outcome: 'Complete (status 0)',
    pick: `window.showSaveFilePicker = async () =>
             (await navigator.storage.getDirectory()).getFileHandle('saved.zip', { create: true });` },
  { name: 'a folder that fills up', button: '#folder', outcome: 'Failed (status 1)',
    failure: /^00000020\.tga: QuotaExceededError: The disk is full$/m,
    pick: `window.showDirectoryPicker = async () => {
             const folder = await navigator.storage.getDirectory();
             let files = 0;
             return { name: 'full', getFileHandle: async (name, options) => {
               if (++files > 20) throw new DOMException('The disk is full', 'QuotaExceededError');
               return folder.getFileHandle(name, options);
             } };
           };` },
  { name: 'a .zip on a disk that fills up', button: '#zip-file', outcome: 'Failed (status 1)',
    failure: /^full\.zip: QuotaExceededError: The disk is full$/m,
    pick: `window.showSaveFilePicker = async () => {
             let written = 0;
             return { name: 'full.zip', createWritable: async () => new WritableStream({ write(chunk) {
               written += chunk.byteLength;
               if (written > 1000000) throw new DOMException('The disk is full', 'QuotaExceededError');
             } }) };
           };` },
];

test('served by a web server, it saves into the place chosen first, and says when it cannot', { ...LIMIT, ...chromiumOnly }, async (t) => {
  const server = createServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html' });
    response.end(readFileSync(pagePath));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  t.after(() => server.close());
  const address = `http://127.0.0.1:${server.address().port}/movie-extract.html`;
  const want = native(demoPath).files;
  for (const place of PLACES) {
    const page = await browser.newPage();
    page.on('request', (request) => {
      if (request.url() !== address && !/^(blob|data):/.test(request.url())) foreign.push(request.url());
    });
    page.on('pageerror', (error) => foreign.push('page error: ' + place.name + ': ' + error.message));
    await page.evaluateOnNewDocument(place.pick);
    await page.goto(address);
    await page.click(place.button);
    await page.waitForFunction(() => document.getElementById('place-name').textContent.startsWith('The files go'));
    await convertIn(page, demoPath);
    const seen = await shown(page);
    assert.equal(seen.outcome, place.outcome, place.name);
    assert.equal(await page.$eval('#download', (button) => button.disabled), true, place.name + ': no .zip is kept');
    if (place.failure) {
      assert.match(seen.messages, place.failure, place.name);
      await page.close();
      continue;
    }
    const saved = await page.evaluate(async (zip) => {
      const root = await navigator.storage.getDirectory();
      const files = {};
      if (zip) {
        files.zip = Array.from(new Uint8Array(await (await (await root.getFileHandle('saved.zip')).getFile()).arrayBuffer()));
        return files;
      }
      for await (const [name, handle] of (await root.getDirectoryHandle('folder')).entries()) {
        files[name] = Array.from(new Uint8Array(await (await handle.getFile()).arrayBuffer()));
      }
      return files;
    }, place.button === '#zip-file');
    const got = saved.zip ? unzipped(Buffer.from(saved.zip))
      : new Map(Object.entries(saved).map(([name, bytes]) => [name, Buffer.from(bytes)]));
    expectSameFiles(got, want, place.name);
    // The preview reads its pictures back from what was saved.
    await page.$eval('#picture', (slider) => {
      slider.value = '45';
      slider.dispatchEvent(new Event('input'));
    });
    await page.waitForFunction(() => document.getElementById('picture-number').textContent === '46 of 90');
    assert.deepEqual(await canvasRgb(page), rgbOf(want.get('00000045.tga')), place.name + ': picture 45');
    await page.close();
  }
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
  const own = await startBrowser(engine);
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
