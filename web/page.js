// The page: hands the chosen movie to the converter's worker a piece at a
// time, shows how far it has come and how it ended, saves the files it makes
// where the user chose or keeps them for a .zip, and plays them.
'use strict';

const $ = (id) => document.getElementById(id);
const SAMPLE_RATE = 22050;
const TGA_HEADER = 18;
const PALETTE_BYTES = 768;
const WIDTH = 320;
const HEIGHT = 200;
// The sound is decoded whole for playing, four bytes a sample: a longer
// track (about 50 minutes) plays without it, so that memory stays bounded.
const MOST_SAMPLES_PLAYED = 64 << 20;
// Files written into a folder at once: each one's create, write and close
// take several milliseconds, mostly waiting.
const FOLDER_WRITES = 4;
// The engine, where engines keep bytes in different places: a blob made in
// Firefox stays in the page's memory unless it is a response body read into
// a blob, which goes to a temporary file beyond a small size; chromium keeps
// every blob in its blob store, outside the page, and moves large ones to
// disk; WebKit keeps blobs in memory, in another of its processes.
const ENGINE = /Firefox\//.test(navigator.userAgent) ? 'firefox'
  : /AppleWebKit/.test(navigator.userAgent) && !/Chrom(e|ium)\//.test(navigator.userAgent) ? 'webkit' : 'chromium';
// The bytes of files the page holds in its memory. While it keeps them for a
// .zip, it keeps them there as they come up to `moveFrom`, which a movie of
// some minutes never reaches, since moving them costs time; beyond that it
// moves the oldest out of its memory. The converter waits while the page
// holds more than `most`, moved or saved too slowly. Firefox, whose other
// processes take more as it moves them, starts sooner. WebKit keeps blobs in
// its memory too, and its workers may not read them when the page was
// opened from disk, so there nothing is moved, and the files are counted
// instead (WEBKIT_MOST_KEPT).
const HELD_KEEPING = {
  chromium: { moveFrom: 192 << 20, most: 256 << 20 },
  firefox: { moveFrom: 96 << 20, most: 160 << 20 },
  webkit: { moveFrom: Infinity, most: Infinity },
}[ENGINE];
const HELD_SAVING = { moveFrom: 32 << 20, most: 64 << 20 };

const state = {
  worker: null,     // made ahead, with the converter's WebAssembly compiled
  target: null,     // where the user chose to save: { kind: 'folder' | 'zip', handle }
  run: null,
  playing: null,
  saving: null,     // the .zip being made: { cancelled }
  video: null,      // the video being made: { stopped }
};

function imageName(number) {
  return String(number).padStart(8, '0') + '.tga';
}

function say(line) {
  $('messages').textContent += line + '\n';
}

// The page's other events run before this resolves: a message to itself,
// which no browser slows as it slows timers in background tabs.
function nextTask() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(0);
  });
}

function errorText(error) {
  return error && error.name && error.message ? error.name + ': ' + error.message : String(error);
}

// A file named after the movie: clip.mov gives clip.zip, BOOK gives
// BOOK.zip, .mov gives movie.zip.
function namedAfter(movieName, extension) {
  return (movieName.replace(/\.[^.]*$/, '') || 'movie') + extension;
}

// "1 picture", "90 pictures".
function picturesText(count) {
  return count === 1 ? '1 picture' : count + ' pictures';
}

// Hands `blob` to the browser to download as `name`.
function offerDownload(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// The files kept for a .zip that WebKit holds, at the most: it keeps them,
// and the .zip made from them, in its memory.
const WEBKIT_MOST_KEPT = 512 << 20;

// The page's second worker (web/keeper.js) moves bytes out of its memory
// and makes the .zip, so that the page's own thread is never held up.
let keeperWorker = null;
const calls = new Map();  // id -> { resolve, reject, zipped, stream }
let nextCall = 0;

function keeper() {
  if (keeperWorker) return keeperWorker;
  const source = document.getElementById('keeper-source').textContent;
  const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
  keeperWorker = new Worker(url);
  URL.revokeObjectURL(url);
  keeperWorker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'unreadable') {
      if (state.run) fail(state.run, state.run.movie.name + ' could not be read: ' + message.error);
      return;
    }
    const call = calls.get(message.id);
    if (!call) return;
    if (message.type === 'zipped') return call.zipped(message.files);
    if (message.type === 'zip-stream') return call.stream(message.stream);
    calls.delete(message.id);
    if (message.type === 'failed') call.reject(new Error(message.error));
    else call.resolve(message.blobs || message.blob);
  };
  return keeperWorker;
}

function call(message, transfer, handlers = {}) {
  const id = nextCall++;
  const done = new Promise((resolve, reject) => calls.set(id, { resolve, reject, ...handlers }));
  keeper().postMessage({ ...message, id }, transfer);
  return { id, done };
}

// The arrays are handed over, and are empty until their blobs come back.
function keepOutside(parts) {
  const whole = (part) => part.byteOffset === 0 && part.byteLength === part.buffer.byteLength;
  return call({ type: 'move', parts, throughResponse: ENGINE === 'firefox' }, parts.filter(whole).map((part) => part.buffer)).done;
}

