// The player: draws a run's pictures, read back from where its files are,
// and plays them at the movie's own rate with their sound.
import { HEIGHT, PIXELS_AT, WIDTH, colourMap, imageName, pictureRate } from './picture.js';
import { errorText, heldNote } from './words.js';

// The sound is decoded whole for playing, four bytes a sample: a longer
// track (about 50 minutes) plays without it, so that memory stays bounded.
const MOST_SAMPLES_PLAYED = 64 << 20;

// `elements`: { screen, slider, number, button, held }. Where a long movie
// was saved in parts, the pictures of the parts saved are no longer held,
// and `held` says which are.
export function makePlayer(elements, { files, images, samples }) {
  const { screen, slider, number: numberShown, button, held } = elements;
  const first = () => (files.firstHeld ? files.firstHeld() : 0);
  const showHeld = () => {
    slider.min = String(first());
    held.textContent = heldNote(first(), images, files.part ? files.part() : null);
    held.hidden = first() === 0;
  };
  showHeld();
  let closed = false;
  let playing = null;  // { audio, shown, drawing }
  let sound = null;
  slider.max = String(images - 1);
  slider.value = '0';

  // Draws picture `number`: the TGA's colour map applied to its rows.
  const show = async (asked) => {
    const number = Math.max(asked, first());
    let tga;
    try {
      tga = await files.read(imageName(number));
    } catch (error) {
      if (!closed) numberShown.textContent = imageName(number) + ' could not be read back: ' + errorText(error);
      return;
    }
    if (closed) return;
    const rgb = colourMap(tga);
    const context = screen.getContext('2d');
    const image = context.createImageData(WIDTH, HEIGHT);
    const pixels = image.data;
    // A byte at a time: a view of the colour map made for each pixel took
    // 27 to 38 ms for the first picture, drawn before the outcome is shown.
    for (let i = 0; i < WIDTH * HEIGHT; i++) {
      const entry = 3 * tga[PIXELS_AT + i];
      pixels[4 * i] = rgb[entry];
      pixels[4 * i + 1] = rgb[entry + 1];
      pixels[4 * i + 2] = rgb[entry + 2];
      pixels[4 * i + 3] = 255;
    }
    context.putImageData(image, 0, 0);
    slider.value = String(number);
    slider.setAttribute('aria-valuetext', 'picture ' + (number + 1) + ' of ' + images);
    numberShown.textContent = (number + 1) + ' of ' + images;
  };

  const pause = () => {
    if (!playing) return;
    playing.audio.close().catch(() => {});
    playing = null;
    button.textContent = 'Play';
  };

  const play = async () => {
    const rate = pictureRate(images, samples);
    const from = Number(slider.value) >= images - 1 ? first() : Number(slider.value);
    const audio = new AudioContext();
    const now = { audio, shown: from, drawing: false };
    playing = now;
    button.textContent = 'Pause';
    if (samples > MOST_SAMPLES_PLAYED) {
      numberShown.textContent += ' (played without its sound, which is too long to hold)';
    } else if (samples > 0) {
      try {
        // A copy of BOOK.WAV, which decoding takes.
        if (!sound) sound = await audio.decodeAudioData((await files.read('BOOK.WAV')).buffer);
      } catch (error) {
        if (playing === now) pause();
        numberShown.textContent = 'The sound could not be played: ' + errorText(error);
        return;
      }
      if (playing !== now) return;
      const source = audio.createBufferSource();
      source.buffer = sound;
      source.connect(audio.destination);
      source.start(0, from / rate);
    }
    const began = performance.now();
    const step = async () => {
      if (playing !== now) return;
      const number = from + Math.floor(((performance.now() - began) / 1000) * rate);
      if (number >= images) {
        pause();
        return;
      }
      if (number !== now.shown && !now.drawing) {
        now.drawing = true;
        now.shown = number;
        await show(number);
        now.drawing = false;
      }
      requestAnimationFrame(step);
    };
    requestAnimationFrame(step);
  };

  return {
    show,
    toggle: () => (playing ? pause() : play()),
    pause,
    // A part was saved and let go.
    async partLetGo() {
      showHeld();
      if (Number(slider.value) < first()) {
        pause();
        await show(first());
      }
    },
    // Another run takes the player's place.
    close() {
      pause();
      closed = true;
      screen.getContext('2d').clearRect(0, 0, WIDTH, HEIGHT);
    },
  };
}
