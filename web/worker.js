// The converter's worker. It is made, and the converter's WebAssembly
// compiled, before the user chooses a movie. Then it runs the converter once:
// it asks for the movie's bytes a piece at a time, and hands the page, every
// 50 ms, the files finished and the lines printed meanwhile, and how far it
// has come through the movie; at the end, the exit status.
'use strict';

// The movie is read in pieces of this size, one piece ahead of the one the
// converter reads from: a read of the file costs about the same whatever
// its size up to some MiB, and the page hands each piece over at no cost,
// but takes its bytes in one task, which must stay short.
const PIECE = 8 << 20;
// A long file (the sound track) is handed over in parts of this size as it
// grows; only its first write, the header, stays until it is closed.
const PART = 4 << 20;
// When more bytes than this are on their way to the page, the converter
// waits until the page has taken half of them.
const MOST_ON_THEIR_WAY = 48 << 20;

const post = (message, transfer) => self.postMessage(message, transfer || []);

// The movie's bytes, read for the worker by the page's other worker, or by
// the page itself where workers may not read the file, which answer on
// `reads`. `copy` serves the converter's reads from the piece in hand and
// asks for the next one before it is needed.
function makeMovie(size, reads) {
  const pieces = new Map();  // offset -> { bytes } once there, { waiting } before
  let current = null;        // { at, bytes }
  let failure = null;
  let read = 0;
  const ask = (at) => {
    if (at >= size || pieces.has(at)) return;
    let arrived;
    const waiting = new Promise((resolve) => { arrived = resolve; });
    pieces.set(at, { waiting, arrived, bytes: null });
    reads.postMessage({ at, length: Math.min(PIECE, size - at) });
  };
  const movie = {
    get read() { return read; },
    // Bytes copied into `out` from `position`: 0 while their piece is on its
    // way, -1 when the page could not read it.
    copy(position, out) {
      if (failure !== null || position >= size) return -1;
      if (!current || position < current.at || position >= current.at + current.bytes.length) {
        const piece = pieces.get(position);
        if (!piece) {
          // A seek, or the first read: the pieces asked for ahead are of no use.
          pieces.clear();
          ask(position);
          return 0;
        }
        if (!piece.bytes) return 0;
        pieces.delete(position);
        current = { at: position, bytes: piece.bytes };
        ask(position + piece.bytes.length);
      }
      const from = position - current.at;
      const count = Math.min(out.length, current.bytes.length - from);
      out.set(current.bytes.subarray(from, from + count));
      read = Math.max(read, position + count);
      return count;
    },
    // How far the converter has come: bytes it skipped count as read.
    reached(position) {
      read = Math.max(read, Math.min(position, size));
    },
    arrival(position) {
      const piece = pieces.get(position);
      return piece && !piece.bytes && failure === null ? piece.waiting : Promise.resolve();
    },
    arrived(at, bytes, error) {
      const piece = pieces.get(at);
      if (error) failure = error;
      else if (piece) piece.bytes = new Uint8Array(bytes);
      if (piece) piece.arrived();
      if (error) for (const other of pieces.values()) other.arrived();
    },
  };
  reads.onmessage = (event) => movie.arrived(event.data.at, event.data.bytes, event.data.error);
  return movie;
}

