// Local web app server: serves the Lorvane web app, keeps its small state and relays voice notes to the worker.
import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import crypto from 'node:crypto';
import { fileURLToPath } from 'node:url';

const host = process.env.HOST || '127.0.0.1';
const port = Number.parseInt(process.env.PORT ?? '3001', 10);
const voiceApi = new URL(process.env.LORVANE_VOICE_API_URL || 'http://127.0.0.1:6061');
const stateDir = path.resolve(process.env.LORVANE_GATEWAY_STATE_DIR || path.join(process.cwd(), 'gateway-state'));
const stateFile = path.join(stateDir, 'state.json');
const publicDir = path.join(path.dirname(fileURLToPath(import.meta.url)), 'public');

// The page's own state is tiny; a larger body is a client bug, not data worth keeping.
const MAX_STATE_BYTES = 64 * 1024;
// Same cap as the voice worker's.
const MAX_VOICE_UPLOAD_BYTES = 20 * 1024 * 1024;

const STATIC_TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.svg': 'image/svg+xml',
};

function log(message) {
  process.stdout.write(`${new Date().toISOString()} server: ${message}\n`);
}

function sendJson(res, status, body) {
  const text = JSON.stringify(body);
  res.writeHead(status, { 'content-type': 'application/json; charset=utf-8', 'content-length': Buffer.byteLength(text), 'cache-control': 'no-store' });
  res.end(text);
}

async function readState() {
  try {
    const parsed = JSON.parse(await fs.readFile(stateFile, 'utf8'));
    return typeof parsed === 'object' && parsed !== null ? parsed : {};
  } catch {
    return {};
  }
}

// Temp file and rename: a crash or a SIGTERM mid-write never leaves a half-written state file.
async function writeState(state) {
  await fs.mkdir(stateDir, { recursive: true });
  const temp = `${stateFile}.${process.pid}.${crypto.randomBytes(4).toString('hex')}.tmp`;
  await fs.writeFile(temp, JSON.stringify(state, null, 2));
  await fs.rename(temp, stateFile);
}

async function readBody(req, limit) {
  const chunks = [];
  let size = 0;
  for await (const chunk of req) {
    size += chunk.length;
    if (size > limit) throw Object.assign(new Error('body too large'), { status: 413 });
    chunks.push(chunk);
  }
  return Buffer.concat(chunks).toString('utf8');
}

async function updateState(req, res) {
  let patch;
  try {
    patch = JSON.parse(await readBody(req, MAX_STATE_BYTES));
  } catch (err) {
    return sendJson(res, err.status ?? 400, { error: err.status ? 'too large' : 'invalid JSON' });
  }
  if (typeof patch !== 'object' || patch === null) return sendJson(res, 400, { error: 'expected an object' });
  // Updates are read-modify-write of one file: run them one after another so none is lost.
  const run = stateQueue.then(async () => {
    const state = await readState();
    applyPatch(state, patch);
    await writeState(state);
    return state;
  });
  stateQueue = run.catch(() => {});
  sendJson(res, 200, await run);
}

let stateQueue = Promise.resolve();

function applyPatch(state, patch) {
  if (typeof patch.note === 'string') state.note = patch.note.slice(0, 10000);
  if (patch.lastView === 'main' || patch.lastView === 'voice') state.lastView = patch.lastView;
  state.updatedAt = new Date().toISOString();
}

async function serveStatic(res, name) {
  const file = path.resolve(publicDir, `.${path.posix.normalize(`/${name}`)}`);
  const type = STATIC_TYPES[path.extname(file)];
  if (!file.startsWith(publicDir + path.sep) || !type) return sendJson(res, 404, { error: 'not found' });
  let data;
  try {
    data = await fs.readFile(file);
  } catch {
    return sendJson(res, 404, { error: 'not found' });
  }
  res.writeHead(200, { 'content-type': type, 'content-length': data.length, 'cache-control': 'no-cache' });
  res.end(data);
}

