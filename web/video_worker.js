// The video worker (web/video_protocol.js): makes an MP4 of the pictures and
// the sound, one picture at a time as the page hands them over. The
// pictures are enlarged 5 × 6, each pixel a block, to 1600 × 1200 (4:3, as
// on the screens of their time), turned into YUV 4:2:0 with the BT.709
// matrix in limited range, and encoded as H.264 by the browser (WebCodecs);
// the sound goes in as AAC or Opus at 48 kHz. mediabunny writes the MP4:
// into the file the user chose, or as a fragmented MP4 into a blob, which
// the browser keeps out of the page's memory.
import {
  AppendOnlyStreamTarget, AudioSample, AudioSampleSource, Mp4OutputFormat, Output, StreamTarget, VideoSample,
  VideoSampleSource,
} from 'mediabunny';
import { HEIGHT, PIXELS_AT, SAMPLE_RATE, WIDTH, colourMap } from './picture.js';
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

// Each colour map entry as Y, Cb and Cr before rounding.
function paletteYuv(tga) {
  const rgb = colourMap(tga);
  const yuv = new Float32Array(256 * 3);
  for (let i = 0; i < 256; i++) {
    const [r, g, b] = rgb.subarray(3 * i, 3 * i + 3);
    const y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    yuv[3 * i] = 16 + (219 / 255) * y;
    yuv[3 * i + 1] = 128 + (224 / 255) * ((b - y) / 1.8556);
    yuv[3 * i + 2] = 128 + (224 / 255) * ((r - y) / 1.5748);
  }
  return yuv;
}

// A TGA, enlarged and turned into the three planes of I420. A chroma sample
// covers two columns, which may fall in two pictures' pixels: it takes
// their mean.
function enlarged(tga) {
  const yuv = paletteYuv(tga);
  const frame = new Uint8Array(VIDEO_WIDTH * VIDEO_HEIGHT * 3 / 2);
  const chromaWidth = VIDEO_WIDTH / 2;
  const uAt = VIDEO_WIDTH * VIDEO_HEIGHT;
  const vAt = uAt + chromaWidth * (VIDEO_HEIGHT / 2);
  for (let row = 0; row < HEIGHT; row++) {
    const pixels = PIXELS_AT + row * WIDTH;
    const lumaRow = row * DOWN * VIDEO_WIDTH;
    for (let x = 0; x < WIDTH; x++) {
      frame.fill(Math.round(yuv[3 * tga[pixels + x]]), lumaRow + x * ACROSS, lumaRow + (x + 1) * ACROSS);
    }
    for (let copy = 1; copy < DOWN; copy++) frame.copyWithin(lumaRow + copy * VIDEO_WIDTH, lumaRow, lumaRow + VIDEO_WIDTH);
    const chromaRow = row * (DOWN / 2) * chromaWidth;
    for (let i = 0; i < chromaWidth; i++) {
      const left = 3 * tga[pixels + Math.floor((2 * i) / ACROSS)];
      const right = 3 * tga[pixels + Math.floor((2 * i + 1) / ACROSS)];
      frame[uAt + chromaRow + i] = Math.round((yuv[left + 1] + yuv[right + 1]) / 2);
      frame[vAt + chromaRow + i] = Math.round((yuv[left + 2] + yuv[right + 2]) / 2);
    }
    for (let copy = 1; copy < DOWN / 2; copy++) {
      frame.copyWithin(uAt + chromaRow + copy * chromaWidth, uAt + chromaRow, uAt + chromaRow + chromaWidth);
      frame.copyWithin(vAt + chromaRow + copy * chromaWidth, vAt + chromaRow, vAt + chromaRow + chromaWidth);
    }
  }
  return frame;
}

// Where the MP4 goes: the user's file, written in place, or a blob.
async function makeTarget(handle) {
  if (handle) return { target: new StreamTarget(await handle.createWritable()), fastStart: false };
  const pieces = [];
  let blob = new Blob([]);
  let held = 0;
  const fold = () => {
    blob = new Blob([blob, ...pieces.splice(0)]);
    held = 0;
  };
  const writable = new WritableStream({
    write(chunk) {
      pieces.push(chunk);
      held += chunk.length;
      if (held >= BLOB_PIECE) fold();
    },
  });
  return {
    target: new AppendOnlyStreamTarget(writable), fastStart: 'fragmented',
    blob: () => {
      fold();
      return blob;
    },
  };
}

let made = null;  // { output, video, sound, place, rate, samplesAdded }

serveVideo({
  async start({ handle, rate, codec, soundCodec }) {
    const place = await makeTarget(handle);
    const output = new Output({ format: new Mp4OutputFormat({ fastStart: place.fastStart }), target: place.target });
    const video = new VideoSampleSource({
      // A key frame every 10 s: after each, this encoder takes some pictures
      // to come back to full sharpness.
      codec: 'avc', fullCodecString: codec, bitrate: VIDEO_BITRATE, latencyMode: 'quality', keyFrameInterval: 10,
    });
    output.addVideoTrack(video, { frameRate: rate });
    let sound = null;
    if (soundCodec) {
      sound = new AudioSampleSource({ codec: soundCodec, bitrate: SOUND_BITRATE, transform: { sampleRate: 48000 } });
      output.addAudioTrack(sound);
    }
    await output.start();
    made = { output, video, sound, place, rate, samplesAdded: 0 };
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
    const picture = new VideoSample(enlarged(tga), {
      format: 'I420', codedWidth: VIDEO_WIDTH, codedHeight: VIDEO_HEIGHT, colorSpace: COLOUR_SPACE,
      timestamp: number / made.rate, duration: 1 / made.rate,
    });
    await made.video.add(picture);
    picture.close();
  },
  async finish() {
    await made.output.finalize();
    return made.place.blob ? made.place.blob() : null;
  },
});