// The converter's output files. Each goes to the page in pieces, `at` its
// offset: an image in one piece when it is closed; a long file in parts as
// it grows. The page tells how many bytes it has taken.
function makePageFiles() {
  const open = new Map();
  let next = 0;
  let batch = [];
  let batchBytes = 0;
  let onTheirWay = 0;
  let refused = false;
  let wake = null;
  const hand = (name, at, bytes, done) => {
    batch.push({ name, at, bytes, done });
    batchBytes += bytes.length;
  };
  // The bytes held since the last part, as one array.
  const joined = (chunks, length) => {
    if (chunks.length === 1) return chunks[0].bytes;
    const bytes = new Uint8Array(length);
    let at = 0;
    for (const chunk of chunks) {
      bytes.set(chunk.bytes, at);
      at += chunk.bytes.length;
    }
    return bytes;
  };
  const handTail = (file) => {
    const tail = file.chunks.slice(1);
    if (tail.length === 0) return;
    hand(file.name, tail[0].at, joined(tail, file.length - tail[0].at), false);
    file.chunks.length = 1;
    file.held = 0;
  };
  return {
    create(name) {
      if (refused) return -1;
      open.set(next, { name, chunks: [], length: 0, held: 0 });
      return next++;
    },
    // At the end (offset -1) or over bytes not yet handed on.
    write(id, bytes, offset) {
      if (refused) return 2;
      const file = open.get(id);
      try {
        if (offset < 0) {
          file.chunks.push({ at: file.length, bytes: bytes.slice() });
          file.length += bytes.length;
          if (file.chunks.length > 1) file.held += bytes.length;
          if (file.held >= PART) handTail(file);
          return 0;
        }
        for (const chunk of file.chunks) {
          const from = Math.max(offset - chunk.at, 0);
          const to = Math.min(offset + bytes.length - chunk.at, chunk.bytes.length);
          if (from < to) chunk.bytes.set(bytes.subarray(chunk.at + from - offset, chunk.at + to - offset), from);
        }
        const kept = file.chunks.reduce((sum, chunk) => {
          const from = Math.max(offset, chunk.at);
          return sum + Math.max(Math.min(offset + bytes.length, chunk.at + chunk.bytes.length) - from, 0);
        }, 0);
        return kept === bytes.length ? 0 : 2;
      } catch (error) {
        return 1;  // out of memory
      }
    },
    length(id) {
      return open.get(id).length;
    },
    close(id) {
      const file = open.get(id);
      open.delete(id);
      if (refused) return 2;
      try {
        if (file.chunks.length === 0) {
          hand(file.name, 0, new Uint8Array(0), true);
        } else {
          const [head, ...tail] = file.chunks;
          if (tail.length === 0 || head.at + head.bytes.length !== tail[0].at) {
            hand(file.name, 0, head.bytes, tail.length === 0);
            if (tail.length > 0) hand(file.name, tail[0].at, joined(tail, file.length - tail[0].at), true);
          } else {
            hand(file.name, 0, joined(file.chunks, file.length), true);
          }
        }
        return 0;
      } catch (error) {
        return 1;
      }
    },
    discard(id) {
      open.delete(id);
    },
    // Hands on the batch, and everything else the page has yet to see.
    flush(extra) {
      const files = batch;
      onTheirWay += batchBytes;
      batch = [];
      batchBytes = 0;
      post({ ...extra, files }, files.map((file) => file.bytes.buffer));
    },
    behind() {
      return onTheirWay + batchBytes > MOST_ON_THEIR_WAY;
    },
    caughtUp() {
      self.flushToPage();
      if (onTheirWay <= MOST_ON_THEIR_WAY / 2) return Promise.resolve();
      return new Promise((resolve) => { wake = resolve; });
    },
    taken(bytes) {
      onTheirWay -= bytes;
      if (wake && onTheirWay <= MOST_ON_THEIR_WAY / 2) {
        wake();
        wake = null;
      }
    },
    // The page could not keep or save a file: every later one fails.
    refuse() {
      refused = true;
      if (wake) wake();
      wake = null;
    },
  };
}

let stopAsked = false;
const lines = [];
let movie = null;
let pageFiles = null;

// Giving way waits on a message through a channel of the worker's own,
// which no browser slows as it slows timers in a background tab.
const channel = new MessageChannel();
let given = null;
channel.port1.onmessage = () => given();

self.flushToPage = () => pageFiles.flush({ type: 'batch', lines: lines.splice(0), read: movie.read });

const converterMade = createConverter({
  print: (line) => lines.push(line),
  printErr: (line) => lines.push(line),
  giveWay: () => {
    self.flushToPage();
    return new Promise((resolve) => {
      given = () => resolve(stopAsked ? 1 : 0);
      channel.port2.postMessage(0);
    });
  },
});

async function convert(name, size, reads) {
  const converter = await converterMade;
  movie = makeMovie(size, reads);
  pageFiles = makePageFiles();
  converter.movie = movie;
  converter.pageFiles = pageFiles;
  const FS = converter.FS;
  // The worker's file system knows the movie by its name and size; its
  // bytes come from the page.
  FS.mkdir('/chosen');
  FS.mount(FS.filesystems.WORKERFS, { files: [{ name: 'movie', size, lastModifiedDate: new Date() }] }, '/chosen');
  FS.mkdir('/movie');
  FS.chdir('/movie');
  FS.symlink('/chosen/movie', '/movie/BOOK.MOV');
  const status = await converter.ccall('page_convert', 'number', [], [], { async: true });
  pageFiles.flush({ type: 'done', lines: lines.splice(0), read: movie.read, status, memory: converter.HEAP8.length });
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'convert') {
    convert(message.name, message.size, message.reads).catch((error) => post({ type: 'crash', text: String(error) }));
  } else if (message.type === 'taken') {
    pageFiles.taken(message.bytes);
  } else if (message.type === 'refused') {
    pageFiles.refuse();
  } else if (message.type === 'stop') {
    stopAsked = true;
  }
};
