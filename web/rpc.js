// Requests across a worker boundary (a worker, or a MessagePort), and their
// answers. Each request carries an id, and each answer the id of its
// request: { id, result } or { id, error }, and before it any number of
// { id, progress }. A message without an id is told, not asked, and has no
// answer. Whatever breaks the boundary (the worker's error, a message that
// cannot be read on either side, a told message that failed) is
// { broken: REASON } and fails every request still open: no one waits for
// an answer that cannot come.

// An error as it crosses, and as it arrives: with its name and message.
const sent = (error) => ({ name: (error && error.name) || 'Error', message: error && error.message !== undefined ? error.message : String(error) });
const received = ({ name, message }) => Object.assign(new Error(message), { name });

// A worker from its source, which the page holds compressed, as base64
// text (web/bundle.mjs). The worker opens it itself, at once, so that the
// page has the worker to talk to straight away: the messages that come
// before its source runs wait, and are heard in order once it does; a
// source that cannot be opened is the worker's error.
const OPENING = `'use strict';
const early = [];
const wait = (event) => early.push(event);
addEventListener('message', wait);
const packed = Uint8Array.from(atob(SOURCE), (c) => c.charCodeAt(0));
new Response(new ReadableStream({ start(controller) { controller.enqueue(packed); controller.close(); } })
  .pipeThrough(new DecompressionStream('gzip'))).text().then((text) => {
  importScripts('data:text/javascript,' + encodeURIComponent(text));
  removeEventListener('message', wait);
  for (const { data, ports } of early) dispatchEvent(new MessageEvent('message', { data, ports }));
}).catch((error) => setTimeout(() => { throw error; }));`;

export function startWorker(sourceId) {
  const source = document.getElementById(sourceId).textContent;
  const url = URL.createObjectURL(new Blob([`const SOURCE = '${source}';\n`, OPENING], { type: 'text/javascript' }));
  try {
    return new Worker(url);
  } finally {
    URL.revokeObjectURL(url);
  }
}

const isWorker = (port) => typeof Worker !== 'undefined' && port instanceof Worker;

// The asking side. `onBroken` hears once why the boundary broke.
export function connect(port, onBroken = () => {}) {
  const open = new Map();  // id -> { resolve, reject, onProgress }
  let next = 0;
  let broken = null;
  const breakWith = (error) => {
    if (broken) return;
    broken = error;
    for (const request of open.values()) request.reject(error);
    open.clear();
    onBroken(error);
  };
  port.onmessage = (event) => {
    const answer = event.data;
    if ('broken' in answer) return breakWith(received(answer.broken));
    const request = open.get(answer.id);
    if (!request) return undefined;
    if ('progress' in answer) return request.onProgress(answer.progress);
    open.delete(answer.id);
    return 'error' in answer ? request.reject(received(answer.error)) : request.resolve(answer.result);
  };
  port.onmessageerror = () => breakWith(new Error('a message from a worker could not be read'));
  if (isWorker(port)) {
    port.onerror = (event) => {
      event.preventDefault();
      breakWith(new Error(event.message || 'a worker failed'));
    };
  }
  return {
    request(type, fields = {}, { transfer = [], signal = null, onProgress = () => {} } = {}) {
      if (broken) return Promise.reject(broken);
      if (signal && signal.aborted) return Promise.reject(signal.reason);
      const id = next++;
      return new Promise((resolve, reject) => {
        open.set(id, { resolve, reject, onProgress });
        if (signal) signal.addEventListener('abort', () => open.delete(id) && reject(signal.reason), { once: true });
        try {
          port.postMessage({ id, type, ...fields }, transfer);
        } catch (error) {
          open.delete(id);
          reject(error);
        }
      });
    },
    tell(type, fields = {}, transfer = []) {
      if (broken) return;
      try {
        port.postMessage({ type, ...fields }, transfer);
      } catch (error) {
        breakWith(error);
      }
    },
    // Ends the worker or closes the port: whatever is open fails with `reason`.
    end(reason = new Error('ended')) {
      if (isWorker(port)) port.terminate();
      else port.close();
      breakWith(reason);
    },
  };
}

// A result handed over with the buffers in `transfer`, which leave the worker.
export function transferring(result, transfer) {
  return { transferring: true, result, transfer };
}

// The answering side: `actions[type](message, progress)` for each message,
// one after another where `inOrder`, else as they come.
export function serve(port, actions, { inOrder = false } = {}) {
  const post = (message, transfer = []) => {
    try {
      port.postMessage(message, transfer);
    } catch (error) {
      port.postMessage({ broken: sent(error) });
    }
  };
  const handle = async (message) => {
    const { id, type } = message;
    try {
      if (!actions[type]) throw new Error('no such request: ' + type);
      const value = await actions[type](message, (progress, transfer) => post({ id, progress }, transfer));
      if (id === undefined) return;
      if (value && value.transferring) post({ id, result: value.result }, value.transfer);
      else post({ id, result: value });
    } catch (error) {
      post(id === undefined ? { broken: sent(error) } : { id, error: sent(error) });
    }
  };
  let queue = Promise.resolve();
  port.onmessage = (event) => {
    if (inOrder) queue = queue.then(() => handle(event.data));
    else handle(event.data);
  };
  port.onmessageerror = () => post({ broken: sent(new Error('a message to a worker could not be read')) });
  if (port === globalThis) {
    globalThis.addEventListener('unhandledrejection', (event) => post({ broken: sent(event.reason) }));
  }
}
