// The web page in a real browser: Debian's chromium or Firefox ESR,
// headless, driven by puppeteer-core. The page must make the same files as
// the command line, show how the run went, play what it made, stop when
// asked, save where the user chose, say so when it cannot, and never hold
// the movie or the outputs whole or reach beyond the computer.
//
//   node tests/browser/page_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE MOVIE-BENCH SCRATCH-FOLDER [chromium|firefox]
//
// Exits 77, which CTest reports as skipped, when the browser is not installed.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { closeSync, mkdtempSync, openSync, readFileSync, readdirSync, rmSync, statSync, truncateSync, writeFileSync, writeSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { scratchWithDemo, skipUnlessInstalled, servePage, startBrowser, unzipped, openPage, convertIn, shown, rendererPeakMiB, convertNatively, download, downloadTo,
         nativeSizesAndCrcs, zipDirectory,
         chunkHead, writeMovieIn, rgbOf } from './browser.mjs';

const [pagePath, converter, makeDemoMovie, movieBench, scratchRoot, engine = 'chromium'] = process.argv.slice(2);
skipUnlessInstalled(engine);
const { scratch, demoPath, demo } = scratchWithDemo(scratchRoot, 'page-test', makeDemoMovie, after);

const writeMovie = (name, bytes, size) => writeMovieIn(scratch, name, bytes, size);

