// Starting Debian's chromium or Firefox ESR, headless, for the page's tests
// and benchmark, and what the page shows.
import { closeSync, existsSync, fstatSync, ftruncateSync, mkdirSync, mkdtempSync, openSync, readFileSync, readSync, readdirSync, rmSync, statSync,
         symlinkSync, unlinkSync, writeSync } from 'node:fs';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { createServer } from 'node:net';
import { createServer as createHttpServer } from 'node:http';
import { tmpdir } from 'node:os';
import { crc32 } from 'node:zlib';
import { unzipSync } from 'fflate';
import puppeteer from 'puppeteer-core';
import { Builder, By } from 'selenium-webdriver';

export const BROWSERS = {
  chromium: { path: process.env.CHROMIUM || '/usr/bin/chromium', package: 'chromium' },
  firefox: { path: process.env.FIREFOX || '/usr/bin/firefox-esr', package: 'firefox-esr' },
};

// A scratch folder of the test's own, removed after it (`after`), and the
// demo movie there.
export function scratchWithDemo(root, name, makeDemoMovie, after) {
  const scratch = mkdtempSync(`${root}/${name}-`);
  after(() => rmSync(scratch, { recursive: true, force: true }));
  if (makeDemoMovie) execFileSync(makeDemoMovie, [scratch + '/demo.mov']);
  return { scratch, demoPath: scratch + '/demo.mov', demo: makeDemoMovie ? readFileSync(scratch + '/demo.mov') : null };
}

// A .zip's files: name -> bytes.
export const unzipped = (zip) => new Map(Object.entries(unzipSync(new Uint8Array(zip))).map(([name, bytes]) => [name, Buffer.from(bytes)]));

// Exits 77, which CTest reports as skipped, when the browser is not installed.
export function skipUnlessInstalled(engine) {
  if (existsSync(BROWSERS[engine].path)) return;
  console.log(`skipped: ${BROWSERS[engine].path} is not installed (Debian package ${BROWSERS[engine].package})`);
  process.exit(77);
}

// The page served from 127.0.0.1, as from any web server, and `floor` at
// the addresses that begin /floor.
export async function servePage(pagePath, floor = null) {
  const server = createHttpServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html' });
    response.end(floor !== null && request.url.startsWith('/floor') ? floor : readFileSync(pagePath));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;
  return { origin, address: origin + '/movie-extract.html', close: () => server.close() };
}

// The flags and settings keep the browser from reaching for the network on
// its own. Firefox saves every download into one folder of its own, without
// asking.
export async function startBrowser(engine = 'chromium') {
  if (engine === 'firefox') {
    const downloads = mkdtempSync(tmpdir() + '/firefox-downloads-');
    const browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: BROWSERS.firefox.path,
      headless: true,
      protocolTimeout: 1800000,
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.helperApps.neverAsk.saveToDisk': 'application/zip,video/mp4',
        'media.autoplay.default': 0,
        'app.update.enabled': false,
        'network.captive-portal-service.enabled': false,
        'network.connectivity-service.enabled': false,
      },
    });
    browser.engine = engine;
    browser.downloads = downloads;
    browser.on('disconnected', () => rmSync(downloads, { recursive: true, force: true }));
    return browser;
  }
  const browser = await puppeteer.launch({
    executablePath: BROWSERS.chromium.path,
    headless: true,
    // Waiting for a long movie is one call to the browser.
    protocolTimeout: 1800000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
  });
  browser.engine = engine;
  return browser;
}

// WebKitGTK's MiniBrowser, driven through WebKitWebDriver on a free port of
// 127.0.0.1; it needs an X display.
export async function startWebKit(driverPath, miniBrowserPath) {
  const port = await new Promise((resolve) => {
    const probe = createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = probe.address();
      probe.close(() => resolve(free));
    });
  });
  const server = spawn(driverPath, ['--port=' + port], { stdio: 'ignore' });
  for (let attempt = 0; ; attempt++) {
    try {
      const driver = await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
        browserName: 'MiniBrowser',
        'webkitgtk:browserOptions': { binary: miniBrowserPath, args: ['--automation'] },
      }).build();
      return { driver, server, close: async () => { await driver.quit(); server.kill(); } };
    } catch (error) {
      if (attempt === 20) {
        server.kill();
        throw error;
      }
      await new Promise((resolve) => setTimeout(resolve, 250));
    }
  }
}

