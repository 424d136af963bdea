// The engine the page runs in, where engines keep bytes in different places:
// a blob made in Firefox stays in the page's memory unless it is a response
// body read into a blob, which goes to a temporary file beyond a small
// size; chromium keeps every blob in its blob store, outside the page, and
// moves large ones to disk; WebKit keeps blobs in memory, in another of its
// processes, and its workers may not read them when the page was opened
// from disk.
export const ENGINE = /Firefox\//.test(navigator.userAgent) ? 'firefox'
  : /AppleWebKit/.test(navigator.userAgent) && !/Chrom(e|ium)\//.test(navigator.userAgent) ? 'webkit' : 'chromium';

// How the converter gets the movie's bytes. In chromium and WebKit the
// keeper's worker, or the page, reads the movie in pieces ahead and hands
// them to the converter, which waits for a piece still on its way
// (WebKit's workers may not read the chosen file when the page was opened
// from disk). That wait is built into the converter's reading, and Firefox
// ran that build about half as fast: there the converter is the build that
// never waits (cmake/web.cmake), and reads every piece itself. Handing it
// pieces as well, or in chromium reading late pieces itself, made either
// slower.
export const CONVERTER_READS_FILE = ENGINE === 'firefox';
export const CONVERTER_SOURCE = CONVERTER_READS_FILE ? 'converter-direct-source' : 'converter-source';

// The bytes of files the page holds in its memory. While it keeps them for
// a .zip, it keeps them there as they come up to `moveFrom`, which a movie
// of some minutes never reaches, since moving them costs time; beyond that
// it moves the oldest out of its memory. The converter waits while the page
// holds more than `most`, moved or saved too slowly. Firefox, whose other
// processes take more as it moves them, holds less once a movie has passed
// `moveFrom`: then its whole tree stays within the page's bound while the
// .zip is made. In WebKit nothing is moved, and the files kept are counted
// instead (web/kept_files.js).
export const HELD_KEEPING = {
  chromium: { moveFrom: 192 << 20, most: 256 << 20 },
  firefox: { moveFrom: 192 << 20, most: 256 << 20, then: { moveFrom: 96 << 20, most: 160 << 20 } },
  webkit: { moveFrom: Infinity, most: Infinity },
}[ENGINE];
// While the files go where the user chose as they are made.
export const HELD_SAVING = { moveFrom: 32 << 20, most: 64 << 20 };

// The buffers the page makes ready for the converter's files, with its
// worker at a time (web/spare_memory.js): more than it fills between two
// batches. They are given until the page starts moving kept files, which
// moves a file in a shared buffer by a copy. Where the page's own thread
// reads the movie (WebKit), making them there delayed the reads the
// converter waited for: there the converter's worker makes as many itself
// while it waits for a piece (`OWN_SPARE_BUFFERS`), and the page makes
// none. The benchmark movie took 1081 ms against 1268 with the page making
// them as well, on the band movie, and 982 against 1083 on the scattered.
export const SPARE_BUFFERS = ENGINE === 'webkit' ? 0 : 64;
export const OWN_SPARE_BUFFERS = ENGINE === 'webkit' ? 64 : 0;
