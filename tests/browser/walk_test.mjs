// A person's walk through the page in chromium or Firefox, from its file:
// address, the save pickers taken away so that every save is a download: a
// seeded random sequence of choosing movies (good, damaged, not a movie),
// answering questions, Play/Pause, the slider's keys, Stop, the .zip and
// Cancel, the video and its Stop. After every step: no error on the console;
// an outcome within 60 s of a choice; a .zip not cancelled within 60 s, with
// the command line's files (after Stop, those made so far); a video not
// stopped within 120 s, with every picture. Seeds: 1 to 4 and the commit's.
//
//   node tests/browser/walk_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE SCRATCH-FOLDER ENGINE [SEED...]
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, renameSync, rmSync, statSync } from 'node:fs';
import { chunkHead, convertNatively, openPage, scratchWithDemo, shown, skipUnlessInstalled, startBrowser, unzipped, writeMovieIn } from './browser.mjs';

const [pagePath, converter, makeDemoMovie, scratchRoot, engine, ...seedArgs] = process.argv.slice(2);
skipUnlessInstalled(engine);
const STEPS = 40;
const commit = String(spawnSync('git', ['rev-parse', 'HEAD'], { cwd: new URL('.', import.meta.url) }).stdout || '');
const seeds = seedArgs.length > 0 ? seedArgs.map(Number) : [1, 2, 3, 4, ...(/^[0-9a-f]{8}/.test(commit) ? [parseInt(commit.slice(0, 8), 16)] : [])];
const { scratch, demoPath, demo } = scratchWithDemo(scratchRoot, 'walk-test', makeDemoMovie, after);
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

// The same steps for the same seed.
const random = (seed) => () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) / 2 ** 32;

// A .zip's files against the command line's: all, or after Stop those made.
function checkZip(bytes, { movie, images }, stopped) {
  const got = unzipped(bytes);
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


async function walk(browser, seed, log) {
  const rand = random(seed);
  const folder = engine === 'firefox' ? browser.downloads : mkdtempSync(scratch + '/downloads-');
  const pick = (list) => list[Math.floor(rand() * list.length)];
  const [errors, answers] = [[], []];
  // The pickers taken away; runs counted as the page starts them.
  const page = await openPage(browser, pagePath, errors, { before: `delete window.showSaveFilePicker; delete window.showDirectoryPicker;
    window.walkRuns = 0;
    document.addEventListener('DOMContentLoaded', () => new MutationObserver(() => {
      if (document.getElementById('outcome').textContent.startsWith('Converting ')) window.walkRuns += 1;
    }).observe(document.getElementById('outcome'), { childList: true, characterData: true, subtree: true }));` });
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  page.on('dialog', (dialog) => {
    if (dialog.type() !== 'confirm') return undefined;
    const yes = rand() < 0.5;
    log.push('  asked "' + dialog.message() + '": ' + (answers.push(yes) && yes ? 'yes' : 'no'));
    return yes ? dialog.accept() : dialog.dismiss();
  });
  if (engine === 'chromium') {
    // Told only to allow them, chromium writes downloads of the same name
    // over one another, where a person's would number them, and two quick
    // saves became one: each goes under its own id, and takes its name,
    // numbered, once whole.
    const session = await page.createCDPSession();
    const named = new Map();
    let count = 0;
    session.on('Browser.downloadWillBegin', ({ guid, suggestedFilename }) => named.set(guid, suggestedFilename));
    session.on('Browser.downloadProgress', ({ guid, state }) => {
      if (state !== 'completed') return;
      const [, base, kind] = /^(.*)\.([^.]*)$/.exec(named.get(guid));
      renameSync(`${folder}/${guid}`, `${folder}/${base} (${++count}).${kind}`);
    });
    await session.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: folder, eventsEnabled: true });
  }
  let run = null;     // { movie, stopPressed, ended, deadline }
  const saves = [];   // { kind, run, movie, deadline, optional }
  const sizes = new Map();

  const check = async () => {
    assert.deepEqual(errors, [], 'errors in the console');
    if (run && !run.ended) {
      const status = await page.$eval('#outcome', (outcome) => outcome.dataset.status);
      assert.ok(status !== undefined || Date.now() < run.deadline, run.movie.name + ': no outcome within 60 s');
      if (status !== undefined) {
        Object.assign(run, { ended: true, status: Number(status), images: Number((await shown(page)).pictures.replace(/\D/g, '')) });
        assert.ok(run.status === run.movie.status || (run.stopPressed && run.status === 130), `${run.movie.name}: ${(await shown(page)).outcome}`);
      }
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
    for (const save of saves) assert.ok(save.optional || Date.now() < save.deadline, `${save.movie.name}: no ${save.kind} within its time`);
  };

  // What a person could press now, as actions.
  const possible = () => page.evaluate(() => Object.entries({ stop: 'stop', play: 'play', key: 'play', save: 'download',
    cancel: 'cancel', video: 'make-video', stopVideo: 'stop-video' })
    .filter(([, id]) => !document.getElementById(id).closest('[hidden]') && !document.getElementById(id).disabled).map(([action]) => action));
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
    stop: () => log.push('Stop') && clicked('#stop').then((done) => { if (done && run && !run.ended) run.stopPressed = true; }),
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
    await actions[pick(['choose', 'wait', ...(await possible())])]();
    await check();
  }
  // Whatever is on its way arrives within its time.
  while ((run && !run.ended) || saves.some((save) => !save.optional)) {
    await new Promise((resolve) => setTimeout(resolve, 250));
    await check();
  }
}

// Each walk in a browser of its own. One whose browser never opened the page
// (seen once in Firefox, started just after another test's) walks again.
const walkAnew = async (seed, log, tries) => {
  const browser = await startBrowser(engine);
  await walk(browser, seed, log).finally(() => browser.close()).catch((error) => {
    if (log.length === 0 && tries > 1) return walkAnew(seed, log, tries - 1);
    throw Object.assign(error, { message: `walk ${seed}, after:\n${log.join('\n')}\n${error.message}` });
  });
};
for (const seed of seeds) {
  test(`walk ${seed}`, { timeout: 300000 }, async () => {
    const log = [];
    await walkAnew(seed, log, 2);
    console.log(`walk ${seed}: ${log.filter((line) => !line.startsWith(' ')).length} steps\n  ${log.join('\n  ')}`);
  });
}
