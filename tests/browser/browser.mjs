// Starting Debian's chromium, headless, for the page's tests and benchmark,
// and what the page shows.
import { existsSync, readFileSync, readdirSync, statSync, symlinkSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import puppeteer from 'puppeteer-core';

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// The flags keep chromium from reaching for the network on its own.
export async function startBrowser() {
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
  });
}

// Opens the page from its file: address. Every request whose scheme is not
// file:, blob: or data: is noted in `foreign`, and so is every attempt that
// the page's own security policy stopped before it became a request.
export async function openPage(browser, pagePath, foreign) {
  const page = await browser.newPage();
  page.on('request', (request) => {
    if (!/^(file|blob|data):/.test(request.url())) foreign.push(request.url());
  });
  page.on('console', (message) => {
    if (/Content Security Policy/.test(message.text())) foreign.push('stopped: ' + message.text());
  });
  page.on('pageerror', (error) => foreign.push('page error: ' + error.message));
  await page.goto('file://' + pagePath);
  return page;
}

// Chooses the movie and waits for the outcome; the milliseconds it took.
export async function convertIn(page, moviePath, timeout = 120000) {
  const began = Date.now();
  await (await page.$('#movie')).uploadFile(moviePath);
  await page.waitForFunction(() => document.getElementById('outcome').dataset.status !== undefined &&
                                   document.getElementById('outcome').textContent.includes('status'),
                             { timeout });
  return Date.now() - began;
}

export async function shown(page) {
  return page.evaluate(() => ({
    outcome: document.getElementById('outcome').textContent,
    status: Number(document.getElementById('outcome').dataset.status),
    messages: document.getElementById('messages').textContent,
    pictures: document.getElementById('pictures').textContent,
    progress: document.getElementById('progress').value,
  }));
}

// The peak resident size of the browser's renderer processes, in MiB: the
// page and its worker live there.
export function rendererPeakMiB(browser) {
  const root = browser.process().pid;
  const children = (pid) => {
    try {
      return readFileSync(`/proc/${pid}/task/${pid}/children`, 'utf8').split(' ').filter(Boolean).map(Number);
    } catch {
      return [];
    }
  };
  let peak = 0;
  const walk = (pid) => {
    for (const child of children(pid)) {
      let cmdline = '';
      try {
        cmdline = readFileSync(`/proc/${child}/cmdline`, 'utf8');
      } catch {
        continue;
      }
      if (cmdline.includes('--type=renderer')) {
        const status = readFileSync(`/proc/${child}/status`, 'utf8');
        peak = Math.max(peak, Number(/VmHWM:\s+(\d+)/.exec(status)[1]) / 1024);
      }
      walk(child);
    }
  };
  walk(root);
  return peak;
}

// What the command-line converter makes of the movie, in `folder`: its files,
// standard error and status.
export function convertNatively(converter, moviePath, folder) {
  symlinkSync(moviePath, folder + '/BOOK.MOV');
  let status = 0;
  let err = '';
  try {
    execFileSync(converter, [], { cwd: folder, stdio: ['ignore', 'ignore', 'pipe'] });
  } catch (failure) {
    status = failure.status;
    err = failure.stderr.toString();
  }
  const files = new Map();
  for (const name of readdirSync(folder)) if (name !== 'BOOK.MOV') files.set(name, readFileSync(folder + '/' + name));
  return { status, err, files };
}

// Waits for a download to be whole: there, and no longer growing.
export async function downloaded(path, timeout = 60000) {
  const until = Date.now() + timeout;
  let last = -1;
  while (Date.now() < until) {
    if (existsSync(path)) {
      const size = statSync(path).size;
      if (size === last && size > 0) return readFileSync(path);
      last = size;
    }
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  throw new Error('no download at ' + path);
}