let folders = 0;
function native(moviePath) {
  const folder = mkdtempSync(scratch + '/native-');
  folders += 1;
  return convertNatively(converter, moviePath, folder);
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

// Screenshots of the page's states, for the documents, where asked.
const screenshot = async (page, state) => {
  if (engine === 'chromium' && process.env.PAGE_SCREENSHOTS) {
    await page.screenshot({ path: `${process.env.PAGE_SCREENSHOTS}/page-${state}.png`, fullPage: true });
  }
};

// Whether the progress bar is drawn full: the last pixels inside it have
// the colour of its first (ImageMagick reads the screenshot).
const drawnFull = async (page) => {
  const box = await (await page.$('#progress')).boundingBox();
  const shot = await page.screenshot({ clip: { x: box.x + 2, y: box.y + box.height / 2, width: box.width - 4, height: 1 } });
  const rgb = execFileSync('convert', ['png:-', '-depth', '8', 'rgb:-'], { input: shot });
  return rgb.subarray(0, 3).equals(rgb.subarray(rgb.length - 3));
};

test('movies, damaged ones and other files give the command line\'s files and messages, under headlines in words, one after another in one page', LIMIT, async () => {
  const movies = [
    { name: 'demo.mov', path: demoPath, status: 0, state: 'complete',
      headline: 'Complete: 90 pictures and 6.0 s of sound' },
    { name: 'short.mov', path: writeMovie('short.mov', demo.subarray(0, 10)), status: 2, state: 'not-a-movie',
      headline: 'Not a movie of this kind, or cut off before its first chunk: nothing was made' },
    { name: 'cut short.v2.mov', path: writeMovie('cut short.v2.mov', demo.subarray(0, 200000)), status: 2, state: 'damaged',
      headline: 'Damaged at byte 185572: 46 pictures and 3.1 s of sound before it were kept' },
    { name: 'BOOK', path: writeMovie('BOOK', Buffer.concat([demo, chunkHead(2, -1)])), status: 2,
      headline: `Damaged at byte ${demo.length}: 90 pictures and 6.0 s of sound before it were kept` },
    // Another kind of file under any name: the first chunk is beyond use.
    { name: 'clip.mp4', path: writeMovie('clip.mp4', Buffer.concat([Buffer.alloc(32), chunkHead(0, 1711800320), Buffer.alloc(100)])), status: 2,
      headline: 'Not a movie of this kind, or cut off before its first chunk: nothing was made' },
    { name: '.mov', path: writeMovie('.mov', Buffer.alloc(0)), status: 2,
      headline: 'Not a movie of this kind, or cut off before its first chunk: nothing was made' },
  ];
  const page = await openPage(browser, pagePath, foreign);
  const asked = [];
  page.on('dialog', (dialog) => dialog.type() === 'confirm' && asked.push(dialog.message()) && dialog.accept());
  await screenshot(page, 'first-load');
  assert.deepEqual(await page.evaluate(() => ['run', 'player'].map((id) => document.getElementById(id).hidden)), [true, true],
                   'nothing but the choice on first load');
  for (const movie of movies) {
    await convertIn(page, movie.path);
    const seen = await shown(page);
    const want = native(movie.path);
    assert.equal(want.status, movie.status, movie.name);
    assert.equal(seen.status, want.status, movie.name);
    assert.equal(seen.outcome, movie.headline, movie.name);
    assert.equal(seen.messages, want.err, movie.name + ': the messages');
    assert.equal(seen.detailsNote, `Exit status ${want.status}. ` +
                 (want.err === '' ? 'The command line prints nothing for this movie.' : `BOOK.MOV below is ${movie.name}.`), movie.name);
    const images = [...want.files.keys()].filter((name) => name.endsWith('.tga')).length;
    assert.equal(seen.pictures, 'Pictures written: ' + images, movie.name);
    assert.equal(seen.player, images > 0, movie.name + ': the player only with pictures');
    // Each is consumed to its end, an empty file too: full, and drawn so.
    assert.equal(seen.progress, 1, movie.name + ': progress at its end');
    assert.ok(await drawnFull(page), movie.name + ': the bar drawn full');
    if (movie.state) await screenshot(page, movie.state);
    if (want.files.get('BOOK.WAV').length === 44 && images === 0) {
      assert.equal(seen.save, null, movie.name + ': nothing worth saving is offered');
      continue;
    }
    const zipName = (movie.name.replace(/\.[^.]*$/, '') || 'movie') + '.zip';
    const folder = mkdtempSync(scratch + '/download-');
    const zip = await download(page, '#download', zipName, folder);
    assert.match(seen.save, new RegExp(`^Save as a \\.zip \\(${(zip.length / 1e6).toFixed(1).replace('.', '\\.')} MB\\)$`),
                 movie.name + ': the .zip\'s size offered');
    expectSameFiles(unzipped(zip), want.files, movie.name);
  }
  assert.deepEqual(asked, [], 'no question while everything made was saved');
  await page.close();
  nothingForeign();
});

test('choosing the same movie again converts it again, and asks first while its files are unsaved', LIMIT, async () => {
  const page = await openPage(browser, pagePath, foreign);
  const asked = [];
  let answer = false;
  page.on('dialog', (dialog) => {
    if (dialog.type() !== 'confirm') return null;
    asked.push(dialog.message());
    return answer ? dialog.accept() : dialog.dismiss();
  });
  const leaving = () => page.evaluate(() => {
    const event = new Event('beforeunload', { cancelable: true });
    window.dispatchEvent(event);
    return event.defaultPrevented;
  });
  assert.equal(await leaving(), false, 'nothing to lose on first load');
  await convertIn(page, demoPath);
  assert.equal(await leaving(), true, 'leaving with unsaved files asks');
  // Declined: the run stays as it was.
  await (await page.$('#movie')).uploadFile(demoPath);
  assert.deepEqual(asked.splice(0), ['The files made from demo.mov have not been saved. Convert demo.mov instead, and lose them?']);
  assert.equal((await shown(page)).outcome, 'Complete: 90 pictures and 6.0 s of sound');
  answer = true;
  await convertIn(page, demoPath);
  assert.equal(asked.length, 1, 'asked again, and accepted');
  const seen = await shown(page);
  assert.equal(seen.outcome, 'Complete: 90 pictures and 6.0 s of sound', 'the same file converted again');
  expectSameFiles(await downloadZip(page, 'demo.zip'), native(demoPath).files, 'the second run');
  assert.equal(await leaving(), false, 'nothing to lose once saved');
  await page.close();
  nothingForeign();
});

test('the preview follows the slider and the keys, and the page reads well at 360 px, in the dark, and to a screen reader', LIMIT, async (t) => {
  const page = await openPage(browser, pagePath, foreign);
  await page.setViewport({ width: 360, height: 640 });
  await convertIn(page, demoPath);
  const want = native(demoPath);
  // The bar and the outcome brought into view on a phone's screen.
  const inView = await page.evaluate(() => ['progress', 'outcome'].map((id) => document.getElementById(id).getBoundingClientRect())
    .every((box) => box.top >= 0 && box.bottom <= innerHeight));
  assert.ok(inView, 'the bar and the outcome in view at 360 × 640');
  const picture = async (number, how) => {
    await page.waitForFunction((text) => document.getElementById('picture-number').textContent === text, {}, `${number + 1} of 90`);
    assert.equal(await page.$eval('#picture', (slider) => slider.getAttribute('aria-valuetext')), `picture ${number + 1} of 90`, how);
    assert.deepEqual(await canvasRgb(page), rgbOf(want.files.get(String(number).padStart(8, '0') + '.tga')), how);
  };
  await page.$eval('#picture', (slider) => {
    slider.value = '30';
    slider.dispatchEvent(new Event('input'));
  });
  await picture(30, 'picture 30');
  await page.focus('#picture');
  for (const [key, number] of [['ArrowRight', 31], ['End', 89], ['ArrowLeft', 88], ['Home', 0]]) {
    await page.keyboard.press(key);
    await picture(number, 'by the key ' + key);
  }
  // Every control has one name that says what it does.
  const named = await page.evaluate(() => [...document.querySelectorAll('button, input, progress')].map((control) => [
    control.id, (control.labels ? control.labels.length : 0) + (control.getAttribute('aria-label') ? 1 : 0) +
    (control.tagName === 'BUTTON' && control.textContent.trim() !== '' ? 1 : 0)]));
  assert.deepEqual(named.filter(([, names]) => names !== 1), [], 'controls without exactly one name');
  // 360 px: no scrolling sideways, and labels on one line.
  const layout = await page.evaluate(() => ({
    wide: document.documentElement.scrollWidth - document.documentElement.clientWidth,
    broken: [...document.querySelectorAll('button, #picture-number, #pictures')]
      .filter((element) => !element.closest('[hidden]') && element.getClientRects().length > 0 &&
              element.getBoundingClientRect().height > 2 * parseFloat(getComputedStyle(element).lineHeight))
      .map((element) => element.id),
  }));
  assert.deepEqual(layout, { wide: 0, broken: [] }, 'at 360 px');
  // The picture at 4:3.
  const box = await (await page.$('#screen')).boundingBox();
  assert.ok(Math.abs(box.width / box.height - 4 / 3) < 0.01, `the picture is ${box.width} × ${box.height}`);
  // Play runs on by itself at the movie's rate, 15 pictures a second; the
  // one button plays and pauses, and keeps the focus.
  await page.keyboard.press('Home');
  await page.focus('#play');
  await page.keyboard.press('Enter');
  await new Promise((resolve) => setTimeout(resolve, 1000));
  await page.keyboard.press('Enter');
  const reached = Number(await page.$eval('#picture', (slider) => slider.value));
  assert.ok(reached >= 8 && reached <= 25, 'a second of playing reached picture ' + reached);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'play', 'the focus stays on Play');
  expectSameFiles(await downloadZip(page, 'demo.zip'), want.files, 'the .zip saved after playing');
  await t.test('dark, and announced', engine === 'chromium' ? {} : { skip: 'this browser\'s driver emulates no dark setting and gives no accessibility tree' }, async () => {
    const ground = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    const light = await ground();
    await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
    const dark = await ground();
    const level = (colour) => colour.match(/\d+/g).slice(0, 3).reduce((sum, value) => sum + Number(value), 0) / 3;
    assert.ok(level(light) > 200 && level(dark) < 60, `light ${light}, dark ${dark}`);
    await screenshot(page, 'complete-dark-360');
    const tree = await page.accessibility.snapshot({ interestingOnly: false });
    const find = (node) => (node.role === 'status' ? node : (node.children || []).map(find).find(Boolean));
    const status = find(tree);
    const said = status && (status.name || (status.children || []).map((child) => child.name).join(''));
    assert.equal(said, 'Complete: 90 pictures and 6.0 s of sound', 'the outcome, as announced');
  });
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
  await screenshot(page, 'converting');
  const asked = Date.now();
  await page.focus('#stop');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('outcome').textContent.startsWith('Stopped'), { timeout: 10000 });
  const ms = Date.now() - asked;
  console.log(`Stop ended the run in ${ms} ms`);
  assert.ok(ms < 1000, `Stop took ${ms} ms`);
  const seen = await shown(page);
  assert.match(seen.outcome, /^Stopped after 90 pictures and \d+\.\d s of sound$/);
  assert.ok(seen.progress > inside && seen.progress < 1, `the bar stays where the run stopped: ${seen.progress}`);
  console.log(`the bar stopped at ${seen.progress.toFixed(3)}, Stop pressed past ${inside.toFixed(3)}`);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'outcome', 'the focus goes to the outcome');
  assert.match(seen.messages, /movie-extract: interrupted by the Stop button; BOOK\.WAV holds the sound copied so far\n$/);
  await screenshot(page, 'stopped');
  const files = await downloadZip(page, 'long.zip');
  const wav = files.get('BOOK.WAV');
  const samples = wav.length - 44;
  assert.equal(wav.readUInt32LE(40), samples, 'the header states the samples in the file');
  assert.equal(seen.outcome, `Stopped after 90 pictures and ${(samples / 22050).toFixed(1)} s of sound`);
  const demoSamples = native(demoPath).files.get('BOOK.WAV').length - 44;
  assert.ok(samples > demoSamples && samples < demoSamples + LONG, `${samples} samples`);
  assert.equal(files.size, 91);
  await page.close();
  nothingForeign();
});

