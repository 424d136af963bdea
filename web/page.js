// The page: hands the chosen movie to the converter's worker, shows how far
// it has come and how it ended, keeps or saves the files it makes, puts them
// into a .zip, and plays them.
'use strict';

const $ = (id) => document.getElementById(id);
const SAMPLE_RATE = 22050;
const TGA_HEADER = 18;
const PALETTE_BYTES = 768;
const WIDTH = 320;
const HEIGHT = 200;
// The sound is decoded whole for playing, four bytes a sample: a longer
// track (about 50 minutes) plays without it, so that memory stays bounded.
const MOST_SAMPLES_PLAYED = 64 << 20;

const state = {
  worker: null,
  folder: null,      // a folder the user chose, which receives the files
  files: new Map(),  // name -> bytes, when there is no folder
  saving: Promise.resolve(),
  images: 0,
  samples: 0,
  movieName: '',
  sound: null,       // the decoded sound track, for playing
  playing: null,
};

function imageName(number) {
  return String(number).padStart(8, '0') + '.tga';
}

function outcomeWord(status) {
  if (status === 0) return 'Complete';
  if (status === 2) return 'Damaged';
  if (status >= 128) return 'Stopped';
  return 'Failed';
}

// A finished file: kept for the .zip, or written into the chosen folder.
function keep(name, bytes) {
  if (name.endsWith('.tga')) state.images += 1;
  if (name === 'BOOK.WAV') state.samples = Math.max(bytes.length - 44, 0);
  if (!state.folder) {
    state.files.set(name, bytes);
    return;
  }
  state.saving = state.saving.then(async () => {
    const handle = await state.folder.getFileHandle(name, { create: true });
    const writable = await handle.createWritable();
    await writable.write(bytes);
    await writable.close();
  }).catch((error) => say(name + ': ' + error.message));
}

async function fileBytes(name) {
  if (!state.folder) return state.files.get(name);
  const handle = await state.folder.getFileHandle(name);
  return new Uint8Array(await (await handle.getFile()).arrayBuffer());
}

function say(line) {
  $('messages').textContent += line + '\n';
}

function start(movie) {
  stopPlaying();
  if (state.worker) state.worker.terminate();
  state.files = new Map();
  state.images = 0;
  state.samples = 0;
  state.sound = null;
  state.movieName = movie.name;
  $('messages').textContent = '';
  $('outcome').textContent = 'Converting ' + movie.name + '…';
  $('progress').value = 0;
  $('pictures').textContent = 'Pictures written: 0';
  $('stop').disabled = false;
  for (const id of ['download', 'play', 'pause', 'picture']) $(id).disabled = true;

  const source = document.getElementById('converter-source').textContent;
  const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
  const worker = new Worker(url);
  URL.revokeObjectURL(url);
  state.worker = worker;
  worker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'line') say(message.line);
    else if (message.type === 'file') {
      keep(message.name, message.bytes);
      $('pictures').textContent = 'Pictures written: ' + state.images;
    } else if (message.type === 'progress') {
      $('progress').value = message.size > 0 ? message.read / message.size : 1;
    } else if (message.type === 'done') {
      $('outcome').dataset.converterMemory = String(message.memory);
      finish(message.status);
    }
    else if (message.type === 'crash') {
      say(message.text);
      finish(1);
    }
  };
  worker.postMessage({ type: 'convert', movie });
}

async function finish(status) {
  state.worker.terminate();
  state.worker = null;
  $('stop').disabled = true;
  await state.saving;
  if (status === 0) $('progress').value = 1;
  $('outcome').textContent = outcomeWord(status) + ' (status ' + status + ')';
  $('outcome').dataset.status = String(status);
  $('download').disabled = state.folder !== null;
  if (state.images > 0) {
    const slider = $('picture');
    slider.max = String(state.images - 1);
    slider.value = '0';
    slider.disabled = false;
    $('play').disabled = false;
    await show(0);
  }
}

// Draws picture `number`: the TGA's colour map (blue, green, red) applied
// to its rows, which run from the top.
async function show(number) {
  const bytes = await fileBytes(imageName(number));
  if (!bytes) return;
  const context = $('screen').getContext('2d');
  const image = context.createImageData(WIDTH, HEIGHT);
  const pixels = image.data;
  for (let i = 0; i < WIDTH * HEIGHT; i++) {
    const entry = TGA_HEADER + 3 * bytes[TGA_HEADER + PALETTE_BYTES + i];
    pixels[4 * i] = bytes[entry + 2];
    pixels[4 * i + 1] = bytes[entry + 1];
    pixels[4 * i + 2] = bytes[entry];
    pixels[4 * i + 3] = 255;
  }
  context.putImageData(image, 0, 0);
  $('picture').value = String(number);
  $('picture-number').textContent = (number + 1) + ' of ' + state.images;
}

// The movie's own rate: images per second of sound, or 15 without sound.
function pictureRate() {
  return state.samples > 0 ? (state.images * SAMPLE_RATE) / state.samples : 15;
}

async function play() {
  stopPlaying();
  const rate = pictureRate();
  const first = Number($('picture').value) >= state.images - 1 ? 0 : Number($('picture').value);
  const audio = new AudioContext();
  if (state.samples > MOST_SAMPLES_PLAYED) {
    $('picture-number').textContent += ' (played without its sound, which is too long to hold)';
  } else if (state.samples > 0) {
    if (!state.sound) state.sound = await audio.decodeAudioData((await fileBytes('BOOK.WAV')).slice().buffer);
    const source = audio.createBufferSource();
    source.buffer = state.sound;
    source.connect(audio.destination);
    source.start(0, first / rate);
  }
  const began = performance.now();
  const playing = { audio, shown: first, drawing: false };
  state.playing = playing;
  $('play').disabled = true;
  $('pause').disabled = false;
  const step = async () => {
    if (state.playing !== playing) return;
    const number = first + Math.floor(((performance.now() - began) / 1000) * rate);
    if (number >= state.images) return stopPlaying();
    if (number !== playing.shown && !playing.drawing) {
      playing.drawing = true;
      playing.shown = number;
      await show(number);
      playing.drawing = false;
    }
    requestAnimationFrame(step);
  };
  requestAnimationFrame(step);
}

function stopPlaying() {
  if (!state.playing) return;
  state.playing.audio.close();
  state.playing = null;
  $('play').disabled = state.images === 0;
  $('pause').disabled = true;
}

function downloadZip() {
  const entries = {};
  for (const [name, bytes] of state.files) entries[name] = [bytes, { level: 0 }];
  const zip = fflate.zipSync(entries);
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([zip], { type: 'application/zip' }));
  link.download = state.movieName.replace(/\.[^.]*$/, '') + '.zip';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

$('movie').addEventListener('change', () => {
  if ($('movie').files.length > 0) start($('movie').files[0]);
});
const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  if (event.dataTransfer.files.length > 0) start(event.dataTransfer.files[0]);
});
$('stop').addEventListener('click', () => {
  if (state.worker) state.worker.postMessage({ type: 'stop' });
});
$('download').addEventListener('click', downloadZip);
$('play').addEventListener('click', play);
$('pause').addEventListener('click', stopPlaying);
$('picture').addEventListener('input', () => {
  stopPlaying();
  show(Number($('picture').value));
});
if ('showDirectoryPicker' in window) {
  $('folder-offer').hidden = false;
  $('folder').addEventListener('click', async () => {
    try {
      state.folder = await window.showDirectoryPicker({ mode: 'readwrite' });
      $('folder-name').textContent = 'The files go into the folder ' + state.folder.name + '.';
    } catch (error) {
      // The user changed their mind.
    }
  });
}
