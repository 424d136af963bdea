// A person's walk through the page, in chromium or Firefox, opened from its
// file: address with the save pickers taken away, so that every save is a
// download: a seeded random sequence of choosing movies (good, damaged, not
// a movie), answering the page's questions, Play/Pause, the slider's keys,
// Stop, saving the .zip and Cancel, saving the video and stopping it. After
// every step: nothing reached the console as an error; a chosen movie ends
// with an outcome within 60 s; a .zip not cancelled arrives within 60 s and
// holds the command line's files (after Stop, the images made so far); a
// video not stopped arrives within 120 s and holds every picture.
//
//   node tests/browser/walk_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE SCRATCH-FOLDER ENGINE [SEED...]
//
// Without seeds it walks the fixed ones and one taken from the commit.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync } from 'node:fs';
import { unzipSync } from 'fflate';
import { chunkHead, convertNatively, skipUnlessInstalled, startBrowser, writeMovieIn } from './browser.mjs';

const [pagePath, converter, makeDemoMovie, scratchRoot, engine, ...seedArgs] = process.argv.slice(2);
skipUnlessInstalled(engine);
const STEPS = 40;
const commit = (() => {
  try {
    return execFileSync('git', ['rev-parse', 'HEAD'], { cwd: new URL('.', import.meta.url), stdio: ['ignore', 'pipe', 'ignore'] }).toString();
  } catch {
    return null;
  }
})();
const seeds = seedArgs.length > 0 ? seedArgs.map(Number) : [1, 2, 3, 4, ...(commit ? [parseInt(commit.slice(0, 8), 16)] : [])];
const scratch = mkdtempSync(scratchRoot + '/walk-test-');
after(() => rmSync(scratch, { recursive: true, force: true }));
const demoPath = scratch + '/demo.mov';
execFileSync(makeDemoMovie, [demoPath]);
const demo = readFileSync(demoPath);
const MOVIES = [
  ['demo.mov', demo],
  ['cut.mov', demo.subarray(0, 200000)],
  ['clip.mp4', Buffer.concat([Buffer.alloc(32), chunkHead(0, 1711800320), Buffer.alloc(100)])],
  // Long enough to be stopped: 40 MiB of sound after the pictures.
  ['long.mov', Buffer.concat([demo, chunkHead(2, 40 << 20), Buffer.alloc(40 << 20, 0x80)])],
].map(([name, bytes]) => {
  const path = writeMovieIn(scratch, name, bytes);
  return { name, base: name.replace(/\.[^.]*$/, ''), path, ...convertNatively(converter, path, mkdtempSync(scratch + '/native-')) };
});

