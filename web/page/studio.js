// Pointillo Studio's page: the controls, the timeline and the scene file.
// The scene lives here in the renderer's own file format; every edit sends
// it whole to the worker, which reads it with the renderer's reader and
// renders its frames. A scene the worker refuses is never taken: the
// message appears by the field it names and the scene before stays.

const FONTS = ['DejaVu Sans', 'DejaVu Sans:bold', 'DejaVu Sans:italic', 'DejaVu Sans:bold:italic',
               'DejaVu Serif', 'DejaVu Serif:bold', 'DejaVu Serif:italic', 'DejaVu Sans Mono',
               'DejaVu Sans Mono:bold'];
const NEW_SCENE = {
    comp: {width: 1280, height: 720, fps: 30, duration: 4},
    sources: [{text: 'POINT', font: 'DejaVu Sans:bold', size: 240, color: '#ffffff'},
              {text: 'ILLO', font: 'DejaVu Serif:italic', size: 240, color: '#ffd27a'}],
    params: {},
};
// Popups and checkboxes the module hides a row for: row name -> checkbox that hides it when on.
const HIDDEN_WHEN_ON = {'Dot Color': 'Match Source Colors',
                        'Particle Color': 'Match Main Particle Color'};
const SCRUB_PREVIEW = 2; // downsample while scrubbing or playing behind

const $ = (id) => document.getElementById(id);
const worker = new Worker('worker.js');
let nextId = 1;
const pending = new Map();
worker.onmessage = (event) => {
    const {id} = event.data;
    const p = pending.get(id);
    pending.delete(id);
    if (event.data.ok) p.resolve(event.data);
    else p.reject(Object.assign(new Error(event.data.error.message), {field: event.data.error.field}));
};
function call(op, data = {}) {
    const id = nextId++;
    return new Promise((resolve, reject) => {
        pending.set(id, {resolve, reject});
        worker.postMessage({id, op, ...data});
    });
}

const state = {
    params: [],        // the effect's parameter table
    scene: null,       // the scene as its file holds it
    info: null,        // the scene as the reader read it: comp with time_scale, frame_count
    files: {},         // image file name -> Uint8Array
    fileName: 'scene.json',
    frame: 0,
    playing: false,
    lastFrame: null,   // {width, height, rgba} shown
};

// ---- Scene values ----------------------------------------------------------

const clone = (v) => JSON.parse(JSON.stringify(v));
const paramByName = (name) => state.params.find((p) => p.name === name);
const frameSeconds = (n) => n * 1000 / state.info.comp.time_scale;
const isKeyed = (v) => Array.isArray(v);

function defaultValue(p) {
    switch (p.kind) {
    case 'popup': return p.choices[Math.round(p.default) - 1];
    case 'checkbox': return p.default !== 0;
    case 'color': return p.default_color;
    default: return p.default;
    }
}

// A parameter's value at t seconds as the host evaluates it: sliders
// linearly between keys, everything else held.
function valueAt(p, t) {
    const v = state.scene.params?.[p.name];
    if (v === undefined) return defaultValue(p);
    if (!isKeyed(v)) return v;
    if (!(t > v[0][0])) return v[0][1];
    if (t >= v[v.length - 1][0]) return v[v.length - 1][1];
    let k = 1;
    while (v[k][0] <= t) k++;
    const [t0, v0] = v[k - 1];
    const [t1, v1] = v[k];
    if (p.kind !== 'slider') return v0;
    return v0 + (v1 - v0) * ((t - t0) / (t1 - t0));
}

function choiceName(p, value) {
    if (typeof value === 'number') return p.choices[value - 1];
    return p.choices.find((c) => c.toLowerCase() === String(value).toLowerCase()) ?? value;
}

// ---- Messages --------------------------------------------------------------

function clearErrors() {
    document.querySelectorAll('.field-error').forEach((e) => e.remove());
    $('scene-error').hidden = true;
}