// Faults from outside the page where it meets the converter: a movie that
// changes on disk as it is read; put into a worker (the converter's once its
// script has run, or the keeper's, which moves files into blobs past
// 192 MiB), no memory and no blobs. Each run ends in words, with no error.
const inWorker = async (page, converter, fault) => {
  for (let tries = 0; tries < 50; tries++, await new Promise((resolve) => setTimeout(resolve, 100))) {
    const kinds = await Promise.all(page.workers().map((worker) => worker.evaluate(() => typeof (self.createConverter || self.createDirectConverter) === 'function')));
    if (kinds.length === 2 && kinds.includes(true)) return page.workers()[kinds.indexOf(converter)].evaluate(fault);
  }
  throw new Error('no such worker');
};
const FAULTS = [
  { name: 'a movie changed on disk', size: 400 << 20, outcome: /^Failed: changed\.mov could not be read: NotReadableError: / },
  { name: 'no memory in the converter\'s worker', size: 0, converter: true, outcome: /^Failed: BOOK\.WAV: Out of memory$/,
    fault: () => { Uint8Array.prototype.slice = () => { throw new RangeError('Array buffer allocation failed'); }; } },
  { name: 'a keeper that cannot keep', size: 200 << 20, converter: false, outcome: /^Failed: The files could not be kept: QuotaExceededError: the disk is full$/,
    fault: () => { self.Blob = class { constructor() { throw new DOMException('the disk is full', 'QuotaExceededError'); } }; } },
];
test('faults from outside end the run with "Failed" and the reason', LIMIT, async (t) => {
  for (const row of FAULTS) {
    if (row.fault && engine !== 'chromium') {
      t.diagnostic(row.name + ': skipped, only chromium\'s driver reaches into workers');
      continue;
    }
    const path = writeMovie('changed.mov', Buffer.concat([demo, chunkHead(2, row.size)]), demo.length + 5 + row.size);
    const page = await openPage(browser, pagePath, foreign);
    const errors = [];
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
    if (row.fault) await inWorker(page, row.converter, row.fault);
    const converted = convertIn(page, path);
    // Or the movie cut short on disk as it is read: long enough that the
    // cut comes well before the end on a fast machine.
    if (!row.fault) await page.waitForFunction(() => document.getElementById('progress').value > 0.1).then(() => truncateSync(path, 1 << 20));
    await converted;
    assert.match((await shown(page)).outcome, row.outcome, row.name);
    assert.deepEqual(errors, [], row.name + ': errors in the console');
    await page.close();
  }
  nothingForeign();
});

