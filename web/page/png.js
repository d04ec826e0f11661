// PNG decoding as the renderer reads image sources: every colour type and
// bit depth, palette and tRNS transparency made into alpha, grey widened to
// red, green and blue, 16-bit samples kept, no gamma or colour-space change.
// The browser's own decoders convert colour and premultiply, so they cannot
// give the renderer's pixels. Result: {width, height, bits (8 or 16),
// samples: Uint16Array of straight red, green, blue, alpha}.
'use strict';

const PNG_SIGNATURE = [137, 80, 78, 71, 13, 10, 26, 10];
const PNG_MAX_SIDE = 30000;
const PNG_MAX_PIXELS = 64 * 1024 * 1024;

const pngCrcTable = (() => {
    const t = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        t[n] = c >>> 0;
    }
    return t;
})();

function pngCrc(bytes, start, end) {
    let c = 0xffffffff;
    for (let i = start; i < end; i++) c = pngCrcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

async function pngInflate(data) {
    const reader = new Blob([data]).stream().pipeThrough(new DecompressionStream('deflate'))
        .getReader();
    const parts = [];
    let total = 0;
    try {
        for (;;) {
            const {done, value} = await reader.read();
            if (done) break;
            parts.push(value);
            total += value.length;
        }
    } catch (e) {
        throw new Error('its compressed image data is damaged');
    }
    const out = new Uint8Array(total);
    let at = 0;
    for (const p of parts) { out.set(p, at); at += p.length; }
    return out;
}

function pngPaeth(a, b, c) {
    const p = a + b - c;
    const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the row filters of one (sub)image in place; returns the offset after it.
function pngUnfilter(raw, offset, rowBytes, rows, bpp) {
    let prev = -1;
    for (let y = 0; y < rows; y++) {
        if (offset + 1 + rowBytes > raw.length) throw new Error('its image data is too short');
        const type = raw[offset];
        const row = offset + 1;
        for (let i = 0; i < rowBytes; i++) {
            const a = i >= bpp ? raw[row + i - bpp] : 0;
            const b = prev >= 0 ? raw[prev + i] : 0;
            const c = prev >= 0 && i >= bpp ? raw[prev + i - bpp] : 0;
            let v = raw[row + i];
            switch (type) {
            case 0: break;
            case 1: v += a; break;
            case 2: v += b; break;
            case 3: v += (a + b) >> 1; break;
            case 4: v += pngPaeth(a, b, c); break;
            default: throw new Error('it has an unknown row filter ' + type);
            }
            raw[row + i] = v & 0xff;
        }
        prev = row;
        offset = row + rowBytes;
    }
    return offset;
}

async function decodePng(bytes) {
    bytes = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
    for (let i = 0; i < 8; i++) {
        if (bytes[i] !== PNG_SIGNATURE[i]) throw new Error('it is not a PNG file');
    }
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    let pos = 8;
    let header = null, palette = null, trns = null, ended = false;
    const idat = [];
    while (pos + 12 <= bytes.length) {
        const length = view.getUint32(pos);
        const type = String.fromCharCode(...bytes.subarray(pos + 4, pos + 8));
        const body = pos + 8;
        if (length > bytes.length - body - 4) throw new Error('its ' + type + ' chunk is cut off');
        const critical = (bytes[pos + 4] & 0x20) === 0;
        if (critical && pngCrc(bytes, pos + 4, body + length) !== view.getUint32(body + length)) {
            throw new Error('its ' + type + ' chunk is damaged (CRC)');
        }
        const data = bytes.subarray(body, body + length);
        if (type === 'IHDR') {
            const d = new DataView(data.buffer, data.byteOffset, data.byteLength);
            header = {width: d.getUint32(0), height: d.getUint32(4), depth: data[8],
                      colorType: data[9], interlace: data[12]};
        } else if (type === 'PLTE') {
            palette = data;
        } else if (type === 'tRNS') {
            trns = data;
        } else if (type === 'IDAT') {
            idat.push(data);
        } else if (type === 'IEND') {
            ended = true;
            break;
        }
        pos = body + length + 4;
    }
    if (!header) throw new Error('it has no IHDR chunk');
    if (idat.length === 0) throw new Error('it has no image data');
    if (!ended) throw new Error('it is cut off');
    const {width, height, depth, colorType, interlace} = header;
    const channelsOf = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4};
    const channels = channelsOf[colorType];
    const depthOk = {0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16]};
    if (!channels || !depthOk[colorType].includes(depth)) {
        throw new Error('it has an invalid colour type ' + colorType + ' at bit depth ' + depth);
    }
    if (width < 1 || height < 1 || width > PNG_MAX_SIDE || height > PNG_MAX_SIDE ||
        width * height > PNG_MAX_PIXELS) {
        throw new Error('its size ' + width + ' x ' + height + ' is outside 1 to 64 megapixels');
    }
    if (colorType === 3 && !palette) throw new Error('it has no palette');

    let total = 0;
    for (const c of idat) total += c.length;
    const packed = new Uint8Array(total);
    let at = 0;
    for (const c of idat) { packed.set(c, at); at += c.length; }
    const raw = await pngInflate(packed);

    const bits16 = depth === 16;
    const out = new Uint16Array(width * height * 4);
    const bitsPerPixel = channels * depth;
    const bpp = Math.max(1, bitsPerPixel >> 3);
    const maxLow = (1 << depth) - 1;
    const scaleLow = depth < 8 ? 255 / maxLow : 1; // 1, 2 and 4 bit grey widen to 8 bits
    const trnsGrey = trns && colorType === 0 && trns.length >= 2 ? (trns[0] << 8) | trns[1] : -1;
    const trnsRgb = trns && colorType === 2 && trns.length >= 6 ?
        [(trns[0] << 8) | trns[1], (trns[2] << 8) | trns[3], (trns[4] << 8) | trns[5]] : null;
    const full = bits16 ? 65535 : 255;

    const sample = (row, x, c) => {
        if (depth === 16) {
            const i = row + (x * channels + c) * 2;
            return (raw[i] << 8) | raw[i + 1];
        }
        if (depth === 8) return raw[row + x * channels + c];
        const bit = x * depth;
        return (raw[row + (bit >> 3)] >> (8 - depth - (bit & 7))) & maxLow;
    };
    const put = (row, x, px, py) => {
        const o = (py * width + px) * 4;
        let r, g, b, a = full;
        switch (colorType) {
        case 0: {
            const v = sample(row, x, 0);
            if (v === trnsGrey) a = 0;
            r = g = b = depth < 8 ? v * scaleLow : v;
            break;
        }
        case 2:
            r = sample(row, x, 0); g = sample(row, x, 1); b = sample(row, x, 2);
            if (trnsRgb && r === trnsRgb[0] && g === trnsRgb[1] && b === trnsRgb[2]) a = 0;
            break;
        case 3: {
            const i = sample(row, x, 0);
            if (i * 3 + 2 >= palette.length) {
                r = g = b = 0; // libpng reads an index past the palette as black
            } else {
                r = palette[i * 3]; g = palette[i * 3 + 1]; b = palette[i * 3 + 2];
            }
            a = trns && i < trns.length ? trns[i] : 255;
            break;
        }
        case 4:
            r = g = b = sample(row, x, 0); a = sample(row, x, 1);
            break;
        default:
            r = sample(row, x, 0); g = sample(row, x, 1); b = sample(row, x, 2);
            a = sample(row, x, 3);
        }
        out[o] = r; out[o + 1] = g; out[o + 2] = b; out[o + 3] = a;
    };

    if (interlace === 0) {
        const rowBytes = Math.ceil(width * bitsPerPixel / 8);
        pngUnfilter(raw, 0, rowBytes, height, bpp);
        for (let y = 0; y < height; y++) {
            const row = y * (rowBytes + 1) + 1;
            for (let x = 0; x < width; x++) put(row, x, x, y);
        }
    } else {
        const passes = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4],
                        [1, 0, 2, 2], [0, 1, 1, 2]];
        let offset = 0;
        for (const [x0, y0, dx, dy] of passes) {
            const w = Math.ceil((width - x0) / dx);
            const h = Math.ceil((height - y0) / dy);
            if (w <= 0 || h <= 0) continue;
            const rowBytes = Math.ceil(w * bitsPerPixel / 8);
            const start = offset;
            offset = pngUnfilter(raw, offset, rowBytes, h, bpp);
            for (let y = 0; y < h; y++) {
                const row = start + y * (rowBytes + 1) + 1;
                for (let x = 0; x < w; x++) put(row, x, x0 + x * dx, y0 + y * dy);
            }
        }
    }
    return {width, height, bits: bits16 ? 16 : 8, samples: out};
}

