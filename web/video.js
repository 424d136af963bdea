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

// { codec, soundCodec }, or { reason } why this browser cannot make one.
export async function videoSupport() {
  // WebKitGTK 2.50 without GStreamer's H.264 encoder ended the page when
  // asked whether it could encode H.264.
  if (ENGINE === 'webkit' && /Linux/.test(navigator.userAgent)) {
    return { reason: 'This browser cannot make a video: it has no H.264 encoder here.' };
  }
  if (!('VideoEncoder' in window) || !('AudioEncoder' in window)) {
    return { reason: 'This browser cannot make a video: it has no video encoder (WebCodecs).' };
  }
  let codec = null;
  for (const candidate of VIDEO_CODECS) {
    const config = { codec: candidate, width: 1600, height: 1200, bitrate: 100e6, framerate: 15 };
    if ((await VideoEncoder.isConfigSupported(config).catch(() => ({}))).supported) {
      codec = candidate;
      break;
    }
  }
  if (!codec) return { reason: 'This browser cannot make a video: it has no H.264 encoder.' };
  // Firefox's encoder, tried on Linux, made 141 kb/s of the 100 Mb/s asked
  // for, blurred (28.6 dB), and showed each picture two pictures late.
  if (ENGINE === 'firefox') {
    return { reason: 'This browser cannot make a video that looks as the pictures do: its H.264 encoder keeps far below the quality asked for. Chrome and Edge can make one.' };
  }
  const sound = { sampleRate: 48000, numberOfChannels: 1, bitrate: 96000 };
  for (const [soundCodec, name] of [['aac', 'mp4a.40.2'], ['opus', 'opus']]) {
    if ((await AudioEncoder.isConfigSupported({ codec: name, ...sound }).catch(() => ({}))).supported) return { codec, soundCodec };
  }
  return { reason: 'This browser cannot make a video: it has no AAC or Opus encoder for the sound.' };
}

// Pictures handed to the worker ahead of the encoder.
const PICTURES_AHEAD = 4;

// The sound of picture `n`, as 8-bit samples: picture n has those from
// n × samples / pictures on.
async function soundOf(wav, samples, images, n) {
  if (!wav) return new Uint8Array(0);
  const from = WAV_HEADER + Math.floor((n * samples) / images);
  const to = WAV_HEADER + Math.floor(((n + 1) * samples) / images);
  return new Uint8Array(await wav.slice(from, to).arrayBuffer());
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
    const encoded = async (picture) => {
      await picture;
      added += 1;
      onProgress(added / images);
    };
    try {
      await video.start({ handle, rate: pictureRate(images, samples), codec: can.codec, soundCodec: samples > 0 ? can.soundCodec : null });
      const wav = samples > 0 ? await files.blob('BOOK.WAV') : null;
      const ahead = [];
      for (let n = 0; n < images && !stopped; n++) {
        if (ahead.length >= PICTURES_AHEAD) await encoded(ahead.shift());
        // Copies, which go to the worker.
        const tga = await files.read(imageName(n));
        const picture = video.picture(n, tga, await soundOf(wav, samples, images, n));
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
