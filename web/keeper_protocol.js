// The boundary between the page and the keeper's worker, which does for the
// page what would hold up its thread: reading the movie for the converter,
// moving bytes into blobs, and making the .zip.
//
// Asked:  { type: 'can-read', file }: whether a worker may read the file;
//         { type: 'reads', file, port }: serves the converter's reads of it;
//         { type: 'move', parts, throughResponse }: the parts' buffers
//         (transferred) as blobs, one a part;
//         { type: 'length', files }: the .zip's length for [{ name, size }];
//         { type: 'zip', zip, streamed }: makes .zip `zip` of the files told.
//         On its way, progress { taken }, the files the zip writer has
//         taken, and where `streamed`, first { stream }, the .zip's bytes.
//         The answer: the .zip's blob, or once streamed, null.
// Told:   { type: 'zip-files', zip, files }: more files for the .zip;
//         { type: 'zip-end', zip }: no more;
//         { type: 'zip-cancel', zip }: the .zip is given up.
import { connect } from './rpc.js';

export function keeperClient(worker, onBroken) {
  const keeper = connect(worker, onBroken);
  let zips = 0;
  return {
    canRead: (file) => keeper.request('can-read', { file }),
    reads: (file, port) => keeper.request('reads', { file, port }, { transfer: [port] }),
    move: (parts, throughResponse, transfer) => keeper.request('move', { parts, throughResponse }, { transfer }),
    length: (files) => keeper.request('length', { files }),
    // A .zip: `done` settles with its blob, or null once streamed.
    zip(streamed, onProgress, signal) {
      const zip = zips++;
      return {
        done: keeper.request('zip', { zip, streamed }, { onProgress, signal }),
        add: (files, transfer) => keeper.tell('zip-files', { zip, files }, transfer),
        end: () => keeper.tell('zip-end', { zip }),
        cancel: () => keeper.tell('zip-cancel', { zip }),
      };
    },
    end: (reason) => keeper.end(reason),
  };
}
