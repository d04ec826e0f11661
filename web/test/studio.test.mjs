// The studio in Debian's chromium, driven through its own controls, against
// the renderer: frames of image sources equal `pointillo render` of the
// scene the page saves, byte for byte.
//
// STUDIO_SITE (the built site), POINTILLO (the renderer) and CHROMIUM name
// what to use; STUDIO_SCREENSHOT, when set, is where the README's picture
// is written.
import {after, before, describe, test} from 'node:test';
import assert from 'node:assert/strict';
import {spawn, execFileSync} from 'node:child_process';
import {mkdtempSync, writeFileSync, readFileSync, existsSync, copyFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath} from 'node:url';
import {ring16, stripes4} from './fixtures.mjs';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');
const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const {decodePng} = require(path.join(root, 'web/page/png.js'));
const SITE = process.env.STUDIO_SITE ?? path.join(root, 'build/studio/site');
const POINTILLO = process.env.POINTILLO ?? path.join(root, 'build/release/pointillo');
const CHROMIUM = process.env.CHROMIUM ?? '/usr/bin/chromium';

const work = mkdtempSync(path.join(tmpdir(), 'studio-test-'));
const sceneDir = path.join(work, 'scene');
const downloads = path.join(work, 'downloads');

// Two image sources of different kinds, particles on, a keyframed slider.
const SCENE = {
    comp: {width: 256, height: 160, fps: 25, duration: 2.4},
    sources: [{image: 'ring16.png'}, {image: 'logo.png'}, {image: 'stripes.png'}],
    params: {
        'Hold (seconds)': 0.2,
        'Transition (seconds)': 0.8,
        'Dot Size': [[0, 3], [1.6, 6]],
        'Spacing': 6,
        'Particle Size': 2,
    },
};

let server, browser, page, url;

function startServer(dir) {
    return new Promise((resolve, reject) => {
        const child = spawn('node', [path.join(root, 'web/serve.mjs'), SITE, '--port', '0',
                                     path.join(dir, 'scene.json')], {stdio: ['ignore', 'pipe', 'inherit']});
        child.stdout.on('data', (d) => {
            const m = /serving (\S+)/.exec(String(d));
            if (m) resolve({child, url: m[1]});
        });
        child.on('exit', (code) => reject(new Error('server exited ' + code)));
    });
}

async function until(fn, what, ms = 20000) {
    const end = Date.now() + ms;
    for (;;) {
        const v = await fn();
        if (v) return v;
        if (Date.now() > end) throw new Error('timed out waiting for ' + what);
        await new Promise((r) => setTimeout(r, 50));
    }
}

const idle = () => page.evaluate(() => window.pointilloStudio.idle());
const exported = () => page.evaluate(() => window.pointilloStudio.exportScene());

// The frame the page shows, at full size, as straight RGBA bytes.
async function shownFrame() {
    await idle();
    const b64 = await page.evaluate(() => {
        const f = window.pointilloStudio.shown();
        let s = '';
        for (let i = 0; i < f.rgba.length; i += 0x8000) {
            s += String.fromCharCode(...f.rgba.subarray(i, i + 0x8000));
        }
        return JSON.stringify({frame: f.frame, preview: f.preview, width: f.width, height: f.height,
                               rgba: btoa(s)});
    });
    const f = JSON.parse(b64);
    return {...f, rgba: Buffer.from(f.rgba, 'base64')};
}

async function apiFrame(n, on = page) {
    const b64 = await on.evaluate(async (n) => {
        const f = await window.pointilloStudio.frame(n);
        let s = '';
        for (let i = 0; i < f.rgba.length; i += 0x8000) {
            s += String.fromCharCode(...f.rgba.subarray(i, i + 0x8000));
        }
        return JSON.stringify({width: f.width, height: f.height, rgba: btoa(s)});
    }, n);
    const f = JSON.parse(b64);
    return {...f, rgba: Buffer.from(f.rgba, 'base64')};
}

