// Frames a second of the studio's preview in headless chromium against the
// native renderer on one job, on the example scenes (with and without
// particles), and the page's time to its first frame. Prints figures only;
// nothing here passes or fails.
//   node web/test/bench.mjs SITE POINTILLO [FRAMES]
import {spawn, execFileSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath} from 'node:url';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const [site, pointillo, framesArg] = process.argv.slice(2);
const frames = Number(framesArg ?? 150);
const work = mkdtempSync(path.join(tmpdir(), 'studio-bench-'));

const base = JSON.parse(readFileSync(path.join(root, 'examples/particles.json'), 'utf8'));
const scenes = {
    'particles.json, particles off': {...base, params: {...base.params, 'Enable Additional Particles': false}},
    'particles.json': base,
};

function native(scene) {
    const file = path.join(work, 'scene.json');
    execFileSync('sh', ['-c', `cat > ${file}`], {input: JSON.stringify(scene)});
    const out = execFileSync(pointillo, ['render', file, '--jobs', '1', '-o', mkdtempSync(path.join(work, 'out-')),
                                         '--frames', `0-${frames - 1}`], {encoding: 'utf8'});
    return Number(/\(([\d.]+) frames\/s\)/.exec(out)[1]);
}

const server = spawn('node', [path.join(root, 'web/serve.mjs'), site, '--port', '0'],
                     {stdio: ['ignore', 'pipe', 'inherit']});
const url = await new Promise((resolve) => server.stdout.on('data', (d) => {
    const m = /serving (\S+)/.exec(String(d));
    if (m) resolve(m[1]);
}));
const browser = await puppeteer.launch({executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
                                        headless: true, args: ['--no-sandbox']});
try {
    const page = await browser.newPage();
    await page.setViewport({width: 1600, height: 900});
    const t0 = Date.now();
    await page.goto(url);
    await page.waitForSelector('body[data-ready]', {timeout: 30000});
    console.log(`first frame: ${Date.now() - t0} ms from navigation ` +
                `(${await page.$eval('body', (b) => b.dataset.ready)} ms from the page's start)`);
    for (const [name, scene] of Object.entries(scenes)) {
        await page.evaluate((s) => window.pointilloStudio.loadScene(s), scene);
        // Each frame as the preview shows it: rendered in the worker, handed
        // over, drawn into the page's canvas.
        const fps = await page.evaluate(async (count) => {
            const canvas = document.getElementById('preview');
            const ctx = canvas.getContext('2d');
            const start = performance.now();
            for (let n = 0; n < count; n++) {
                const f = await window.pointilloStudio.frame(n);
                canvas.width = f.width;
                canvas.height = f.height;
                ctx.putImageData(new ImageData(new Uint8ClampedArray(f.rgba.buffer), f.width, f.height), 0, 0);
            }
            return count / ((performance.now() - start) / 1000);
        }, frames);
        const nativeFps = native(scene);
        console.log(`${name}: studio ${fps.toFixed(1)} frames/s, native one job ${nativeFps.toFixed(1)} ` +
                    `frames/s; studio frame time ${(nativeFps / fps).toFixed(2)} x native (${frames} frames at 1280 x 720)`);
    }
} finally {
    await browser.close();
    server.kill();
    rmSync(work, {recursive: true, force: true});
}
