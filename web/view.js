// What the page shows: every change to the page's elements, apart from the
// player's own (web/player.js).
import { printed } from './words.js';

const $ = (id) => document.getElementById(id);

// Moves the focus off a control about to be hidden or disabled.
function handOnFocus(from, to) {
  if (document.activeElement === $(from)) $(to).focus();
}

export const elements = $;

export function setOutcome(text, status, kind) {
  const outcome = $('outcome');
  outcome.textContent = text;
  outcome.dataset.kind = kind;
  if (status === null) delete outcome.dataset.status;
  else outcome.dataset.status = String(status);
}

// A run starts clean: nothing of the one before is shown. The progress and
// the outcome are brought into view, on a small screen too.
export function showRunStart(movieName, droppedNote) {
  $('dropped').textContent = droppedNote;
  $('dropped').hidden = droppedNote === '';
  $('run').hidden = false;
  $('player').hidden = true;
  $('run-movie').textContent = movieName;
  $('messages').textContent = '';
  setOutcome('Converting ' + movieName + '…', null, 'converting');
  $('progress').value = 0;
  $('pictures').textContent = 'Pictures written: 0';
  $('stop').hidden = false;
  for (const id of ['notice', 'save', 'parts', 'limit', 'details', 'video', 'held']) $(id).hidden = true;
  $('details').open = false;
  $('screen').getContext('2d').clearRect(0, 0, $('screen').width, $('screen').height);
  $('run').scrollIntoView({ block: 'start' });
}

export function showProgress({ images, read, lines, movie }) {
  $('pictures').textContent = 'Pictures written: ' + images;
  $('progress').value = movie.size > 0 ? read / movie.size : 1;
  $('messages').textContent = printed(lines);
}

export function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = false;
}

// The end of a run: the outcome last, when everything it speaks of is there.
export function showRunEnd({ text, status, kind, details, converterMemory }) {
  $('outcome').dataset.converterMemory = String(converterMemory);
  $('details-note').textContent = details;
  handOnFocus('stop', 'outcome');
  $('stop').hidden = true;
  $('details').hidden = false;
  setOutcome(text, status, kind);
  $('outcome').scrollIntoView({ block: 'nearest' });
}

export function offerZip(label) {
  $('download').textContent = label;
  $('save').hidden = false;
  $('limit').hidden = false;
}

// Between two parts of a long movie, while the next is made.
export function hideZip() {
  handOnFocus('download', 'stop');
  $('save').hidden = true;
  $('parts').hidden = true;
}

// Why the movie is saved in parts, while one waits.
export function showParts(text) {
  $('parts').textContent = text;
  $('parts').hidden = text === '';
}

// The busy sign and Cancel while a .zip is made, with how far it has come.
export function showZipSaving(saving, text = '') {
  $('saving-text').textContent = text;
  $('saving').hidden = !saving;
  $('cancel').hidden = !saving;
  if (saving) handOnFocus('download', 'cancel');
  $('download').disabled = saving;
  if (!saving) handOnFocus('cancel', 'download');
}

export function offerVideo(can, note) {
  $('video').hidden = false;
  $('make-video').hidden = !can.codec;
  $('video-progress').hidden = true;
  $('stop-video').hidden = true;
  $('video-note').textContent = note;
}

export function showVideoMaking(name) {
  $('video-progress').value = 0;
  $('video-progress').hidden = false;
  $('stop-video').hidden = false;
  handOnFocus('make-video', 'stop-video');
  $('make-video').disabled = true;
  $('video-note').textContent = 'Making ' + name + '…';
}

export function showVideoProgress(share) {
  $('video-progress').value = share;
}

// The bar goes with the making: the line says how it ended.
export function showVideoEnd(text) {
  $('video-note').textContent = text;
  $('make-video').disabled = false;
  handOnFocus('stop-video', 'make-video');
  $('stop-video').hidden = true;
  $('video-progress').hidden = true;
}

export function showPlayer() {
  $('player').hidden = false;
}

// The choose-first places, where the browser has pickers, while no run's
// files wait to be saved.
export function showPlaces(offered) {
  $('place-offer').hidden = !offered;
}

export function showPlace(text) {
  $('place-name').textContent = text;
}
