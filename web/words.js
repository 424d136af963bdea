// What the page says, in words: every text it makes from a run's numbers.
import { SAMPLE_RATE, imageName } from './picture.js';

// The browser's words for an error: "QuotaExceededError: …".
export function errorText(error) {
  return error && error.name && error.message ? error.name + ': ' + error.message
    : error && error.message ? error.message : String(error);
}

// "1 picture", "90 pictures".
function picturesText(count) {
  return count === 1 ? '1 picture' : count + ' pictures';
}

// "90 pictures and 6.0 s of sound", "1 picture, no sound".
function amount(images, samples, noSound = ', no sound') {
  const pictures = picturesText(images);
  return samples > 0 ? pictures + ' and ' + (samples / SAMPLE_RATE).toFixed(1) + ' s of sound' : pictures + noSound;
}

// The command line's lines, as it prints them.
export const printed = (lines) => lines.map((line) => line + '\n').join('');

// How a run ended, from its exit status and the command line's lines: the
// headline and its kind.
export function headline({ images, samples, failure, movieName }, status, lines) {
  if (status === 0) return ['Complete: ' + amount(images, samples), 'complete'];
  if (status >= 128) return ['Stopped after ' + amount(images, samples), 'stopped'];
  if (status === 2) {
    if (/may not be a movie of this kind$|header cut short \(\d+ of \d+ bytes\)$/m.test(lines)) {
      return ['Not a movie of this kind, or cut off before its first chunk: nothing was made', 'not-a-movie'];
    }
    const at = /: chunk at offset (\d+): /.exec(lines);
    const kept = images === 0 && samples === 0 ? 'nothing before it was kept'
      : amount(images, samples, '') + ' before it ' + (images === 1 && samples === 0 ? 'was' : 'were') + ' kept';
    return [(at ? 'Damaged at byte ' + at[1] : 'Damaged') + ': ' + kept, 'damaged'];
  }
  const last = lines.trimEnd().split('\n').pop().replace(/^movie-extract: /, '');
  const reason = failure || last.replaceAll('BOOK.MOV', movieName) || 'the converter ended with status ' + status;
  return ['Failed: ' + reason, 'failed'];
}

export function detailsNote(status, lines, movieName) {
  return 'Exit status ' + status + '. ' + (lines === '' ? 'The command line prints nothing for this movie.'
    : movieName !== 'BOOK.MOV' ? 'BOOK.MOV below is ' + movieName + '.' : 'What the command line prints:');
}

export const NOT_A_MOVIE_NOTICE = 'Try another file: this page takes only the kind of movie described above.';

// What the command line says of images an earlier run left after this
// run's last one.
export function earlierImagesLine(first, count) {
  const one = count === 1;
  return count + (one ? ' image from an earlier run follows (' : ' images from an earlier run follow (') +
    imageName(first) + (one ? '' : ' to ' + imageName(first + count - 1)) +
    '); a video made from this folder would show ' + (one ? 'it' : 'them');
}

export function sizeText(bytes) {
  if (bytes < 1e6) return Math.max(1, Math.round(bytes / 1e3)) + ' KB';
  if (bytes < 1e9) return (bytes / 1e6).toFixed(1) + ' MB';
  return (bytes / 1e9).toFixed(2) + ' GB';
}

// A file named after the movie: clip.mov gives clip.zip, BOOK gives
// BOOK.zip, .mov gives movie.zip.
export function namedAfter(movieName, extension) {
  return (movieName.replace(/\.[^.]*$/, '') || 'movie') + extension;
}

export function droppedNote(name, count) {
  return count > 1 ? 'Took ' + name + ', the first of the ' + count + ' files dropped: the page converts one movie at a time.' : '';
}

// The question before another movie takes the place of the last one.
export function replaceQuestion(last, next, { converting, video }) {
  return converting ? last + ' is still being converted. Stop it, and convert ' + next + ' instead?'
    : video ? 'A video of ' + last + ' is being made. Stop it, and convert ' + next + ' instead?'
      : 'The files made from ' + last + ' have not been saved. Convert ' + next + ' instead, and lose them?';
}

// A count with commas between its thousands, as in English. Not with
// toLocaleString: its first call took chromium 50 ms, at the end of a run.
const counted = (n) => String(n).replace(/\B(?=(\d{3})+$)/g, ',');

export function zipProgress(taken, count) {
  return 'Making the .zip… ' + counted(taken) + ' of ' + counted(count) + ' files';
}

// What goes into a video made here: said before it is made.
export function videoNote({ codec, soundCodec }, samples) {
  const video = codec.startsWith('vp09')
    ? 'The video goes in as VP9, which browsers, VLC, mpv and Windows\' own player play, but QuickTime does not. ' : '';
  const sound = samples === 0 ? ''
    : soundCodec === 'aac' ? 'The sound goes in as AAC.'
      : 'The sound goes in as Opus, since this browser has no AAC encoder; some Apple and editing apps do not import Opus.';
  return (video + sound).trim();
}

// How a video ended: saved, stopped or failed.
export function videoEnd({ failure, stopped, kept, added, name, images, samples, codec, soundCodec }) {
  if (failure) return 'Failed: the video could not be made: ' + failure;
  if (stopped) return kept ? 'Stopped: ' + name + ' holds the first ' + picturesText(added) + '.' : 'Stopped: no video was saved.';
  return 'Saved ' + name + ': ' + picturesText(images) + ' in 1600 × 1200' + (codec.startsWith('vp09') ? ' as VP9' : '') +
    (samples === 0 ? '.' : ', the sound in ' + (soundCodec === 'aac' ? 'AAC.' : 'Opus.'));
}

// Why the files are saved in parts, while part `number` waits.
export function partsNote(number, mostMiB) {
  return 'This browser keeps the files in its memory, and takes no more than ' + mostMiB + ' MiB of them, so this movie is saved ' +
    'in parts, each a .zip of its own. The conversion waits until part ' + number + ' is saved, then goes on where it ' +
    'stopped; the sound track, BOOK.WAV, is in the last part.';
}

// "1 and 2", "1 to 3".
const partsText = (count) => (count === 1 ? 'part 1' : count === 2 ? 'parts 1 and 2' : 'parts 1 to ' + count);

// Which pictures the player still holds, once `first` of them were saved
// in parts and let go; `part` is the next part to save.
export function heldNote(first, images, part) {
  const saved = part ? part.number - 1 : 1;
  return 'Pictures ' + counted(first + 1) + ' to ' + counted(images) + ' of ' + counted(images) + ' are here; the earlier ones are in ' +
    partsText(saved) + '.';
}

export const PARTS_NO_VIDEO = 'A video needs every picture at once, more than this browser holds: use another browser to make one.';
