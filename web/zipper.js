// A .zip made by the keeper's worker of the files added, in order: into a
// blob, or with `writable`, written there as it is made. The files go to it
// a few MiB at a time, as the zip writer takes them; `taken` hears of each
// file it has taken. `done` settles once the .zip is whole (with its blob,
// when not written elsewhere), or fails with the reason it could not be
// made, `signal`'s reason too.
const ON_THEIR_WAY = 16 << 20;

// The page's other events run before this resolves: a message to itself,
// which no browser slows as it slows timers in background tabs.
function nextTask() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(0);
  });
}

export function makeZipper(keeper, holding, { writable = null, taken = () => {}, signal }) {
  const pending = [];
  const sent = [];
  let onTheirWay = 0;
  let takenSoFar = 0;
  let ended = false;
  let endTold = false;
  let pumping = false;
  let fail;
  const failed = new Promise((resolve, reject) => { fail = reject; });
  let streamed;
  const written = new Promise((resolve, reject) => { streamed = { resolve, reject }; });
  const zip = keeper.zip(writable !== null, (progress) => {
    if (progress.stream) progress.stream.pipeTo(writable).then(streamed.resolve, streamed.reject);
    while (takenSoFar < (progress.taken || 0)) {
      const file = sent.shift();
      onTheirWay -= file.inMemory;
      takenSoFar += 1;
      taken(file);
    }
    pump();
  }, signal);
  const pump = async () => {
    if (pumping) return;
    pumping = true;
    try {
      while (pending.length > 0 && onTheirWay < ON_THEIR_WAY) {
        await holding.moved();
        const files = [];
        const transfer = [];
        while (pending.length > 0 && onTheirWay < ON_THEIR_WAY) {
          const file = pending.shift();
          const { input, transfer: buffers } = await holding.zipInput(file.pieces, file.size);
          file.inMemory = input instanceof Uint8Array ? input.length : 0;
          onTheirWay += file.inMemory;
          sent.push(file);
          files.push({ name: file.name, input, size: file.size, lastModified: file.lastModified });
          transfer.push(...buffers);
        }
        zip.add(files, transfer);
        await nextTask();
      }
      if (ended && pending.length === 0 && !endTold) {
        endTold = true;
        zip.end();
      }
    } catch (error) {
      fail(error);
    } finally {
      pumping = false;
    }
  };
  const whole = writable ? Promise.all([zip.done, written]).then(() => null) : zip.done;
  const done = Promise.race([whole, failed]);
  done.catch(() => zip.cancel());
  return {
    add(files) {
      pending.push(...files);
      pump();
    },
    end() {
      ended = true;
      pump();
    },
    done,
  };
}
