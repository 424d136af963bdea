// Memory made ready for the converter's files on the page's thread, which
// is mostly idle while the converter works. Copying an image out of the
// converter into memory the process has never written costs the worker
// most of its time, as the system maps that memory a page at a time when
// it is first written; the page writes to every page of a buffer ahead,
// and the worker copies the files into it (web/page_files.js). The buffers
// come back with the files, and as many again are made ready.
const SPARE_BUFFER = 1 << 20;
// Made at a time, in one task of the page's. Tasks that follow each other
// by a timer come at least 4 ms apart: at 4 a task, 2,000 of a 3,000-picture
// movie's files found a buffer ready; at 8, with 64 out, 2,900.
const AT_ONCE = 8;
const PAGE = 4096;

// A buffer with every page of it written.
export function ready() {
  const bytes = new Uint8Array(SPARE_BUFFER);
  for (let at = 0; at < bytes.length; at += PAGE) bytes[at] = 0;
  return bytes.buffer;
}

// `give(buffers)` hands them to the worker, transferred, `stock` at a time,
// while `wanted()`.
export function makeSpareMemory(give, stock, wanted) {
  let out = 0;
  let timer = null;
  let over = false;
  const topUp = () => {
    if (timer !== null || over || out >= stock || !wanted()) return;
    timer = setTimeout(() => {
      timer = null;
      if (over) return;
      const buffers = [];
      while (out < stock && buffers.length < AT_ONCE) {
        buffers.push(ready());
        out += 1;
      }
      give(buffers);
      topUp();
    });
  };
  return {
    start: topUp,
    // `count` came back, filled.
    back(count) {
      out -= count;
      topUp();
    },
    end() {
      over = true;
      clearTimeout(timer);
    },
  };
}