// A .zip made by the keeper of the files added, in order: a blob, or, with
// `writable`, written there. The files' bytes in the page's memory are
// copied to it a few MiB at a time, as it takes them; `taken` hears of each
// file it has taken.
const ZIP_BYTES_ON_THEIR_WAY = 16 << 20;

function makeZipper(writable, taken, keeping) {
  const pending = [];
  const sent = [];
  let onTheirWay = 0;
  let takenSoFar = 0;
  let ended = false;
  let pumping = false;
  const inMemory = (file) => file.pieces.reduce((sum, piece) => sum + (piece.data instanceof Uint8Array ? piece.size : 0), 0);
  const { id, done } = call({ type: 'zip', streamed: writable !== null }, [], {
    zipped(files) {
      while (takenSoFar < files) {
        const file = sent.shift();
        onTheirWay -= file.inMemory;
        takenSoFar += 1;
        taken(file);
      }
      pump();
    },
    stream(stream) {
      stream.pipeTo(writable).then(() => {
        calls.delete(id);
        finished.resolve();
      }, (error) => {
        calls.delete(id);
        finished.reject(error);
      });
    },
  });
  const finished = {};
  const written = writable ? new Promise((resolve, reject) => Object.assign(finished, { resolve, reject })) : done;
  const pump = async () => {
    if (pumping) return;
    pumping = true;
    try {
      while (pending.length > 0 && onTheirWay < ZIP_BYTES_ON_THEIR_WAY) {
        await keeping.moved();
        const files = [];
        while (pending.length > 0 && onTheirWay < ZIP_BYTES_ON_THEIR_WAY) {
          const file = pending.shift();
          file.inMemory = inMemory(file);
          onTheirWay += file.inMemory;
          sent.push(file);
          files.push(zipEntry(file));
        }
        keeper().postMessage({ type: 'files', id, files });
        await nextTask();
      }
      if (ended && pending.length === 0) keeper().postMessage({ type: 'end', id });
    } finally {
      pumping = false;
    }
  };
  return {
    add(files) {
      pending.push(...files);
      pump();
    },
    end() {
      ended = true;
      pump();
    },
    done: Promise.race([written, done.then(() => written)]),
  };
}

async function blobBytes(blob) {
  return new Uint8Array(await blob.arrayBuffer());
}

// The pieces of the files the worker hands over. Each piece's `data` is
// first its bytes, in the page's memory; pieces parked for later (the files
// kept for a .zip, the parts of a long file) are moved out of it, into
// blobs, once there are many. `room` tells when the page holds few enough
// bytes to take more.
function makeKeeper({ moveFrom, most }, failed) {
  let mostHeld = most;
  const parked = [];
  let held = 0;
  let moving = null;
  let waiting = [];
  const wakeIfRoom = () => {
    if (held > mostHeld) return;
    for (const wake of waiting) wake();
    waiting = [];
  };
  const move = async () => {
    while (held > moveFrom && parked.length > 0) {
      const batch = [];
      let size = 0;
      while (parked.length > 0 && size < (2 << 20)) {
        const piece = parked.shift();
        if (piece.data instanceof Uint8Array) {
          batch.push(piece);
          size += piece.size;
        }
      }
      const blobs = await keepOutside(batch.map((piece) => piece.data));
      batch.forEach((piece, i) => {
        piece.data = blobs[i];
        held -= piece.size;
      });
      wakeIfRoom();
    }
  };
  return {
    piece(bytes, park) {
      const piece = { data: bytes, size: bytes.length };
      held += piece.size;
      if (park) {
        parked.push(piece);
        if (!moving && held > moveFrom) {
          moving = move().catch((error) => failed(new Error('The files could not be kept: ' + errorText(error))))
            .finally(() => { moving = null; });
        }
      }
      return piece;
    },
    // The piece is saved, or no longer wanted.
    release(piece) {
      if (piece.data instanceof Uint8Array) held -= piece.size;
      piece.data = null;
      wakeIfRoom();
    },
    room() {
      if (held <= mostHeld) return Promise.resolve();
      return new Promise((resolve) => waiting.push(resolve));
    },
    // Nothing more will be saved: no one waits for room.
    abandon() {
      mostHeld = Infinity;
      wakeIfRoom();
    },
    // Every piece is where it can be read: none is on its way out.
    moved: () => moving || Promise.resolve(),
  };
}

// A whole file made of its pieces, for the .zip or for reading back: bytes
// while they are all in memory (WebKit's workers may read no blob made by
// a page opened from disk), else a blob.
function fileInput(file) {
  if (file.pieces.length === 1) return file.pieces[0].data;
  if (!file.pieces.every((piece) => piece.data instanceof Uint8Array)) return new Blob(file.pieces.map((piece) => piece.data));
  const bytes = new Uint8Array(file.size);
  let at = 0;
  for (const piece of file.pieces) {
    bytes.set(piece.data, at);
    at += piece.size;
  }
  return bytes;
}

// A file as the zip writer takes it.
function zipEntry(file) {
  return { name: file.name, input: fileInput(file), size: file.size, lastModified: file.lastModified };
}

async function fileBytes(file) {
  const input = fileInput(file);
  return input instanceof Uint8Array ? input : blobBytes(input);
}

