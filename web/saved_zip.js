// Where each file of a .zip this page saved lies in it: the central
// directory gives its header's offset and its size, with ZIP64 fields where
// they do not fit in 32 bits. name -> { at, size }.
export async function storedFiles(file) {
  const view = async (at, length) => new DataView(await file.slice(at, at + length).arrayBuffer());
  const endAt = file.size - 22;
  const end = await view(endAt, 22);
  let directoryAt = end.getUint32(16, true);
  let directorySize = end.getUint32(12, true);
  if (directoryAt === 0xFFFFFFFF && endAt >= 20) {
    const locator = await view(endAt - 20, 20);
    const end64 = await view(Number(locator.getBigUint64(8, true)), 56);
    directorySize = Number(end64.getBigUint64(40, true));
    directoryAt = Number(end64.getBigUint64(48, true));
  }
  const directory = await view(directoryAt, directorySize);
  const places = new Map();
  for (let p = 0; p + 46 <= directory.byteLength;) {
    const nameLength = directory.getUint16(p + 28, true);
    const extraLength = directory.getUint16(p + 30, true);
    const name = new TextDecoder().decode(new Uint8Array(directory.buffer, p + 46, nameLength));
    let size = directory.getUint32(p + 24, true);
    let header = directory.getUint32(p + 42, true);
    // The ZIP64 field holds, in this order, each of the sizes and the offset that did not fit.
    for (let e = p + 46 + nameLength; e + 4 <= p + 46 + nameLength + extraLength;) {
      const id = directory.getUint16(e, true);
      const length = directory.getUint16(e + 2, true);
      if (id === 1) {
        let field = e + 4;
        if (size === 0xFFFFFFFF) { size = Number(directory.getBigUint64(field, true)); field += 8; }
        if (directory.getUint32(p + 20, true) === 0xFFFFFFFF) field += 8;
        if (header === 0xFFFFFFFF) header = Number(directory.getBigUint64(field, true));
      }
      e += 4 + length;
    }
    const local = await view(header, 30);
    places.set(name, { at: header + 30 + local.getUint16(26, true) + local.getUint16(28, true), size });
    p += 46 + nameLength + extraLength + directory.getUint16(p + 32, true);
  }
  return places;
}