// The renderer's frames of a scene file, decoded.
async function rendered(sceneFile, frames) {
    const out = mkdtempSync(path.join(work, 'render-'));
    execFileSync(POINTILLO, ['render', sceneFile, '-o', out, '--frames', `${frames[0]}-${frames.at(-1)}`],
                 {stdio: ['ignore', 'ignore', 'inherit']});
    const result = {};
    for (const n of frames) {
        const image = await decodePng(readFileSync(path.join(out, `frame_${String(n).padStart(5, '0')}.png`)));
        result[n] = {width: image.width, height: image.height, rgba: Buffer.from(Uint8Array.from(image.samples))};
    }
    return result;
}

function assertSameFrame(actual, expected, what) {
    assert.equal(`${actual.width}x${actual.height}`, `${expected.width}x${expected.height}`, what + ': size');
    let differ = 0, first = -1;
    for (let i = 0; i < expected.rgba.length; i++) {
        if (actual.rgba[i] !== expected.rgba[i]) {
            differ++;
            if (first < 0) first = i;
        }
    }
    assert.equal(differ, 0, `${what}: ${differ} samples differ, the first at pixel ${first >> 2} ` +
                 `(${actual.rgba[first]} instead of ${expected.rgba[first]})`);
}

// Sets a control's value as a user would, and lets its change event fire.
async function setInput(selector, value) {
    await page.$eval(selector, (e, v) => {
        e.value = v;
        e.dispatchEvent(new Event('input', {bubbles: true}));
        e.dispatchEvent(new Event('change', {bubbles: true}));
    }, String(value));
    await idle();
}

async function scrubTo(frame) {
    await setInput('#scrub', frame);
    await until(async () => {
        const f = await page.evaluate(() => window.pointilloStudio.shown());
        return f && f.frame === frame && f.preview === 1;
    }, 'frame ' + frame);
}

const paramInput = (name, suffix = '') => `[data-param="${name}"] [name="${name}${suffix}"]`;

before(async () => {
    execFileSync('mkdir', ['-p', sceneDir, downloads]);
    writeFileSync(path.join(sceneDir, 'ring16.png'), ring16());
    writeFileSync(path.join(sceneDir, 'stripes.png'), stripes4());
    copyFileSync(path.join(root, 'examples/logo.png'), path.join(sceneDir, 'logo.png'));
    writeFileSync(path.join(sceneDir, 'scene.json'), JSON.stringify(SCENE, null, 2));
    ({child: server, url} = await startServer(sceneDir));
    browser = await puppeteer.launch({executablePath: CHROMIUM, headless: true,
                                      args: ['--no-sandbox', '--disable-gpu']});
    page = await browser.newPage();
    page.on('pageerror', (e) => console.error('page error:', e.message));
    await page.setViewport({width: 1440, height: 860});
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
});

after(async () => {
    await browser?.close();
    server?.kill();
    rmSync(work, {recursive: true, force: true});
});

describe('the local server', () => {
    test('serves the page and the scene folder on 127.0.0.1, nothing outside them', async () => {
        const {symlinkSync} = await import('node:fs');
        writeFileSync(path.join(work, 'secret.txt'), 'not to be served');
        symlinkSync(path.join(work, 'secret.txt'), path.join(sceneDir, 'link.txt'));
        const origin = new URL(url).origin;
        assert.match(origin, /^http:\/\/127\.0\.0\.1:\d+$/);
        const status = async (p) => (await fetch(origin + p)).status;
        assert.equal(await status('/'), 200);
        assert.equal(await status('/worker.js'), 200);
        assert.equal(await status('/scene/scene.json'), 200);
        assert.equal(await status('/scene/logo.png'), 200);
        for (const p of ['/../secret.txt', '/scene/../secret.txt', '/scene/%2e%2e/secret.txt',
                         '/scene/..%2fsecret.txt', '/%2e%2e/%2e%2e/etc/passwd', '/scene/link.txt',
                         '/scene/', '/scene/%00scene.json', '/no-such-file']) {
            assert.equal(await status(p), 404, p);
        }
        assert.equal((await fetch(origin + '/', {method: 'POST'})).status, 405);
    });
});

