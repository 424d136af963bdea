// Puts the page together as one HTML file: the style, the page's script,
// and as text that the page starts from blob: addresses, its three workers:
// the converter's (the WebAssembly inside it); the keeper, with the zip
// writer; and the video worker, with the parts of the MP4 writer
// (mediabunny) that it uses, which esbuild picks out.
//
//   node web/bundle.mjs WORKER.js CLIENT-ZIP.js VERSION OUT.html
import { readFileSync, writeFileSync } from 'node:fs';
import { buildSync } from 'esbuild';

const [converterPath, zipPath, version, outPath] = process.argv.slice(2);
const here = new URL('.', import.meta.url);
const read = (path) => readFileSync(path, 'utf8');
const inline = (text) => text.replaceAll('</script', '<\\/script');

// The zip writer is a module: its exports become the properties of one
// object, clientZip, for the keeper's classic script.
const zipModule = read(zipPath);
const exports = /export\s*\{([^}]*)\};?\s*$/.exec(zipModule);
if (!exports) throw new Error(zipPath + ': no export list at its end');
const members = exports[1].split(',').map((item) => {
  const [local, exported] = item.trim().split(/\s+as\s+/);
  return `${exported || local}: ${local}`;
});
// Its licence asks for its notice in every copy.
const zipNotice = read(new URL('LICENSE.txt', new URL(zipPath, 'file://'))).replaceAll('*/', '* /');
const zipScript = `/* client-zip, the zip writer:\n${zipNotice}*/\n` +
  `const clientZip = (() => {\n${zipModule.slice(0, exports.index)}\nreturn { ${members.join(', ')} };\n})();`;

// The MP4 writer's licence, the Mozilla Public License 2.0, asks for its
// notice and for where its source is.
const mp4Package = JSON.parse(read(new URL('../node_modules/mediabunny/package.json', import.meta.url)));
const video = buildSync({
  entryPoints: [new URL('video.js', here).pathname], bundle: true, format: 'iife', minify: true, write: false,
  legalComments: 'none', target: 'es2020',
}).outputFiles[0].text;
const videoScript = `/* The MP4 writer is mediabunny ${mp4Package.version}, whose files are subject to the terms of the\n` +
  'Mozilla Public License, v. 2.0. If a copy of the MPL was not distributed with this file, You can obtain one at\n' +
  `https://mozilla.org/MPL/2.0/. Its source code is in the npm package mediabunny@${mp4Package.version}\n` +
  `(https://www.npmjs.com/package/mediabunny/v/${mp4Package.version}), in its src folder. */\n` + video;

const worker = read(converterPath) + '\n' + read(new URL('worker.js', here));
const keeper = zipScript + '\n' + read(new URL('keeper.js', here));
const scripts = [
  `<script type="text/plain" id="converter-source">${inline(worker)}</script>`,
  `<script type="text/plain" id="keeper-source">${inline(keeper)}</script>`,
  `<script type="text/plain" id="video-source">${inline(videoScript)}</script>`,
  `<script>${inline(read(new URL('page.js', here)))}</script>`,
].join('\n');
const page = read(new URL('page.html', here))
  .replaceAll('@VERSION@', version)
  .replace('/*STYLE*/', () => read(new URL('page.css', here)))
  .replace('<!--SCRIPTS-->', () => scripts);
writeFileSync(outPath, page);
