// The converter's worker. It is made, and the converter's WebAssembly
// compiled, before a movie is chosen; then it converts one movie.
//
// The contract with the converter's C++ (the EM_JS functions of
// movie/movie_file_web.cpp, output/output_file_web.cpp and
// driver/interruption_web.cpp, and driver/main_web.cpp) is the converter's
// Module, made here:
//   page_convert()                 converts ./BOOK.MOV, returns the exit status;
//   print, printErr                each line written to stdout or stderr;
//   giveWay()                      every 50 ms: hands the page what is done,
//                                  then resolves 1 once Stop was pressed, else 0;
//   movie.copy(position, out)      bytes copied, 0 while on their way, -1 unreadable;
//                                  never 0 in the build that reads the file itself,
//                                  whose reading Asyncify leaves as it is;
//   movie.arrival(position)        resolves once the piece at `position` is there;
//   movie.reached(position)        a seek: the bytes passed over count as read;
//   pageFiles.create(name)         an id, or -1 once the page refused;
//   pageFiles.write(id, bytes, at) at -1 appends; 0, 1 out of memory, 2 refused;
//   pageFiles.length(id), .close(id) (0, 1 or 2 as write), .discard(id);
//   pageFiles.behind()             whether too much is on its way to the page;
//   pageFiles.caughtUp()           resolves once the page has taken enough.
// The page hands over buffers for the files' bytes as it makes them ready.
// Asyncify turns the waits for a promise into returns to this worker's
// event loop.
import { serveConverter } from './converter_protocol.js';
import { OWN_SPARE_BUFFERS } from './engine.js';
import { transferring } from './rpc.js';
import { readerNow, readsFrom } from './movie_reads.js';
import { makeMovie } from './movie_pieces.js';
import { makePageFiles } from './page_files.js';
import { ready } from './spare_memory.js';
import { errorText } from './words.js';

let stopAsked = false;
const lines = [];
let movie = null;
let pageFiles = null;
let progress = null;
// Buffers the page made ready for the files' bytes (web/page_files.js),
// and those the worker made itself.
const spare = [];
const own = [];

// Giving way waits for the first of two: a message through a channel of the
// worker's own, which no browser slows as it slows timers in a background
// tab, and a timer, which comes in a millisecond or two where WebKit took
// some 15 to bring the message while the page was busy. Each way given has
// its turn: what comes for an earlier one is late, and does nothing.
const channel = new MessageChannel();
let turn = 0;
let given = null;
const give = (its) => {
  if (its !== turn || !given) return;
  const resume = given;
  given = null;
  resume();
};
channel.port1.onmessage = (event) => give(event.data);

// What the page has yet to see, and the buffers that go with it.
function batch(extra = {}) {
  const [files, transfer, spareUsed] = pageFiles.takeBatch();
  const unreadable = movie.failure ? { unreadable: errorText(movie.failure) } : {};
  return [{ ...extra, ...unreadable, files, spareUsed, lines: lines.splice(0), read: movie.read }, transfer];
}

const hand = () => progress(...batch());

// While the converter waits for the movie's next piece, its worker may
// make buffers ready itself (web/engine.js), one a task, so that a piece
// that comes is taken at once.
const yielding = new MessageChannel();
const yielded = [];
yielding.port1.onmessage = () => yielded.shift()();
const nextTask = () => new Promise((resolve) => {
  yielded.push(resolve);
  yielding.port2.postMessage(0);
});
async function readyWhile(arrival) {
  let there = false;
  arrival.then(() => { there = true; }, () => { there = true; });
  await nextTask();
  while (!there && spare.length + own.length < OWN_SPARE_BUFFERS) {
    own.push(ready());
    await nextTask();
  }
}
const waitingMovie = (movie) => ({
  copy: (position, out) => movie.copy(position, out),
  reached: (position) => movie.reached(position),
  arrival(position) {
    const arrival = movie.arrival(position);
    readyWhile(arrival);
    return arrival;
  },
});

// emscripten's output, put before this script, defines createConverter, or
// createDirectConverter for the build that reads the file itself.
const readsFile = typeof globalThis.createDirectConverter === 'function';
const converterMade = (readsFile ? globalThis.createDirectConverter : globalThis.createConverter)({
  print: (line) => lines.push(line),
  printErr: (line) => lines.push(line),
  giveWay: () => {
    hand();
    return new Promise((resolve) => {
      turn += 1;
      const its = turn;
      given = () => resolve(stopAsked ? 1 : 0);
      channel.port2.postMessage(its);
      setTimeout(() => give(its), 0);
    });
  },
});

serveConverter({
  async convert({ size, reads, file }, onProgress) {
    if (readsFile !== Boolean(file)) throw new Error(readsFile ? 'this converter reads the file itself' : 'this converter cannot read the file');
    const converter = await converterMade;
    progress = onProgress;
    movie = file ? makeMovie(size, null, readerNow(file)) : makeMovie(size, readsFrom(reads));
    pageFiles = makePageFiles(hand, spare, own);
    converter.movie = OWN_SPARE_BUFFERS > 0 ? waitingMovie(movie) : movie;
    converter.pageFiles = pageFiles;
    const FS = converter.FS;
    // The worker's file system knows the movie by its size; its bytes come
    // from the file or its pieces.
    FS.mkdir('/chosen');
    FS.mount(FS.filesystems.WORKERFS, { files: [{ name: 'movie', size, lastModifiedDate: new Date() }] }, '/chosen');
    FS.mkdir('/movie');
    FS.chdir('/movie');
    FS.symlink('/chosen/movie', '/movie/BOOK.MOV');
    const status = await converter.ccall('page_convert', 'number', [], [], { async: true });
    return transferring(...batch({ status, memory: converter.HEAP8.length }));
  },
  taken: ({ bytes }) => pageFiles && pageFiles.taken(bytes),
  spare: ({ buffers }) => spare.push(...buffers),
  refused: () => pageFiles && pageFiles.refuse(),
  stop: () => {
    stopAsked = true;
  },
});