// The files, kept until "Save as a .zip" puts them into one.
function makeKeptFiles(keeping) {
  const kept = new Map();
  let bytes = 0;
  return {
    park: true,
    take(files) {
      for (const file of files) {
        kept.set(file.name, file);
        bytes += file.size;
      }
      if (ENGINE === 'webkit' && bytes > WEBKIT_MOST_KEPT) {
        return Promise.reject(new Error('This browser keeps the files in its memory, and takes no more than ' +
          (WEBKIT_MOST_KEPT >> 20) + ' MiB of them: convert a shorter movie, or use another browser'));
      }
      return Promise.resolve();
    },
    finish: () => keeping.moved(),
    read: async (name) => (kept.has(name) ? fileBytes(kept.get(name)) : null),
    whole: async (name) => (kept.has(name) ? fileInput(kept.get(name)) : null),
    listing: () => [...kept.values()].map((file) => ({ name: file.name, size: file.size })),
    // The .zip of them all, as a blob.
    zip() {
      const zipper = makeZipper(null, () => {}, keeping);
      zipper.add([...kept.values()]);
      zipper.end();
      return zipper.done;
    },
  };
}

// The files, each written into the folder the user chose, a few at once.
function makeFolderFiles(folder, keeping, failed) {
  const queue = [];
  let active = 0;
  let failure = null;
  let written = null;
  let allWritten = null;
  const write = async (file) => {
    await keeping.moved();
    const handle = await folder.getFileHandle(file.name, { create: true });
    try {
      const writable = await handle.createWritable();
      try {
        for (const piece of file.pieces) await writable.write(piece.data);
      } catch (error) {
        await writable.abort().catch(() => {});
        throw error;
      }
      await writable.close();
    } catch (error) {
      // A file written through a stream is replaced only when it closes: a
      // failed one leaves an earlier run's file as it was, and an empty one
      // where there was none, which goes.
      const left = await handle.getFile().catch(() => null);
      if (left && left.size === 0) await folder.removeEntry(file.name).catch(() => {});
      throw error;
    }
  };
  const pump = () => {
    while (active < FOLDER_WRITES && queue.length > 0 && !failure) {
      const file = queue.shift();
      active += 1;
      write(file).catch((error) => {
        if (!failure) failed(failure = new Error(file.name + ': ' + errorText(error)));
      }).finally(() => {
        for (const piece of file.pieces) keeping.release(piece);
        active -= 1;
        pump();
      });
    }
    if (active === 0 && (queue.length === 0 || failure) && allWritten) allWritten();
  };
  return {
    park: false,
    take(files) {
      if (failure) return Promise.reject(failure);
      queue.push(...files);
      pump();
      return Promise.resolve();
    },
    async finish() {
      if (active > 0 || (queue.length > 0 && !failure)) await new Promise((resolve) => { allWritten = resolve; });
      if (failure) throw failure;
    },
    async read(name) {
      const handle = await folder.getFileHandle(name);
      return blobBytes(await handle.getFile());
    },
    whole: async (name) => (await folder.getFileHandle(name)).getFile(),
  };
}

// The .zip, written into the file the user chose while the movie converts.
function makeZipFile(handle, keeping, failed) {
  let index = null;
  let failure = null;
  const fail = (error) => {
    if (!failure) failed(failure = new Error(handle.name + ': ' + errorText(error)));
  };
  const release = (file) => {
    for (const piece of file.pieces) keeping.release(piece);
  };
  const zipper = handle.createWritable().then((writable) => makeZipper(writable, release, keeping));
  const written = zipper.then((made) => made.done).catch(fail);
  return {
    park: false,
    take(files) {
      if (failure) return Promise.reject(failure);
      zipper.then((made) => made.add(files), () => {});
      return Promise.resolve();
    },
    async finish() {
      zipper.then((made) => made.end(), () => {});
      await written;
      if (failure) throw failure;
    },
    async whole(name) {
      const file = await handle.getFile();
      if (!index) index = await storedFiles(file);
      const place = index.get(name);
      return place ? file.slice(place.at, place.at + place.size) : null;
    },
    async read(name) {
      const whole = await this.whole(name);
      return whole ? blobBytes(whole) : null;
    },
  };
}

// Where each file of a .zip this page saved lies in it: the central
// directory gives its header's offset and its size, ZIP64 fields where they
// do not fit in 32 bits.
async function storedFiles(file) {
  const view = async (at, length) => new DataView(await file.slice(at, at + length).arrayBuffer());
  const endAt = file.size - 22;
  const end = await view(endAt, 22);
  let directoryAt = end.getUint32(16, true);
  let directorySize = end.getUint32(12, true);
  if (directoryAt === 0xFFFFFFFF && endAt >= 20) {
    const locator = await view(endAt - 20, 20);
    const end64 = await view(Number(locator.getBigUint64(8, true)), 56);
    directorySize = Number(end64.getBigUint64(40, true));
    directoryAt = Number(end64.getBigUint64(48, true));
  }
  const directory = await view(directoryAt, directorySize);
  const places = new Map();
  for (let p = 0; p + 46 <= directory.byteLength;) {
    const nameLength = directory.getUint16(p + 28, true);
    const extraLength = directory.getUint16(p + 30, true);
    const name = new TextDecoder().decode(new Uint8Array(directory.buffer, p + 46, nameLength));
    let size = directory.getUint32(p + 24, true);
    let header = directory.getUint32(p + 42, true);
    // The ZIP64 field holds, in this order, each of the sizes and the offset that did not fit.
    for (let e = p + 46 + nameLength; e + 4 <= p + 46 + nameLength + extraLength;) {
      const id = directory.getUint16(e, true);
      const length = directory.getUint16(e + 2, true);
      if (id === 1) {
        let field = e + 4;
        if (size === 0xFFFFFFFF) { size = Number(directory.getBigUint64(field, true)); field += 8; }
        if (directory.getUint32(p + 20, true) === 0xFFFFFFFF) field += 8;
        if (header === 0xFFFFFFFF) header = Number(directory.getBigUint64(field, true));
      }
      e += 4 + length;
    }
    const local = await view(header, 30);
    places.set(name, { at: header + 30 + local.getUint16(26, true) + local.getUint16(28, true), size });
    p += 46 + nameLength + extraLength + directory.getUint16(p + 32, true);
  }
  return places;
}

