// A buffer no longer wanted gives its memory back at once, in Firefox: left
// to its collector, the buffers a worker went through stayed until the next
// collection, and a long movie kept for a .zip took the page some hundreds
// of MiB more. In chromium, whose collector runs sooner as such buffers
// grow, freeing them early left the rest to it for longer: the same movie
// took more memory, not less.
import { ENGINE } from './engine.js';

export function freeNow(buffer) {
  if (ENGINE === 'firefox' && typeof buffer.transfer === 'function' && !buffer.detached) buffer.transfer(0);
}
