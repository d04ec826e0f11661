// Text sources drawn as the renderer lays them out: a layer of the comp's
// size, the straight colour on transparency, each line centred on its ink,
// lines one font line height apart, the block centred vertically. The page
// draws with the browser's fonts where the renderer uses FreeType, so the
// scene is the same and the pixels of the glyph edges are not.
'use strict';

// "DejaVu Sans:bold:italic" to a CSS font at `size` pixels.
function cssFont(name, size) {
    const parts = String(name).split(':');
    const family = parts[0] || 'DejaVu Sans';
    let weight = 400, style = 'normal';
    const weights = {thin: 100, extralight: 200, ultralight: 200, light: 300, book: 400,
                     regular: 400, normal: 400, medium: 500, semibold: 600, demibold: 600,
                     bold: 700, extrabold: 800, ultrabold: 800, black: 900, heavy: 900};
    for (const raw of parts.slice(1)) {
        const p = raw.trim().toLowerCase().replace(/[\s-]/g, '');
        if (p in weights) weight = weights[p];
        else if (p === 'italic' || p === 'oblique') style = p;
    }
    const quoted = '"' + family.replace(/"/g, '') + '"';
    return `${style} ${weight} ${size}px ${quoted}`;
}

function parseHex(color) {
    const m = /^#([0-9a-f]{2})([0-9a-f]{2})([0-9a-f]{2})$/i.exec(color || '#ffffff');
    return m ? [parseInt(m[1], 16), parseInt(m[2], 16), parseInt(m[3], 16)] : [255, 255, 255];
}

// {width, height, bits: 8, samples: Uint16Array} of straight red, green, blue, alpha.
function drawTextLayer(source, width, height) {
    const canvas = new OffscreenCanvas(width, height);
    const ctx = canvas.getContext('2d');
    const size = source.size ?? 200;
    ctx.font = cssFont(source.font ?? 'DejaVu Sans', size);
    ctx.textBaseline = 'alphabetic';
    const lines = String(source.text ?? '').split('\n');
    const metrics = lines.map((line) => ctx.measureText(line));
    const probe = ctx.measureText('Hg');
    const ascent = probe.fontBoundingBoxAscent ?? size * 0.76;
    const descent = probe.fontBoundingBoxDescent ?? size * 0.24;
    const lineHeight = ascent + descent;
    // The block's ink from the first line's top to the last line's bottom.
    let inkTop = Infinity, inkBottom = -Infinity;
    metrics.forEach((m, i) => {
        if (lines[i].length === 0) return;
        inkTop = Math.min(inkTop, i * lineHeight - m.actualBoundingBoxAscent);
        inkBottom = Math.max(inkBottom, i * lineHeight + m.actualBoundingBoxDescent);
    });
    if (inkTop === Infinity) {
        inkTop = 0;
        inkBottom = 0;
    }
    const baseline0 = height / 2 - (inkTop + inkBottom) / 2;
    const [r, g, b] = parseHex(source.color);
    ctx.fillStyle = `rgb(${r}, ${g}, ${b})`;
    metrics.forEach((m, i) => {
        const left = -m.actualBoundingBoxLeft;
        const right = m.actualBoundingBoxRight;
        const x = width / 2 - (left + right) / 2;
        ctx.fillText(lines[i], x, baseline0 + i * lineHeight);
    });
    const data = ctx.getImageData(0, 0, width, height).data;
    const samples = new Uint16Array(data.length);
    samples.set(data);
    // The canvas stores premultiplied colour and hands it back divided out;
    // the text has one colour, so every covered pixel takes it exactly.
    for (let i = 0; i < samples.length; i += 4) {
        if (samples[i + 3] !== 0) {
            samples[i] = r;
            samples[i + 1] = g;
            samples[i + 2] = b;
        } else {
            samples[i] = samples[i + 1] = samples[i + 2] = 0;
        }
    }
    return {width, height, bits: 8, samples};
}

if (typeof module !== 'undefined') module.exports = {cssFont, drawTextLayer};