// The converter's worker, from its source in the page. The source's blob
// is made once, when the page loads: making it takes a while.
let converterUrl = null;

function makeWorker() {
  if (!converterUrl) {
    const source = document.getElementById('converter-source').textContent;
    converterUrl = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
  }
  return new Worker(converterUrl);
}

// A conversion: everything of the one before is forgotten, and nothing of
// it shown or saved.
function start(movie) {
  stopPlaying();
  if (state.run) state.run.worker.terminate();
  const worker = state.worker || makeWorker();
  state.worker = null;
  const target = state.target;
  const failed = (error) => fail(run, error.message);
  const keeping = makeKeeper(target ? HELD_SAVING : HELD_KEEPING, failed);
  const files = !target ? makeKeptFiles(keeping)
    : target.kind === 'folder' ? makeFolderFiles(target.handle, keeping, failed) : makeZipFile(target.handle, keeping, failed);
  const run = {
    worker, movie, files, target, keeping,
    images: 0, samples: 0, sound: null, began: new Date(),
    parts: new Map(),    // name -> the pieces so far of a file handed over in parts
    taking: Promise.resolve(),
    failure: null,
    converting: true,
    saved: target !== null,  // nothing is left to save once the files are where the user chose
  };
  state.run = run;
  // A .zip the user chose is written once: the next movie's files go elsewhere.
  if (target && target.kind === 'zip') forgetPlace();
  $('run').hidden = false;
  $('player').hidden = true;
  $('messages').textContent = '';
  setOutcome('Converting ' + movie.name + '…', null, 'converting');
  $('progress').value = 0;
  $('pictures').textContent = 'Pictures written: 0';
  $('stop').hidden = false;
  for (const id of ['notice', 'save', 'limit', 'details', 'video']) $(id).hidden = true;
  $('details').open = false;
  $('screen').getContext('2d').clearRect(0, 0, WIDTH, HEIGHT);

  worker.onmessage = (event) => {
    if (state.run !== run) return;
    const message = event.data;
    if (message.type === 'batch' || message.type === 'done') {
      for (const line of message.lines) say(line);
      takeFiles(run, message.files);
      $('pictures').textContent = 'Pictures written: ' + run.images;
      $('progress').value = movie.size > 0 ? message.read / movie.size : 1;
      if (message.type === 'done') {
        $('outcome').dataset.converterMemory = String(message.memory);
        finish(run, message.status);
      }
    } else if (message.type === 'crash') {
      say(message.text);
      fail(run, message.text);
      finish(run, 1);
    }
  };
  // The movie is read by the keeper where a worker may read it, else here.
  const reads = new MessageChannel();
  call({ type: 'can-read', file: movie }, []).done.then((workerReads) => {
    if (state.run !== run) return;
    if (workerReads) {
      keeper().postMessage({ type: 'reads', file: movie, port: reads.port2 }, [reads.port2]);
    } else {
      reads.port2.onmessage = (event) => readPiece(run, reads.port2, event.data.at, event.data.length);
    }
    worker.postMessage({ type: 'convert', name: movie.name, size: movie.size, reads: reads.port1 }, [reads.port1]);
  });
}

// The page reads the movie for the worker where no worker may read a file
// the user chose (WebKit, opened from disk).
async function readPiece(run, port, at, length) {
  try {
    const bytes = await run.movie.slice(at, at + length).arrayBuffer();
    port.postMessage({ at, bytes }, [bytes]);
  } catch (error) {
    fail(run, run.movie.name + ' could not be read: ' + errorText(error));
    port.postMessage({ at, error: errorText(error) });
  }
}

// The page could not keep, save or read: the run ends with the reason.
function fail(run, reason) {
  if (run.failure) return;
  run.failure = reason;
  run.keeping.abandon();
  run.worker.postMessage({ type: 'refused' });
}

