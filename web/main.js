// The page: wires the controls to a run, its saving, its video and its
// player. One run at a time; choosing another movie aborts the last run,
// and with it whatever it was doing.
import { CONVERTER_SOURCE } from './engine.js';
import { keeperClient } from './keeper_protocol.js';
import { WEBKIT_MOST_KEPT } from './kept_files.js';
import { makePlayer } from './player.js';
import { startWorker } from './rpc.js';
import { startRun } from './run.js';
import { startVideo, videoSupport } from './video.js';
import * as view from './view.js';
import * as words from './words.js';

const $ = view.elements;
const page = {
  converterWorker: startWorker(CONVERTER_SOURCE),  // made ahead, its WebAssembly compiled
  keeper: null,
  target: null,   // where the user chose to save: { kind: 'folder' | 'zip', handle }
  run: null,
  control: null,  // the run's
  player: null,
  zip: null,      // the .zip being made: its AbortController
  video: null,    // the video being made: { making, control }
};
const videoCan = videoSupport();

// The keeper's worker lives as long as the page; one that broke is replaced
// for what comes next, and what it was doing fails with the reason.
function startKeeper() {
  const keeper = keeperClient(startWorker('keeper-source'), () => {
    if (page.keeper === keeper) page.keeper = startKeeper();
  });
  return keeper;
}
page.keeper = startKeeper();

// Results not yet saved, or on their way: leaving would lose them.
function unsaved() {
  return page.zip !== null || page.video !== null || (page.run !== null && (page.run.converting || !page.run.saved));
}

const PICKERS = 'showSaveFilePicker' in window || 'showDirectoryPicker' in window;
const showPlaces = () => view.showPlaces(PICKERS && !unsaved());

// An AbortController that goes with the run's.
function withRun() {
  const control = new AbortController();
  page.control.signal.addEventListener('abort', () => control.abort(page.control.signal.reason), { once: true });
  return control;
}

function start(movie, dropped) {
  if (page.control) page.control.abort(new Error('another movie was chosen'));
  if (page.player) page.player.close();
  page.player = null;
  page.zip = null;
  page.video = null;
  const control = new AbortController();
  const { signal } = control;
  const worker = page.converterWorker || startWorker(CONVERTER_SOURCE);
  page.converterWorker = null;
  const onUpdate = (made) => {
    view.showProgress(made);
    offerPart(made);
  };
  const run = startRun({ movie, worker, keeper: page.keeper, target: page.target, signal, onUpdate });
  page.run = run;
  page.control = control;
  // A .zip the user chose is written once: the next movie's files go elsewhere.
  if (page.target && page.target.kind === 'zip') forgetPlace();
  view.showRunStart(movie.name, words.droppedNote(movie.name, dropped));
  showPlaces();
  run.ended.then((status) => finished(run, status, signal)).catch((error) => {
    if (signal.aborted) return;
    run.converting = false;
    run.saved = true;
    view.showRunEnd({ text: 'Failed: ' + words.errorText(error), status: 1, kind: 'failed', details: 'Exit status 1.', converterMemory: run.memory });
    showPlaces();
  }).finally(() => {
    if (!page.converterWorker) page.converterWorker = startWorker(CONVERTER_SOURCE);
  });
}

async function finished(run, status, signal) {
  view.showProgress(run);
  const lines = words.printed(run.lines);
  const [text, kind] = words.headline({ ...run, movieName: run.movie.name }, status, lines);
  if (kind === 'not-a-movie') view.showNotice(words.NOT_A_MOVIE_NOTICE);
  if (run.earlierImages) view.showNotice(run.earlierImages + '.');
  // The keeper works out the .zip's length while the first picture is drawn.
  const zipLength = !run.saved && !parted(run) ? page.keeper.length(run.files.listing()).catch(() => null) : null;
  if (!run.saved && parted(run)) offerPart(run);
  // A .zip cut short by a failure cannot be read back.
  if (run.images > 0 && !(run.failure && run.target && run.target.kind === 'zip')) {
    const can = await videoCan;
    if (signal.aborted) return;
    if (parted(run)) view.offerVideo({ codec: null }, words.PARTS_NO_VIDEO);
    else view.offerVideo(can, !can.codec ? can.reason : words.videoNote(can, run.samples));
    page.player = makePlayer({ screen: $('screen'), slider: $('picture'), number: $('picture-number'), button: $('play'),
                              held: $('held') }, run);
    view.showPlayer();
    await page.player.show(0);
    if (signal.aborted) return;
  }
  if (zipLength) {
    const size = await zipLength;
    if (signal.aborted) return;
    view.offerZip('Save as a .zip' + (size ? ' (' + words.sizeText(size) + ')' : ''));
  }
  view.showRunEnd({ text, status, kind, details: words.detailsNote(status, lines, run.movie.name), converterMemory: run.memory });
  showPlaces();
}

