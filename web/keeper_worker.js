// The keeper's worker (web/keeper_protocol.js). Reading a piece of the
// movie takes chromium up to 100 ms on a busy machine, making a blob
// 300 ms for 16 MiB, and the zip writer's CRC-32s about a second for each
// 100 MB: none of it holds up the page's thread here.
import { makeZip, predictLength } from 'client-zip';
import { serve } from './rpc.js';
import { serveReads } from './movie_reads.js';
import { freeNow } from './free_memory.js';

const zips = new Map();  // zip -> { queue, wake, ended, cancelled }

// The files of a .zip as the page tells them; `progress` hears of each one
// the zip writer has taken. A cancelled .zip ends early, and is dropped:
// a stream that failed instead would be reported on the console.
async function* entries(zip, progress) {
  let taken = 0;
  for (;;) {
    if (zip.queue.length === 0 && !zip.ended && !zip.cancelled) await new Promise((resolve) => { zip.wake = resolve; });
    if (zip.cancelled || zip.queue.length === 0) return;
    yield zip.queue.shift();
    progress({ taken: ++taken });
  }
}

// The zip writer's output in pieces of 1 MiB: it gives a header, a file and
// a descriptor apart, and each write into a file the user chose costs the
// browser some milliseconds whatever its size.
function inMiBs(stream) {
  const SIZE = 1 << 20;
  let piece = new Uint8Array(SIZE);
  let used = 0;
  return stream.pipeThrough(new TransformStream({
    transform(chunk, controller) {
      for (let at = 0; at < chunk.length;) {
        const count = Math.min(SIZE - used, chunk.length - at);
        piece.set(chunk.subarray(at, at + count), used);
        used += count;
        at += count;
        if (used === SIZE) {
          controller.enqueue(piece);
          piece = new Uint8Array(SIZE);
          used = 0;
        }
      }
    },
    flush(controller) {
      if (used > 0) controller.enqueue(piece.subarray(0, used));
    },
  }));
}

function nudge(zip) {
  if (!zip) return;
  if (zip.wake) zip.wake();
  zip.wake = null;
}

serve(globalThis, {
  'can-read': ({ file }) => file.slice(0, 1).arrayBuffer().then(() => true, () => false),
  reads({ file, port }) {
    serveReads(port, file);
  },
  // One blob of all the parts, cut into one a part. Firefox keeps a blob
  // made of bytes in memory, but puts a response's body, read into a blob,
  // into a temporary file.
  async move({ parts, throughResponse }) {
    let whole = new Blob(parts);
    if (throughResponse) whole = await new Response(whole.stream()).blob();
    let at = 0;
    const blobs = parts.map((part) => whole.slice(at, (at += part.length)));
    // The blob holds a copy: the parts, transferred or copied here, are of no more use.
    for (const part of parts) freeNow(part.buffer);
    return blobs;
  },
  length: ({ files }) => Number(predictLength(files)),
  // Into a blob, or as a stream handed to the page, which writes it where
  // the user chose.
  async zip({ zip: id, streamed }, progress) {
    const zip = { queue: [], wake: null, ended: false, cancelled: false };
    zips.set(id, zip);
    try {
      const stream = inMiBs(makeZip(entries(zip, progress), { buffersAreUTF8: true }));
      if (!streamed) {
        const blob = await new Response(stream).blob();
        if (zip.cancelled) throw new Error('cancelled');
        return blob;
      }
      const over = new Promise((resolve, reject) => { zip.over = { resolve, reject }; });
      const out = stream.pipeThrough(new TransformStream({ flush: () => zip.over.resolve() }));
      progress({ stream: out }, [out]);
      return await over;
    } finally {
      zips.delete(id);
    }
  },
  'zip-files': ({ zip, files }) => {
    const made = zips.get(zip);
    if (!made) return;
    made.queue.push(...files);
    nudge(made);
  },
  'zip-end': ({ zip }) => {
    const made = zips.get(zip);
    if (made) made.ended = true;
    nudge(made);
  },
  'zip-cancel': ({ zip }) => {
    const made = zips.get(zip);
    if (!made) return;
    made.cancelled = true;
    if (made.over) made.over.reject(new Error('cancelled'));
    nudge(made);
  },
});