// mulberry32: the same steps for the same seed.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6D2B79F5) >>> 0;
    let t = Math.imul(a ^ (a >>> 15), a | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// A download's files, checked against the command line's: all of them, or
// after Stop those made so far, each whole.
function checkZip(bytes, { movie, images }, stopped) {
  const got = new Map(Object.entries(unzipSync(new Uint8Array(bytes))).map(([name, data]) => [name, Buffer.from(data)]));
  if (!stopped) assert.deepEqual([...got.keys()].sort(), [...movie.files.keys()].sort(), movie.name + ': the .zip\'s files');
  if (images !== undefined) assert.equal([...got.keys()].filter((name) => name.endsWith('.tga')).length, images, movie.name + ': the .zip\'s images');
  for (const [name, data] of got) {
    const want = movie.files.get(name);
    assert.ok(want && (name === 'BOOK.WAV' && stopped ? want.subarray(44, data.length).equals(data.subarray(44)) &&
      data.readUInt32LE(40) === data.length - 44 : want.equals(data)), movie.name + ': the .zip\'s ' + name);
  }
}

function checkVideo(path, { movie, images }) {
  const { streams } = JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-of', 'json', '-count_frames', '-show_streams', path]).toString());
  assert.equal(Number(streams.find((stream) => stream.codec_type === 'video').nb_read_frames), images, movie.name + ': the video\'s pictures');
}

const browser = await startBrowser(engine);
after(() => browser.close());
const folder = engine === 'firefox' ? browser.downloads : mkdtempSync(scratch + '/downloads-');

async function walk(seed, log) {
  const rand = random(seed);
  for (const name of readdirSync(folder)) rmSync(folder + '/' + name, { force: true });
  const pick = (list) => list[Math.floor(rand() * list.length)];
  const page = await browser.newPage();
  const errors = [];
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  page.on('pageerror', (error) => errors.push(error.message));
  const answers = [];
  page.on('dialog', (dialog) => {
    if (dialog.type() !== 'confirm') return dialog.accept().catch(() => {});
    const yes = rand() < 0.5;
    answers.push(yes);
    log.push('  asked "' + dialog.message() + '": ' + (yes ? 'yes' : 'no'));
    return yes ? dialog.accept() : dialog.dismiss();
  });
  if (engine === 'chromium') await (await page.createCDPSession()).send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  // The pickers taken away; runs counted as the page starts them.
  await page.evaluateOnNewDocument(`delete window.showSaveFilePicker; delete window.showDirectoryPicker;
    window.walkRuns = 0;
    document.addEventListener('DOMContentLoaded', () => new MutationObserver(() => {
      if (document.getElementById('outcome').textContent.startsWith('Converting ')) window.walkRuns += 1;
    }).observe(document.getElementById('outcome'), { childList: true, characterData: true, subtree: true }));`);
  await page.goto('file://' + pagePath);
  let run = null;     // { movie, stopPressed, ended, deadline }
  const saves = [];   // { kind, run, movie, deadline, optional }
  const sizes = new Map();

  const check = async () => {
    assert.deepEqual(errors, [], 'errors in the console');
    const now = Date.now();
    if (run && !run.ended) {
      const status = await page.$eval('#outcome', (outcome) => outcome.dataset.status);
      if (status !== undefined) {
        run.ended = true;
        run.status = Number(status);
        run.images = Number((await page.$eval('#pictures', (pictures) => pictures.textContent)).replace(/\D/g, ''));
        assert.ok(Number(status) === run.movie.status || (run.stopPressed && Number(status) === 130),
                  `${run.movie.name}: status ${status}, ${await page.$eval('#outcome', (outcome) => outcome.textContent)}`);
      } else assert.ok(now < run.deadline, run.movie.name + ': no outcome within 60 s');
    }
    for (const name of readdirSync(folder)) {
      const [, base, kind] = /^(.*?) ?(?:\(\d+\))?\.(zip|mp4)$/.exec(name) || [];
      const size = statSync(folder + '/' + name).size;
      if (!kind || existsSync(folder + '/' + name + '.part') || sizes.get(name) !== size) {
        sizes.set(name, size);
        continue;
      }
      const ours = (made) => made.kind === kind && made.movie.base === base;
      const save = saves.find((made) => ours(made) && !made.optional) || saves.find(ours);
      assert.ok(save, 'a download that was not asked for: ' + name);
      saves.splice(saves.indexOf(save), 1);
      log.push('  arrived: ' + name);
      // After Stop, or where the run's end was never seen, the files made so far.
      if (kind === 'zip') checkZip(readFileSync(folder + '/' + name), save.run, !(save.run.status < 128));
      else checkVideo(folder + '/' + name, save.run);
      rmSync(folder + '/' + name);
      sizes.delete(name);
    }
    for (const save of saves) assert.ok(save.optional || now < save.deadline, `${save.movie.name}: no ${save.kind} within its time`);
  };

  const shown = () => page.evaluate(() => {
    const can = (id) => !document.getElementById(id).closest('[hidden]') && !document.getElementById(id).disabled;
    return { stop: can('stop'), player: can('play'), save: can('download'), cancel: can('cancel'), video: can('make-video'),
             stopVideo: can('stop-video') };
  });
  // A control that went between looking and clicking is a step missed.
  const clicked = (selector) => page.click(selector).then(() => true, () => !log.push('  (it had gone)'));
  // A save must arrive in time; one cancelled or stopped may or may not.
  const begin = async (what, selector, kind, ms) => {
    log.push(what);
    if (await clicked(selector)) saves.push({ kind, run, movie: run.movie, deadline: Date.now() + ms });
  };
  const giveUp = async (what, selector, kind) => {
    log.push(what);
    if (await clicked(selector)) for (const save of saves) if (save.kind === kind) save.optional = true;
  };
  const actions = {
    async choose() {
      const movie = pick(MOVIES);
      const [runs, asked] = [await page.evaluate(() => window.walkRuns), answers.length];
      log.push(`choose ${movie.name}`);
      await (await page.$('#movie')).uploadFile(movie.path);
      await page.waitForFunction((before) => window.walkRuns > before, { timeout: 5000 }, runs).catch(() => {});
      if (await page.evaluate(() => window.walkRuns) === runs) {
        assert.ok(answers.length > asked && !answers.at(-1), 'choosing a movie started nothing, and nothing was declined');
        return;
      }
      for (const save of saves) save.optional = true;
      run = { movie, stopPressed: false, ended: false, deadline: Date.now() + 60000 };
    },
    async stop() {
      log.push('Stop');
      if (run && !run.ended) run.stopPressed = true;
      await clicked('#stop');
    },
    play: () => log.push('Play/Pause') && clicked('#play'),
    async key() {
      const key = pick(['ArrowRight', 'ArrowLeft', 'Home', 'End']);
      log.push('slider: ' + key);
      if (await clicked('#picture')) await page.keyboard.press(key);
    },
    save: () => begin('Save as a .zip', '#download', 'zip', 60000),
    cancel: () => giveUp('Cancel', '#cancel', 'zip'),
    video: () => begin('Save as video', '#make-video', 'mp4', 120000),
    stopVideo: () => giveUp('Stop the video', '#stop-video', 'mp4'),
    wait: () => log.push('wait') && new Promise((resolve) => setTimeout(resolve, 200 + 1300 * rand())),
  };
  for (let step = 0; step < STEPS; step++) {
    const state = await shown();
    const possible = Object.keys(state).filter((control) => state[control] === true);
    const more = possible.flatMap((control) => (control === 'player' ? ['play', 'key'] : [control]));
    await actions[pick(['choose', 'wait', ...more])]();
    await check();
  }
  // Whatever is on its way arrives within its time.
  while ((run && !run.ended) || saves.some((save) => !save.optional)) {
    await new Promise((resolve) => setTimeout(resolve, 250));
    await check();
  }
  await page.close();
}

for (const seed of seeds) {
  test(`walk ${seed}`, { timeout: 300000 }, async () => {
    const log = [];
    try {
      await walk(seed, log);
    } catch (error) {
      console.log(`walk ${seed} failed after:\n${log.join('\n')}`);
      throw error;
    }
    console.log(`walk ${seed}: ${log.filter((line) => !line.startsWith(' ')).length} steps taken`);
  });
}
