// The web page against the command line on the benchmark's 3000-picture
// movie: five runs of each, alternating, timed from choosing the movie to
// the outcome shown (the page) or to the end of the process (the command
// line), and the page's peak memory.
//
//   node bench/page_bench.mjs PAGE.html MOVIE-EXTRACT MOVIE-BENCH [band|scattered]
import { mkdtempSync, readdirSync, rmSync, symlinkSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { startBrowser, openPage, convertIn, shown, rendererPeakMiB } from '../tests/browser/browser.mjs';

const [pagePath, converter, movieBench, shape = 'band'] = process.argv.slice(2);
const folder = mkdtempSync('/dev/shm/page-bench-');
const movie = folder + '/movie.mov';
execFileSync(movieBench, ['--movie-only', movie, '3000', shape], { stdio: 'ignore' });
const run = folder + '/run';

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const nativeMs = [];
const pageMs = [];
let peak = 0;
for (let round = 0; round < 5; round++) {
  rmSync(run, { recursive: true, force: true });
  execFileSync('mkdir', [run]);
  symlinkSync(movie, run + '/BOOK.MOV');
  const began = process.hrtime.bigint();
  execFileSync(converter, [], { cwd: run, stdio: 'ignore' });
  nativeMs.push(Number(process.hrtime.bigint() - began) / 1e6);
  if (readdirSync(run).length !== 3001 + 1) throw new Error('the command line did not convert the movie');

  const browser = await startBrowser();
  const foreign = [];
  const page = await openPage(browser, pagePath, foreign);
  pageMs.push(await convertIn(page, movie));
  const seen = await shown(page);
  if (seen.outcome !== 'Complete (status 0)' || seen.pictures !== 'Pictures written: 3000') throw new Error(seen.outcome);
  peak = Math.max(peak, rendererPeakMiB(browser));
  await browser.close();
}
rmSync(folder, { recursive: true, force: true });
console.log(`${shape}, 3000 pictures: command line ${nativeMs.map((ms) => ms.toFixed(0)).join(', ')} ms, median ${median(nativeMs).toFixed(0)} ms`);
console.log(`${shape}, 3000 pictures: page ${pageMs.join(', ')} ms, median ${median(pageMs)} ms`);
console.log(`page/command line: ${(median(pageMs) / median(nativeMs)).toFixed(2)}; peak resident size of the page's renderer: ${peak.toFixed(0)} MiB`);
