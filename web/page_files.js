// The converter's output files in its worker (output/output_file_web.cpp).
// Each goes to the page in pieces, `at` its offset: an image in one piece
// when it is closed, a long file in parts as it grows. The page says how
// many bytes it has taken.

// A long file (the sound track) is handed over in parts of this size as it
// grows; only its first write, the header, stays until it is closed.
const PART = 4 << 20;
// When more bytes than this are on their way to the page, the converter
// waits until the page has taken half of them.
const MOST_ON_THEIR_WAY = 48 << 20;

// A write longer than this gets a buffer of its own.
const MOST_IN_SPARE = 256 << 10;

// `hand()` sends the batch so far on its way (takeBatch). `spare` holds the
// buffers the page made ready for the files' bytes (web/spare_memory.js):
// copying into memory the page has touched is many times faster than into
// new memory, which the system maps a page at a time as it is first
// written. Once a spare buffer is full, or its files go, the next is used;
// without one, a write gets a new buffer. `own` holds buffers the worker
// made ready itself, used once the page's are gone: only the page's count
// as given back with the batch.
export function makePageFiles(hand, spare = [], own = []) {
  const open = new Map();
  let next = 0;
  let batch = [];
  let batchBytes = 0;
  let onTheirWay = 0;
  let refused = false;
  let wake = null;
  const fromPage = new WeakSet();
  let filling = null;  // the spare buffer written into, and how much of it is used
  let used = 0;
  const copied = (bytes) => {
    if (bytes.length > MOST_IN_SPARE) return bytes.slice();
    if (!filling || used + bytes.length > filling.length) {
      filling = null;
      while (spare.length > 0 && !filling) {
        const buffer = spare.shift();
        if (buffer.byteLength >= bytes.length) filling = new Uint8Array(buffer);
      }
      if (filling) fromPage.add(filling.buffer);
      else if (own.length > 0) filling = new Uint8Array(own.shift());
      if (!filling) return bytes.slice();
      used = 0;
    }
    const view = filling.subarray(used, used + bytes.length);
    view.set(bytes);
    used += bytes.length;
    return view;
  };
  const add = (name, at, bytes, done) => {
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
  const addTail = (file) => {
    const tail = file.chunks.slice(1);
    if (tail.length === 0) return;
    add(file.name, tail[0].at, joined(tail, file.length - tail[0].at), false);
    file.chunks.length = 1;
    file.held = 0;
  };
  const files = {
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
          file.chunks.push({ at: file.length, bytes: copied(bytes) });
          file.length += bytes.length;
          if (file.chunks.length > 1) file.held += bytes.length;
          if (file.held >= PART) addTail(file);
          return 0;
        }
        let kept = 0;
        for (const chunk of file.chunks) {
          const from = Math.max(offset - chunk.at, 0);
          const to = Math.min(offset + bytes.length - chunk.at, chunk.bytes.length);
          if (from < to) chunk.bytes.set(bytes.subarray(chunk.at + from - offset, chunk.at + to - offset), from);
          kept += Math.max(to - from, 0);
        }
        return kept === bytes.length ? 0 : 2;
      } catch (error) {
        return 1;  // out of memory
      }
    },
    length: (id) => open.get(id).length,
    close(id) {
      const file = open.get(id);
      open.delete(id);
      if (refused) return 2;
      try {
        const [head, ...tail] = file.chunks;
        if (!head) {
          add(file.name, 0, new Uint8Array(0), true);
        } else if (tail.length === 0 || head.at + head.bytes.length !== tail[0].at) {
          add(file.name, 0, head.bytes, tail.length === 0);
          if (tail.length > 0) add(file.name, tail[0].at, joined(tail, file.length - tail[0].at), true);
        } else {
          add(file.name, 0, joined(file.chunks, file.length), true);
        }
        return 0;
      } catch (error) {
        return 1;
      }
    },
    discard(id) {
      open.delete(id);
    },
    // The batch so far, its buffers, which leave the worker with it, and
    // how many of them the page had made ready. The bytes of files still
    // open that share those buffers are copied first, as they stay.
    takeBatch() {
      const taken = batch;
      onTheirWay += batchBytes;
      batch = [];
      batchBytes = 0;
      const leaving = new Set(taken.map((file) => file.bytes.buffer));
      for (const file of open.values()) {
        for (const chunk of file.chunks) if (leaving.has(chunk.bytes.buffer)) chunk.bytes = chunk.bytes.slice();
      }
      if (filling && leaving.has(filling.buffer)) filling = null;
      const transfer = [...leaving];
      return [taken, transfer, transfer.filter((buffer) => fromPage.has(buffer)).length];
    },
    behind: () => onTheirWay + batchBytes > MOST_ON_THEIR_WAY,
    caughtUp() {
      hand();
      if (onTheirWay <= MOST_ON_THEIR_WAY / 2 || refused) return Promise.resolve();
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
  return files;
}
