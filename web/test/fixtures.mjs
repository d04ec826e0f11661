// Small PNG files for the studio's tests, written here so that the page's
// reader meets the colour types and depths the renderer's libpng reads.
import {deflateSync} from 'node:zlib';

const crcTable = Array.from({length: 256}, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
});

function crc(buf) {
    let c = 0xffffffff;
    for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
    const out = Buffer.alloc(12 + data.length);
    out.writeUInt32BE(data.length, 0);
    out.write(type, 4, 'latin1');
    data.copy(out, 8);
    out.writeUInt32BE(crc(out.subarray(4, 8 + data.length)), 8 + data.length);
    return out;
}

function png(width, height, depth, colorType, rows, extra = []) {
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(width, 0);
    ihdr.writeUInt32BE(height, 4);
    ihdr[8] = depth;
    ihdr[9] = colorType;
    const raw = Buffer.concat(rows.map((r) => Buffer.concat([Buffer.from([0]), r])));
    return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
                          ...extra, chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// 16-bit RGBA: a ring whose alpha and colour change across it.
export function ring16(size = 120) {
    const rows = [];
    for (let y = 0; y < size; y++) {
        const row = Buffer.alloc(size * 8);
        for (let x = 0; x < size; x++) {
            const d = Math.hypot(x - size / 2 + 0.5, y - size / 2 + 0.5) / (size / 2);
            const on = d > 0.45 && d < 0.95;
            row.writeUInt16BE(Math.round(65535 * x / size), x * 8);
            row.writeUInt16BE(40000, x * 8 + 2);
            row.writeUInt16BE(Math.round(65535 * (1 - y / size)), x * 8 + 4);
            row.writeUInt16BE(on ? Math.round(65535 * (1.2 - d)) : 0, x * 8 + 6);
        }
        rows.push(row);
    }
    return png(size, size, 16, 6, rows);
}

// 4-bit palette with tRNS: stripes, one of them half transparent.
export function stripes4(width = 90, height = 60) {
    const palette = Buffer.from([0, 0, 0, 255, 80, 40, 40, 200, 255, 250, 240, 120]);
    const trns = Buffer.from([0, 255, 128]);
    const rows = [];
    for (let y = 0; y < height; y++) {
        const row = Buffer.alloc(Math.ceil(width / 2));
        for (let x = 0; x < width; x++) {
            const index = Math.floor(x / 10) % 4;
            row[x >> 1] |= (x & 1 ? index : index << 4);
        }
        rows.push(row);
    }
    return png(width, height, 4, 3, rows, [chunk('PLTE', palette), chunk('tRNS', trns)]);
}
