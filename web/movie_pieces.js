import { freeNow } from './free_memory.js';
import { pieceAt, pieceStart } from './movie_reads.js';

// The movie's bytes in the converter's worker, as the converter reads them
// (movie/movie_file_web.cpp): a piece at a time (web/movie_reads.js),
// asked for one piece ahead of the one it reads from.

// `read(at, length)` fetches a piece (web/movie_reads.js), or, where the
// worker reads the file itself, `readNow` reads one at once, when it is
// needed: then the converter never waits, as its build requires
// (cmake/web.cmake). Reading ahead there made the conversion no faster.
export function makeMovie(size, read, readNow = null) {
  const pieces = new Map();  // offset -> { arrival, bytes } (bytes null until it is there)
  let current = null;        // { at, bytes }
  let failure = null;
  let reached = 0;
  const ask = (at) => {
    if (!read || at >= size || pieces.has(at)) return;
    const piece = { bytes: null };
    piece.arrival = read(at, pieceAt(at, size)).then((bytes) => {
      piece.bytes = bytes;
    }, (error) => {
      failure = failure || error;
    });
    pieces.set(at, piece);
  };
  return {
    get read() { return reached; },
    get failure() { return failure; },
    // Bytes copied into `out` from `position`: 0 while their piece is on its
    // way, -1 when it could not be read.
    copy(position, out) {
      if (failure !== null || position >= size) return -1;
      if (!current || position < current.at || position >= current.at + current.bytes.length) {
        const at = pieceStart(position);
        const piece = pieces.get(at);
        // A seek: the pieces asked for ahead are of no use.
        if (!piece) pieces.clear();
        if (!piece || !piece.bytes) {
          if (!readNow) {
            if (!piece) ask(at);
            return 0;
          }
          try {
            pieces.set(at, { bytes: readNow(at, pieceAt(at, size)) });
          } catch (error) {
            failure = error;
            return -1;
          }
        }
        const { bytes } = pieces.get(at);
        pieces.delete(at);
        if (current) freeNow(current.bytes.buffer);
        current = { at, bytes };
        ask(at + bytes.length);
      }
      const from = position - current.at;
      const count = Math.min(out.length, current.bytes.length - from);
      out.set(current.bytes.subarray(from, from + count));
      reached = Math.max(reached, position + count);
      return count;
    },
    // How far the converter has come: bytes it passes over count as read.
    reached(position) {
      reached = Math.max(reached, Math.min(position, size));
    },
    arrival(position) {
      const piece = pieces.get(pieceStart(position));
      return piece && !piece.bytes ? piece.arrival : Promise.resolve();
    },
  };
}
