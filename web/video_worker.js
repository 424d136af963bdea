// The video worker (web/video_protocol.js): makes an MP4 of the pictures and
// the sound, one picture at a time as the page hands them over. The
// pictures are enlarged 5 × 6, each pixel a block, to 1600 × 1200 (4:3, as
// on the screens of their time), turned into YUV 4:2:0 with the BT.709
// matrix in limited range, and encoded as H.264, or VP9 where the page
// chose it (web/video.js), by the browser (WebCodecs); the sound goes in as
// AAC or Opus at 48 kHz. mediabunny writes the MP4: into the file the user
// chose, or into a blob, which the browser keeps out of the page's memory.
import {
  AudioSample, AudioSampleSource, Mp4OutputFormat, Output, Quality, StreamTarget, VideoSample,
  VideoSampleSource,
} from 'mediabunny';
import { ENGINE } from './engine.js';
import { HEIGHT, PIXELS_AT, SAMPLE_RATE, WIDTH } from './picture.js';
import { serveVideo } from './video_protocol.js';

const ACROSS = 5;
const DOWN = 6;
const VIDEO_WIDTH = WIDTH * ACROSS;
const VIDEO_HEIGHT = HEIGHT * DOWN;
// BT.709 in limited range: what the stream is tagged with.
const COLOUR_SPACE = { primaries: 'bt709', transfer: 'bt709', matrix: 'bt709', fullRange: false };
// The most the encoder may spend, within what level 5.0 allows: pictures
// of one-pixel stripes need about this to stay sharp, while simple ones
// take far less, since the rate is variable (the demo: 0.4 Mb/s).
const VIDEO_BITRATE = 100e6;
const SOUND_BITRATE = 96000;
// A blob is made of the pieces written once they are this many bytes.
const BLOB_PIECE = 16 << 20;
// Firefox keeps a blob made of bytes in memory, but puts a response's body,
// read into a blob, into a temporary file.
const BLOBS_THROUGH_RESPONSE = ENGINE === 'firefox';

// VP9 says its colours in each key frame's header, which Firefox's encoder
// leaves "unknown" whatever the pictures say: BT.709 is written there, and
// in the MP4's description. The header's first byte: frame marker 2, profile
// 0, a shown key frame; then the key frame's sync code, then the colour
// space in the top 3 bits (2: BT.709), and the range (0: limited).
const VP9_BT709 = 2;
function tagVp9Colours(packet, meta) {
  const bytes = packet.data;
  if (packet.type === 'key' && bytes.length > 4 && (bytes[0] & 0xfc) === 0x80 &&
      bytes[1] === 0x49 && bytes[2] === 0x83 && bytes[3] === 0x42) {
    bytes[4] = (VP9_BT709 << 5) | (bytes[4] & 0x0f);
  }
  if (meta && meta.decoderConfig) meta.decoderConfig.colorSpace = COLOUR_SPACE;
}

// Each picture is enlarged by WebAssembly (output/video_picture.h), which
// the bundle puts before this script as base64 text, VIDEO_PICTURE: the TGA
// is copied into its memory, and the frame made from the picture there.
const enlarging = new WebAssembly.Instance(new WebAssembly.Module(
  Uint8Array.from(atob(VIDEO_PICTURE), (c) => c.charCodeAt(0)))).exports;
enlarging._initialize();
const FRAME_BYTES = (VIDEO_WIDTH * VIDEO_HEIGHT * 3) / 2;
const TGA_BYTES = PIXELS_AT + WIDTH * HEIGHT;

// The TGA enlarged, in memory the next picture writes over.
function enlarged(tga) {
  if (tga.length !== TGA_BYTES) throw new Error(`a picture of ${tga.length} bytes is not one of the converter's TGAs`);
  new Uint8Array(enlarging.memory.buffer, enlarging.video_tga(), TGA_BYTES).set(tga);
  enlarging.video_enlarge();
  return new Uint8Array(enlarging.memory.buffer, enlarging.video_frame(), FRAME_BYTES);
}

