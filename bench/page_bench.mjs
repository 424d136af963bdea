// The web page against its floor (bench/floor_page.html) and the command
// line, on the benchmark's 3000-picture movies: ROUNDS runs of each,
// alternating, the page's timed inside the browser from choosing the movie
// to the outcome shown, the command line's to the end of its process, and
// the processor time the browser took for each run. In chromium it then
// times the page saving into a folder against the floor of saving: the
// same files written by a minimal writer with nothing else running. A
// folder of the private file system stands for one the user would pick,
// with the page served from 127.0.0.1.
//
//   node bench/page_bench.mjs PAGE.html MOVIE-EXTRACT MOVIE-BENCH [chromium|firefox|webkit] [ROUNDS]
//
// WebKit needs an X display (xvfb-run -a). WebKit runs every page of a
// browser in one process, whose collector then frees what the page before
// left: with FRESH_BROWSER=1 each run, the floor's and the page's, gets a
// browser of its own, as a user who opens the page does.
import { mkdtempSync, readdirSync, rmSync, symlinkSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { By } from 'selenium-webdriver';
import { browserProcesses, servePage, startBrowser, startWebKit } from '../tests/browser/browser.mjs';

const [pagePath, converter, movieBench, engine = 'chromium', roundsText = '11'] = process.argv.slice(2);
const ROUNDS = Number(roundsText);
const PICTURES = 3000;
// As many files at once as the page writes into a folder.
const FOLDER_WRITES = Number(process.env.FOLDER_WRITES || 4);
const floorPath = new URL('floor_page.html', import.meta.url).pathname;
const folder = mkdtempSync('/dev/shm/page-bench-');

// Set in the page before the movie is chosen: the milliseconds from the
// choice to the outcome, once the page shows one.
const TIMER = `window.benchTimed = new Promise((resolve) => {
  document.addEventListener('change', () => {
    const began = performance.now();
    const outcome = document.getElementById('outcome');
    new MutationObserver((changes, observer) => {
      if (outcome.dataset.status === undefined || !/^(Complete|Damaged|Not a movie|Failed|Stopped)/.test(outcome.textContent)) return;
      observer.disconnect();
      resolve({ ms: performance.now() - began, outcome: outcome.textContent });
    }).observe(outcome, { attributes: true, childList: true, characterData: true, subtree: true });
  }, true);
});`;

// The processor time the browser's processes took while `timed` ran, added
// to what it resolves to as `cpu`, in ms: on a machine of two cores, twice
// the time from the choice to the outcome is all there is. It is read once
// the benchmark hears of the outcome, so the start of what the page does
// after it (making its next converter's worker) may count; a process that
// ended meanwhile does not.
const cpuByProcess = (root) => new Map(browserProcesses(root).map((process) => [process.pid, process.cpuMs]));
async function withCpu(root, timed) {
  const before = cpuByProcess(root);
  const result = await timed();
  let cpu = 0;
  for (const [pid, ms] of cpuByProcess(root)) cpu += ms - (before.get(pid) || 0);
  return { ...result, cpu };
}

// Opens `address`, chooses the movie and returns the milliseconds it took,
// and the processor time.
let convertAt;
if (engine === 'webkit') {
  const start = () => startWebKit(process.env.WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver',
                                  process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser');
  const fresh = process.env.FRESH_BROWSER === '1';
  let webkit = fresh ? null : await start();
  process.on('exit', () => webkit && webkit.server.kill());
  convertAt = async (address, movie) => {
    if (fresh) webkit = await start();
    try {
      await webkit.driver.get(address);
      await webkit.driver.executeScript(TIMER);
      return await withCpu({ process: () => webkit.server }, async () => {
        await webkit.driver.findElement(By.id('movie')).sendKeys(movie);
        return webkit.driver.executeAsyncScript('window.benchTimed.then(arguments[arguments.length - 1])');
      });
    } finally {
      if (fresh) {
        await webkit.close();
        webkit = null;
      }
    }
  };
} else {
  const browser = await startBrowser(engine);
  process.on('exit', () => browser.process().kill());
  convertAt = async (address, movie, before = '') => {
    const page = await browser.newPage();
    await page.evaluateOnNewDocument(TIMER + before);
    await page.goto(address);
    if (before && await page.$('#folder')) {
      await page.click('#folder');
      await page.waitForFunction(() => document.getElementById('place-name').textContent.startsWith('The files go'));
    }
    const timed = await withCpu(browser, async () => {
      await (await page.$('#movie')).uploadFile(movie);
      return page.evaluate(() => window.benchTimed);
    });
    await page.close();
    return timed;
  };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const shown = (values) => `median ${median(values).toFixed(0)} ms (${values.map((ms) => ms.toFixed(0)).join(', ')})`;
const expect = (timed, what) => {
  if (!timed.outcome.startsWith('Complete')) throw new Error(what + ': ' + timed.outcome);
  return timed.ms;
};

for (const shape of ['band', 'scattered']) {
  const movie = `${folder}/${shape}.mov`;
  execFileSync(movieBench, ['--movie-only', movie, String(PICTURES), shape], { stdio: 'ignore' });
  const times = { native: [], floor: [], page: [] };
  const cpu = { floor: [], page: [] };
  for (let round = 0; round < ROUNDS; round++) {
    const run = `${folder}/run`;
    rmSync(run, { recursive: true, force: true });
    execFileSync('mkdir', [run]);
    symlinkSync(movie, run + '/BOOK.MOV');
    const began = process.hrtime.bigint();
    execFileSync(converter, [], { cwd: run, stdio: 'ignore' });
    times.native.push(Number(process.hrtime.bigint() - began) / 1e6);
    if (readdirSync(run).length !== PICTURES + 2) throw new Error('the command line did not convert the movie');
    for (const [kind, address] of [['floor', `file://${floorPath}?images=${PICTURES}`], ['page', 'file://' + pagePath]]) {
      const timed = await convertAt(address, movie);
      times[kind].push(expect(timed, 'the ' + kind));
      cpu[kind].push(timed.cpu);
    }
  }
  console.log(`${engine}, ${shape}, ${PICTURES} pictures, ${ROUNDS} alternating runs:`);
  console.log(`  command line ${shown(times.native)}`);
  console.log(`  floor page   ${shown(times.floor)}`);
  console.log(`  page         ${shown(times.page)}`);
  console.log(`  page/floor ${(median(times.page) / median(times.floor)).toFixed(2)}, ` +
              `page/command line ${(median(times.page) / median(times.native)).toFixed(2)}`);
  console.log(`  processor time of the browser's processes: floor ${shown(cpu.floor)}, page ${shown(cpu.page)}`);
}

// Saving into a folder, in chromium: the page on the band movie against a
// writer that only creates and writes the same files, in the same number at
// once, with nothing else running.
if (engine === 'chromium') {
  const { origin, close } = await servePage(pagePath, '<!doctype html><title>floor</title><p id="outcome"></p><input type="file" id="movie">');
  let next = 0;
  // A new folder each run, so that every run creates its files.
  const pick = () => `window.showDirectoryPicker = async () =>
    (await navigator.storage.getDirectory()).getDirectoryHandle('run-' + Date.now() + '-' + Math.random(), { create: true });`;
  const FLOOR_WRITER = `document.addEventListener('change', async () => {
    const folder = await window.showDirectoryPicker();
    const image = new Uint8Array(64786);
    const names = Array.from({ length: ${PICTURES} }, (_, i) => String(i).padStart(8, '0') + '.tga');
    const write = async () => {
      for (let name = names.shift(); name; name = names.shift()) {
        const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
        await writable.write(image);
        await writable.close();
      }
    };
    await Promise.all(Array.from({ length: ${FOLDER_WRITES} }, write));
    const outcome = document.getElementById('outcome');
    outcome.dataset.status = '0';
    outcome.textContent = 'Complete';
  });`;
  const movie = `${folder}/band.mov`;
  const times = { floor: [], page: [] };
  for (let round = 0; round < ROUNDS; round++) {
    next += 1;
    times.floor.push(expect(await convertAt(`${origin}/floor-${next}.html`, movie, pick() + FLOOR_WRITER), 'the floor'));
    times.page.push(expect(await convertAt(`${origin}/page-${next}.html`, movie, pick()), 'the page into a folder'));
  }
  close();
  console.log(`${engine}, saving ${PICTURES} images into a folder, ${ROUNDS} alternating runs:`);
  console.log(`  floor writer ${shown(times.floor)}`);
  console.log(`  page         ${shown(times.page)}`);
  console.log(`  page/floor ${(median(times.page) / median(times.floor)).toFixed(2)}`);
}
rmSync(folder, { recursive: true, force: true });
process.exit(0);
