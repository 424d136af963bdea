// The page's video against its floor (bench/video_floor.html): the same
// pictures, already enlarged and in I420, fed to the same encoder
// configuration with nothing else running. ROUNDS of each, alternating, on
// the benchmark's band movie, in chromium: the page's timed inside it from
// "Save as video (.mp4)" to "Saved", the video downloaded, the floor's from
// its first frame to the encoder flushed. The last video downloaded must
// hold every picture at 40 dB or more against its TGA (ffmpeg's PSNR, as the
// page's tests measure it).
//
//   node bench/video_bench.mjs PAGE.html MOVIE-EXTRACT MOVIE-BENCH [ROUNDS] [PICTURES]
import { mkdtempSync, readFileSync, rmSync, symlinkSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { downloadTo, startBrowser } from '../tests/browser/browser.mjs';

const [pagePath, converter, movieBench, roundsText = '5', picturesText = '300'] = process.argv.slice(2);
const ROUNDS = Number(roundsText);
const PICTURES = Number(picturesText);
const floorPath = new URL('video_floor.html', import.meta.url).pathname;
const folder = mkdtempSync('/dev/shm/video-bench-');
const movie = folder + '/band.mov';
execFileSync(movieBench, ['--movie-only', movie, String(PICTURES), 'band'], { stdio: 'ignore' });
execFileSync('mkdir', [folder + '/run']);
symlinkSync(movie, folder + '/run/BOOK.MOV');
execFileSync(converter, [], { cwd: folder + '/run', stdio: 'ignore' });
const samples = readFileSync(folder + '/run/BOOK.WAV').length - 44;
const rate = samples > 0 ? (PICTURES * 22050) / samples : 15;
// The pictures as the page turns them: each pixel 5 × 6, BT.709 in limited
// range, each chroma sample the mean of the pixels it covers.
const TURNED = 'scale=1600:1200:flags=neighbor,format=rgb24,scale=out_color_matrix=bt709:out_range=tv:flags=area,format=yuv420p';
execFileSync('ffmpeg', ['-v', 'error', '-framerate', String(rate), '-i', folder + '/run/%08d.tga', '-vf', TURNED,
                        '-f', 'rawvideo', folder + '/frames.yuv']);

const browser = await startBrowser('chromium');
process.on('exit', () => browser.process().kill());

async function floor() {
  const page = await browser.newPage();
  await page.goto(`file://${floorPath}?rate=${rate}`);
  await (await page.$('#frames')).uploadFile(folder + '/frames.yuv');
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined, { timeout: 0, polling: 200 });
  const { text, ms } = await page.$eval('#outcome', (outcome) => ({ text: outcome.textContent, ms: Number(outcome.dataset.ms) }));
  if (text !== `Complete: ${PICTURES} pictures`) throw new Error('the floor: ' + text);
  await page.close();
  return ms;
}

async function pageVideo() {
  const page = await browser.newPage();
  await page.evaluateOnNewDocument('delete window.showSaveFilePicker; delete window.showDirectoryPicker;');
  await page.goto('file://' + pagePath);
  await (await page.$('#movie')).uploadFile(movie);
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined, { timeout: 0, polling: 200 });
  await page.evaluate(() => {
    window.videoTimed = new Promise((resolve) => {
      const note = document.getElementById('video-note');
      document.getElementById('make-video').addEventListener('click', () => {
        const began = performance.now();
        new MutationObserver((changes, observer) => {
          if (!/^(Saved|Failed)/.test(note.textContent)) return;
          observer.disconnect();
          resolve({ ms: performance.now() - began, note: note.textContent });
        }).observe(note, { childList: true, characterData: true, subtree: true });
      }, { capture: true, once: true });
    });
  });
  rmSync(folder + '/band.mp4', { force: true });
  // A video that failed is never downloaded: the page's note ends the wait.
  const downloaded = downloadTo(page, '#make-video', 'band.mp4', folder, 0x7fffffff);
  const { ms, note } = await page.evaluate(() => window.videoTimed);
  if (!note.startsWith('Saved')) throw new Error('the page: ' + note);
  await downloaded;
  await page.close();
  return ms;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const shown = (values) => `median ${median(values).toFixed(0)} ms (${values.map((ms) => ms.toFixed(0)).join(', ')})`;
const times = { floor: [], page: [] };
for (let round = 0; round < ROUNDS; round++) {
  times.floor.push(await floor());
  times.page.push(await pageVideo());
}
execFileSync('ffmpeg', ['-v', 'error', '-i', folder + '/band.mp4', '-f', 'rawvideo', '-pix_fmt', 'yuv420p', '-s', '1600x1200', '-framerate', String(rate),
                        '-i', folder + '/frames.yuv', '-lavfi', `[0:v]format=yuv420p[made];[made][1:v]psnr=stats_file=${folder}/psnr.txt`,
                        '-f', 'null', '-']);
const psnr = readFileSync(folder + '/psnr.txt', 'utf8').trim().split('\n')
  .map((line) => Number(/psnr_avg:([\d.]+|inf)/.exec(line)[1].replace('inf', '99')));
const lowest = psnr.reduce((low, value, n) => (value < low.value ? { value, n } : low), { value: Infinity, n: -1 });
console.log(`chromium, video of the band movie, ${PICTURES} pictures at ${rate.toFixed(2)} a second, ${ROUNDS} alternating runs:`);
console.log(`  floor (encoder only) ${shown(times.floor)}`);
console.log(`  page                 ${shown(times.page)}`);
console.log(`  page/floor ${(median(times.page) / median(times.floor)).toFixed(2)}`);
console.log(`  the last video: ${psnr.length} pictures, PSNR mean ${(psnr.reduce((sum, value) => sum + value, 0) / psnr.length).toFixed(1)} dB, ` +
            `lowest ${lowest.value.toFixed(1)} dB (picture ${lowest.n}), the second ${psnr[1].toFixed(1)} dB`);
rmSync(folder, { recursive: true, force: true });
if (psnr.length !== PICTURES || lowest.value < 40) {
  console.log('  FAILED: every picture must be there, at 40 dB or more');
  process.exit(1);
}
process.exit(0);
