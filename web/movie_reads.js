// The boundary between the converter's worker and whoever reads the chosen
// movie for it: the keeper's worker where a worker may read the file, else
// the page itself (WebKit, opened from disk). One request, on a port of
// their own: { type: 'read', at, length }, answered with the bytes.
import { connect, serve, transferring } from './rpc.js';

// The reading side.
export function serveReads(port, file) {
  serve(port, {
    async read({ at, length }) {
      const bytes = await file.slice(at, at + length).arrayBuffer();
      // A file cut short since it was chosen: Firefox reads fewer bytes.
      if (bytes.byteLength !== length) throw new DOMException('the file is shorter than when it was chosen', 'NotReadableError');
      return transferring(bytes, [bytes]);
    },
  });
}

// The converter's side: `read(at, length)` gives the bytes, or fails with
// the reason the file could not be read.
export function readsFrom(port) {
  const reads = connect(port);
  return (at, length) => reads.request('read', { at, length }).then((bytes) => new Uint8Array(bytes));
}
