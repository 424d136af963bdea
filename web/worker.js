// The converter's worker. The page sends it the movie the user chose; it
// runs the converter on it and sends back every line the converter prints,
// every file it finishes, how far it has read, and its exit status.
'use strict';

let converter = null;  // the running converter, to hear the Stop button

// The converter's output files, as bytes, until each is handed to the page.
function makePageFiles(post) {
  const open = new Map();
  let next = 0;
  return {
    create(name) {
      open.set(next, { name, chunks: [], length: 0 });
      return next++;
    },
    // At the end (offset -1) or over bytes already written.
    write(id, bytes, offset) {
      const file = open.get(id);
      try {
        if (offset < 0) {
          file.chunks.push(bytes.slice());
          file.length += bytes.length;
          return 0;
        }
        let at = 0;
        for (const chunk of file.chunks) {
          const from = Math.max(offset - at, 0);
          const to = Math.min(offset + bytes.length - at, chunk.length);
          if (from < to) chunk.set(bytes.subarray(at + from - offset, at + to - offset), from);
          at += chunk.length;
        }
        return 0;
      } catch (error) {
        return 1;  // out of memory
      }
    },
    length(id) {
      return open.get(id).length;
    },
    close(id) {
      const file = open.get(id);
      open.delete(id);
      try {
        // An image is written in one piece, which goes as it is.
        let bytes = file.chunks.length === 1 ? file.chunks[0] : new Uint8Array(file.length);
        if (file.chunks.length !== 1) {
          let at = 0;
          for (const chunk of file.chunks) {
            bytes.set(chunk, at);
            at += chunk.length;
          }
        }
        post({ type: 'file', name: file.name, bytes }, [bytes.buffer]);
        return 0;
      } catch (error) {
        return 1;
      }
    },
    discard(id) {
      open.delete(id);
    },
  };
}

async function convert(movie) {
  const post = (message, transfer) => self.postMessage(message, transfer || []);
  let readUpTo = 0;
  converter = await createConverter({
    print: (line) => post({ type: 'line', stream: 'out', line }),
    printErr: (line) => post({ type: 'line', stream: 'err', line }),
    pageFiles: makePageFiles(post),
    stopAsked: false,
    reportProgress: () => post({ type: 'progress', read: readUpTo, size: movie.size }),
  });
  const FS = converter.FS;
  const WORKERFS = FS.filesystems.WORKERFS;
  // The movie is read from the chosen file piece by piece, where the
  // converter asks: it is never copied whole. Each read of the file costs
  // about the same whatever its size up to some MiB, so the pieces are
  // 8 MiB, and the converter's reads are served from the last one.
  const PIECE = 8 << 20;
  let piece = null;
  let pieceAt = 0;
  WORKERFS.stream_ops.read = function (stream, buffer, offset, length, position) {
    const size = stream.node.size;
    if (position >= size) return 0;
    const end = Math.min(position + length, size);
    if (!piece || position < pieceAt || end > pieceAt + piece.length) {
      pieceAt = position;
      piece = new Uint8Array(new FileReaderSync().readAsArrayBuffer(
        stream.node.contents.slice(position, Math.min(position + Math.max(PIECE, length), size))));
    }
    buffer.set(piece.subarray(position - pieceAt, end - pieceAt), offset);
    readUpTo = end;
    return end - position;
  };
  FS.mkdir('/chosen');
  FS.mount(WORKERFS, { files: [movie] }, '/chosen');
  FS.mkdir('/movie');
  FS.chdir('/movie');
  FS.symlink('/chosen/' + movie.name, '/movie/BOOK.MOV');
  const status = await converter.ccall('page_convert', 'number', [], [], { async: true });
  post({ type: 'progress', read: movie.size, size: movie.size });
  post({ type: 'done', status, memory: converter.HEAP8.length });
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'convert') {
    convert(message.movie).catch((error) => self.postMessage({ type: 'crash', text: String(error) }));
  } else if (message.type === 'stop' && converter) {
    converter.stopAsked = true;
  }
};