// Shows `message` by the control of `field`, or above everything.
function showError(message, field) {
    clearErrors();
    const find = (f) => f && document.querySelector(`[data-field="${CSS.escape(f)}"]`);
    // A source not yet in the list is reported by the list.
    const target = find(field) || find(field.split('[')[0]);
    if (target) {
        const p = document.createElement('p');
        p.className = 'error field-error';
        p.textContent = message;
        target.append(p);
        target.closest('details')?.setAttribute('open', '');
    } else {
        $('scene-error').textContent = message;
        $('scene-error').hidden = false;
    }
}

function setStatus(text) {
    $('status').textContent = text;
}

// ---- Taking a scene --------------------------------------------------------

let loadChain = Promise.resolve();

// Sends `scene` (an object or JSON text) to the worker; takes it when the
// worker has set it up. Rejects with the reader's message otherwise.
// `scene` may be a function that makes it from the scene taken before, called
// when the loads before it are done.
function applyScene(scene, {files, fileName, rebuild = false} = {}) {
    const run = async () => {
        if (typeof scene === 'function') scene = scene();
        files = files ?? state.files;
        fileName = fileName ?? state.fileName;
        const text = typeof scene === 'string' ? scene : JSON.stringify(scene, null, 2);
        let result;
        try {
            result = await call('load', {sceneText: text, fileName, files});
        } catch (e) {
            showError(e.message, fieldKey(e.field));
            throw e;
        }
        clearErrors();
        const rebuildAll = rebuild || state.scene === null;
        const shape = (sc) => JSON.stringify((sc?.sources ?? []).map((x) => x && (x.image ?? 'text')));
        const sourcesChanged = !rebuildAll && shape(state.scene) !== shape(scene);
        state.scene = typeof scene === 'string' ? JSON.parse(scene) : scene;
        state.files = files;
        state.fileName = fileName;
        state.info = result.scene;
        $('timing').textContent = result.timing ? 'timing: ' + result.timing : '';
        $('warnings').replaceChildren(...result.warnings.map((w) => {
            const li = document.createElement('li');
            li.textContent = w;
            return li;
        }));
        state.frame = Math.min(state.frame, state.info.comp.frame_count - 1);
        if (rebuildAll) buildAll();
        else refreshControls();
        if (sourcesChanged) buildSources();
        updateTimeline();
        requestFrame(1);
    };
    const done = loadChain.then(run);
    loadChain = done.catch(() => {});
    return done;
}