// Clicks `selector` and returns the file it downloads, named `name`: in a
// folder of its own (chromium), or in the browser's, from which it is then
// removed, so that the next download of that name keeps it (Firefox).
export async function download(page, selector, name, folder) {
  const path = await downloadTo(page, selector, name, folder);
  const bytes = readFileSync(path);
  if (page.browser().engine === 'firefox') unlinkSync(path);
  return bytes;
}

// The same, for a download too large to read at once: its path, once it is whole.
export async function downloadTo(page, selector, name, folder, timeout = 60000) {
  const browser = page.browser();
  if (browser.engine === 'firefox') {
    const path = browser.downloads + '/' + name;
    await page.click(selector);
    return downloaded(path, timeout);
  }
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  await page.click(selector);
  return downloaded(folder + '/' + name, timeout);
}

// Opens the page from its file: address, or from `address` where it is
// served, after `before` (a script) where given. Every request whose scheme
// is not file:, blob: or data:, nor the page's own address, is noted in
// `foreign`, and so is every attempt that the page's own security policy
// stopped before it became a request, and every error the page threw.
export async function openPage(browser, pagePath, foreign, { address = 'file://' + pagePath, before = null } = {}) {
  const page = await browser.newPage();
  page.on('request', (request) => {
    if (request.url() !== address && !/^(file|blob|data):/.test(request.url())) foreign.push(request.url());
  });
  page.on('console', (message) => {
    if (/Content Security Policy/.test(message.text())) foreign.push('stopped: ' + message.text());
  });
  page.on('pageerror', (error) => foreign.push('page error: ' + error.message));
  // A page closed with unsaved files asks before it goes; the question, left
  // open, would hold up the browser's next command.
  page.on('dialog', (dialog) => {
    if (dialog.type() === 'beforeunload') dialog.accept().catch(() => {});
  });
  if (before) await page.evaluateOnNewDocument(before);
  await page.goto(address);
  return page;
}

// Chooses the movie and waits for the outcome; the milliseconds it took.
export async function convertIn(page, moviePath, timeout = 120000) {
  const began = Date.now();
  // The last run's status goes first, so that only this run's can end the wait.
  await page.$eval('#outcome', (outcome) => delete outcome.dataset.status);
  await (await page.$('#movie')).uploadFile(moviePath);
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined, { timeout });
  return Date.now() - began;
}

export async function shown(page) {
  return page.evaluate(() => ({
    outcome: document.getElementById('outcome').textContent,
    status: Number(document.getElementById('outcome').dataset.status),
    messages: document.getElementById('messages').textContent,
    pictures: document.getElementById('pictures').textContent,
    progress: document.getElementById('progress').value,
    detailsNote: document.getElementById('details-note').textContent,
    notice: document.getElementById('notice').hidden ? null : document.getElementById('notice').textContent,
    save: document.getElementById('save').hidden ? null : document.getElementById('download').textContent,
    player: !document.getElementById('player').hidden,
  }));
}

// The browser's processes: every descendant of the one it started, found by
// their parents, since a browser may start them from any of its threads.
// `cpuMs`: the processor time it and its ended children took, in ms.
export function browserProcesses(browser) {
  const parents = new Map();
  const cpu = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      parents.set(Number(entry), Number(fields[1]));
      // utime, stime, cutime and cstime, in the system's ticks of 10 ms.
      cpu.set(Number(entry), fields.slice(11, 15).reduce((sum, ticks) => sum + Number(ticks), 0) * 10);
    } catch {
      // It ended meanwhile.
    }
  }
  const root = browser.process().pid;
  const inTree = (pid) => {
    for (let at = pid; at > 1; at = parents.get(at)) if (at === root) return true;
    return false;
  };
  const processes = [];
  for (const pid of parents.keys()) {
    if (!inTree(pid)) continue;
    try {
      const status = readFileSync(`/proc/${pid}/status`, 'utf8');
      const kib = (field) => Number((new RegExp(field + ':\\s+(\\d+)').exec(status) || [0, 0])[1]);
      processes.push({ pid, cmdline: readFileSync(`/proc/${pid}/cmdline`, 'utf8').replaceAll('\0', ' '),
                       rssMiB: kib('VmRSS') / 1024, peakMiB: kib('VmHWM') / 1024, cpuMs: cpu.get(pid) });
    } catch {
      // It ended meanwhile.
    }
  }
  return processes;
}