// Hands `blob` to the browser to download as `name`.
function offerDownload(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// Where the browser holds the files in its memory, a long movie is saved in
// parts (web/kept_files.js): the next is offered once it is ready, the last
// when the run has ended.
const parted = (run) => Boolean(run.files.part && run.files.part());

function offerPart(run) {
  if (!parted(run) || page.zip || page.run !== run) return;
  const part = run.files.part();
  if (part.ready || (!run.converting && run.files.count() > 0)) {
    view.offerZip('Save part ' + part.number + ' (.zip)');
    view.showParts(part.ready && run.converting ? words.partsNote(part.number, WEBKIT_MOST_KEPT >> 20) : '');
  } else {
    view.hideZip();
  }
}

// The .zip of the kept files, or of the next part of them, made as the
// browser reads it into a blob, which it keeps out of the page's memory,
// then downloaded.
async function saveZip() {
  const { run } = page;
  const control = withRun();
  page.zip = control;
  const count = run.files.count();
  const part = parted(run) ? run.files.part() : null;
  view.showZipSaving(true, words.zipProgress(0, count));
  showPlaces();
  try {
    const blob = await run.files.zip(control.signal, (taken) => view.showZipSaving(true, words.zipProgress(taken, count)));
    offerDownload(blob, words.namedAfter(run.movie.name, part ? '-part' + part.number + '.zip' : '.zip'));
    // A part handed to the browser is let go: the conversion goes on.
    const all = run.files.saved ? run.files.saved() : true;
    run.saved = all || (!run.converting && run.files.count() === 0);
  } catch (error) {
    if (!control.signal.aborted) view.setOutcome('Failed: the .zip could not be made: ' + words.errorText(error), 1, 'failed');
  }
  if (control.signal.aborted) return;
  page.zip = null;
  view.showZipSaving(false);
  if (part && !run.saved) offerPart(run);
  if (page.player) page.player.partLetGo();
  showPlaces();
}

function cancelZip() {
  if (!page.zip) return;
  page.zip.abort(new Error('cancelled'));
  page.zip = null;
  view.showZipSaving(false);
  showPlaces();
}

async function saveVideo() {
  const { run } = page;
  const runSignal = page.control.signal;
  const can = await videoCan;
  const name = words.namedAfter(run.movie.name, '.mp4');
  let handle = null;
  if ('showSaveFilePicker' in window) {
    try {
      handle = await window.showSaveFilePicker({ suggestedName: name, types: [{ description: 'A video', accept: { 'video/mp4': ['.mp4'] } }] });
    } catch (error) {
      // Dismissed: the person changed their mind.
      if (error.name !== 'AbortError' && !runSignal.aborted) view.showVideoEnd(words.videoEnd({ failure: words.errorText(error) }));
      return;
    }
  }
  if (runSignal.aborted || page.video) return;
  const control = withRun();
  const making = startVideo({ files: run.files, images: run.images, samples: run.samples, can, handle, signal: control.signal,
                              onProgress: view.showVideoProgress });
  page.video = { making, control };
  view.showVideoMaking(handle ? handle.name : name);
  showPlaces();
  let end;
  try {
    end = await making.ended;
  } catch (error) {
    return;  // another movie was chosen
  }
  page.video = null;
  if (end.blob) offerDownload(end.blob, name);
  view.showVideoEnd(words.videoEnd({ ...end, name: handle ? handle.name : name, images: run.images, samples: run.samples,
                                     codec: can.codec, soundCodec: can.soundCodec }));
  showPlaces();
}

// The movie chosen or dropped, after asking whether to give up the last one.
function choose(movie, dropped = 1) {
  if (page.run && unsaved()) {
    const question = words.replaceQuestion(page.run.movie.name, movie.name, { converting: page.run.converting, video: page.video });
    if (!window.confirm(question)) return;
  }
  start(movie, dropped);
}

$('movie').addEventListener('change', () => {
  const chosen = $('movie').files[0];
  // Cleared, so that choosing the same file again converts it again.
  $('movie').value = '';
  if (chosen) choose(chosen);
});
// A file dropped anywhere is taken: the browser never leaves the page for it.
const carriesFiles = (event) => event.dataTransfer && [...event.dataTransfer.types].includes('Files');
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  if (carriesFiles(event)) document.body.classList.add('over');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('over');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('over');
  const dropped = event.dataTransfer ? [...event.dataTransfer.files] : [];
  if (dropped.length > 0) choose(dropped[0], dropped.length);
});
window.addEventListener('beforeunload', (event) => {
  if (!unsaved()) return;
  event.preventDefault();
  event.returnValue = '';
});
$('stop').addEventListener('click', () => page.run && page.run.stop());
$('download').addEventListener('click', saveZip);
$('cancel').addEventListener('click', cancelZip);
$('make-video').addEventListener('click', saveVideo);
$('stop-video').addEventListener('click', () => page.video && page.video.making.stop());
$('play').addEventListener('click', () => page.player && page.player.toggle());
$('picture').addEventListener('input', () => {
  if (!page.player) return;
  page.player.pause();
  page.player.show(Number($('picture').value));
});

// Where the browser can write to a file or folder the user chooses, the
// place is chosen first, and the files go there as they are made.
const PLACE_UNCHOSEN = $('place-name').textContent;

function forgetPlace() {
  page.target = null;
  view.showPlace(PLACE_UNCHOSEN);
}

function offerPlace(id, pick, kind, saying) {
  $(id).hidden = false;
  $(id).addEventListener('click', async () => {
    try {
      const handle = await pick();
      page.target = { kind, handle };
      view.showPlace(saying(handle.name));
    } catch (error) {
      // Dismissed: the person changed their mind.
      if (error.name !== 'AbortError') view.showPlace('That place cannot be used: ' + words.errorText(error));
    }
  });
}
if ('showSaveFilePicker' in window) {
  offerPlace('zip-file', () => window.showSaveFilePicker({
    suggestedName: 'movie.zip',
    types: [{ description: 'A .zip', accept: { 'application/zip': ['.zip'] } }],
  }), 'zip', (name) => 'The files go into the .zip ' + name + ' as they are made.');
}
if ('showDirectoryPicker' in window) {
  offerPlace('folder', () => window.showDirectoryPicker({ mode: 'readwrite' }), 'folder',
             (name) => 'The files go into the folder ' + name + '.');
}
showPlaces();
