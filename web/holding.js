// The bytes of the files the converter hands the page, held until they are
// saved or no longer wanted, a piece at a time (a file comes in one piece,
// or a long one in several).
//
// This module owns the bytes it holds. A buffer held here never leaves it:
// whatever it gives out, to be read, played, made into a video or put into
// a .zip, is a copy or a blob. A buffer it hands to the keeper on purpose,
// to become a blob, is no longer held from that moment, and a read of that
// piece waits for the blob.
//
// Pieces parked for later (the files kept for a .zip, the parts of a long
// file) are moved out of the page's memory into blobs once more than
// `moveFrom` bytes are held. `room()` tells when the page holds few enough,
// `most`, to take more. Where `then` is given, a run that once passes
// `moveFrom` is long, and goes on with `then`'s limits.

import { freeNow } from './free_memory.js';
import { errorText } from './words.js';

// Bytes joined into one new array.
function joined(arrays, size) {
  const bytes = new Uint8Array(size);
  let at = 0;
  for (const array of arrays) {
    bytes.set(array, at);
    at += array.length;
  }
  return bytes;
}

// Moved a batch of this size at a time. Firefox, which moves them through
// a response's body into a temporary file, took twice as long to move the
// last batches after a 3000-picture movie in batches of 2 MiB as of 16.
const MOVED_AT_ONCE = 2 << 20;
const MOVED_AT_ONCE_THROUGH_RESPONSE = 16 << 20;

// `keeper` moves bytes into blobs (web/keeper_protocol.js); `failed` hears
// why they could not be kept.
export function makeHolding(limits, keeper, throughResponse, failed) {
  let limit = limits;
  let started = false;
  let abandoned = false;
  const roomFor = () => abandoned || held <= limit.most;
  const parked = [];
  let held = 0;
  let moving = null;
  // The spare buffers (web/spare_memory.js) that pieces still here share,
  // and how many: one whose pieces have all gone gives its memory back.
  const sharing = new Map();
  const whole = (part) => part.byteOffset === 0 && part.byteLength === part.buffer.byteLength;
  const share = (bytes) => {
    if (!whole(bytes)) sharing.set(bytes.buffer, (sharing.get(bytes.buffer) || 0) + 1);
  };
  const unshare = (bytes) => {
    if (whole(bytes)) return;
    const left = sharing.get(bytes.buffer) - 1;
    if (left > 0) {
      sharing.set(bytes.buffer, left);
      return;
    }
    sharing.delete(bytes.buffer);
    freeNow(bytes.buffer);
  };
  let waiting = [];
  const wakeIfRoom = () => {
    if (!roomFor()) return;
    for (const wake of waiting) wake();
    waiting = [];
  };
  const moveSome = async () => {
    const batch = [];
    let size = 0;
    while (parked.length > 0 && size < (throughResponse ? MOVED_AT_ONCE_THROUGH_RESPONSE : MOVED_AT_ONCE)) {
      const piece = parked.shift();
      if (!(piece.data instanceof Uint8Array)) continue;
      batch.push(piece);
      size += piece.size;
    }
    // A piece with a buffer of its own goes with it. Pieces that share one
    // (web/spare_memory.js) are copied together into a buffer that goes
    // instead: a view sent as it is would take a copy of its whole buffer.
    const shared = batch.filter((piece) => !whole(piece.data));
    const together = joined(shared.map((piece) => piece.data), shared.reduce((sum, piece) => sum + piece.size, 0));
    let at = 0;
    const parts = batch.map((piece) => {
      if (whole(piece.data)) return piece.data;
      at += piece.size;
      return together.subarray(at - piece.size, at);
    });
    for (const piece of shared) unshare(piece.data);
    const blobs = keeper.move(parts, throughResponse, [...new Set(parts.map((part) => part.buffer))]);
    // The buffers are the keeper's now: a read of these pieces waits for their blobs.
    batch.forEach((piece, i) => {
      piece.data = blobs.then((made) => made[i]);
      piece.data.catch(() => {});
    });
    const made = await blobs;
    batch.forEach((piece, i) => {
      if (piece.data !== null) piece.data = made[i];
      held -= piece.size;
    });
    wakeIfRoom();
  };
  const move = async () => {
    while (held > limit.moveFrom && parked.some((piece) => piece.data instanceof Uint8Array)) await moveSome();
  };
  const all = (pieces) => Promise.all(pieces.map((piece) => {
    if (piece.data === null) throw new Error('a file no longer held was read');
    return piece.data;
  }));
  return {
    get held() { return held; },
    // Whether any piece was moved, or is being moved, into a blob.
    get started() { return started; },
    piece(bytes, park) {
      const piece = { data: bytes, size: bytes.length };
      held += piece.size;
      share(bytes);
      if (park) {
        parked.push(piece);
        if (!moving && held > limit.moveFrom) {
          if (!started && limits.then) limit = limits.then;
          started = true;
          moving = move().catch((error) => failed(new Error('The files could not be kept: ' + errorText(error))))
            .finally(() => { moving = null; });
        }
      }
      return piece;
    },
    // The piece is saved, or no longer wanted.
    release(piece) {
      if (piece.data instanceof Uint8Array) {
        held -= piece.size;
        unshare(piece.data);
      }
      piece.data = null;
      wakeIfRoom();
    },
    room() {
      if (roomFor()) return Promise.resolve();
      return new Promise((resolve) => waiting.push(resolve));
    },
    // Nothing more will be saved: no one waits for room.
    abandon() {
      abandoned = true;
      wakeIfRoom();
    },
    // Every piece is where it can be read: none is on its way out.
    moved: () => moving || Promise.resolve(),
    // A file's bytes: a copy.
    async copyOf(pieces, size) {
      const parts = await all(pieces);
      if (parts.every((part) => part instanceof Uint8Array)) return joined(parts, size);
      return new Uint8Array(await new Blob(parts).arrayBuffer());
    },
    // A file as a blob, which holds a copy of bytes still here.
    async blobOf(pieces) {
      const parts = await all(pieces);
      return parts.length === 1 && parts[0] instanceof Blob ? parts[0] : new Blob(parts);
    },
    // A file for the zip writer, and what may be handed to it: a blob where
    // any of its pieces is one, else a copy of its bytes, whose buffer goes.
    // WebKit's workers may read no blob made by a page opened from disk, and
    // there nothing is moved into blobs.
    async zipInput(pieces, size) {
      const parts = await all(pieces);
      // A blob of its own per file would cost chromium a call to its blob
      // store each, some seconds for a long movie: a file in one blob goes as it is.
      if (!parts.every((part) => part instanceof Uint8Array)) return { input: parts.length === 1 ? parts[0] : new Blob(parts), transfer: [] };
      const bytes = joined(parts, size);
      return { input: bytes, transfer: [bytes.buffer] };
    },
  };
}