test('where the browser has no pickers, the page offers none', async (t) => {
  if (engine === 'chromium') return t.skip('chromium has them');
  const page = await openPage(browser, pagePath, foreign);
  assert.equal(await page.$eval('#place-offer', (offer) => offer.hidden), true);
  await page.close();
});

// The places a user would pick, which a headless browser cannot show: a
// folder or a file of the origin's private file system, served from
// 127.0.0.1, whose quota can be lowered to fail as a full disk does; a folder
// may hold an earlier run's images first.
const folderPick = (name) => `window.showDirectoryPicker = async () =>
  (await navigator.storage.getDirectory()).getDirectoryHandle('${name}', { create: true });`;
const zipPick = (name) => `window.showSaveFilePicker = async () =>
  (await navigator.storage.getDirectory()).getFileHandle('${name}', { create: true });`;
const COMPLETE = 'Complete: 90 pictures and 6.0 s of sound';
const PLACES = [
  { name: 'a folder', button: '#folder', pick: folderPick('folder'), outcome: COMPLETE },
  { name: 'a .zip', button: '#zip-file', pick: zipPick('saved.zip'), outcome: COMPLETE },
  { name: 'a folder holding 135 images of an earlier run', button: '#folder', pick: folderPick('folder'), outcome: COMPLETE,
    earlier: 135 },
  { name: 'a folder on a disk that fills up', button: '#folder', pick: folderPick('folder'), quota: 3000000,
    outcome: /^Failed: 000000\d\d\.tga: QuotaExceededError: / },
  { name: 'a .zip on a disk that fills up', button: '#zip-file', pick: zipPick('saved.zip'), quota: 3000000,
    outcome: /^Failed: saved\.zip: QuotaExceededError: / },
];

