// The web page in WebKit, Safari's engine: WebKitGTK's MiniBrowser, driven
// by WebKitWebDriver and selenium-webdriver, under Xvfb, the page opened
// from its file: address. WebDriver collects no download there, so these
// rows check what the page shows against the command line, the preview's
// pixels of two pictures, and the demo's .zip as the page hands it to the
// browser to download; and a movie longer than WebKit may keep, saved in
// parts, each checked by its central directory as it is handed over.
//
//   xvfb-run -a node tests/browser/webkit_test.mjs PAGE.html CONVERTER MAKE-DEMO-MOVIE MOVIE-BENCH SCRATCH-FOLDER
//
// Exits 77, which CTest reports as skipped, when WebKitWebDriver, MiniBrowser
// or an X display is missing.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync } from 'node:fs';
import { By } from 'selenium-webdriver';
import { chunkHead, convertNatively, nativeSizesAndCrcs, rgbOf, saveEveryPart, scratchWithDemo, startWebKit, unzipped, webKitState,
  writeMovieIn } from './browser.mjs';

const DRIVER = process.env.WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';
const MINIBROWSER = process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const [pagePath, converter, makeDemoMovie, movieBench, scratchRoot] = process.argv.slice(2);
const missing = !existsSync(DRIVER) ? 'WebKitWebDriver (Debian package webkit2gtk-driver) is not installed'
  : !existsSync(MINIBROWSER) ? 'MiniBrowser (Debian package webkit2gtk-driver) is not installed'
    : !process.env.DISPLAY ? 'no X display; run it under xvfb-run (Debian package xvfb)' : null;
if (missing) {
  console.log('skipped: ' + missing);
  process.exit(77);
}
const { scratch, demoPath, demo } = scratchWithDemo(scratchRoot, 'webkit-test', makeDemoMovie, after);

const webkit = await startWebKit(DRIVER, MINIBROWSER);
after(() => webkit.close());
const driver = webkit.driver;

const text = async (id) => driver.findElement(By.id(id)).getText();

test('WebKit gives the command line\'s outcomes, messages and pictures, and shows them', { timeout: 300000 }, async () => {
  const movies = [
    // The demo with 5 MiB more sound, which the page receives in parts.
    { name: 'sound.mov', outcome: /^Complete: 90 pictures and \d+\.\d s of sound$/,
      path: writeMovieIn(scratch, 'sound.mov', Buffer.concat([demo, chunkHead(2, 5 << 20), Buffer.alloc(5 << 20, 0x5A)])) },
    // Chunks of no known kind, 40 MiB each, passed over: the page reads on from each.
    { name: 'skipped.mov', outcome: /^Complete: 90 pictures and 6\.0 s of sound$/,
      path: writeMovieIn(scratch, 'skipped.mov', Buffer.concat([demo.subarray(0, 32),
        ...[1, 2, 3].flatMap(() => [chunkHead(9, 40 << 20), Buffer.alloc(40 << 20, 0x33)]), demo.subarray(32)])) },
    { name: 'cut.mov', path: writeMovieIn(scratch, 'cut.mov', demo.subarray(0, 200000)),
      outcome: /^Damaged at byte 185572: 46 pictures and 3\.1 s of sound before it were kept$/ },
    { name: 'clip.mp4', outcome: /^Not a movie of this kind, or cut off before its first chunk: nothing was made$/,
      path: writeMovieIn(scratch, 'clip.mp4', Buffer.concat([Buffer.alloc(32), chunkHead(0, 1711800320), Buffer.alloc(100)])) },
    // More sound than WebKit may keep: refused, in words, and the pictures offered.
    { name: 'long.mov', outcome: /^Failed: This browser keeps the files in its memory, and takes no more than 512 MiB of them, and the sound track alone is longer: BOOK.WAV cannot be kept/, refused: true,
      path: writeMovieIn(scratch, 'long.mov', Buffer.concat([demo, chunkHead(2, 520 << 20)]), demo.length + 5 + (520 << 20)) },
  ];
  for (const movie of movies) {
    await driver.get('file://' + pagePath);
    await driver.findElement(By.id('movie')).sendKeys(movie.path);
    await driver.wait(async () => (await driver.executeScript('return document.getElementById("outcome").dataset.status')) !== null, 120000);
    const want = convertNatively(converter, movie.path, mkdtempSync(scratch + '/native-'));
    const images = [...want.files.keys()].filter((name) => name.endsWith('.tga'));
    assert.match(await text('outcome'), movie.outcome, movie.name);
    if (!movie.refused) assert.equal(await driver.executeScript('return document.getElementById("messages").textContent'), want.err, movie.name);
    assert.equal(await text('pictures'), 'Pictures written: ' + images.length, movie.name);
    if (movie.refused) assert.match(await text('download'), /^Save (as a \.zip \(\d\.\d MB\)|part 1 \(\.zip\))$/, 'the pictures offered');
    if (movie.name !== 'sound.mov') continue;
    // WebKitGTK encodes H.264 only with GStreamer's encoders, which are not
    // installed here: the page says it cannot make a video, and why.
    const [noButton, why] = await driver.executeScript(
      'return [document.getElementById("make-video").hidden, document.getElementById("video-note").textContent]');
    if (noButton) assert.match(why, /^This browser cannot make a video: /);
    // The .zip that "Save as a .zip" hands the browser, caught on its way.
    const zip = await driver.executeAsyncScript(async (done) => {
      const made = URL.createObjectURL;
      URL.createObjectURL = (blob) => {
        URL.createObjectURL = made;
        const reader = new FileReader();
        reader.onload = () => done(reader.result.slice(reader.result.indexOf(',') + 1));
        reader.readAsDataURL(blob);
        return made(blob);
      };
      document.getElementById('download').click();
    });
    const files = unzipped(Buffer.from(zip, 'base64'));
    assert.deepEqual([...files.keys()].sort(), [...want.files.keys()].sort(), 'the .zip\'s files');
    for (const [name, bytes] of want.files) assert.ok(files.get(name).equals(bytes), 'the .zip\'s ' + name);
    for (const number of [30, 75]) {
      const rgb = await driver.executeAsyncScript(async (picture, done) => {
        const slider = document.getElementById('picture');
        slider.value = String(picture);
        slider.dispatchEvent(new Event('input'));
        while (document.getElementById('picture-number').textContent !== (picture + 1) + ' of 90') {
          await new Promise((resolve) => setTimeout(resolve, 20));
        }
        const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 200).data;
        done(Array.from(data).filter((_, i) => i % 4 !== 3));
      }, number);
      const name = String(number).padStart(8, '0') + '.tga';
      assert.deepEqual(rgb, rgbOf(want.files.get(name)), 'the preview of ' + name);
    }
  }
});

