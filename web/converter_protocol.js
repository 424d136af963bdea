// The boundary between the page and the converter's worker.
//
// Asked:  { type: 'convert', name, size, file } or { ..., reads }: converts
//         the movie, which the worker reads from `file` itself, in the build
//         that does (cmake/web.cmake), or whose bytes come through the port
//         `reads` (web/movie_reads.js). On its
//         way, every 50 ms, progress { lines, read, files }: the lines
//         printed, how far it has come through the movie, and the files
//         finished, or parts of them ({ name, at, bytes, done }), whose
//         buffers are the page's from then on, and `spareUsed`, how many of
//         them were buffers the page gave. The answer, the same with
//         { status, memory } added, and `unreadable` when the movie could
//         not be read.
// Told:   { type: 'taken', bytes }: the page has taken so many bytes;
//         { type: 'spare', buffers }: buffers made ready for the files'
//         bytes (transferred);
//         { type: 'refused' }: the page keeps no more files;
//         { type: 'stop' }: the Stop button.
import { connect, serve } from './rpc.js';

export function converterClient(worker, onBroken) {
  const converter = connect(worker, onBroken);
  return {
    // `from`: { file } or { reads }, a port.
    convert: (movie, from, onBatch) => converter.request('convert', { name: movie.name, size: movie.size, ...from },
                                                         { transfer: from.reads ? [from.reads] : [], onProgress: onBatch }),
    taken: (bytes) => converter.tell('taken', { bytes }),
    spare: (buffers) => converter.tell('spare', { buffers }, buffers),
    refuse: () => converter.tell('refused'),
    stop: () => converter.tell('stop'),
    end: (reason) => converter.end(reason),
  };
}

// `actions`: { convert(message, progress), taken, spare, refused, stop }.
export function serveConverter(actions) {
  serve(globalThis, actions);
}