// The data-field a reader's field names: a parameter's keyframe or a
// source's field points at the row.
function fieldKey(field) {
    if (!field) return '';
    let m = /^params\["(.*)"\]/.exec(field);
    if (m) return `params["${m[1]}"]`;
    m = /^sources\[(\d+)\]/.exec(field);
    if (m) return `sources[${m[1]}]`;
    m = /^comp\.(\w+)/.exec(field);
    if (m) return `comp.${m[1]}`;
    return field.split(/[.[]/)[0];
}

function edit(change) {
    return applyScene(() => {
        const next = clone(state.scene);
        change(next);
        return next;
    }).catch(() => {});
}

// ---- Frames ----------------------------------------------------------------

let inflight = false;
let wanted = null;
// The number of the latest frame request, shared with the worker where the
// page is cross-origin isolated, so that a frame rendering for an older one
// stops at its next cancel poll.
const cancelBuffer = self.crossOriginIsolated ? new SharedArrayBuffer(4) : null;
const cancelWord = cancelBuffer && new Int32Array(cancelBuffer);
let frameGen = 0;
const frameStats = {requested: 0, drawn: 0, cancelled: 0, dropped: 0};

// Asks for the current frame; a request made while another renders replaces
// any still waiting, the one rendering gives up, and a result that is no
// longer wanted is dropped.
function requestFrame(preview) {
    const maxPreview = Math.floor(8 / (state.info.downsample || 1));
    frameGen++;
    if (cancelWord) Atomics.store(cancelWord, 0, frameGen);
    frameStats.requested++;
    wanted = {frame: state.frame, preview: Math.max(1, Math.min(preview, maxPreview)), gen: frameGen};
    pump();
}

async function pump() {
    if (inflight || !wanted) return;
    const req = wanted;
    wanted = null;
    inflight = true;
    let result = null;
    try {
        result = await call('render', req);
    } catch (e) {
        showError(e.message, '');
    }
    inflight = false;
    if (result?.cancelled) {
        frameStats.cancelled++;
    } else if (result && wanted) {
        frameStats.dropped++;
    } else if (result) {
        frameStats.drawn++;
        draw(result);
        if (state.playing) advancePlay();
        else if (result.preview > 1) requestFrame(1);
    }
    pump();
}

function draw(result) {
    const canvas = $('preview');
    if (canvas.width !== result.width || canvas.height !== result.height) {
        canvas.width = result.width;
        canvas.height = result.height;
    }
    const image = new ImageData(new Uint8ClampedArray(result.rgba.buffer), result.width, result.height);
    canvas.getContext('2d').putImageData(image, 0, 0);
    state.lastFrame = result;
    setStatus(`frame ${result.frame}: ${result.ms.toFixed(1)} ms` +
              (result.preview > 1 ? ` at 1/${result.preview * (state.info.downsample || 1)}` : ''));
    frameShown?.(result);
}
let frameShown = null;

// ---- Timeline --------------------------------------------------------------

function updateTimeline() {
    const {frame_count: count} = state.info.comp;
    const scrub = $('scrub');
    scrub.max = String(count - 1);
    scrub.value = String(state.frame);
    $('time').textContent = `${state.frame} / ${count - 1}  ${frameSeconds(state.frame).toFixed(3)} s`;
    refreshKeyButtons();
}

function goTo(frame, preview) {
    const count = state.info.comp.frame_count;
    state.frame = Math.max(0, Math.min(count - 1, frame));
    updateTimeline();
    refreshControls();
    requestFrame(preview);
}

let playStart = 0;
let playFrom = 0;
function advancePlay() {
    const {fps, frame_count: count} = state.info.comp;
    const elapsed = (performance.now() - playStart) / 1000;
    let next = playFrom + Math.floor(elapsed * fps);
    if (next <= state.frame) next = state.frame + 1;
    goTo(next % count, 1);
}

function setPlaying(on) {
    state.playing = on;
    $('play').textContent = on ? 'Pause' : 'Play';
    if (on) {
        playStart = performance.now();
        playFrom = state.frame;
        requestFrame(1);
    }
}

// ---- Controls --------------------------------------------------------------

function el(tag, props = {}, ...children) {
    const e = document.createElement(tag);
    const {dataset = {}, ...rest} = props;
    Object.assign(e, rest);
    for (const [k, v] of Object.entries(dataset)) e.dataset[k] = v;
    e.append(...children);
    return e;
}

function row(labelText, ...controls) {
    return el('div', {className: 'row'}, el('label', {textContent: labelText, title: labelText}),
              ...controls);
}

function buildComp() {
    const comp = state.scene.comp;
    const box = $('comp');
    box.replaceChildren();
    const number = (key, label, step) => {
        const input = el('input', {type: 'number', value: comp[key], step, name: 'comp.' + key});
        input.addEventListener('change', () => edit((s) => { s.comp[key] = Number(input.value); }));
        const wrap = el('div', {dataset: {field: 'comp.' + key}}, row(label, input));
        box.append(wrap);
    };
    number('width', 'Width', 1);
    number('height', 'Height', 1);
    number('fps', 'Frame rate', 'any');
    number('duration', 'Duration (s)', 'any');
    const ds = el('input', {type: 'number', min: 1, max: 8, step: 1, value: state.scene.downsample ?? 1,
                            name: 'downsample'});
    ds.addEventListener('change', () => edit((s) => { s.downsample = Number(ds.value); }));
    box.append(el('div', {dataset: {field: 'downsample'}}, row('Downsample', ds)));
    const bgOn = el('input', {type: 'checkbox', checked: !!state.scene.background, name: 'background-on'});
    const bg = el('input', {type: 'color', value: state.scene.background || '#000000', name: 'background'});
    const setBg = () => edit((s) => { s.background = bgOn.checked ? bg.value : null; });
    bgOn.addEventListener('change', setBg);
    bg.addEventListener('change', setBg);
    box.append(el('div', {dataset: {field: 'background'}}, row('Background', bgOn, bg)));
}

function buildSources() {
    const box = $('sources');
    box.replaceChildren();
    const sources = state.scene.sources ?? [];
    sources.forEach((source, i) => {
        const card = el('div', {className: 'source', dataset: {field: `sources[${i}]`}});
        const remove = el('button', {textContent: 'Remove', title: `Remove Source ${i + 1}`});
        remove.addEventListener('click', () => edit((s) => { s.sources.splice(i, 1); }));
        card.append(el('h3', {}, el('span', {textContent: `Source ${i + 1}`}), remove));
        if (source === null) {
            card.append(el('p', {textContent: 'empty slot'}));
        } else if (source.image !== undefined) {
            card.append(row('Image', el('span', {textContent: source.image})));
        } else {
            const text = el('textarea', {rows: 2, value: source.text ?? '', name: `sources[${i}].text`});
            text.addEventListener('input', debounce(() => edit((s) => { s.sources[i].text = text.value; }), 150));
            const font = el('select', {name: `sources[${i}].font`});
            const fonts = FONTS.includes(source.font ?? 'DejaVu Sans') ? FONTS : [source.font, ...FONTS];
            for (const f of fonts) font.append(el('option', {value: f, textContent: f}));
            font.value = source.font ?? 'DejaVu Sans';
            font.addEventListener('change', () => edit((s) => { s.sources[i].font = font.value; }));
            const size = el('input', {type: 'number', value: source.size ?? 200, step: 'any',
                                      name: `sources[${i}].size`});
            size.addEventListener('change', () => edit((s) => { s.sources[i].size = Number(size.value); }));
            const color = el('input', {type: 'color', value: source.color ?? '#ffffff',
                                       name: `sources[${i}].color`});
            color.addEventListener('change', () => edit((s) => { s.sources[i].color = color.value; }));
            card.append(text, row('Font', font), row('Size', size), row('Colour', color));
        }
        box.append(card);
    });
}

const paramControls = new Map(); // name -> {wrap, set(value), keyButton}

function buildParams() {
    const box = $('params');
    box.replaceChildren();
    paramControls.clear();
    let group = box;
    for (const p of state.params) {
        if (p.kind === 'group') {
            group = el('details', {open: !p.collapsed}, el('summary', {textContent: p.name}));
            box.append(group);
            continue;
        }
        if (p.kind === 'group_end') {
            group = box;
            continue;
        }
        if (p.hidden || p.kind === 'layer' || p.kind === 'button') continue;
        group.append(buildParam(p));
    }
    // The sources group holds only slots and buttons, shown on the left.
    box.querySelectorAll('details').forEach((d) => {
        if (!d.querySelector('.param')) d.remove();
    });
}

function buildParam(p) {
    const field = `params["${p.name}"]`;
    const wrap = el('div', {className: 'param', dataset: {field, param: p.name}});
    const setValue = (value) => edit((s) => {
        s.params = s.params ?? {};
        const current = s.params[p.name];
        if (isKeyed(current)) {
            const t = frameSeconds(state.frame);
            const keys = current.filter(([kt]) => kt !== t);
            keys.push([t, value]);
            keys.sort((a, b) => a[0] - b[0]);
            s.params[p.name] = keys;
        } else {
            s.params[p.name] = value;
        }
    });
    let control, set;
    if (p.kind === 'slider') {
        const range = el('input', {type: 'range', min: p.slider_min, max: p.slider_max, step: 'any',
                                   name: p.name});
        const number = el('input', {type: 'number', min: p.valid_min, max: p.valid_max, step: 'any',
                                    name: p.name + ' value'});
        range.addEventListener('input', () => { number.value = range.value; });
        range.addEventListener('change', () => setValue(Number(range.value)));
        number.addEventListener('change', () => setValue(Number(number.value)));
        set = (v) => { range.value = v; number.value = Math.round(v * 1e6) / 1e6; };
        control = [range, number];
    } else if (p.kind === 'popup') {
        const select = el('select', {name: p.name});
        p.choices.forEach((c) => select.append(el('option', {value: c, textContent: c})));
        select.addEventListener('change', () => setValue(select.value));
        set = (v) => { select.value = choiceName(p, v); };
        control = [select];
    } else if (p.kind === 'checkbox') {
        const box = el('input', {type: 'checkbox', name: p.name});
        box.addEventListener('change', () => setValue(box.checked));
        set = (v) => { box.checked = !!v; };
        control = [box];
    } else {
        const color = el('input', {type: 'color', name: p.name});
        color.addEventListener('change', () => setValue(color.value));
        set = (v) => { color.value = v; };
        control = [color];
    }
    const key = el('button', {textContent: '◆', title: 'Keyframe at the current time'});
    key.addEventListener('click', () => edit((s) => {
        s.params = s.params ?? {};
        const t = frameSeconds(state.frame);
        const current = s.params[p.name];
        const value = valueAt(p, t);
        const keys = isKeyed(current) ? current.filter(([kt]) => kt !== t) : [];
        keys.push([t, value]);
        keys.sort((a, b) => a[0] - b[0]);
        s.params[p.name] = keys;
    }));
    const clear = el('button', {textContent: '✕', title: 'Clear keyframes'});
    clear.addEventListener('click', () => edit((s) => {
        if (isKeyed(s.params?.[p.name])) s.params[p.name] = valueAt(p, frameSeconds(state.frame));
    }));
    wrap.append(row(p.name, ...control, key, clear));
    paramControls.set(p.name, {wrap, set, key, clear, param: p});
    return wrap;
}

function refreshControls() {
    if (!state.scene) return;
    const t = frameSeconds(state.frame);
    for (const [name, c] of paramControls) {
        c.set(valueAt(c.param, t));
        const hider = HIDDEN_WHEN_ON[name];
        c.wrap.hidden = hider !== undefined && !!valueAt(paramByName(hider), t);
    }
    refreshKeyButtons();
}

function refreshKeyButtons() {
    for (const [name, c] of paramControls) {
        const keys = state.scene.params?.[name];
        const keyed = isKeyed(keys);
        const here = keyed && keys.some(([kt]) => kt === frameSeconds(state.frame));
        c.key.classList.toggle('keyed', here);
        c.clear.disabled = !keyed;
        c.key.title = keyed ? `${keys.length} keyframes` : 'Keyframe at the current time';
    }
}

function buildAll() {
    buildComp();
    buildSources();
    buildParams();
    refreshControls();
}

function debounce(fn, ms) {
    let timer = 0;
    return () => {
        clearTimeout(timer);
        timer = setTimeout(fn, ms);
    };
}

// ---- Files -----------------------------------------------------------------

function download(blob, name) {
    const a = el('a', {href: URL.createObjectURL(blob), download: name});
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

// The scene as "Save" writes it: images are saved beside it by name, so a
// path in the scene becomes its last part.
function exportScene() {
    const scene = clone(state.scene);
    for (const source of scene.sources ?? []) {
        if (source && typeof source.image === 'string') source.image = source.image.split('/').pop();
    }
    return JSON.stringify(scene, null, 2) + '\n';
}

// The scene file and, beside it by name, each image it uses.
function save() {
    download(new Blob([exportScene()], {type: 'application/json'}), state.fileName);
    const used = new Set((state.scene.sources ?? []).filter((s) => s && s.image).map((s) => s.image));
    for (const name of used) {
        const bytes = state.files[name] ?? state.files[name.split('/').pop()];
        // Beside the scene by name: a path in the scene keeps only its last part's file.
        if (bytes) download(new Blob([bytes], {type: 'image/png'}), name.split('/').pop());
    }
}

async function readFiles(list) {
    const files = {};
    let sceneFile = null;
    for (const f of list) {
        if (f.name.toLowerCase().endsWith('.json')) sceneFile = f;
        else files[f.name] = new Uint8Array(await f.arrayBuffer());
    }
    return {sceneFile, files};
}

async function openFiles(list) {
    const {sceneFile, files} = await readFiles(list);
    if (sceneFile) {
        await applyScene(await sceneFile.text(), {files, fileName: sceneFile.name, rebuild: true})
            .catch(() => {});
    } else {
        for (const [name, bytes] of Object.entries(files)) await addImage(name, bytes);
    }
}

function uniqueName(name, bytes) {
    const same = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);
    let candidate = name;
    for (let n = 2; state.files[candidate] && !same(state.files[candidate], bytes); n++) {
        candidate = name.replace(/(\.png)?$/i, `-${n}$1`);
    }
    return candidate;
}

async function addImage(name, bytes) {
    await loadChain;
    const fileName = uniqueName(name, bytes);
    const files = {...state.files, [fileName]: bytes};
    const next = clone(state.scene);
    next.sources = [...(next.sources ?? []), {image: fileName}];
    return applyScene(next, {files, rebuild: true}).catch(() => {});
}

// ---- Recording -------------------------------------------------------------

async function record() {
    const canvas = $('preview');
    const {fps, frame_count: count} = state.info.comp;
    const stream = canvas.captureStream(0);
    const track = stream.getVideoTracks()[0];
    const recorder = new MediaRecorder(stream, {mimeType: 'video/webm'});
    const chunks = [];
    recorder.ondataavailable = (e) => chunks.push(e.data);
    const stopped = new Promise((resolve) => { recorder.onstop = resolve; });
    setPlaying(false);
    recorder.start();
    const start = performance.now();
    for (let n = 0; n < count; n++) {
        const result = await call('render', {frame: n, preview: 1});
        draw(result);
        track.requestFrame();
        setStatus(`recording frame ${n + 1} of ${count}`);
        const due = start + (n + 1) * 1000 / fps;
        await new Promise((r) => setTimeout(r, Math.max(0, due - performance.now())));
    }
    recorder.stop();
    await stopped;
    download(new Blob(chunks, {type: 'video/webm'}), state.fileName.replace(/\.json$/i, '') + '.webm');
    setStatus('clip recorded');
}

// ---- Start -----------------------------------------------------------------

async function sceneFromUrl(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
    const text = await response.text();
    const files = {};
    let scene = null;
    try {
        scene = JSON.parse(text);
    } catch {
        // the worker's reader reports it
    }
    for (const s of scene?.sources ?? []) {
        if (s && typeof s.image === 'string' && !(s.image in files)) {
            const r = await fetch(new URL(s.image, new URL(url, location.href)));
            if (r.ok) files[s.image] = new Uint8Array(await r.arrayBuffer());
        }
    }
    return {text, files, fileName: url.split('/').pop()};
}

function wire() {
    $('open').addEventListener('change', (e) => openFiles(e.target.files));
    $('add-image').addEventListener('change', async (e) => {
        for (const f of e.target.files) await addImage(f.name, new Uint8Array(await f.arrayBuffer()));
        e.target.value = '';
    });
    $('add-text').addEventListener('click', () => edit((s) => {
        s.sources = [...(s.sources ?? []), {text: 'TEXT', font: 'DejaVu Sans:bold', size: 200,
                                            color: '#ffffff'}];
    }));
    $('save').addEventListener('click', save);
    $('download-frame').addEventListener('click', async () => {
        const result = await call('render', {frame: state.frame, preview: 1});
        download(await encodePng(result.width, result.height, result.rgba),
                 `frame_${String(state.frame).padStart(5, '0')}.png`);
    });
    $('record').addEventListener('click', () => record().catch((e) => showError(e.message, '')));
    $('play').addEventListener('click', () => setPlaying(!state.playing));
    $('step-back').addEventListener('click', () => goTo(state.frame - 1, 1));
    $('step-forward').addEventListener('click', () => goTo(state.frame + 1, 1));
    const scrub = $('scrub');
    scrub.addEventListener('input', () => goTo(Number(scrub.value), SCRUB_PREVIEW));
    scrub.addEventListener('change', () => goTo(Number(scrub.value), 1));
    // Space plays and pauses, the arrow keys step, unless a field has the keys.
    document.addEventListener('keydown', (e) => {
        const typing = e.target.closest?.('input:not([type=range]):not([type=checkbox]), textarea, select');
        if (typing || e.altKey || e.ctrlKey || e.metaKey) return;
        if (e.key === ' ') setPlaying(!state.playing);
        else if (e.key === 'ArrowLeft') goTo(state.frame - 1, 1);
        else if (e.key === 'ArrowRight') goTo(state.frame + 1, 1);
        else return;
        e.preventDefault();
    });
    document.addEventListener('dragover', (e) => e.preventDefault());
    document.addEventListener('drop', (e) => {
        e.preventDefault();
        openFiles(e.dataTransfer.files);
    });
}

// The interface the page's tests and other checks drive it through.
// Every call waits until the page has set itself up.
let started = null;
window.pointilloStudio = {
    async loadScene(sceneJson, files = {}) {
        await started;
        const text = typeof sceneJson === 'string' ? sceneJson : JSON.stringify(sceneJson);
        const copies = {};
        for (const [name, bytes] of Object.entries(files)) copies[name] = new Uint8Array(bytes);
        await applyScene(text, {files: copies, rebuild: true});
    },
    async frame(n) {
        await started;
        await loadChain;
        const result = await call('render', {frame: n, preview: 1});
        return {width: result.width, height: result.height, rgba: result.rgba};
    },
    async exportScene() {
        await started;
        await loadChain;
        return exportScene();
    },
    // The frame the page shows now, once it is at full size: {frame, width, height, rgba}.
    shown() {
        const r = state.lastFrame;
        return r && {frame: r.frame, preview: r.preview, width: r.width, height: r.height, rgba: r.rgba};
    },
    // Preview frames asked for, drawn, given up while rendering, dropped on arrival.
    frameStats() {
        return {...frameStats, isolated: !!cancelWord};
    },
    idle() {
        return started.then(() => loadChain).then(() => new Promise((resolve) => {
            const check = () => (!inflight && !wanted ? resolve() : setTimeout(check, 20));
            check();
        }));
    },
};

async function start() {
    wire();
    const t0 = performance.now();
    state.params = (await call('init', {cancelBuffer})).params;
    const sceneUrl = new URLSearchParams(location.search).get('scene');
    let failure = null;
    if (sceneUrl) {
        try {
            const {text, files, fileName} = await sceneFromUrl(sceneUrl);
            await applyScene(text, {files, fileName, rebuild: true});
        } catch (e) {
            failure = e;
        }
    }
    if (state.scene === null) await applyScene(clone(NEW_SCENE), {rebuild: true});
    // The scene asked for is the one the message is about, not the new one.
    if (failure) showError(failure.message, '');
    frameShown = () => {
        frameShown = null;
        document.body.dataset.ready = String(Math.round(performance.now() - t0));
    };
}

started = start();
