// The .zip, written into the file the user chose while the movie converts,
// and read back from it for the player and the video.
import { makeZipper } from './zipper.js';
import { storedFiles } from './saved_zip.js';
import { errorText } from './words.js';

export function makeZipFile(handle, holding, keeper, failed, signal) {
  let index = null;
  let failure = null;
  const fail = (error) => {
    if (!failure) failed(failure = new Error(handle.name + ': ' + errorText(error)));
  };
  const release = (file) => {
    for (const piece of file.pieces) holding.release(piece);
  };
  const zipper = handle.createWritable().then((writable) => makeZipper(keeper, holding, { writable, taken: release, signal }));
  const written = zipper.then((made) => made.done).catch(fail);
  const blob = async (name) => {
    const file = await handle.getFile();
    if (!index) index = await storedFiles(file);
    const place = index.get(name);
    if (!place) throw new Error(name + ' is not in ' + handle.name);
    return file.slice(place.at, place.at + place.size);
  };
  return {
    park: false,
    take(files) {
      if (failure) return Promise.reject(failure);
      zipper.then((made) => made.add(files), () => {});
      return Promise.resolve();
    },
    async finish() {
      zipper.then((made) => made.end(), () => {});
      await written;
      if (failure) throw failure;
    },
    blob,
    read: async (name) => new Uint8Array(await (await blob(name)).arrayBuffer()),
  };
}
