// The files as the converter writes them, for the player and the video: a
// TGA of 320 × 200 colour indices after an 18-byte header and a colour map
// of 256 entries (blue, green, red), rows from the top; BOOK.WAV, 8-bit
// mono samples after a 44-byte header.
export const WIDTH = 320;
export const HEIGHT = 200;
export const TGA_HEADER = 18;
export const PALETTE_BYTES = 768;
export const PIXELS_AT = TGA_HEADER + PALETTE_BYTES;
export const SAMPLE_RATE = 22050;
export const WAV_HEADER = 44;

export function imageName(number) {
  return String(number).padStart(8, '0') + '.tga';
}

// The colour map as red, green, blue, three bytes an entry.
export function colourMap(tga) {
  const rgb = new Uint8Array(256 * 3);
  for (let i = 0; i < 256; i++) {
    rgb[3 * i] = tga[TGA_HEADER + 3 * i + 2];
    rgb[3 * i + 1] = tga[TGA_HEADER + 3 * i + 1];
    rgb[3 * i + 2] = tga[TGA_HEADER + 3 * i];
  }
  return rgb;
}

// The movie's own rate: pictures per second of sound, or 15 without sound.
export function pictureRate(images, samples) {
  return samples > 0 ? (images * SAMPLE_RATE) / samples : 15;
}