// Where the MP4 goes: the user's file, or a blob. Either is written in
// order, but for the header of the box that holds the pictures and the
// sound, written again at the end, once its length is known: the blob's
// first bytes, which hold it, are kept apart until then.
async function makeTarget(handle) {
  if (handle) return { target: new StreamTarget(await handle.createWritable()) };
  let head = null;
  const pieces = [];
  const blobs = [];
  let end = 0;
  let held = 0;
  const fold = async () => {
    const blob = new Blob(pieces.splice(0));
    held = 0;
    blobs.push(BLOBS_THROUGH_RESPONSE ? await new Response(blob.stream()).blob() : blob);
  };
  const writable = new WritableStream({
    async write({ data, position }) {
      if (head === null && position === 0) {
        head = data.slice();
        end = data.length;
      } else if (position === end) {
        pieces.push(data);
        end += data.length;
        held += data.length;
        if (held >= BLOB_PIECE) await fold();
      } else if (head !== null && position + data.length <= head.length) {
        head.set(data, position);
      } else {
        throw new Error(`the MP4 writer went back to byte ${position}, beyond the ${head ? head.length : 0} kept`);
      }
    },
  });
  return {
    target: new StreamTarget(writable),
    blob: async () => {
      await fold();
      return new Blob([head || new Uint8Array(0), ...blobs], { type: 'video/mp4' });
    },
  };
}

let made = null;  // { output, video, sound, place, rate, samplesAdded, byBitrate, bytes }

serveVideo({
  async start({ handle, rate, codec, quantizer, soundCodec }) {
    const place = await makeTarget(handle);
    const output = new Output({ format: new Mp4OutputFormat({ fastStart: false }), target: place.target });
    const video = new VideoSampleSource({
      // A key frame every 10 s: after each, this encoder takes some pictures
      // to come back to full sharpness.
      codec: codec.startsWith('avc') ? 'avc' : 'vp9', fullCodecString: codec, latencyMode: 'quality', keyFrameInterval: 10,
      bitrate: quantizer === null ? VIDEO_BITRATE : new Quality({ quantizer }),
      onEncodedPacket: codec.startsWith('vp09') ? tagVp9Colours : undefined,
    });
    output.addVideoTrack(video, { frameRate: rate });
    let sound = null;
    if (soundCodec) {
      sound = new AudioSampleSource({ codec: soundCodec, bitrate: SOUND_BITRATE, transform: { sampleRate: 48000 } });
      output.addAudioTrack(sound);
    }
    await output.start();
    made = { output, video, sound, place, rate, samplesAdded: 0, byBitrate: quantizer === null };
  },
  // Picture `number`, and the sound that goes with it.
  async picture({ number, tga, samples }) {
    if (made.sound && samples.length > 0) {
      const piece = new AudioSample({
        data: samples, format: 'u8', numberOfChannels: 1, sampleRate: SAMPLE_RATE, timestamp: made.samplesAdded / SAMPLE_RATE,
      });
      made.samplesAdded += samples.length;
      await made.sound.add(piece);
      piece.close();
    }
    // The browser's frame is a copy of the picture, made in memory it keeps
    // for frames, where a sample made of the bytes would copy them first
    // into new memory.
    const frame = new VideoFrame(enlarged(tga), {
      format: 'I420', codedWidth: VIDEO_WIDTH, codedHeight: VIDEO_HEIGHT, colorSpace: COLOUR_SPACE,
      timestamp: Math.round((number * 1e6) / made.rate), duration: Math.round(1e6 / made.rate),
    });
    const picture = new VideoSample(frame, { timestamp: number / made.rate, duration: 1 / made.rate });
    try {
      // The encoder's rate control starts low: the second picture, made
      // from the first, came out at 39 dB; as a key frame of its own, 43.
      await made.video.add(picture, number === 1 && made.byBitrate ? { keyFrame: true } : undefined);
    } finally {
      picture.close();
      frame.close();
    }
  },
  async finish() {
    await made.output.finalize();
    return made.place.blob ? made.place.blob() : null;
  },
});
