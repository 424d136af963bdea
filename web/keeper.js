// The page's second worker, which does for the page what would hold up its
// own thread: it reads the movie for the converter's worker where a worker
// may read the chosen file (taking a piece's bytes takes chromium up to
// 100 ms on a busy machine); it moves bytes out of the page's memory into
// blobs (making a blob takes chromium 300 ms for 16 MiB); and it makes the
// .zip, whose CRC-32s take the zip writer (client-zip, `clientZip`, put
// before this script) about a second for each 100 MB.
'use strict';

const zips = new Map();  // id -> { queue, wake, ended }

// Serves the converter's reads of `file` on `port`. A read that fails is
// answered with its reason, which the page hears too.
function serveReads({ file, port }) {
  port.onmessage = async (event) => {
    const { at, length } = event.data;
    try {
      const bytes = await file.slice(at, at + length).arrayBuffer();
      port.postMessage({ at, bytes }, [bytes]);
    } catch (error) {
      port.postMessage({ at, error: errorText(error) });
      postMessage({ type: 'unreadable', error: errorText(error) });
    }
  };
}

// One blob of all the pieces, cut into one a piece. Firefox keeps a blob
// made of bytes in memory, but puts a response's body, read into a blob,
// into a temporary file.
async function move({ id, parts, throughResponse }) {
  let whole = new Blob(parts);
  if (throughResponse) whole = await new Response(whole.stream()).blob();
  let at = 0;
  postMessage({ type: 'moved', id, blobs: parts.map((part) => whole.slice(at, (at += part.length))) });
}

// The files of zip `id`, as the page sends them; the page is told of each
// one the zip writer has taken.
async function* zipEntries(id) {
  const zip = zips.get(id);
  let taken = 0;
  for (;;) {
    if (zip.queue.length === 0 && !zip.ended) await new Promise((resolve) => { zip.wake = resolve; });
    if (zip.queue.length === 0) return;
    yield zip.queue.shift();
    postMessage({ type: 'zipped', id, files: ++taken });
  }
  if (zip.streamed) zips.delete(id);
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

// Makes the .zip: into a blob, or as a stream handed to the page, which
// writes it where the user chose.
async function zip({ id, streamed }) {
  zips.set(id, { queue: [], wake: null, ended: false, streamed });
  const stream = inMiBs(clientZip.makeZip(zipEntries(id), { buffersAreUTF8: true }));
  if (streamed) {
    postMessage({ type: 'zip-stream', id, stream }, [stream]);
  } else {
    postMessage({ type: 'zip-done', id, blob: await new Response(stream).blob() });
    zips.delete(id);
  }
}

function nudge(zip) {
  if (zip.wake) zip.wake();
  zip.wake = null;
}

const errorText = (error) => (error && error.name && error.message ? error.name + ': ' + error.message : String(error));

onmessage = (event) => {
  const message = event.data;
  const failed = (error) => postMessage({ type: 'failed', id: message.id, error: errorText(error) });
  if (message.type === 'can-read') {
    message.file.slice(0, 1).arrayBuffer().then(() => postMessage({ type: 'done', id: message.id, blob: true }),
                                                () => postMessage({ type: 'done', id: message.id, blob: false }));
  } else if (message.type === 'length') {
    postMessage({ type: 'done', id: message.id, blob: Number(clientZip.predictLength(message.files)) });
  } else if (message.type === 'reads') {
    serveReads(message);
  } else if (message.type === 'move') {
    move(message).catch(failed);
  } else if (message.type === 'zip') {
    zip(message).catch(failed);
  } else if (message.type === 'files') {
    const zip = zips.get(message.id);
    if (!zip) return;
    zip.queue.push(...message.files);
    nudge(zip);
  } else if (message.type === 'end') {
    const zip = zips.get(message.id);
    if (!zip) return;
    zip.ended = true;
    nudge(zip);
  }
};
