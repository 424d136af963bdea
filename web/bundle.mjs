// Puts the page together as one HTML file. esbuild bundles its entries: the
// page (web/main.js), and the workers the page starts: the converter's
// (web/converter_worker.js) after each of emscripten's two outputs, the one
// that waits for the movie's pieces and the one that reads the file itself
// (cmake/web.cmake), the keeper's (web/keeper_worker.js, with the zip
// writer, client-zip) and the video's (web/video_worker.js, with the parts
// of the MP4 writer, mediabunny, that it uses, and the WebAssembly that
// enlarges its pictures, as base64 text in VIDEO_PICTURE). The workers go
// into the page compressed with gzip, as base64 text, which web/rpc.js
// opens with the browser's DecompressionStream. The libraries' licence
// notices go with them, and stand uncompressed in the page as well. It
// writes, beside the page, the list of every file the page was made of, as
// a make rule, from which CMake knows when to make it again.
//
//   node web/bundle.mjs CONVERTER.js CONVERTER-DIRECT.js VIDEO-PICTURE.wasm VERSION OUT.html
import { readFileSync, writeFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import { resolve } from 'node:path';
import { gzipSync } from 'node:zlib';
import { buildSync } from 'esbuild';

const [converterPath, directPath, picturePath, version, outPath] = process.argv.slice(2);
const root = fileURLToPath(new URL('..', import.meta.url));
const inputs = new Set([converterPath, directPath, picturePath]);
const read = (path) => {
  inputs.add(resolve(root, path));
  return readFileSync(resolve(root, path), 'utf8');
};
const inline = (text) => text.replaceAll('</script', '<\\/script');

function bundle(entry, banner = '') {
  const { outputFiles, metafile } = buildSync({
    entryPoints: [entry], absWorkingDir: root, bundle: true, format: 'iife', minify: true, write: false,
    legalComments: 'none', target: 'es2020', metafile: true, banner: { js: banner },
  });
  // Those in a namespace, such as "(disabled):", are none of the page's files.
  for (const input of Object.keys(metafile.inputs)) if (!input.includes(':')) inputs.add(resolve(root, input));
  return outputFiles[0].text;
}

// Their licences ask for their notices in every copy; the Mozilla Public
// License 2.0 for where the source is, too.
const zipNotice = read('node_modules/client-zip/LICENSE.txt').replaceAll('*/', '* /');
const mp4Version = JSON.parse(read('node_modules/mediabunny/package.json')).version;
const mp4Notice = `The MP4 writer is mediabunny ${mp4Version}, whose files are subject to the terms of the\n` +
  'Mozilla Public License, v. 2.0. If a copy of the MPL was not distributed with this file, You can obtain one at\n' +
  `https://mozilla.org/MPL/2.0/. Its source code is in the npm package mediabunny@${mp4Version}\n` +
  `(https://www.npmjs.com/package/mediabunny/v/${mp4Version}), in its src folder.`;

const notices = `/* client-zip, the zip writer:\n${zipNotice}*/\n/* ${mp4Notice} */`;
const workers = {
  'converter-source': bundle('web/converter_worker.js', readFileSync(converterPath, 'utf8')),
  'converter-direct-source': bundle('web/converter_worker.js', readFileSync(directPath, 'utf8')),
  'keeper-source': bundle('web/keeper_worker.js', `/* client-zip, the zip writer:\n${zipNotice}*/`),
  'video-source': bundle('web/video_worker.js', `/* ${mp4Notice} */\nconst VIDEO_PICTURE = '${readFileSync(picturePath).toString('base64')}';`),
};
// The same bytes every time: gzip's header carries no time or name.
const packed = (text) => gzipSync(Buffer.from(text), { level: 9 }).toString('base64');
const scripts = [
  `<script>${inline(notices)}</script>`,
  ...Object.entries(workers).map(([id, text]) => `<script type="text/plain" id="${id}">${packed(text)}</script>`),
  `<script>${inline(bundle('web/main.js'))}</script>`,
].join('\n');
const page = read('web/page.html')
  .replaceAll('@VERSION@', version)
  .replace('/*STYLE*/', () => read('web/page.css'))
  .replace('<!--SCRIPTS-->', () => scripts);
writeFileSync(outPath, page);
const escaped = (path) => path.replaceAll(' ', '\\ ');
writeFileSync(outPath + '.d', `${escaped(resolve(outPath))}: ${[...inputs, fileURLToPath(import.meta.url)].map(escaped).join(' \\\n  ')}\n`);
