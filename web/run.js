// A conversion of one movie, with no view of its own. It hands the movie to
// the converter's worker, takes the files made into their place (kept for a
// .zip, or where the user chose) and settles `ended` with the exit status.
// `onUpdate` hears of every batch. Aborting `signal` (another movie chosen)
// ends the worker and everything of the run, and `ended` fails with the
// signal's reason; nothing of the run is heard of after that.
import { converterClient } from './converter_protocol.js';
import { CONVERTER_READS_FILE, ENGINE, HELD_KEEPING, HELD_SAVING, SPARE_BUFFERS } from './engine.js';
import { makeFolderFiles } from './folder_files.js';
import { makeHolding } from './holding.js';
import { makeKeptFiles, WEBKIT_MOST_KEPT } from './kept_files.js';
import { serveReadsAhead } from './movie_reads.js';
import { makeSpareMemory } from './spare_memory.js';
import { WAV_HEADER } from './picture.js';
import { earlierImagesLine, errorText } from './words.js';
import { makeZipFile } from './zip_file.js';

// `target`: null, or where the user chose: { kind: 'folder' | 'zip', handle }.
export function startRun({ movie, worker, keeper, target, signal, onUpdate }) {
  const run = {
    movie, target, images: 0, samples: 0, lines: [], read: 0, memory: 0, failure: null,
    converting: true,
    saved: target !== null,  // nothing is left to save once the files are where the user chose
  };
  let over = false;
  const parts = new Map();  // name -> the pieces so far of a file handed over in parts
  const dropped = new Set();  // files handed over in parts that will never be whole
  // The page could not keep, save or read: the run ends with the reason.
  const fail = (reason) => {
    if (run.failure || signal.aborted) return;
    run.failure = reason;
    holding.abandon();
    converter.refuse();
    // The files not yet finished never will be.
    for (const [name, list] of parts) {
      dropped.add(name);
      for (const { piece } of list) holding.release(piece);
    }
    parts.clear();
  };
  const converter = converterClient(worker, (error) => !over && fail(errorText(error)));
  // Files in spare buffers share them, and are moved into blobs by a copy:
  // none are given once the page starts moving.
  const held = target ? HELD_SAVING : HELD_KEEPING;
  const spare = makeSpareMemory((buffers) => converter.spare(buffers), SPARE_BUFFERS,
    () => !holding.started && holding.held < held.moveFrom);
  const failed = (error) => fail(error.message);
  const holding = makeHolding(held, keeper, ENGINE === 'firefox', failed);
  run.files = !target ? makeKeptFiles(holding, keeper, ENGINE === 'webkit' ? WEBKIT_MOST_KEPT : Infinity)
    : target.kind === 'folder' ? makeFolderFiles(target.handle, holding, failed)
      : makeZipFile(target.handle, holding, keeper, failed, signal);
  run.stop = () => {
    converter.stop();
    if (run.files.stop) run.files.stop();
  };
  signal.addEventListener('abort', () => {
    over = true;
    spare.end();
    converter.end(signal.reason);
    holding.abandon();
  }, { once: true });

  // A batch of lines and of finished files and parts of files: each file is
  // kept or saved, and the worker told how many bytes were taken once the
  // page has room for more.
  const began = new Date();
  let taking = Promise.resolve();
  const take = (batch) => {
    if (signal.aborted) return;
    spare.back(batch.spareUsed);
    run.lines.push(...batch.lines);
    run.read = batch.read;
    if (batch.unreadable) fail(movie.name + ' could not be read: ' + batch.unreadable);
    const whole = [];
    let bytes = 0;
    for (const { name, at, bytes: data, done } of batch.files) {
      bytes += data.length;
      if (dropped.has(name) || (!done && run.failure)) {
        dropped.add(name);
        continue;
      }
      const list = parts.get(name) || [];
      list.push({ at, piece: holding.piece(data, run.files.park || !done || parts.has(name)) });
      if (!done) {
        parts.set(name, list);
        continue;
      }
      parts.delete(name);
      list.sort((a, b) => a.at - b.at);
      const pieces = list.map((item) => item.piece);
      whole.push({ name, pieces, size: pieces.reduce((sum, piece) => sum + piece.size, 0), lastModified: began });
      if (name.endsWith('.tga')) run.images += 1;
      if (name === 'BOOK.WAV') run.samples = Math.max(whole.at(-1).size - WAV_HEADER, 0);
    }
    if (batch.files.length > 0) {
      let growing = 0;
      for (const list of parts.values()) for (const { piece } of list) growing += piece.size;
      const taken = run.files.take(whole, growing);
      taking = Promise.all([taking, taken.then(() => holding.room()).then(() => converter.taken(bytes))])
        .catch((error) => fail(error.message));
    }
    onUpdate(run);
  };

  run.ended = (async () => {
    // The converter reads the movie itself (Firefox); else the keeper
    // reads it for it where a worker may read it, else the page.
    let status = 1;
    try {
      let from = { file: movie };
      // The converter starts at once; its reads wait on their port until
      // one side serves them.
      let serving = null;
      if (!CONVERTER_READS_FILE) {
        const reads = new MessageChannel();
        serving = keeper.canRead(movie).then((can) => (can ? keeper.reads(movie, reads.port2) : serveReadsAhead(reads.port2, movie)));
        from = { reads: reads.port1 };
      }
      const converted = converter.convert(movie, from, take);
      spare.start();
      const [last] = await Promise.all([converted, serving]);
      take(last);
      run.memory = last.memory;
      status = last.status;
    } catch (error) {
      if (signal.aborted) throw signal.reason;
      run.lines.push(errorText(error));
      fail(errorText(error));
    }
    over = true;
    spare.end();
    converter.end();
    await taking;
    await run.files.finish().catch((error) => fail(error.message));
    if (!run.failure && target && target.kind === 'folder') {
      const count = await run.files.earlierImages(run.images);
      // Its line comes before the line of an interruption, as on the command line.
      const interrupted = run.lines.findIndex((line) => /^movie-extract: interrupted by /.test(line));
      if (count > 0) {
        run.earlierImages = earlierImagesLine(run.images, count);
        run.lines.splice(interrupted < 0 ? run.lines.length : interrupted, 0, 'movie-extract: ' + run.earlierImages);
      }
    }
    if (signal.aborted) throw signal.reason;
    if (run.failure) status = 1;
    run.converting = false;
    // A sound track too long to keep leaves the pictures to save.
    run.saved = run.saved || (run.images === 0 && run.samples === 0) || (run.failure !== null && !run.files.soundRefused);
    return status;
  })();
  return run;
}
