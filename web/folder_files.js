// The files, each written into the folder the user chose, a few at once:
// each one's create, write and close take several milliseconds, mostly
// waiting.
import { errorText } from './words.js';
import { imageName } from './picture.js';

const FOLDER_WRITES = 4;

async function writeFile(folder, file) {
  const handle = await folder.getFileHandle(file.name, { create: true });
  try {
    const writable = await handle.createWritable();
    try {
      for (const piece of file.pieces) await writable.write(await piece.data);
    } catch (error) {
      await writable.abort().catch(() => {});
      throw error;
    }
    await writable.close();
  } catch (error) {
    // A file written through a stream is replaced only when it closes: a
    // failed one leaves an earlier run's file as it was, and an empty one
    // where there was none, which goes.
    const left = await handle.getFile().catch(() => null);
    if (left && left.size === 0) await folder.removeEntry(file.name).catch(() => {});
    throw error;
  }
}

export function makeFolderFiles(folder, holding, failed) {
  const queue = [];
  let active = 0;
  let failure = null;
  let allWritten = null;
  const pump = () => {
    while (active < FOLDER_WRITES && queue.length > 0 && !failure) {
      const file = queue.shift();
      active += 1;
      holding.moved().then(() => writeFile(folder, file)).catch((error) => {
        if (!failure) failed(failure = new Error(file.name + ': ' + errorText(error)));
      }).finally(() => {
        for (const piece of file.pieces) holding.release(piece);
        active -= 1;
        pump();
      });
    }
    if (active === 0 && (queue.length === 0 || failure) && allWritten) allWritten();
  };
  const file = async (name) => (await folder.getFileHandle(name)).getFile();
  return {
    park: false,
    take(files) {
      if (failure) return Promise.reject(failure);
      queue.push(...files);
      pump();
      return Promise.resolve();
    },
    async finish() {
      if (active > 0 || (queue.length > 0 && !failure)) await new Promise((resolve) => { allWritten = resolve; });
      if (failure) throw failure;
    },
    read: async (name) => new Uint8Array(await (await file(name)).arrayBuffer()),
    blob: file,
    // How many images an earlier run left after this run's `images`, up to
    // the first one missing, as the command line counts them.
    async earlierImages(images) {
      let count = 0;
      try {
        for (;;) {
          await folder.getFileHandle(imageName(images + count));
          count += 1;
        }
      } catch (error) {
        // The first one missing ends the count.
      }
      return count;
    },
  };
}