test('WebKit saves a movie longer than it holds in parts, which hold every file of the command line once', { timeout: 900000 }, async () => {
  const path = scratch + '/long-band.mov';
  execFileSync(movieBench, ['--movie-only', path, '9000', 'band'], { stdio: 'ignore' });
  const want = nativeSizesAndCrcs(converter, path, scratch + '/native-long');
  const same = (file) => ({ size: file.size, crc: file.crc });
  // Saved to the end, and stopped while part 1 waits: the rest is the last part.
  for (const stop of [false, true]) {
    await driver.get('file://' + pagePath);
    const got = await saveEveryPart(driver, path, scratch, async (now) => {
      assert.match(now.parts, /^This browser keeps the files in its memory, .* The conversion waits until part 1 is saved/);
      // Once the files on their way are in, the conversion waits.
      await new Promise((resolve) => setTimeout(resolve, 2000));
      const waited = (await webKitState(driver)).pictures;
      await new Promise((resolve) => setTimeout(resolve, 1000));
      const later = await webKitState(driver);
      assert.deepEqual([later.pictures, later.status], [waited, null], 'the conversion waits');
      if (!stop) return;
      await driver.findElement(By.id('stop')).click();
      await driver.wait(async () => (await webKitState(driver)).status === '130', 60000);
      assert.equal((await webKitState(driver)).save, 'Save part 1 (.zip)', 'part 1 is still offered after Stop');
    });
    const images = [...got.keys()].filter((name) => name.endsWith('.tga')).sort();
    assert.ok(Math.max(...[...got.values()].map((file) => file.part)) >= 2, 'the movie went into parts');
    assert.equal(got.get('BOOK.WAV').part, Math.max(...[...got.values()].map((file) => file.part)), 'the sound is in the last part');
    if (!stop) {
      assert.deepEqual([...got.keys()].sort(), [...want.keys()].sort(), 'the parts hold every file of the command line');
      for (const [name, file] of want) assert.deepEqual(same(got.get(name)), file, name);
    } else {
      // The pictures before Stop, the command line's, and the sound so far.
      assert.ok(images.length < 9000);
      images.forEach((name, i) => {
        assert.equal(name, String(i).padStart(8, '0') + '.tga');
        assert.deepEqual(same(got.get(name)), want.get(name), name);
      });
    }
    const inPart1 = images.filter((name) => got.get(name).part === 1).length;
    const count = images.length.toLocaleString('en');
    assert.equal((await webKitState(driver)).held,
                 'Pictures ' + (inPart1 + 1).toLocaleString('en') + ' to ' + count + ' of ' + count + ' are here; the earlier ones are in part 1.');
  }
});