// Whether a process holds pages and their workers: chromium's renderers,
// Firefox's content processes.
export function isPageProcess(browser, process) {
  return browser.engine === 'firefox' ? process.cmdline.includes('-isForBrowser') : process.cmdline.includes('--type=renderer');
}

// The peak resident size of the processes where the page and its worker
// live, in MiB.
export function rendererPeakMiB(browser) {
  return Math.max(0, ...browserProcesses(browser).filter((p) => isPageProcess(browser, p)).map((p) => p.peakMiB));
}

// What the command-line converter makes of the movie, in `folder`: its files,
// standard error and status.
export function convertNatively(converter, moviePath, folder) {
  symlinkSync(moviePath, folder + '/BOOK.MOV');
  const { status, stderr } = spawnSync(converter, [], { cwd: folder, stdio: ['ignore', 'ignore', 'pipe'] });
  const err = stderr.toString();
  const files = new Map();
  for (const name of readdirSync(folder)) if (name !== 'BOOK.MOV') files.set(name, readFileSync(folder + '/' + name));
  return { status, err, files };
}

// What the command line writes of a movie too large to hold, as the size
// and CRC-32 of each file: name -> { size, crc }. It converts in `folder`,
// which is removed afterwards.
export function nativeSizesAndCrcs(converter, moviePath, folder) {
  mkdirSync(folder);
  symlinkSync(moviePath, folder + '/BOOK.MOV');
  execFileSync(converter, [], { cwd: folder, stdio: 'ignore' });
  const files = new Map();
  for (const name of readdirSync(folder)) {
    if (name === 'BOOK.MOV') continue;
    const bytes = readFileSync(folder + '/' + name);
    files.set(name, { size: bytes.length, crc: crc32(bytes) });
  }
  rmSync(folder, { recursive: true, force: true });
  return files;
}