describe('studio', () => {
    test('the page opens the served scene and shows its first frame', async () => {
        const t0 = Date.now();
        await page.goto(url);
        await page.waitForSelector('body[data-ready]', {timeout: 30000});
        const ready = await page.$eval('body', (b) => Number(b.dataset.ready));
        console.log(`first frame ${ready} ms after the page's start, ${Date.now() - t0} ms after navigation`);
        const timing = await page.$eval('#timing', (e) => e.textContent);
        assert.match(timing, /^timing: Source 1 0-0\.2 s, into Source 2 0\.2-1 s/);
    });

    test('edits through the controls, saved, render as the renderer renders them', async () => {
        await setInput(paramInput('Scatter', ' value'), 90);
        await setInput(`[data-param="Spacing"] input[type=range]`, 7);
        await page.select(`[data-param="Motion Style"] select`, 'Swirl');
        // The particles' group starts closed, as in the effect's controls.
        const group = await page.$('[data-param="Enable Additional Particles"]');
        if (!(await group.evaluate((e) => e.closest('details').open))) {
            await group.evaluate((e) => e.closest('details').querySelector('summary').click());
        }
        await page.click(`[data-param="Enable Additional Particles"] input[type=checkbox]`);
        await idle();
        // A keyframe on "Grid Jitter (%)" at frame 20, then another value there.
        await scrubTo(20);
        await page.click(`[data-param="Grid Jitter (%)"] button[title^="Keyframe"]`);
        await idle();
        await setInput(paramInput('Grid Jitter (%)', ' value'), 10);
        const scene = JSON.parse(await exported());
        assert.equal(scene.params.Scatter, 90);
        assert.equal(scene.params.Spacing, 7);
        assert.equal(scene.params['Motion Style'], 'Swirl');
        assert.equal(scene.params['Enable Additional Particles'], true);
        assert.deepEqual(scene.params['Grid Jitter (%)'], [[0.8, 10]]);

        await page.click('#save');
        const saved = path.join(downloads, 'scene.json');
        await until(() => ['scene.json', 'ring16.png', 'logo.png', 'stripes.png']
            .every((f) => existsSync(path.join(downloads, f))), 'the saved files');
        await until(() => {
            try {
                return JSON.parse(readFileSync(saved, 'utf8'));
            } catch {
                return null;
            }
        }, 'the whole scene.json');
        assert.deepEqual(JSON.parse(readFileSync(saved, 'utf8')), scene);

        const frames = [0, 9, 14, 20, 33, 59];
        const expected = await rendered(saved, frames);
        for (const n of frames) {
            await scrubTo(n);
            assertSameFrame(await shownFrame(), expected[n], `shown frame ${n}`);
        }
        for (const n of [14, 33]) assertSameFrame(await apiFrame(n), expected[n], `frame(${n})`);
        for (const n of [-1, 60]) {
            const message = await page.evaluate((n) => window.pointilloStudio.frame(n).then(
                () => 'rendered', (e) => e.message), n);
            assert.match(message, /^frame -?\d+ is not in the scene: it has frames 0 to 59$/, `frame(${n})`);
        }
        if (process.env.STUDIO_SCREENSHOT) {
            await scrubTo(18);
            await page.screenshot({path: process.env.STUDIO_SCREENSHOT});
        }
    });

    test('scrubbing on drops the frames it passes and shows the last', async () => {
        const before = await page.evaluate(() => window.pointilloStudio.frameStats());
        assert.ok(before.isolated, 'the page shares a cancel word with its worker');
        // Ten scrub steps at once, as a fast drag gives them.
        await page.$eval('#scrub', (e) => {
            for (let n = 40; n < 50; n++) {
                e.value = String(n);
                e.dispatchEvent(new Event('input', {bubbles: true}));
            }
            e.dispatchEvent(new Event('change', {bubbles: true}));
        });
        await until(async () => {
            const f = await page.evaluate(() => window.pointilloStudio.shown());
            return f.frame === 49 && f.preview === 1;
        }, 'frame 49');
        await idle();
        const after = await page.evaluate(() => window.pointilloStudio.frameStats());
        const asked = after.requested - before.requested;
        const drawn = after.drawn - before.drawn;
        const given_up = after.cancelled - before.cancelled + after.dropped - before.dropped;
        console.log(`scrub burst: ${asked} requests, ${drawn} drawn, ` +
                    `${after.cancelled - before.cancelled} given up while rendering, ` +
                    `${after.dropped - before.dropped} dropped on arrival`);
        assert.ok(drawn < asked, `${drawn} of ${asked} frames drawn`);
        assert.ok(given_up >= 1, 'a passed frame was given up or dropped');
        assertSameFrame(await shownFrame(), await apiFrame(49), 'the frame shown after the burst');
        await page.click('#step-forward');
        await page.keyboard.press('ArrowRight');
        await until(async () => (await page.evaluate(() => window.pointilloStudio.shown())).frame === 51,
                    'two steps forward, by the button and by the key');
    });

    test('a saved scene opened again gives the same frames', async () => {
        const before = [await apiFrame(14), await apiFrame(40)];
        await page.evaluate(() => window.pointilloStudio.loadScene({comp: {width: 64, height: 64, fps: 10, duration: 1}}));
        const input = await page.$('#open');
        await input.uploadFile(...['scene.json', 'ring16.png', 'logo.png', 'stripes.png']
            .map((f) => path.join(downloads, f)));
        await until(async () => JSON.parse(await exported()).comp.width === 256, 'the opened scene');
        assertSameFrame(await apiFrame(14), before[0], 'reopened frame 14');
        assertSameFrame(await apiFrame(40), before[1], 'reopened frame 40');
    });

    test('"Download frame" writes the frame shown, "Record clip" a WebM clip', async () => {
        await scrubTo(33);
        await page.click('#download-frame');
        const file = path.join(downloads, 'frame_00033.png');
        await until(() => existsSync(file), 'the downloaded frame');
        const png = await until(() => decodePng(readFileSync(file)).catch(() => null), 'the whole PNG');
        assertSameFrame({width: png.width, height: png.height, rgba: Buffer.from(Uint8Array.from(png.samples))},
                        await apiFrame(33), 'downloaded frame 33');
        await page.click('#record');
        const clip = path.join(downloads, 'scene.webm');
        await until(() => existsSync(clip) && readFileSync(clip).length > 1000, 'the recorded clip', 60000);
        assert.deepEqual([...readFileSync(clip).subarray(0, 4)], [0x1a, 0x45, 0xdf, 0xa3], 'a WebM file');
    });

    test('loadScene: a downsample, a background and an image in a folder, as the renderer does them', async () => {
        const scene = {comp: {width: 250, height: 150, fps: 20, duration: 2},
                       downsample: 3, background: '#203040',
                       sources: [{image: 'art/logo.png'}, {image: 'ring16.png'}],
                       params: {'Motion Style': 'Pop', 'Enable Additional Particles': true,
                                'Hold (seconds)': 0.1}};
        // A page of its own, called at once: the interface waits for the page to set itself up.
        const fresh = await browser.newPage();
        await fresh.goto(new URL('/', url).href);
        await fresh.evaluate(async (scene, logo, ring) => {
            await window.pointilloStudio.loadScene(JSON.stringify(scene),
                {'art/logo.png': new Uint8Array(logo), 'ring16.png': new Uint8Array(ring)});
        }, scene, [...readFileSync(path.join(sceneDir, 'logo.png'))], [...ring16()]);
        const dir = mkdtempSync(path.join(work, 'api-'));
        writeFileSync(path.join(dir, 'scene.json'),
                      await fresh.evaluate(() => window.pointilloStudio.exportScene()));
        copyFileSync(path.join(sceneDir, 'logo.png'), path.join(dir, 'logo.png'));
        writeFileSync(path.join(dir, 'ring16.png'), ring16());
        const frames = [0, 7, 15];
        const expected = await rendered(path.join(dir, 'scene.json'), frames);
        for (const n of frames) assertSameFrame(await apiFrame(n, fresh), expected[n], `frame(${n})`);
        assert.equal(expected[0].width, 84);
        await fresh.close();
    });

    test('typing a word draws a text source', async () => {
        // Back to the saved scene of three image sources.
        await page.evaluate(async (text, files) => {
            const bytes = {};
            for (const [k, v] of Object.entries(files)) bytes[k] = new Uint8Array(v);
            await window.pointilloStudio.loadScene(text, bytes);
        }, readFileSync(path.join(downloads, 'scene.json'), 'utf8'),
        Object.fromEntries(['ring16.png', 'logo.png', 'stripes.png']
            .map((f) => [f, [...readFileSync(path.join(downloads, f))]])));
        await page.click('#add-text');
        await idle();
        const text = 'textarea[name="sources[3].text"]';
        await page.waitForSelector(text);
        await page.$eval(text, (e) => { e.value = ''; });
        await page.type(text, 'HI');
        await until(async () => JSON.parse(await exported()).sources[3]?.text === 'HI', 'the typed word');
        await idle();
        assert.match(await page.$eval('#timing', (e) => e.textContent), /Source 4/);
    });

    test('rows the effect hides stay hidden; keyframes are cleared to the value at the time', async () => {
        const hidden = (name) => page.$eval(`[data-param="${name}"]`, (e) => e.hidden);
        assert.equal(await page.$('[data-param="Text Count"]'), null, '"Text Count" is never shown');
        assert.equal(await hidden('Dot Color'), true, 'hidden while "Match Source Colors" is on');
        await page.click('[data-param="Match Source Colors"] input[type=checkbox]');
        await idle();
        assert.equal(await hidden('Dot Color'), false, 'shown once it is off');

        await scrubTo(10);
        await page.click('[data-param="Chaos Amount"] button[title^="Keyframe"]');
        await scrubTo(30);
        await setInput(paramInput('Chaos Amount', ' value'), 300);
        let scene = JSON.parse(await exported());
        assert.deepEqual(scene.params['Chaos Amount'], [[0.4, 60], [1.2, 300]]);
        await scrubTo(20);
        await page.click('[data-param="Chaos Amount"] button[title="Clear keyframes"]');
        await idle();
        scene = JSON.parse(await exported());
        // The host's own interpolation at frame 20, halfway: 180 up to the last bit of a double.
        assert.ok(Math.abs(scene.params['Chaos Amount'] - 180) < 1e-9, `${scene.params['Chaos Amount']}`);
    });

    test('bad input gives its message by its cause and keeps the scene', async () => {
        const kept = await exported();
        const cases = [
            {what: 'a scene file that does not parse',
             act: () => page.evaluate(() => window.pointilloStudio.loadScene('{"comp": {').catch(() => {})),
             where: '#scene-error', message: /scene\.json: .*(parse|JSON)/i},
            {what: 'a slider beyond its range',
             act: () => setInput(paramInput('Scatter', ' value'), 5000),
             where: '[data-param="Scatter"] .error', message: /Scatter.*5000/},
            {what: 'a comp side of zero',
             act: () => setInput('[name="comp.width"]', 0),
             where: '[data-field="comp.width"] .error', message: /comp\.width/},
            {what: 'an image that does not decode',
             act: async () => {
                 const bad = path.join(work, 'broken.png');
                 writeFileSync(bad, Buffer.from('not a png at all'));
                 await (await page.$('#add-image')).uploadFile(bad);
             },
             where: '[data-field="sources"] .error', message: /broken\.png.*not a readable PNG/},
            {what: 'a scene too large for the memory',
             act: () => page.evaluate(async (scene) => {
                 await window.pointilloStudio.loadScene(scene, {}).catch(() => {});
             }, {comp: {width: 8192, height: 8192, fps: 25, duration: 1},
                 sources: [{text: 'BIG', size: 4000}, {text: 'BIGGER', size: 3000}]}),
             where: '#scene-error', message: /memory/},
        ];
        for (const c of cases) {
            await c.act();
            await idle();
            const text = await until(() => page.$eval(c.where, (e) => e.textContent).catch(() => ''),
                                     c.what + "'s message", 60000);
            assert.match(text, c.message, c.what);
            assert.equal(await exported(), kept, c.what + ': the scene is kept');
        }
    });
});
