// The files kept in the page until "Save as a .zip" puts them into one.
import { makeZipper } from './zipper.js';

// The files kept for a .zip that WebKit holds, at the most: it keeps them,
// and the .zip made from them, in its memory.
export const WEBKIT_MOST_KEPT = 512 << 20;

export function makeKeptFiles(holding, keeper, mostKept) {
  const kept = new Map();
  let bytes = 0;
  const file = (name) => {
    if (!kept.has(name)) throw new Error(name + ' is not among the files made');
    return kept.get(name);
  };
  return {
    park: true,
    take(files) {
      for (const made of files) {
        kept.set(made.name, made);
        bytes += made.size;
      }
      if (bytes > mostKept) {
        return Promise.reject(new Error('This browser keeps the files in its memory, and takes no more than ' +
          (mostKept >> 20) + ' MiB of them: convert a shorter movie, or use another browser'));
      }
      return Promise.resolve();
    },
    finish: () => holding.moved(),
    read: async (name) => holding.copyOf(file(name).pieces, file(name).size),
    blob: async (name) => holding.blobOf(file(name).pieces),
    listing: () => [...kept.values()].map((made) => ({ name: made.name, size: made.size })),
    count: () => kept.size,
    // The .zip of them all, as a blob; `taken` counts the files in it so far.
    zip(signal, taken) {
      let count = 0;
      const zipper = makeZipper(keeper, holding, { taken: () => taken(++count), signal });
      zipper.add([...kept.values()]);
      zipper.end();
      return zipper.done;
    },
  };
}
