// The engine the page runs in, where engines keep bytes in different places:
// a blob made in Firefox stays in the page's memory unless it is a response
// body read into a blob, which goes to a temporary file beyond a small
// size; chromium keeps every blob in its blob store, outside the page, and
// moves large ones to disk; WebKit keeps blobs in memory, in another of its
// processes, and its workers may not read them when the page was opened
// from disk.
export const ENGINE = /Firefox\//.test(navigator.userAgent) ? 'firefox'
  : /AppleWebKit/.test(navigator.userAgent) && !/Chrom(e|ium)\//.test(navigator.userAgent) ? 'webkit' : 'chromium';

// The bytes of files the page holds in its memory. While it keeps them for
// a .zip, it keeps them there as they come up to `moveFrom`, which a movie
// of some minutes never reaches, since moving them costs time; beyond that
// it moves the oldest out of its memory. The converter waits while the page
// holds more than `most`, moved or saved too slowly. Firefox, whose other
// processes take more as it moves them, starts sooner. In WebKit nothing is
// moved, and the files kept are counted instead (web/kept_files.js).
export const HELD_KEEPING = {
  chromium: { moveFrom: 192 << 20, most: 256 << 20 },
  firefox: { moveFrom: 96 << 20, most: 160 << 20 },
  webkit: { moveFrom: Infinity, most: Infinity },
}[ENGINE];
// While the files go where the user chose as they are made.
export const HELD_SAVING = { moveFrom: 32 << 20, most: 64 << 20 };