test('served by a web server, it saves into the place chosen first, says what the command line says, and says when it cannot', { ...LIMIT, ...chromiumOnly }, async (t) => {
  const { origin, address, close } = await servePage(pagePath);
  t.after(close);
  const want = native(demoPath);
  for (const place of PLACES) {
    const page = await openPage(browser, pagePath, foreign, { address, before: place.pick });
    // The private file system emptied, then the earlier run's images put there.
    await page.evaluate(async (earlier) => {
      const root = await navigator.storage.getDirectory();
      for await (const name of root.keys()) await root.removeEntry(name, { recursive: true });
      const folder = await root.getDirectoryHandle('folder', { create: true });
      for (let i = 0; i < earlier; i++) await folder.getFileHandle(String(i).padStart(8, '0') + '.tga', { create: true });
    }, place.earlier || 0);
    const session = await page.createCDPSession();
    await session.send('Storage.overrideQuotaForOrigin', place.quota ? { origin, quotaSize: place.quota } : { origin });
    await page.click(place.button);
    await page.waitForFunction(() => document.getElementById('place-name').textContent.startsWith('The files go'));
    await convertIn(page, demoPath);
    const seen = await shown(page);
    assert.match(seen.outcome, place.outcome instanceof RegExp ? place.outcome : new RegExp('^' + place.outcome + '$'), place.name);
    assert.equal(seen.save, null, place.name + ': nothing is left to save');
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
    await session.send('Storage.overrideQuotaForOrigin', { origin });
    if (place.quota) {
      // The run stops at the first refusal, and the converter's next file, if
      // any, fails too; what the folder holds is whole.
      assert.match(seen.messages, /^(movie-extract: (000000\d\d\.tga|BOOK\.WAV): .*\n)*$/, place.name + ': the converter\'s lines');
      console.log(place.name + ': ' + seen.outcome + '; ' + Object.keys(saved).length + ' files kept');
      const wav = saved.zip ? null : saved['BOOK.WAV'] && Buffer.from(saved['BOOK.WAV']);
      if (wav) assert.equal(wav.readUInt32LE(40), wav.length - 44, place.name + ': BOOK.WAV states the samples it holds');
      for (const [name, bytes] of Object.entries(saved.zip ? {} : saved)) {
        if (name.endsWith('.tga')) assert.ok(Buffer.from(bytes).equals(want.files.get(name)), place.name + ': ' + name);
      }
      await page.close();
      continue;
    }
    const got = saved.zip ? unzipped(Buffer.from(saved.zip))
      : new Map(Object.entries(saved).map(([name, bytes]) => [name, Buffer.from(bytes)]));
    if (place.earlier) {
      // The command line, in a folder holding the same.
      const folder = mkdtempSync(scratch + '/earlier-');
      for (let i = 0; i < place.earlier; i++) writeFileSync(folder + '/' + String(i).padStart(8, '0') + '.tga', '');
      const there = convertNatively(converter, demoPath, folder);
      assert.equal(seen.messages, there.err, place.name + ': the messages');
      assert.equal(seen.notice, there.err.replace(/^movie-extract: /, '').trimEnd() + '.', place.name + ': the notice');
      for (let i = 90; i < place.earlier; i++) got.delete(String(i).padStart(8, '0') + '.tga');
    }
    expectSameFiles(got, want.files, place.name);
    // The preview reads its pictures back from what was saved.
    await page.$eval('#picture', (slider) => {
      slider.value = '45';
      slider.dispatchEvent(new Event('input'));
    });
    await page.waitForFunction(() => document.getElementById('picture-number').textContent === '46 of 90');
    assert.deepEqual(await canvasRgb(page), rgbOf(want.files.get('00000045.tga')), place.name + ': picture 45');
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
  assert.equal(seen.outcome, 'Complete: 90 pictures and 6.0 s of sound');
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

test('a file dropped anywhere is taken, the first of several, and the browser stays on the page', { ...LIMIT, ...(engine === 'chromium' ? {} : { skip: 'only chromium\'s driver drops real files (Input.dispatchDragEvent)' }) }, async () => {
  const page = await openPage(browser, pagePath, foreign);
  const session = await page.createCDPSession();
  const second = writeMovie('second.mov', demo.subarray(0, 200000));
  const heading = await (await page.$('h1')).boundingBox();
  const data = { items: [], files: [demoPath, second], dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop']) {
    await session.send('Input.dispatchDragEvent', { type, x: heading.x + 10, y: heading.y + 10, data });
  }
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined, { timeout: 60000 });
  const seen = await shown(page);
  assert.equal(seen.outcome, 'Complete: 90 pictures and 6.0 s of sound');
  assert.equal(await page.$eval('#dropped', (note) => note.textContent),
               'Took demo.mov, the first of the 2 files dropped: the page converts one movie at a time.');
  assert.equal(page.url(), 'file://' + pagePath);
  await page.close();
  nothingForeign();
});

test('a long movie, longer than every buffer in the page, gives the command line\'s files; making its .zip shows, and can be cancelled', { timeout: 600000 }, async () => {
  const movie = scratch + '/Film 2 (final).MOV';
  execFileSync(movieBench, ['--movie-only', movie, '4200', 'band'], { stdio: 'ignore' });
  const want = nativeSizesAndCrcs(converter, movie, scratch + '/native-long');
  const page = await openPage(browser, pagePath, foreign);
  await convertIn(page, movie, 300000);
  const seen = await shown(page);
  assert.match(seen.outcome, /^Complete: 4200 pictures and \d+\.\d s of sound$/);
  const folder = mkdtempSync(scratch + '/download-');
  // Cancelled while it is made: the busy sign goes, and no .zip comes.
  await page.click('#download');
  assert.equal(await page.$eval('#saving', (sign) => sign.hidden), false, 'the busy sign while the .zip is made');
  await page.click('#cancel');
  assert.equal(await page.$eval('#saving', (sign) => sign.hidden), true, 'no busy sign once cancelled');
  assert.equal((await shown(page)).outcome, seen.outcome);
  const zip = await downloadTo(page, '#download', 'Film 2 (final).zip', folder, 300000);
  assert.equal(readdirSync(engine === 'firefox' ? browser.downloads : folder).length, 1, 'one .zip only');
  const listed = zipDirectory(zip);
  assert.equal(listed.size, want.size, 'the files listed');
  for (const [name, file] of want) assert.deepEqual(listed.get(name), file, name);
  assert.equal(seen.save, `Save as a .zip (${(statSync(zip).size / 1e6).toFixed(1)} MB)`);
  rmSync(zip);
  await page.close();
  nothingForeign();
});

// What ffprobe and ffmpeg find in a video the page made of the pictures in
// `folder` at `rate`: its streams, each picture's time, and the PSNR of each
// picture against its TGA enlarged 5 × 6 and turned into YUV 4:2:0 with
// BT.709 in limited range, as the stream is tagged, each chroma sample the
// mean of the four pixels it covers.
const fromPrivateFiles = (page, name) => page.evaluate(async (file) => Array.from(new Uint8Array(
  await (await (await (await navigator.storage.getDirectory()).getFileHandle(file)).getFile()).arrayBuffer())), name);

function examineVideo(path, folder, rate, compare = true) {
  const probe = (args) => JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-of', 'json', ...args, path]).toString());
  const { streams } = probe(['-count_frames', '-show_streams']);
  const times = probe(['-select_streams', 'v', '-show_entries', 'packet=pts_time']).packets
    .map((packet) => Number(packet.pts_time)).sort((a, b) => a - b);
  if (!compare) return { streams, times };
  const stats = scratch + '/psnr.txt';
  execFileSync('ffmpeg', ['-v', 'error', '-i', path, '-framerate', String(rate), '-i', folder + '/%08d.tga', '-lavfi',
    '[1:v]scale=1600:1200:flags=neighbor,format=rgb24,scale=out_color_matrix=bt709:out_range=tv:flags=area,format=yuv420p[reference];' +
    `[0:v]format=yuv420p[made];[made][reference]psnr=stats_file=${stats}`, '-f', 'null', '-']);
  const psnr = readFileSync(stats, 'utf8').trim().split('\n').map((line) => Number(/psnr_avg:([\d.]+|inf)/.exec(line)[1].replace('inf', '99')));
  return { streams, times, psnr };
}

// Chromium makes H.264; Firefox, whose H.264 encoder keeps far below the
// quality asked for, VP9, and has no pickers: its videos are downloads.
const VIDEO = {
  chromium: { codec: 'h264', as: '', note: '' },
  firefox: { codec: 'vp9', as: ' as VP9', note: 'The video goes in as VP9, which browsers, VLC, mpv and Windows\' own player play, but QuickTime does not. ' },
}[engine];
test('"Save as video (.mp4)" makes a video of the pictures at 4:3 with the sound, on time', { timeout: 900000 }, async (t) => {
  // 630 changing pictures: the demo's chunks seven times over, each time
  // changing what the time before left, and sound that runs on beyond 1470
  // samples a picture: 14.9 pictures a second.
  const chunks = demo.subarray(32);
  const longer = writeMovie('demo seven times.mov', Buffer.concat([demo, ...Array(6).fill(chunks), chunkHead(2, 9000), Buffer.alloc(9000, 0x90)]));
  // The demo's video goes into a file of the private file system, chosen
  // as a user would choose one, the page served from 127.0.0.1; the other
  // one is downloaded from the page opened from disk.
  const { address: served, close } = await servePage(pagePath);
  t.after(close);
  const pickers = engine === 'chromium';
  for (const movie of [{ path: demoPath, name: 'demo.mp4', chosen: pickers && 'saved.mp4' }, { path: longer, name: 'demo seven times.mp4', stops: pickers }]) {
    const folder = mkdtempSync(scratch + '/native-');
    const want = convertNatively(converter, movie.path, folder);
    const pictures = [...want.files.keys()].filter((name) => name.endsWith('.tga')).length;
    const samples = want.files.get('BOOK.WAV').length - 44;
    const rate = (pictures * 22050) / samples;
    const page = await openPage(browser, pagePath, foreign, pickers ? { address: served, before: zipPick(movie.chosen || 'stopped.mp4') } : {});
    await convertIn(page, movie.path);
    assert.equal(await page.$eval('#video-note', (note) => note.textContent),
                 VIDEO.note + 'The sound goes in as Opus, since this browser has no AAC encoder; some Apple and editing apps do not import Opus.');
    const videos = mkdtempSync(scratch + '/video-');
    // Each click starts a new video, which first says so.
    const startVideo = async () => {
      await page.click('#make-video');
      await page.waitForFunction(() => document.getElementById('video-note').textContent.startsWith('Making'));
    };
    const stopHalfWay = async () => {
      await startVideo();
      await page.waitForFunction(() => document.getElementById('video-progress').value > 0.3);
      await page.click('#stop-video');
      await page.waitForFunction(() => document.getElementById('video-note').textContent.startsWith('Stopped'));
      return page.$eval('#video-note', (note) => note.textContent);
    };
    if (movie.stops) {
      // Stopped half way, a video in a file chosen first holds the pictures
      // made so far, and one bound for a download is not saved.
      const said = await stopHalfWay();
      const held = Number((/^Stopped: stopped\.mp4 holds the first (\d+) pictures\.$/.exec(said) || [0, -1])[1]);
      console.log(said);
      assert.ok(held > 0.3 * pictures && held < pictures, said);
      writeFileSync(videos + '/stopped.mp4', Buffer.from(await fromPrivateFiles(page, 'stopped.mp4')));
      const { streams } = examineVideo(videos + '/stopped.mp4', folder, rate, false);
      assert.equal(Number(streams.find((stream) => stream.codec_type === 'video').nb_read_frames), held, 'the pictures in the stopped video');
      rmSync(videos + '/stopped.mp4');
      await page.evaluate(() => delete window.showSaveFilePicker);
      const session = await page.createCDPSession();
      await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: videos });
      assert.equal(await stopHalfWay(), 'Stopped: no video was saved.');
      await new Promise((resolve) => setTimeout(resolve, 1000));
      assert.deepEqual(readdirSync(videos), [], 'nothing downloaded');
    }
    const began = Date.now();
    let path = videos + '/' + movie.name;
    if (movie.chosen) {
      await startVideo();
      await page.waitForFunction(() => /^(Saved|Failed)/.test(document.getElementById('video-note').textContent), { timeout: 300000 });
      writeFileSync(path, Buffer.from(await fromPrivateFiles(page, movie.chosen)));
    } else {
      path = await downloadTo(page, '#make-video', movie.name, videos, 300000);
      await page.waitForFunction(() => /^(Saved|Failed)/.test(document.getElementById('video-note').textContent));
    }
    console.log(`${movie.name}: ${pictures} pictures made into a video in ${Date.now() - began} ms`);
    assert.equal(await page.$eval('#video-note', (note) => note.textContent), `Saved ${movie.chosen || movie.name}: ${pictures} pictures in 1600 × 1200${VIDEO.as}, the sound in Opus.`);
    if (movie.chosen) {
      await screenshot(page, 'video');
      // A disk that fills up: the video fails, and says why.
      await page.evaluate(zipPick('full.mp4'));
      const session = await page.createCDPSession();
      const origin = new URL(served).origin;
      const { usage } = await page.evaluate(() => navigator.storage.estimate());
      await session.send('Storage.overrideQuotaForOrigin', { origin, quotaSize: usage + 100000 });
      await startVideo();
      await page.waitForFunction(() => /^(Saved|Failed)/.test(document.getElementById('video-note').textContent));
      await session.send('Storage.overrideQuotaForOrigin', { origin });
      assert.match(await page.$eval('#video-note', (note) => note.textContent), /^Failed: the video could not be made: QuotaExceededError: /);
    }
    const { streams, times, psnr } = examineVideo(path, folder, rate);
    const video = streams.filter((stream) => stream.codec_type === 'video');
    const sound = streams.filter((stream) => stream.codec_type === 'audio');
    assert.equal(video.length, 1, movie.name + ': one video stream');
    assert.equal(video[0].codec_name, VIDEO.codec);
    assert.equal(Number(video[0].nb_read_frames), pictures, movie.name + ': the picture count');
    const [across, down] = (video[0].sample_aspect_ratio || '1:1').split(':').map(Number);
    assert.equal((video[0].width * across) / (video[0].height * down), 4 / 3, movie.name + ': 4:3 on the screen');
    assert.deepEqual([video[0].color_space, video[0].color_range], ['bt709', 'tv'], movie.name + ': the colours tagged');
    const late = times.map((time, n) => Math.abs(time - n / rate)).reduce((most, off) => Math.max(most, off), 0);
    assert.ok(times.length === pictures && late <= 0.001, `${movie.name}: a picture ${(late * 1000).toFixed(1)} ms from its time`);
    assert.equal(sound.length, 1, movie.name + ': one sound stream');
    const soundStart = Number(sound[0].start_time);
    const soundEnd = soundStart + Number(sound[0].duration);
    assert.ok(Math.abs(soundStart) <= 0.5 / rate, `${movie.name}: the sound starts at ${soundStart} s`);
    assert.ok(Math.abs(soundEnd - pictures / rate) <= 1 / rate, `${movie.name}: the sound ends at ${soundEnd} s, the pictures at ${pictures / rate} s`);
    const mean = psnr.reduce((sum, value) => sum + value, 0) / psnr.length;
    console.log(`${movie.name}: PSNR mean ${mean.toFixed(1)} dB, lowest ${Math.min(...psnr).toFixed(1)} dB`);
    assert.equal(psnr.length, pictures);
    assert.ok(mean >= 45 && Math.min(...psnr) >= 40, `${movie.name}: PSNR mean ${mean.toFixed(1)}, lowest ${Math.min(...psnr)}`);
    await page.close();
  }
  nothingForeign();
});
