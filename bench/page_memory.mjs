// How much memory the page takes for a long movie (18,000 pictures, 1.2 GB
// of output), until its .zip is saved, in three settings:
//   chromium downloading: the pickers taken away, so that the page keeps the
//     files and downloads the .zip; its renderers (the page and its worker)
//     are counted, not the blob store of the browser's own process;
//   Firefox downloading: the whole process tree is counted;
//   chromium with a picker: the .zip written while the movie converts into
//     a file of the private file system, which stands for the one the user
//     would pick, the page served from 127.0.0.1; the whole tree is counted;
//   chromium into a folder: the same, the files written into a folder of
//     the private file system.
//   WebKit in parts: WebKitGTK's MiniBrowser under WebDriver, which keeps
//     the files and the .zip made of them in its memory; every part is
//     saved as the page offers it, and the whole tree is counted. Its parts'
//     central directories, read in the page as each .zip is handed over,
//     must together list every file of the command line once. Run it under
//     xvfb-run.
//   A video: chromium-video-picker, chromium-video-download and
//     firefox-video-download convert the movie, then make its video, into a
//     file of the private file system chosen as the user would (the page
//     served from 127.0.0.1), or downloaded; the growth is counted from the
//     movie converted, over the whole tree, to the video saved, whose
//     packets ffprobe counts. Firefox encodes VP9 at about 7 pictures a
//     second: give it fewer pictures (PICTURES 3000).
// The resident sizes are summed every 100 ms, and the growth is the peak
// less the sum just before the movie is chosen. In chromium the page also
// reports its longest task on the main thread. The downloaded .zip's central
// directory must list every file with the command line's sizes and CRC-32s.
//
//   node bench/page_memory.mjs PAGE.html MOVIE-EXTRACT MOVIE-BENCH [PICTURES] [SETTING...]
//
// SETTING: chromium-download, firefox-download, chromium-picker,
// chromium-folder (all four by default), webkit-parts, chromium-video-picker,
// chromium-video-download, firefox-video-download.
import { mkdtempSync, rmSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { browserProcesses, downloadTo, isPageProcess, nativeSizesAndCrcs, saveEveryPart, servePage, startBrowser, startWebKit,
  zipDirectory } from '../tests/browser/browser.mjs';

const [pagePath, converter, movieBench, picturesText = '18000', ...chosen] = process.argv.slice(2);
const PICTURES = Number(picturesText);
const BOUND_MIB = 512;
const settings = chosen.length > 0 ? chosen : ['chromium-download', 'firefox-download', 'chromium-picker', 'chromium-folder'];
const shm = mkdtempSync('/dev/shm/page-memory-');
const disk = mkdtempSync('/tmp/page-memory-');
const movie = shm + '/long.mov';
execFileSync(movieBench, ['--movie-only', movie, String(PICTURES), 'band'], { stdio: 'ignore' });

// The command line's files.
const want = nativeSizesAndCrcs(converter, movie, shm + '/run');
const outputBytes = [...want.values()].reduce((sum, file) => sum + file.size, 0);
console.log(`${PICTURES} pictures, ${(outputBytes / 1e9).toFixed(2)} GB of output`);

// Sums the resident sizes of the counted processes every 100 ms.
function sampler(browser, pageOnly) {
  const sum = () => browserProcesses(browser).filter((p) => !pageOnly || isPageProcess(browser, p))
    .reduce((total, p) => total + p.rssMiB, 0);
  const base = sum();
  let peak = base;
  const timer = setInterval(() => { peak = Math.max(peak, sum()); }, 100);
  return { stop: () => { clearInterval(timer); return { base, growth: Math.max(peak, sum()) - base }; } };
}

const LONGEST_TASK = `window.longestTaskMs = 0;
  if (PerformanceObserver.supportedEntryTypes.includes('longtask')) {
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) {
        window.longestTaskMs = Math.max(window.longestTaskMs, entry.duration);
        if (entry.duration > 100) (window.longTasks = window.longTasks || []).push(Math.round(entry.startTime) + '+' + Math.round(entry.duration));
      }
    }).observe({ type: 'longtask' });
  }`;

function checkZip(path) {
  return checkListing(zipDirectory(path));
}

function checkListing(got) {
  if (got.size !== want.size) throw new Error(`the .zip lists ${got.size} files, not ${want.size}`);
  for (const [name, file] of want) {
    const listed = got.get(name);
    if (!listed || listed.size !== file.size || listed.crc !== file.crc) throw new Error(`the .zip lists ${name} wrongly`);
  }
  return `${got.size} files, every size and CRC-32 the command line's`;
}

// WebKit, saving in parts: the peak, and the time to the last part saved.
async function webKitParts() {
  const webkit = await startWebKit(process.env.WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver',
                                   process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser');
  try {
    await webkit.driver.get('file://' + pagePath);
    await new Promise((resolve) => setTimeout(resolve, 1000));
    const memory = sampler({ process: () => webkit.server, engine: 'webkit' }, false);
    const began = Date.now();
    const got = await saveEveryPart(webkit.driver, movie, disk);
    const outcome = await webkit.driver.executeScript('return document.getElementById("outcome").textContent');
    const { base, growth } = memory.stop();
    const parts = Math.max(...[...got.values()].map((file) => file.part));
    console.log(`webkit-parts: ${outcome}, saved in ${parts} parts after ${((Date.now() - began) / 1000).toFixed(1)} s; ` +
                `whole tree ${base.toFixed(0)} MiB before, grew by ${growth.toFixed(0)} MiB at the most; ${checkListing(got)}`);
  } finally {
    await webkit.close();
  }
}

// A video of the converted movie: the growth while it is made and saved.
async function videoMemory(setting, engine, where) {
  const browser = await startBrowser(engine);
  const page = await browser.newPage();
  let server = null;
  if (where === 'picker') {
    server = await servePage(pagePath);
    await page.evaluateOnNewDocument(`window.showSaveFilePicker = async () =>
      (await navigator.storage.getDirectory()).getFileHandle('long.mp4', { create: true });`);
    await page.goto(server.address);
  } else {
    await page.evaluateOnNewDocument('delete window.showSaveFilePicker; delete window.showDirectoryPicker;');
    await page.goto('file://' + pagePath);
  }
  await (await page.$('#movie')).uploadFile(movie);
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined,
                             { timeout: 1800000, polling: 500 });
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const memory = sampler(browser, false);
  const began = Date.now();
  const saved = () => page.waitForFunction(() => /^(Saved|Failed)/.test(document.getElementById('video-note').textContent),
                                           { timeout: 0, polling: 1000 });
  let path = disk + '/long.mp4';
  if (where === 'picker') {
    await page.click('#make-video');
    await saved();
    // Read back in pieces, so that the reading adds nothing to the page's peak first.
    const { growth: peakGrowth, base } = memory.stop();
    const size = await page.evaluate(async () => (await (await (await navigator.storage.getDirectory()).getFileHandle('long.mp4')).getFile()).size);
    const note = await page.$eval('#video-note', (element) => element.textContent);
    console.log(`${setting}: ${note} after ${((Date.now() - began) / 1000).toFixed(1)} s, ${(size / 1e6).toFixed(1)} MB; ` +
                `whole tree ${base.toFixed(0)} MiB before, grew by ${peakGrowth.toFixed(0)} MiB at the most (bound ${BOUND_MIB}); ` +
                'the video stays in the private file system, unread here');
  } else {
    path = await downloadTo(page, '#make-video', 'long.mp4', disk, 3 * 3600 * 1000);
    await saved();
    const { growth: peakGrowth, base } = memory.stop();
    const note = await page.$eval('#video-note', (element) => element.textContent);
    const packets = JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-of', 'json', '-select_streams', 'v', '-count_packets',
                                                        '-show_entries', 'stream=nb_read_packets', path]).toString()).streams[0].nb_read_packets;
    if (Number(packets) !== PICTURES) throw new Error(`the video holds ${packets} pictures, not ${PICTURES}`);
    console.log(`${setting}: ${note} after ${((Date.now() - began) / 1000).toFixed(1)} s; ` +
                `whole tree ${base.toFixed(0)} MiB before, grew by ${peakGrowth.toFixed(0)} MiB at the most (bound ${BOUND_MIB}); ` +
                `${packets} pictures in it`);
    rmSync(path);
  }
  await browser.close();
  if (server) server.close();
}

