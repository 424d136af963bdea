// The boundary between the converter's worker and whoever reads the chosen
// movie for it where it does not read the file itself (chromium, WebKit):
// the keeper's worker where a worker may read the file, else the page
// itself (WebKit, opened from disk). One request, on a port of their own:
// { type: 'read', at, length }, answered with the bytes.
import { connect, serve, transferring } from './rpc.js';

// A file cut short since it was chosen: Firefox reads fewer bytes.
function whole(bytes, length) {
  if (bytes.byteLength !== length) throw new DOMException('the file is shorter than when it was chosen', 'NotReadableError');
  return bytes;
}

// The reading side.
export function serveReads(port, file) {
  serve(port, {
    async read({ at, length }) {
      const bytes = whole(await file.slice(at, at + length).arrayBuffer(), length);
      return transferring(bytes, [bytes]);
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