// A batch of finished files and parts of files from the worker: each is
// kept or saved, and the worker told how many bytes were taken once the
// page has room for more.
function takeFiles(run, pieces) {
  if (pieces.length === 0) return;
  const whole = [];
  let bytes = 0;
  for (const { name, at, bytes: data, done } of pieces) {
    bytes += data.length;
    const park = run.files.park || !done || run.parts.has(name);
    const list = run.parts.get(name) || [];
    list.push({ at, piece: run.keeping.piece(data, park) });
    if (!done) {
      run.parts.set(name, list);
      continue;
    }
    run.parts.delete(name);
    list.sort((a, b) => a.at - b.at);
    const file = { name, pieces: list.map((item) => item.piece), lastModified: run.began };
    file.size = file.pieces.reduce((sum, piece) => sum + piece.size, 0);
    whole.push(file);
    if (name.endsWith('.tga')) run.images += 1;
    if (name === 'BOOK.WAV') run.samples = Math.max(file.size - 44, 0);
  }
  const taken = whole.length > 0 ? run.files.take(whole) : Promise.resolve();
  run.taking = Promise.all([run.taking, taken.then(() => run.keeping.room()).then(() => {
    run.worker.postMessage({ type: 'taken', bytes });
  })]).catch((error) => fail(run, (error && error.message) || errorText(error)));
}

// "90 pictures and 6.0 s of sound", "1 picture, no sound".
function amount(run, noSound = ', no sound') {
  const pictures = picturesText(run.images);
  return run.samples > 0 ? pictures + ' and ' + (run.samples / SAMPLE_RATE).toFixed(1) + ' s of sound' : pictures + noSound;
}

// How the run ended, in words: the headline and its kind.
function headline(run, status) {
  const lines = $('messages').textContent;
  if (status === 0) return ['Complete: ' + amount(run), 'complete'];
  if (status >= 128) return ['Stopped after ' + amount(run), 'stopped'];
  if (status === 2) {
    if (/may not be a movie of this kind$|header cut short \(\d+ of \d+ bytes\)$/m.test(lines)) {
      return ['Not a movie of this kind, or cut off before its first chunk: nothing was made', 'not-a-movie'];
    }
    const at = /: chunk at offset (\d+): /.exec(lines);
    const kept = run.images === 0 && run.samples === 0 ? 'nothing before it was kept'
      : amount(run, '') + ' before it ' + (run.images === 1 && run.samples === 0 ? 'was' : 'were') + ' kept';
    return [(at ? 'Damaged at byte ' + at[1] : 'Damaged') + ': ' + kept, 'damaged'];
  }
  const last = lines.trimEnd().split('\n').pop().replace(/^movie-extract: /, '');
  const reason = run.failure || last.replaceAll('BOOK.MOV', run.movie.name) || 'the converter ended with status ' + status;
  return ['Failed: ' + reason, 'failed'];
}

function setOutcome(text, status, kind) {
  const outcome = $('outcome');
  outcome.textContent = text;
  outcome.dataset.kind = kind;
  if (status === null) delete outcome.dataset.status;
  else outcome.dataset.status = String(status);
}

// Moves the focus off a control about to be hidden or disabled.
function handOnFocus(from, to) {
  if (document.activeElement === from) to.focus();
}

async function finish(run, status) {
  run.worker.terminate();
  state.worker = makeWorker();
  await run.taking;
  try {
    await run.files.finish();
  } catch (error) {
    fail(run, (error && error.message) || errorText(error));
  }
  if (state.run !== run) return;
  if (run.failure && status !== 1) status = 1;
  if (run.target && run.target.kind === 'folder' && !run.failure) await noteEarlierImages(run);
  if (state.run !== run) return;
  run.converting = false;
  const [text, kind] = headline(run, status);
  const lines = $('messages').textContent !== '';
  $('details-note').textContent = 'Exit status ' + status + '. ' + (!lines ? 'The command line prints nothing for this movie.'
    : run.movie.name !== 'BOOK.MOV' ? 'BOOK.MOV below is ' + run.movie.name + '.' : 'What the command line prints:');
  if (kind === 'not-a-movie') {
    $('notice').textContent = 'Try another file: this page takes only the kind of movie described above.';
    $('notice').hidden = false;
  }
  run.saved = run.saved || (run.images === 0 && run.samples === 0) || run.failure !== null;
  if (!run.saved) await offerZip(run);
  // A .zip cut short by a failure cannot be read back.
  if (run.images > 0 && !(run.failure && run.target && run.target.kind === 'zip') && state.run === run) {
    await offerVideo(run);
    const slider = $('picture');
    slider.max = String(run.images - 1);
    slider.value = '0';
    $('player').hidden = false;
    await show(0);
  }
  if (state.run !== run) return;
  // The outcome last, when everything it speaks of is there.
  handOnFocus($('stop'), $('outcome'));
  $('stop').hidden = true;
  $('details').hidden = false;
  setOutcome(text, status, kind);
}

// What the command line says of images an earlier run left in the folder
// after this run's last one, with the same rule: those that follow on.
async function noteEarlierImages(run) {
  let count = 0;
  try {
    for (;;) {
      await run.target.handle.getFileHandle(imageName(run.images + count));
      count += 1;
    }
  } catch (error) {
    // The first one missing ends the count.
  }
  if (count === 0) return;
  const one = count === 1;
  const line = count + (one ? ' image from an earlier run follows (' : ' images from an earlier run follow (') +
    imageName(run.images) + (one ? '' : ' to ' + imageName(run.images + count - 1)) +
    '); a video made from this folder would show ' + (one ? 'it' : 'them');
  // It comes before the line of an interruption, as on the command line.
  const messages = $('messages');
  const interrupted = /^movie-extract: interrupted by .*\n$/m.exec(messages.textContent);
  const at = interrupted ? interrupted.index : messages.textContent.length;
  messages.textContent = messages.textContent.slice(0, at) + 'movie-extract: ' + line + '\n' + messages.textContent.slice(at);
  $('notice').textContent = line + '.';
  $('notice').hidden = false;
}

