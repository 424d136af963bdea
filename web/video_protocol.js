// The boundary between the page and the video worker, whose requests are
// handled one after another, in order.
//
// Asked:  { type: 'start', handle, rate, codec, soundCodec }: a video into
//         the file `handle`, or with none, into a blob;
//         { type: 'picture', number, tga, samples }: picture `number` and
//         its sound (both buffers transferred), answered once encoded;
//         { type: 'finish' }: answered with the video's blob, or null once
//         written into the file.
import { connect, serve } from './rpc.js';

export function videoClient(worker, onBroken) {
  const video = connect(worker, onBroken);
  return {
    start: (settings) => video.request('start', settings),
    picture: (number, tga, samples) => video.request('picture', { number, tga, samples }, { transfer: [tga.buffer, samples.buffer] }),
    finish: () => video.request('finish'),
    end: (reason) => video.end(reason),
  };
}

export function serveVideo(actions) {
  serve(globalThis, actions, { inOrder: true });
}