// Waits for a download to be whole: there, and no longer growing.
async function downloaded(path, timeout) {
  const until = Date.now() + timeout;
  let last = -1;
  while (Date.now() < until) {
    if (existsSync(path)) {
      const size = statSync(path).size;
      if (size === last && size > 0) return path;
      last = size;
    }
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  throw new Error('no download at ' + path);
}

// A chunk head: type, then the 32-bit little-endian length.
export function chunkHead(type, length) {
  const head = Buffer.alloc(5);
  head[0] = type;
  head.writeInt32LE(length, 1);
  return head;
}

// A movie of `bytes` in `folder`, then a hole up to `size` bytes, which
// takes no disk.
export function writeMovieIn(folder, name, bytes, size = bytes.length) {
  const path = folder + '/' + name;
  const fd = openSync(path, 'w');
  writeSync(fd, bytes);
  ftruncateSync(fd, size);
  closeSync(fd);
  return path;
}

// A TGA's pixels as red, green, blue: its colour map (blue, green, red)
// applied to its rows.
export function rgbOf(tga) {
  const rgb = [];
  for (let i = 0; i < 320 * 200; i++) {
    const entry = 18 + 3 * tga[18 + 768 + i];
    rgb.push(tga[entry + 2], tga[entry + 1], tga[entry]);
  }
  return rgb;
}

// The files a .zip lists in its central directory, read straight from the
// file: name -> { size, crc }, with the ZIP64 records and fields where the
// numbers do not fit in 32 bits.
export function zipDirectory(path) {
  const fd = openSync(path, 'r');
  const read = (at, length) => {
    const bytes = Buffer.alloc(length);
    readSync(fd, bytes, 0, length, at);
    return bytes;
  };
  try {
    const size = fstatSync(fd).size;
    const end = read(size - 22, 22);
    if (end.readUInt32LE(0) !== 0x06054b50) throw new Error(path + ': no end of central directory where it belongs');
    let count = end.readUInt16LE(10);
    let directorySize = end.readUInt32LE(12);
    let directoryAt = end.readUInt32LE(16);
    if (directoryAt === 0xFFFFFFFF || count === 0xFFFF) {
      const locator = read(size - 22 - 20, 20);
      const end64 = read(Number(locator.readBigUInt64LE(8)), 56);
      count = Number(end64.readBigUInt64LE(32));
      directorySize = Number(end64.readBigUInt64LE(40));
      directoryAt = Number(end64.readBigUInt64LE(48));
    }
    const directory = read(directoryAt, directorySize);
    const files = new Map();
    for (let p = 0; files.size < count; ) {
      if (directory.readUInt32LE(p) !== 0x02014b50) throw new Error(path + ': a central directory entry is damaged');
      const nameLength = directory.readUInt16LE(p + 28);
      const extraLength = directory.readUInt16LE(p + 30);
      let fileSize = directory.readUInt32LE(p + 24);
      for (let e = p + 46 + nameLength; e < p + 46 + nameLength + extraLength; e += 4 + directory.readUInt16LE(e + 2)) {
        if (directory.readUInt16LE(e) === 1 && fileSize === 0xFFFFFFFF) fileSize = Number(directory.readBigUInt64LE(e + 4));
      }
      files.set(directory.toString('utf8', p + 46, p + 46 + nameLength), { size: fileSize, crc: directory.readUInt32LE(p + 16) });
      p += 46 + nameLength + extraLength + directory.readUInt16LE(p + 32);
    }
    return files;
  } finally {
    closeSync(fd);
  }
}

// WebKit's page, as it appears to a test: the save offer, the outcome's
// status, the count of pictures, and the notes of a movie saved in parts.
export function webKitState(driver) {
  return driver.executeScript(() => ({
    save: document.getElementById('save').hidden || document.getElementById('download').disabled ? null : document.getElementById('download').textContent,
    status: document.getElementById('outcome').dataset.status || null,
    pictures: document.getElementById('pictures').textContent,
    parts: document.getElementById('parts').hidden ? null : document.getElementById('parts').textContent,
    held: document.getElementById('held').hidden ? null : document.getElementById('held').textContent,
  }));
}

// Every .zip the page hands to the browser, caught on its way: its name,
// and its end, which holds the central directory, read in the page.
function catchZips() {
  window.handed = [];
  const made = URL.createObjectURL;
  let blob = null;
  URL.createObjectURL = (object) => made(blob = object);
  const click = HTMLAnchorElement.prototype.click;
  HTMLAnchorElement.prototype.click = function () {
    const size = blob.size;
    const reader = new FileReader();
    reader.onload = () => window.handed.push({ name: this.download, size, tail: reader.result.slice(reader.result.indexOf(',') + 1) });
    reader.readAsDataURL(blob.slice(Math.max(0, size - (2 << 20))));
    blob = null;
    return click.call(this);
  };
}

// Converts `moviePath` in WebKit's page, already open, and saves every part
// the page offers, one after another, as a person would: the files the
// parts list, name -> { size, crc, part }, each listed once. `whenWaiting`
// hears of the page's state while part 1 waits.
export async function saveEveryPart(driver, moviePath, scratch, whenWaiting = async () => {}) {
  await driver.executeScript(catchZips);
  await driver.findElement(By.id('movie')).sendKeys(moviePath);
  const got = new Map();
  for (let number = 1, last = null; ; number++) {
    const label = 'Save part ' + number + ' (.zip)';
    let now;
    // Any status but complete (0) or stopped (130) ends the wait: nothing more is offered.
    const failed = () => !['0', '130', null].includes(now.status);
    await driver.wait(async () => {
      now = await webKitState(driver);
      return (now.save !== null && (now.save !== last || now.status !== null)) || failed();
    }, 1800000, () => 'waited for part ' + number + ': ' + JSON.stringify(now));
    if (failed()) throw new Error('the conversion ended with status ' + now.status + ': ' + JSON.stringify(now));
    if (now.save === last) return got;
    if (now.save !== label) throw new Error('"' + now.save + '" offered, not "' + label + '"');
    last = label;
    if (number === 1) await whenWaiting(now);
    await driver.findElement(By.id('download')).click();
    const zip = await driver.wait(() => driver.executeScript('return window.handed.shift()'), 600000, 'no .zip of part ' + number);
    if (!zip.name.endsWith('-part' + number + '.zip')) throw new Error(zip.name + ' is not named as part ' + number);
    // The end of the .zip, where it is in the whole.
    const tail = Buffer.from(zip.tail, 'base64');
    const path = scratch + '/' + zip.name;
    const fd = openSync(path, 'w');
    writeSync(fd, tail, 0, tail.length, zip.size - tail.length);
    closeSync(fd);
    for (const [name, file] of zipDirectory(path)) {
      if (got.has(name)) throw new Error(name + ' is in part ' + got.get(name).part + ' and part ' + number);
      got.set(name, { ...file, part: number });
    }
    unlinkSync(path);
  }
}