if (typeof module !== 'undefined') module.exports = {decodePng};

// An 8-bit RGBA PNG of straight samples, as the renderer writes frames.
async function encodePng(width, height, rgba) {
    const rowBytes = width * 4 + 1;
    const raw = new Uint8Array(rowBytes * height);
    for (let y = 0; y < height; y++) {
        raw[y * rowBytes] = 0;
        raw.set(rgba.subarray(y * width * 4, (y + 1) * width * 4), y * rowBytes + 1);
    }
    const reader = new Blob([raw]).stream().pipeThrough(new CompressionStream('deflate'))
        .getReader();
    const parts = [];
    for (;;) {
        const {done, value} = await reader.read();
        if (done) break;
        parts.push(value);
    }
    const chunk = (type, data) => {
        const out = new Uint8Array(12 + data.length);
        const v = new DataView(out.buffer);
        v.setUint32(0, data.length);
        for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
        out.set(data, 8);
        v.setUint32(8 + data.length, pngCrc(out, 4, 8 + data.length));
        return out;
    };
    const ihdr = new Uint8Array(13);
    const hv = new DataView(ihdr.buffer);
    hv.setUint32(0, width);
    hv.setUint32(4, height);
    ihdr[8] = 8;
    ihdr[9] = 6;
    return new Blob([new Uint8Array(PNG_SIGNATURE), chunk('IHDR', ihdr),
                     chunk('IDAT', new Uint8Array(await new Blob(parts).arrayBuffer())),
                     chunk('IEND', new Uint8Array(0))], {type: 'image/png'});
}

if (typeof module !== 'undefined') module.exports.encodePng = encodePng;