function sizeText(bytes) {
  if (bytes < 1e6) return Math.max(1, Math.round(bytes / 1e3)) + ' KB';
  if (bytes < 1e9) return (bytes / 1e6).toFixed(1) + ' MB';
  return (bytes / 1e9).toFixed(2) + ' GB';
}

async function offerZip(run) {
  let size = null;
  try {
    size = await call({ type: 'length', files: run.files.listing() }, []).done;
  } catch (error) {
    // Offered without its size.
  }
  if (state.run !== run) return;
  $('download').textContent = 'Save as a .zip' + (size ? ' (' + sizeText(size) + ')' : '');
  $('save').hidden = false;
  $('limit').hidden = false;
}

// Draws picture `number`: the TGA's colour map (blue, green, red) applied
// to its rows, which run from the top.
async function show(number) {
  const run = state.run;
  let bytes = null;
  try {
    bytes = await run.files.read(imageName(number));
  } catch (error) {
    $('picture-number').textContent = imageName(number) + ' could not be read back: ' + errorText(error);
    return;
  }
  if (!bytes || state.run !== run) return;
  const context = $('screen').getContext('2d');
  const image = context.createImageData(WIDTH, HEIGHT);
  const pixels = image.data;
  for (let i = 0; i < WIDTH * HEIGHT; i++) {
    const entry = TGA_HEADER + 3 * bytes[TGA_HEADER + PALETTE_BYTES + i];
    pixels[4 * i] = bytes[entry + 2];
    pixels[4 * i + 1] = bytes[entry + 1];
    pixels[4 * i + 2] = bytes[entry];
    pixels[4 * i + 3] = 255;
  }
  context.putImageData(image, 0, 0);
  $('picture').value = String(number);
  $('picture').setAttribute('aria-valuetext', 'picture ' + (number + 1) + ' of ' + run.images);
  $('picture-number').textContent = (number + 1) + ' of ' + run.images;
}

// The movie's own rate: images per second of sound, or 15 without sound.
function pictureRate(run) {
  return run.samples > 0 ? (run.images * SAMPLE_RATE) / run.samples : 15;
}

async function play() {
  stopPlaying();
  const run = state.run;
  const rate = pictureRate(run);
  const first = Number($('picture').value) >= run.images - 1 ? 0 : Number($('picture').value);
  const audio = new AudioContext();
  const playing = { audio, shown: first, drawing: false };
  state.playing = playing;
  $('play').textContent = 'Pause';
  if (run.samples > MOST_SAMPLES_PLAYED) {
    $('picture-number').textContent += ' (played without its sound, which is too long to hold)';
  } else if (run.samples > 0) {
    if (!run.sound) run.sound = await audio.decodeAudioData((await run.files.read('BOOK.WAV')).buffer);
    if (state.playing !== playing) return;
    const source = audio.createBufferSource();
    source.buffer = run.sound;
    source.connect(audio.destination);
    source.start(0, first / rate);
  }
  const began = performance.now();
  const step = async () => {
    if (state.playing !== playing) return;
    const number = first + Math.floor(((performance.now() - began) / 1000) * rate);
    if (number >= run.images) return stopPlaying();
    if (number !== playing.shown && !playing.drawing) {
      playing.drawing = true;
      playing.shown = number;
      await show(number);
      playing.drawing = false;
    }
    requestAnimationFrame(step);
  };
  requestAnimationFrame(step);
}

function stopPlaying() {
  if (!state.playing) return;
  state.playing.audio.close();
  state.playing = null;
  $('play').textContent = 'Play';
}

// The .zip is made from the kept files as the browser reads it into a blob,
// which it keeps out of the page's memory, and then downloaded. It can be
// cancelled while it is made.
async function downloadZip() {
  const run = state.run;
  const saving = { cancelled: false };
  state.saving = saving;
  $('saving').hidden = false;
  $('cancel').hidden = false;
  handOnFocus($('download'), $('cancel'));
  $('download').disabled = true;
  try {
    offerDownload(await run.files.zip(), namedAfter(run.movie.name, '.zip'));
    run.saved = true;
  } catch (error) {
    if (!saving.cancelled && state.run === run) {
      setOutcome('Failed: the .zip could not be made: ' + errorText(error), 1, 'failed');
    }
  }
  if (state.saving === saving) state.saving = null;
  $('download').disabled = false;
  handOnFocus($('cancel'), $('download'));
  $('saving').hidden = true;
  $('cancel').hidden = true;
}

// Stops a .zip being made: its worker goes, and another takes its place.
function cancelSave() {
  if (!state.saving) return;
  state.saving.cancelled = true;
  state.saving = null;
  keeperWorker.terminate();
  keeperWorker = null;
  for (const pending of calls.values()) pending.reject(new Error('cancelled'));
  calls.clear();
  keeper();
}

