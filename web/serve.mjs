// Serves Pointillo Studio on 127.0.0.1 only: the site folder at /, and the
// folder of a scene given on the command line at /scene/. Nothing outside
// those two folders is served, links leading out of them included.
//
//   node web/serve.mjs SITE_DIR [--port N] [SCENE.json]
import {createServer} from 'node:http';
import {realpath, stat, readFile} from 'node:fs/promises';
import path from 'node:path';

const TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
               '.mjs': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8',
               '.json': 'application/json', '.png': 'image/png', '.wasm': 'application/wasm'};

function usage(message) {
    if (message) console.error('pointillo studio: ' + message);
    console.error('usage: studio [--port N] [SCENE.json]');
    process.exit(2);
}

const args = process.argv.slice(2);
let port = 8080;
let site = null;
let scene = null;
for (let i = 0; i < args.length; i++) {
    if (args[i] === '--port') {
        port = Number(args[++i]);
        if (!Number.isInteger(port) || port < 0 || port > 65535) usage('--port takes 0 to 65535');
    } else if (site === null) {
        site = args[i];
    } else if (scene === null) {
        scene = args[i];
    } else {
        usage('one scene at most');
    }
}
if (site === null) usage('no site folder');
const siteRoot = await realpath(site).catch(() => usage(`no site at ${site}: build it first`));
let sceneRoot = null;
let sceneName = null;
if (scene !== null) {
    const file = await realpath(scene).catch(() => usage(`${scene}: no such scene file`));
    sceneRoot = path.dirname(file);
    sceneName = path.basename(file);
}

// The file under `root` that `relative` names, or null when it names none
// or leads outside `root`.
async function inside(root, relative) {
    let decoded;
    try {
        decoded = decodeURIComponent(relative);
    } catch {
        return null;
    }
    if (decoded.includes('\0')) return null;
    const candidate = path.resolve(root, '.' + path.posix.normalize('/' + decoded));
    let real;
    try {
        real = await realpath(candidate);
    } catch {
        return null;
    }
    if (real !== root && !real.startsWith(root + path.sep)) return null;
    const info = await stat(real);
    return info.isFile() ? real : null;
}

const server = createServer(async (req, res) => {
    const send = (status, body, type = 'text/plain; charset=utf-8') => {
        // Cross-origin isolation lets the page share memory with its worker,
        // which is how a frame being rendered learns that it is no longer wanted.
        res.writeHead(status, {'Content-Type': type, 'Cache-Control': 'no-store',
                               'X-Content-Type-Options': 'nosniff',
                               'Cross-Origin-Opener-Policy': 'same-origin',
                               'Cross-Origin-Embedder-Policy': 'require-corp'});
        res.end(req.method === 'HEAD' ? undefined : body);
    };
    if (req.method !== 'GET' && req.method !== 'HEAD') return send(405, 'only GET\n');
    const url = new URL(req.url, 'http://127.0.0.1');
    let file = null;
    if (url.pathname.startsWith('/scene/')) {
        file = sceneRoot && (await inside(sceneRoot, url.pathname.slice('/scene/'.length)));
    } else {
        file = await inside(siteRoot, url.pathname === '/' ? 'index.html' : url.pathname.slice(1));
    }
    if (!file) return send(404, 'not found\n');
    try {
        send(200, await readFile(file), TYPES[path.extname(file).toLowerCase()] ?? 'application/octet-stream');
    } catch {
        send(404, 'not found\n');
    }
});

server.listen(port, '127.0.0.1', () => {
    const address = `http://127.0.0.1:${server.address().port}/`;
    const page = sceneName ? `${address}?scene=scene/${encodeURIComponent(sceneName)}` : address;
    console.log(`pointillo studio: serving ${page}`);
});
server.on('error', (e) => {
    console.error(`pointillo studio: cannot serve on 127.0.0.1:${port}: ${e.message}`);
    process.exit(1);
});