// The page talks only to this origin; voice requests are passed through to the worker so the
// page needs no second origin and no CORS.
function proxyVoice(req, res, rest) {
  // Refused here rather than by the worker: a worker that answers 413 mid-upload closes the
  // connection, and the relayed answer would be lost to a broken pipe.
  if (Number(req.headers['content-length'] ?? 0) > MAX_VOICE_UPLOAD_BYTES) {
    return sendJson(res, 413, { error: 'recording too large' });
  }
  // Range and its answer's headers pass through, so the page can seek in a note.
  const headers = {};
  for (const name of ['content-type', 'content-length', 'x-note-title', 'accept', 'range']) {
    if (req.headers[name] !== undefined) headers[name] = req.headers[name];
  }
  const upstream = http.request(
    { hostname: voiceApi.hostname, port: voiceApi.port || 80, method: req.method, path: rest, headers, timeout: 30000 },
    (answer) => {
      const out = {};
      for (const name of ['content-type', 'content-length', 'content-range', 'accept-ranges']) {
        if (answer.headers[name] !== undefined) out[name] = answer.headers[name];
      }
      res.writeHead(answer.statusCode ?? 502, { ...out, 'cache-control': 'no-store' });
      answer.pipe(res);
    },
  );
  upstream.on('timeout', () => upstream.destroy(new Error('voice worker timed out')));
  upstream.on('error', (err) => {
    req.unpipe(upstream);
    req.resume();
    log(`voice worker at ${voiceApi.origin} unreachable: ${err.message}`);
    if (!res.headersSent) sendJson(res, 502, { error: 'voice worker unavailable' });
    else res.destroy();
  });
  req.pipe(upstream);
}

async function handle(req, res) {
  const url = new URL(req.url, `http://${host}`);
  const p = url.pathname;
  if (p.startsWith('/api/voice/')) return proxyVoice(req, res, `/${p.slice('/api/voice/'.length)}${url.search}`);
  if (p === '/api/state' && req.method === 'GET') return sendJson(res, 200, await readState());
  if (p === '/api/state' && req.method === 'PUT') return updateState(req, res);
  if (p === '/api/info' && req.method === 'GET') {
    return sendJson(res, 200, { voicePublicUrl: process.env.LORVANE_VOICE_PUBLIC_URL ?? null, apiUrl: process.env.LORVANE_API_URL ?? null });
  }
  if (req.method !== 'GET' && req.method !== 'HEAD') return sendJson(res, 405, { error: 'method not allowed' });
  // One page for every view: the page itself picks its view from ?view= on load and on popstate.
  if (p === '/' || p === '/index.html') return serveStatic(res, 'index.html');
  if (p.startsWith('/static/')) return serveStatic(res, p.slice('/static/'.length));
  return sendJson(res, 404, { error: 'not found' });
}

const server = http.createServer((req, res) => {
  res.on('finish', () => log(`${req.method} ${req.url} ${res.statusCode}`));
  handle(req, res).catch((err) => {
    log(`error on ${req.method} ${req.url}: ${err.message}`);
    if (!res.headersSent) sendJson(res, 500, { error: 'internal error' });
    else res.destroy();
  });
});

server.on('error', (err) => {
  process.stderr.write(`${new Date().toISOString()} server: cannot listen on ${host}:${port}: ${err.message}\n`);
  process.exit(1);
});

function shutdown(signal) {
  log(`${signal} received, stopping`);
  server.close(() => process.exit(0));
  // The web view keeps connections alive; without this close() would wait for them.
  server.closeAllConnections();
  // An upload still streaming in must not hold up the app's quit.
  setTimeout(() => process.exit(0), 1000).unref();
}
process.on('SIGTERM', () => shutdown('SIGTERM'));
process.on('SIGINT', () => shutdown('SIGINT'));

server.listen(port, host, () => {
  log(`listening on http://${host}:${port} (voice worker ${voiceApi.origin}, state in ${stateDir})`);
});