// The video: H.264 at 1600 × 1200, each pixel 5 × 6, at a level that fits
// that size and the bit rate allowed (5.0), and the sound in AAC where the
// browser can encode it, else in Opus. What this browser can do, or why it
// cannot.
const VIDEO_CODECS = ['avc1.640032', 'avc1.4d0032', 'avc1.420032'];

async function videoSupport() {
  // WebKitGTK 2.50 without GStreamer's H.264 encoder ended the page when
  // asked whether it could encode H.264.
  if (ENGINE === 'webkit' && /Linux/.test(navigator.userAgent)) {
    return { reason: 'This browser cannot make a video: it has no H.264 encoder here.' };
  }
  if (!('VideoEncoder' in window) || !('AudioEncoder' in window)) {
    return { reason: 'This browser cannot make a video: it has no video encoder (WebCodecs).' };
  }
  let codec = null;
  for (const candidate of VIDEO_CODECS) {
    const config = { codec: candidate, width: 1600, height: 1200, bitrate: 100e6, framerate: 15 };
    if ((await VideoEncoder.isConfigSupported(config).catch(() => ({}))).supported) {
      codec = candidate;
      break;
    }
  }
  if (!codec) return { reason: 'This browser cannot make a video: it has no H.264 encoder.' };
  // Firefox's encoder, tried on Linux, made 141 kb/s of the 100 Mb/s asked
  // for, blurred (28.6 dB), and showed each picture two pictures late.
  if (ENGINE === 'firefox') {
    return { reason: 'This browser cannot make a video that looks as the pictures do: its H.264 encoder keeps far below the quality asked for. Chrome and Edge can make one.' };
  }
  const sound = { sampleRate: 48000, numberOfChannels: 1, bitrate: 96000 };
  for (const [soundCodec, name] of [['aac', 'mp4a.40.2'], ['opus', 'opus']]) {
    if ((await AudioEncoder.isConfigSupported({ codec: name, ...sound }).catch(() => ({}))).supported) return { codec, soundCodec };
  }
  return { reason: 'This browser cannot make a video: it has no AAC or Opus encoder for the sound.' };
}

async function offerVideo(run) {
  const can = await videoMaking;
  if (state.run !== run) return;
  $('video').hidden = false;
  $('make-video').hidden = !can.codec;
  $('video-progress').hidden = true;
  $('stop-video').hidden = true;
  $('video-note').textContent = !can.codec ? can.reason : run.samples === 0 ? ''
    : can.soundCodec === 'aac' ? 'The sound goes in as AAC.'
      : 'The sound goes in as Opus, since this browser has no AAC encoder; some Apple and editing apps do not import Opus.';
}

// The sound of pictures [first, last), as 8-bit samples: picture n has
// those from n × samples / pictures on.
async function soundOf(run, wav, first, last) {
  if (run.samples === 0) return new Uint8Array(0);
  const from = 44 + Math.floor((first * run.samples) / run.images);
  const to = 44 + Math.floor((last * run.samples) / run.images);
  return wav instanceof Uint8Array ? wav.slice(from, to) : new Uint8Array(await wav.slice(from, to).arrayBuffer());
}

// Each picture is read back, with its sound, and handed to the video
// worker, a few ahead of the encoder.
const PICTURES_AHEAD = 4;

async function makeVideo() {
  const run = state.run;
  const can = await videoMaking;
  const name = namedAfter(run.movie.name, '.mp4');
  let handle = null;
  if ('showSaveFilePicker' in window) {
    try {
      handle = await window.showSaveFilePicker({ suggestedName: name, types: [{ description: 'A video', accept: { 'video/mp4': ['.mp4'] } }] });
    } catch (error) {
      return;  // the user changed their mind
    }
  }
  const source = document.getElementById('video-source').textContent;
  const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
  const worker = new Worker(url);
  URL.revokeObjectURL(url);
  const making = { run, worker, stopped: false, failure: null, added: 0, waiting: null, finished: null };
  state.video = making;
  worker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'added') making.added = message.number + 1;
    if (message.type === 'failed') making.failure = message.error;
    if (message.type === 'finished') making.finished(message.blob);
    if (making.waiting) making.waiting();
  };
  const progress = $('video-progress');
  progress.value = 0;
  progress.hidden = false;
  $('stop-video').hidden = false;
  handOnFocus($('make-video'), $('stop-video'));
  $('make-video').disabled = true;
  $('video-note').textContent = 'Making ' + (handle ? handle.name : name) + '…';
  const until = (ready) => new Promise((resolve) => {
    making.waiting = () => {
      if (ready() || making.failure || making.stopped) resolve();
    };
    making.waiting();
  });
  let sent = 0;
  try {
    worker.postMessage({ type: 'start', handle, rate: pictureRate(run), codec: can.codec, soundCodec: run.samples > 0 ? can.soundCodec : null });
    const wav = run.samples > 0 ? await run.files.whole('BOOK.WAV') : null;
    for (; sent < run.images && !making.stopped && !making.failure; sent++) {
      await until(() => sent - making.added < PICTURES_AHEAD);
      const tga = (await run.files.read(imageName(sent))).slice();
      const samples = await soundOf(run, wav, sent, sent + 1);
      worker.postMessage({ type: 'picture', number: sent, tga, samples }, [tga.buffer, samples.buffer]);
      progress.value = making.added / run.images;
    }
    await until(() => making.added === sent);
  } catch (error) {
    making.failure = making.failure || errorText(error);
  }
  let blob = null;
  if (!making.failure && !(making.stopped && !handle) && state.video === making) {
    blob = await new Promise((resolve) => {
      making.finished = resolve;
      worker.postMessage({ type: 'finish' });
      making.waiting = () => {
        if (making.failure) resolve(null);
      };
    });
  }
  worker.terminate();
  if (state.video !== making) return;
  state.video = null;
  if (blob) offerDownload(blob, name);
  $('video-note').textContent = making.failure ? 'Failed: the video could not be made: ' + making.failure
    : !making.stopped ? 'Saved ' + (handle ? handle.name : name) + ': ' + picturesText(run.images) + ' in 1600 × 1200' +
      (run.samples === 0 ? '.' : ', the sound in ' + (can.soundCodec === 'aac' ? 'AAC.' : 'Opus.'))
      : handle ? 'Stopped: ' + handle.name + ' holds the first ' + picturesText(making.added) + '.'
        : 'Stopped: no video was saved.';
  progress.value = making.failure ? progress.value : making.added / run.images;
  $('make-video').disabled = false;
  handOnFocus($('stop-video'), $('make-video'));
  $('stop-video').hidden = true;
}