for (const setting of settings) {
  if (setting === 'webkit-parts') {
    await webKitParts();
    continue;
  }
  if (setting.includes('-video-')) {
    const [engine, , where] = setting.split('-');
    await videoMemory(setting, engine, where);
    continue;
  }
  const [engine, way] = setting.split('-');
  const browser = await startBrowser(engine);
  const page = await browser.newPage();
  let server = null;
  if (way === 'picker' || way === 'folder') {
    server = await servePage(pagePath);
    await page.evaluateOnNewDocument(LONGEST_TASK + `
      window.showSaveFilePicker = async () => (await navigator.storage.getDirectory()).getFileHandle('long.zip', { create: true });
      window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('long', { create: true });`);
    await page.goto(server.address);
    await page.click(way === 'picker' ? '#zip-file' : '#folder');
    await page.waitForFunction(() => document.getElementById('place-name').textContent.startsWith('The files go'));
  } else {
    await page.evaluateOnNewDocument(LONGEST_TASK + `
      delete window.showSaveFilePicker;
      delete window.showDirectoryPicker;`);
    await page.goto('file://' + pagePath);
  }
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const began = Date.now();
  const memory = sampler(browser, engine === 'chromium' && way === 'download');
  await (await page.$('#movie')).uploadFile(movie);
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined,
                             { timeout: 1800000, polling: 500 });
  const outcome = await page.$eval('#outcome', (element) => element.textContent);
  const converted = Date.now() - began;
  if (process.env.LONG_TASKS) console.log('converted at', await page.evaluate(() => performance.now()));
  let checked = way === 'folder' ? 'the files stay in the private file system, unread here' : 'the .zip stays in the private file system, unread here';
  if (way === 'download' && outcome.startsWith('Complete')) {
    const failed = page.waitForFunction(() => document.getElementById('outcome').textContent.startsWith('Failed'),
                                        { timeout: 0, polling: 1000 }).then(async () => {
      throw new Error(await page.$eval('#outcome', (element) => element.textContent));
    });
    const path = await Promise.race([downloadTo(page, '#download', 'long.zip', disk, 1800000), failed]);
    checked = checkZip(path);
    rmSync(path);
  }
  const { base, growth } = memory.stop();
  const longest = await page.evaluate(() => window.longestTaskMs);
  if (process.env.LONG_TASKS) console.log(await page.evaluate(() => [performance.now(), window.longTasks]));
  const counted = engine === 'chromium' && way === 'download' ? 'renderers' : 'whole tree';
  console.log(`${setting}: ${outcome} in ${(converted / 1000).toFixed(1)} s, saved after ${((Date.now() - began) / 1000).toFixed(1)} s; ` +
              `${counted} ${base.toFixed(0)} MiB before, grew by ${growth.toFixed(0)} MiB at the most ` +
              `(bound ${BOUND_MIB})${engine === 'chromium' ? `; longest task on the main thread ${longest.toFixed(0)} ms` : ''}; ${checked}`);
  await browser.close();
  if (server) server.close();
}
rmSync(shm, { recursive: true, force: true });
rmSync(disk, { recursive: true, force: true });
