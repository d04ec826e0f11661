// The studio's worker: the core compiled to WebAssembly, the scene as the
// renderer reads it, its layers, and the frames. The page never renders.
//
// Messages in: {id, op, ...}; out: {id, ok: true, ...} or {id, ok: false,
// error: {message, field}}, where `field` is the scene field the message
// names ("params[\"Scatter\"]", "sources[1] (Source 2).image", "comp.width")
// or "" when it names none.
'use strict';

importScripts('png.js', 'text_layer.js', 'pointillo-studio.js');

let core = null;
// What each source entry of the current scene was made from, to keep its
// layer when an edit leaves it alone.
let currentKeys = [];
let currentShape = '';
const imageCache = new Map(); // file name -> {bytes, image}

const ready = createPointilloCore().then((m) => { core = m; });

function cString(text) {
    const n = core.lengthBytesUTF8(text) + 1;
    const p = core._studio_alloc(n);
    core.stringToUTF8(text, p, n);
    return p;
}

function lastMessage() {
    return core.UTF8ToString(core._studio_message());
}

// "scene.json: params[\"Dot Size\"]: must be ..." names its field after the
// file; messages about the whole scene name none.
function fieldOf(message, file) {
    const prefix = file + ': ';
    if (!message.startsWith(prefix)) return '';
    const rest = message.slice(prefix.length);
    const m = /^((?:comp|downsample|depth|background|sources|params)(?:\[[^\]]*\]|\.[A-Za-z_]+|\s\(Source \d+\))*)(?::|\s)/.exec(rest);
    return m ? m[1] : '';
}

class SceneError extends Error {
    constructor(message, field) {
        super(message);
        this.field = field;
    }
}

function check(status, file) {
    if (status !== 0) {
        const message = lastMessage();
        throw new SceneError(message, fieldOf(message, file));
    }
}

function sameBytes(a, b) {
    if (a === b) return true;
    if (!a || !b || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
}

// The bytes of image `path`: given under that name, or under its last part
// ("art/logo.png" as "logo.png").
function imageBytes(path, files) {
    return files[path] ?? files[path.split('/').pop()];
}

async function imageLayer(path, files, file, field) {
    const bytes = imageBytes(path, files);
    if (!bytes) {
        throw new SceneError(`${file}: ${field}: the image "${path}" was not given with the ` +
                             'scene; open it together with the scene file', field);
    }
    const cached = imageCache.get(path);
    if (cached && sameBytes(cached.bytes, bytes)) return cached.image;
    let image;
    try {
        image = await decodePng(bytes);
    } catch (e) {
        throw new SceneError(`${file}: ${field}: "${path}" is not a readable PNG: ${e.message}`,
                             field);
    }
    imageCache.set(path, {bytes, image});
    return image;
}

function stageSamples(index, image) {
    const p = core._studio_alloc(image.samples.length * 2);
    if (p === 0) throw new SceneError('the studio is out of memory for this source', '');
    core.HEAPU16.set(image.samples, p >> 1);
    const status = core._studio_stage_layer(index, image.width, image.height, image.bits, p);
    core._studio_free(p);
    return status;
}

async function load({sceneText, fileName, files}) {
    const file = fileName || 'scene.json';
    const textPtr = cString(sceneText);
    const filePtr = cString(file);
    const status = core._studio_stage(textPtr, filePtr);
    core._studio_free(textPtr);
    core._studio_free(filePtr);
    check(status, file);
    const scene = JSON.parse(core.UTF8ToString(core._studio_staged_json()));
    const keys = [];
    try {
        for (let i = 0; i < scene.sources.length; i++) {
            const source = scene.sources[i];
            const field = `sources[${i}] (Source ${i + 1})`;
            if (source === null) {
                keys.push(null);
                continue;
            }
            let key;
            if (source.image !== undefined) {
                const bytes = imageBytes(source.image, files);
                key = {image: source.image, bytes};
            } else {
                key = {text: JSON.stringify([source, scene.comp.width, scene.comp.height])};
            }
            keys.push(key);
            const before = currentKeys.findIndex((k) => k && (k.text !== undefined ?
                k.text === key.text : k.image === key.image && sameBytes(k.bytes, key.bytes)));
            if (before >= 0 && core._studio_keep_layer(before, i) === 0) continue;
            const layer = source.image !== undefined ?
                await imageLayer(source.image, files, file, field + '.image') :
                drawTextLayer(source, scene.comp.width, scene.comp.height);
            check(stageSamples(i, layer), file);
        }
        check(core._studio_commit(), file);
    } catch (e) {
        core._studio_discard();
        throw e;
    }
    // A new size or new layers may not fit the memory: one frame shows it
    // before the scene is taken.
    const shape = JSON.stringify([scene.comp.width, scene.comp.height, scene.downsample,
                                  keys.map((k) => k && (k.text ?? k.image + ':' + k.bytes?.length))]);
    if (shape !== currentShape) {
        const status = core._studio_render(0, 1, 0);
        if (status !== 0) {
            const message = lastMessage();
            core._studio_rollback();
            throw new SceneError(message.startsWith(file) ? message : file + ': ' + message, '');
        }
    }
    core._studio_drop_previous();
    currentShape = shape;
    currentKeys = keys;
    const warnings = core.UTF8ToString(core._studio_warnings()).split('\n').filter((w) => w);
    return {scene, timing: core.UTF8ToString(core._studio_timing()), warnings};
}

// A preview frame carries its request number `gen`; it is given up as soon
// as the page asks for a newer one (with a shared word to read that from).
function render({frame, preview, gen}) {
    const t0 = performance.now();
    const cancellable = gen !== undefined && core.cancelWord !== undefined;
    core.renderGen = gen;
    const status = core._studio_render(frame, preview || 1, cancellable ? 1 : 0);
    if (status === 2) return {frame, cancelled: true};
    check(status, '');
    const width = core._studio_frame_width();
    const height = core._studio_frame_height();
    const from = core._studio_frame_rgba();
    const rgba = core.HEAPU8.slice(from, from + width * height * 4);
    return {frame, preview: preview || 1, width, height, rgba, ms: performance.now() - t0};
}

// One request at a time, in order: a load waits on its images, and nothing
// may render or stage in between.
let queue = Promise.resolve();
self.onmessage = (event) => {
    queue = queue.then(() => handle(event));
};

async function handle(event) {
    const {id, op} = event.data;
    try {
        await ready;
        let result;
        if (op === 'init') {
            if (event.data.cancelBuffer) core.cancelWord = new Int32Array(event.data.cancelBuffer);
            result = {params: JSON.parse(core.UTF8ToString(core._studio_params()))};
        } else if (op === 'load') {
            result = await load(event.data);
        } else if (op === 'render') {
            result = render(event.data);
            self.postMessage({id, ok: true, ...result}, result.rgba ? [result.rgba.buffer] : []);
            return;
        } else {
            throw new Error('unknown request ' + op);
        }
        self.postMessage({id, ok: true, ...result});
    } catch (e) {
        self.postMessage({id, ok: false, error: {message: e.message || String(e), field: e.field || ''}});
    }
}
