// The files kept in the page until "Save as a .zip" puts them into one.
//
// Where the browser keeps them in its own memory, at most `mostKept` bytes
// (WebKit's), a long movie is saved in parts. Once the files kept, with the
// sound track so far, would pass `mostKept`, those kept make a part, and
// `take` holds the converter back until the part is saved and let go; the
// files already on their way go into the next part. The sound track goes
// whole into the last part, and counts toward every part. After Stop
// nothing is held back, and the rest is the last part.
import { makeZipper } from './zipper.js';

// The files kept for a .zip that WebKit holds, at the most: it keeps them,
// and the .zip made from them, in its memory.
export const WEBKIT_MOST_KEPT = 512 << 20;

const tooMuchText = (most) => 'This browser keeps the files in its memory, and takes no more than ' + (most >> 20) + ' MiB of them';

export function makeKeptFiles(holding, keeper, mostKept) {
  const newPart = (number) => ({ number, files: new Map(), bytes: 0 });
  let filling = newPart(1);
  const waiting = [];   // parts made, the first of them offered
  let letGo = 0;        // parts saved and no longer held
  let firstHeld = 0;    // the images in them
  let stopped = false;
  let holdBack = null;  // { promise, release } while a part waits
  const releaseHold = () => {
    if (holdBack) holdBack.release();
    holdBack = null;
  };
  const next = () => waiting[0] || filling;
  const find = (name) => {
    for (const part of [...waiting, filling]) if (part.files.has(name)) return part.files.get(name);
    throw new Error(name + (letGo > 0 && /^\d{8}\.tga$/.test(name) && Number(name.slice(0, 8)) < firstHeld
      ? ' was saved in an earlier part, and is no longer held' : ' is not among the files made'));
  };
  const files = {
    park: true,
    // The sound track refused: more than `mostKept` alone.
    soundRefused: false,
    // `growing`: the bytes so far of files not yet finished.
    take(made, growing = 0) {
      let size = 0;
      let sound = growing;
      for (const file of made) {
        size += file.size;
        if (file.name === 'BOOK.WAV') sound += file.size;
      }
      if (sound > mostKept) {
        files.soundRefused = true;
        for (const file of made) if (file.name === 'BOOK.WAV') file.pieces.forEach(holding.release);
        made = made.filter((file) => file.name !== 'BOOK.WAV');
      }
      if (!stopped && !files.soundRefused && filling.files.size > 0 && filling.bytes + size + growing > mostKept) {
        waiting.push(filling);
        filling = newPart(filling.number + 1);
      }
      for (const file of made) {
        filling.files.set(file.name, file);
        filling.bytes += file.size;
      }
      if (files.soundRefused) {
        return Promise.reject(new Error(tooMuchText(mostKept) + ', and the sound track alone is longer: BOOK.WAV cannot be kept. ' +
          'The pictures can be saved; to keep the sound, use another browser'));
      }
      if (waiting.length === 0 || stopped) return Promise.resolve();
      if (!holdBack) {
        let release;
        holdBack = { promise: new Promise((resolve) => { release = resolve; }), release };
      }
      return holdBack.promise;
    },
    // Stop: nothing is held back any more.
    stop() {
      stopped = true;
      releaseHold();
    },
    finish: () => holding.moved(),
    read: async (name) => holding.copyOf(find(name).pieces, find(name).size),
    blob: async (name) => holding.blobOf(find(name).pieces),
    // What "Save" saves next: null while there is one .zip of everything,
    // else the part's number, and whether it is ready to be saved.
    part: () => (letGo === 0 && waiting.length === 0 ? null : { number: next().number, ready: waiting.length > 0 }),
    // The images of the parts let go, which the page no longer holds.
    firstHeld: () => firstHeld,
    listing: () => [...next().files.values()].map((file) => ({ name: file.name, size: file.size })),
    count: () => next().files.size,
    // The .zip of the next files to save, as a blob; `taken` counts the
    // files in it so far.
    zip(signal, taken) {
      let count = 0;
      const zipper = makeZipper(keeper, holding, { taken: () => taken(++count), signal });
      zipper.add([...next().files.values()]);
      zipper.end();
      return zipper.done;
    },
    // The .zip of the next files was handed to the browser. A part made
    // while converting is let go, and the converter goes on once no part
    // waits; the last files stay, for the player. Whether all are saved.
    saved() {
      if (waiting.length === 0) return true;
      const part = waiting.shift();
      for (const [name, file] of part.files) {
        file.pieces.forEach(holding.release);
        if (name.endsWith('.tga')) firstHeld += 1;
      }
      letGo += 1;
      if (waiting.length === 0) releaseHold();
      return false;
    },
  };
  return files;
}