// Stops the video being made: with `drop`, for another movie, leaving
// nothing of it shown.
function stopVideo(drop) {
  const making = state.video;
  if (!making) return;
  making.stopped = true;
  if (making.waiting) making.waiting();
  if (drop) {
    making.worker.terminate();
    state.video = null;
  }
}

// Results not yet saved, or on their way: leaving would lose them.
function unsaved() {
  return state.saving !== null || state.video !== null || (state.run !== null && (state.run.converting || !state.run.saved));
}

// The movie chosen or dropped, after asking whether to give up the last one.
function choose(movie, dropped = 1) {
  const last = state.run;
  if (last && unsaved()) {
    const question = last.converting ? last.movie.name + ' is still being converted. Stop it, and convert ' + movie.name + ' instead?'
      : state.video ? 'A video of ' + last.movie.name + ' is being made. Stop it, and convert ' + movie.name + ' instead?'
        : 'The files made from ' + last.movie.name + ' have not been saved. Convert ' + movie.name + ' instead, and lose them?';
    if (!window.confirm(question)) return;
  }
  cancelSave();
  stopVideo(true);
  $('dropped').textContent = dropped > 1 ? 'Took ' + movie.name + ', the first of the ' + dropped +
    ' files dropped: the page converts one movie at a time.' : '';
  $('dropped').hidden = dropped <= 1;
  start(movie);
}

$('movie').addEventListener('change', () => {
  const chosen = $('movie').files[0];
  // Cleared, so that choosing the same file again converts it again.
  $('movie').value = '';
  if (chosen) choose(chosen);
});
// A file dropped anywhere is taken: the browser never leaves the page for it.
const carriesFiles = (event) => event.dataTransfer && [...event.dataTransfer.types].includes('Files');
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  if (carriesFiles(event)) document.body.classList.add('over');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('over');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('over');
  const dropped = event.dataTransfer ? [...event.dataTransfer.files] : [];
  if (dropped.length > 0) choose(dropped[0], dropped.length);
});
window.addEventListener('beforeunload', (event) => {
  if (!unsaved()) return;
  event.preventDefault();
  event.returnValue = '';
});
$('stop').addEventListener('click', () => {
  if (state.run) state.run.worker.postMessage({ type: 'stop' });
});
$('download').addEventListener('click', downloadZip);
$('cancel').addEventListener('click', cancelSave);
$('make-video').addEventListener('click', makeVideo);
$('stop-video').addEventListener('click', () => stopVideo(false));
$('play').addEventListener('click', () => (state.playing ? stopPlaying() : play()));
$('picture').addEventListener('input', () => {
  stopPlaying();
  show(Number($('picture').value));
});

// Where the browser can write to a file or folder the user chooses, the
// place is chosen first, and the files go there as they are made.
const PLACE_UNCHOSEN = $('place-name').textContent;

function forgetPlace() {
  state.target = null;
  $('place-name').textContent = PLACE_UNCHOSEN;
}

function offerPlace(id, pick, kind, saying) {
  $('place-offer').hidden = false;
  $(id).hidden = false;
  $(id).addEventListener('click', async () => {
    try {
      const handle = await pick();
      state.target = { kind, handle };
      $('place-name').textContent = saying(handle.name);
    } catch (error) {
      // The user changed their mind.
    }
  });
}
if ('showSaveFilePicker' in window) {
  offerPlace('zip-file', () => window.showSaveFilePicker({
    suggestedName: 'movie.zip',
    types: [{ description: 'A .zip', accept: { 'application/zip': ['.zip'] } }],
  }), 'zip', (name) => 'The files go into the .zip ' + name + ' as they are made.');
}
if ('showDirectoryPicker' in window) {
  offerPlace('folder', () => window.showDirectoryPicker({ mode: 'readwrite' }), 'folder',
             (name) => 'The files go into the folder ' + name + '.');
}
state.worker = makeWorker();
keeper();
const videoMaking = videoSupport();
