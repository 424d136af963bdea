// The boundary between the converter's worker and whoever reads the chosen
// movie for it where it does not read the file itself (chromium, WebKit):
// the keeper's worker where a worker may read the file, else the page
// itself (WebKit, opened from disk). One request, on a port of their own:
// { type: 'read', at, length }, answered with the bytes.
import { connect, serve, transferring } from './rpc.js';

// The pieces the movie is read in. A read of the file costs about the same
// whatever its size up to some MiB, and the reading side hands each piece
// over at no cost, but the page takes its bytes in one task, which must
// stay short. The first pieces are smaller, doubling up to PIECE, so that
// the converter starts on the first MiB while the next is read.
const PIECE = 8 << 20;
const FIRST_PIECE = 1 << 20;
export const pieceAt = (at, size) => Math.min(PIECE, Math.max(FIRST_PIECE, at), size - at);
// Where the piece that holds `position` starts: every read is of whole
// pieces, so that a seek, and the first read past the movie's header, finds
// the pieces read ahead.
export function pieceStart(position) {
  if (position >= PIECE) return position - (position % PIECE);
  let at = 0;
  while (at + pieceAt(at, Infinity) <= position) at += pieceAt(at, Infinity);
  return at;
}

// A file cut short since it was chosen: Firefox reads fewer bytes.
function whole(bytes, length) {
  if (bytes.byteLength !== length) throw new DOMException('the file is shorter than when it was chosen', 'NotReadableError');
  return bytes;
}

const readPiece = (file, at, length) => file.slice(at, at + length).arrayBuffer().then((bytes) => whole(bytes, length));

// The reading side, where the keeper's worker reads: each piece as it is
// asked for.
export function serveReads(port, file) {
  serve(port, {
    async read({ at, length }) {
      const bytes = await readPiece(file, at, length);
      return transferring(bytes, [bytes]);
    },
  });
}

// Where the page's own thread reads (WebKit), a request waits until that
// thread, often busy, takes it, and the converter's worker takes long to
// open: there the page reads the first FIRST_AHEAD pieces from the movie's
// start as soon as it is chosen, and then one piece beyond each one asked
// for, one read after another. A request for a piece not read ahead (a
// seek) is read at once, and the reading ahead goes on from there; what
// was to be read before still is, as a request may wait for it.
const FIRST_AHEAD = 5;
export function serveReadsAhead(port, file) {
  const { size } = file;
  let ahead = new Map();  // offset -> the piece's bytes, to come
  let queue = Promise.resolve();
  const readAhead = (from, count) => {
    for (let at = from; at < size && count > 0; at += pieceAt(at, size), count--) {
      if (ahead.has(at)) continue;
      const length = pieceAt(at, size);
      const bytes = queue.then(() => readPiece(file, at, length));
      queue = bytes.catch(() => {});
      ahead.set(at, bytes);
    }
  };
  readAhead(0, FIRST_AHEAD);
  serve(port, {
    async read({ at, length }) {
      let bytes = ahead.get(at);
      if (!bytes || length !== pieceAt(at, size)) {
        ahead = new Map();
        bytes = readPiece(file, at, length);
      }
      ahead.delete(at);
      readAhead(at + length, 1);
      const read = await bytes;
      return transferring(read, [read]);
    },
  });
}

// Where the converter's worker reads the file itself (Firefox): each piece
// read at once, when it is needed. Firefox's reader fails on a changed file with an exception of its own,
// with no reason in words: it is said as the failure a read would give.
export function readerNow(file) {
  return (at, length) => {
    let bytes;
    try {
      bytes = new FileReaderSync().readAsArrayBuffer(file.slice(at, at + length));
    } catch (error) {
      throw error instanceof DOMException ? error : new DOMException('the file changed or went since it was chosen', 'NotReadableError');
    }
    return new Uint8Array(whole(bytes, length));
  };
}

// The converter's side: `read(at, length)` gives the bytes, or fails with
// the reason the file could not be read.
export function readsFrom(port) {
  const reads = connect(port);
  return (at, length) => reads.request('read', { at, length }).then((bytes) => new Uint8Array(bytes));
}
