// The page's PNG reader against ffmpeg's, an independent decoder, over every
// colour type and depth ffmpeg writes, plain and interlaced (Adam7): the
// samples must agree exactly, at the file's own depth.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath} from 'node:url';

const require = createRequire(import.meta.url);
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const {decodePng} = require(path.join(root, 'web/page/png.js'));

// Odd sizes, so that rows end inside a byte and passes are uneven.
const W = 37, H = 23;
const FORMATS = [
    {pixFmt: 'rgb24', bits: 8}, {pixFmt: 'rgba', bits: 8}, {pixFmt: 'rgb48be', bits: 16},
    {pixFmt: 'rgba64be', bits: 16}, {pixFmt: 'pal8', bits: 8}, {pixFmt: 'gray', bits: 8},
    {pixFmt: 'ya8', bits: 8}, {pixFmt: 'gray16be', bits: 16}, {pixFmt: 'ya16be', bits: 16},
    {pixFmt: 'monob', bits: 8},
];

const ffmpeg = (args, options) => execFileSync('ffmpeg', ['-v', 'error', ...args], options);

test('the PNG reader gives ffmpeg\'s samples for every colour type, plain and interlaced', async () => {
    const dir = mkdtempSync(path.join(tmpdir(), 'studio-png-'));
    try {
        // Colour bars with a moving alpha ramp.
        const source = `testsrc2=s=${W}x${H},format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='mod(X*7+Y*11,256)'`;
        for (const {pixFmt, bits} of FORMATS) {
            for (const interlaced of [false, true]) {
                const file = path.join(dir, `${pixFmt}${interlaced ? '-i' : ''}.png`);
                ffmpeg(['-f', 'lavfi', '-i', source, '-frames:v', '1', '-pix_fmt', pixFmt,
                        ...(interlaced ? ['-flags', '+ildct'] : []), '-y', file]);
                const ours = await decodePng(readFileSync(file));
                const theirs = ffmpeg(['-i', file, '-f', 'rawvideo', '-pix_fmt',
                                       bits === 16 ? 'rgba64le' : 'rgba', '-'], {maxBuffer: 1 << 24});
                const want = bits === 16 ? new Uint16Array(theirs.buffer, theirs.byteOffset, theirs.length / 2)
                                         : Uint8Array.from(theirs);
                const what = `${pixFmt}${interlaced ? ', interlaced' : ''}`;
                assert.equal(`${ours.width}x${ours.height}x${ours.bits}`, `${W}x${H}x${bits}`, what);
                let differ = -1;
                for (let i = 0; i < want.length; i++) {
                    if (ours.samples[i] !== want[i]) {
                        differ = i;
                        break;
                    }
                }
                assert.equal(differ, -1, `${what}: sample ${differ} is ${ours.samples[differ]}, ffmpeg's ${want[differ]}`);
            }
        }
    } finally {
        rmSync(dir, {recursive: true, force: true});
    }
});

test('the PNG reader refuses what is not a whole PNG', async () => {
    const good = readFileSync(path.join(root, 'examples/logo.png'));
    const damaged = Buffer.from(good);
    damaged[good.indexOf('IDAT') + 20] ^= 0xff; // inside the image data: its CRC no longer holds
    const cases = [
        ['not a PNG', Buffer.from('GIF89a'), /not a PNG/],
        ['cut off', good.subarray(0, good.length - 30), /cut off|too short|damaged/],
        ['a damaged chunk', damaged, /damaged/],
    ];
    for (const [what, bytes, message] of cases) {
        await assert.rejects(decodePng(bytes), message, what);
    }
});
