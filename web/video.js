// "Save as video (.mp4)": what this browser can make, and the making, by
// the video worker (web/video_worker.js), of the pictures read back from
// where the run's files are.
import { ENGINE } from './engine.js';
import { WAV_HEADER, imageName, pictureRate } from './picture.js';
import { startWorker } from './rpc.js';
import { videoClient } from './video_protocol.js';
import { errorText } from './words.js';

// H.264 at 1600 × 1200, each pixel 5 × 6, at a level that fits that size and
// the bit rate allowed (5.0), and the sound in AAC where the browser can
// encode it, else in Opus.
const VIDEO_CODECS = ['avc1.640032', 'avc1.4d0032', 'avc1.420032'];
// Firefox's H.264 encoder, tried on Linux, made 141 kb/s of the 100 Mb/s
// asked for, and kept its quality low (28.6 dB) whatever quantizer it was
// given: there the video is VP9 (profile 0, level 4.0, 8 bits; BT.709, in
// limited range), each picture at a set quantizer, in MP4 as well.
const VP9 = 'vp09.00.40.08.01.01.01.01.00';
const VP9_QUANTIZER = 10;

// { codec, quantizer, soundCodec }, or { reason } why this browser cannot
// make one.
export async function videoSupport() {
  // WebKitGTK 2.50 without GStreamer's H.264 encoder ended the page when
  // asked whether it could encode H.264.
  if (ENGINE === 'webkit' && /Linux/.test(navigator.userAgent)) {
    return { reason: 'This browser cannot make a video: it has no H.264 encoder here.' };
  }
  if (!('VideoEncoder' in window) || !('AudioEncoder' in window)) {
    return { reason: 'This browser cannot make a video: it has no video encoder (WebCodecs).' };
  }
  const supported = async (config) => (await VideoEncoder.isConfigSupported({ width: 1600, height: 1200, framerate: 15, ...config })
    .catch(() => ({}))).supported === true;
  let video = null;
  if (ENGINE === 'firefox') {
    if (await supported({ codec: VP9, bitrateMode: 'quantizer' })) video = { codec: VP9, quantizer: VP9_QUANTIZER };
  } else {
    for (const codec of VIDEO_CODECS) {
      if (await supported({ codec, bitrate: 100e6 })) {
        video = { codec, quantizer: null };
        break;
      }
    }
  }
  if (!video) return { reason: `This browser cannot make a video: it has no ${ENGINE === 'firefox' ? 'VP9' : 'H.264'} encoder.` };
  const sound = { sampleRate: 48000, numberOfChannels: 1, bitrate: 96000 };
  for (const [soundCodec, name] of [['aac', 'mp4a.40.2'], ['opus', 'opus']]) {
    if ((await AudioEncoder.isConfigSupported({ codec: name, ...sound }).catch(() => ({}))).supported) return { ...video, soundCodec };
  }
  return { reason: 'This browser cannot make a video: it has no AAC or Opus encoder for the sound.' };
}

// Pictures handed to the worker ahead of the encoder.
const PICTURES_AHEAD = 4;
// The bar moves at most this often: each move has the browser draw the
// page again, on the cores the encoder works on.
const PROGRESS_EVERY_MS = 250;

// The sound of picture `n`, as 8-bit samples: picture n has those from
// n × samples / pictures on. Each read of a blob is a request to the
// browser: the sound is read a piece of this size at a time.
const SOUND_PIECE = 1 << 20;
function soundOf(wav, samples, images) {
  let piece = new Uint8Array(0);
  let pieceAt = 0;
  return async (n) => {
    if (!wav) return new Uint8Array(0);
    const from = WAV_HEADER + Math.floor((n * samples) / images);
    const to = WAV_HEADER + Math.floor(((n + 1) * samples) / images);
    if (from < pieceAt || to > pieceAt + piece.length) {
      pieceAt = from;
      piece = new Uint8Array(await wav.slice(from, Math.max(to, from + SOUND_PIECE)).arrayBuffer());
    }
    // A copy, which goes to the worker.
    return piece.slice(from - pieceAt, to - pieceAt);
  };
}

// A video of the run's pictures into the file `handle`, or with none, into a
// blob. `stop()` ends it early: a file then holds the pictures made so far,
// and no blob is made. `ended` settles with { failure, stopped, kept, added,
// blob }, or fails with `signal`'s reason once it is aborted.
export function startVideo({ files, images, samples, can, handle, signal, onProgress }) {
  let stopped = false;
  const video = videoClient(startWorker('video-source'), () => {});
  signal.addEventListener('abort', () => video.end(signal.reason), { once: true });
  const ended = (async () => {
    let added = 0;
    let failure = null;
    let blob = null;
    let shown = 0;
    const encoded = async (picture) => {
      await picture;
      added += 1;
      if (added < images && performance.now() - shown < PROGRESS_EVERY_MS) return;
      shown = performance.now();
      onProgress(added / images);
    };
    try {
      await video.start({ handle, rate: pictureRate(images, samples), codec: can.codec, quantizer: can.quantizer,
                          soundCodec: samples > 0 ? can.soundCodec : null });
      const soundOfPicture = soundOf(samples > 0 ? await files.blob('BOOK.WAV') : null, samples, images);
      const ahead = [];
      for (let n = 0; n < images && !stopped; n++) {
        if (ahead.length >= PICTURES_AHEAD) await encoded(ahead.shift());
        // Copies, which go to the worker.
        const tga = await files.read(imageName(n));
        const picture = video.picture(n, tga, await soundOfPicture(n));
        picture.catch(() => {});
        ahead.push(picture);
      }
      while (ahead.length > 0) await encoded(ahead.shift());
      if (!stopped || handle) blob = await video.finish();
    } catch (error) {
      if (signal.aborted) throw signal.reason;
      failure = errorText(error);
    } finally {
      video.end();
    }
    return { failure, stopped, kept: handle !== null, added, blob };
  })();
  return {
    stop() {
      stopped = true;
    },
    ended,
  };
}
