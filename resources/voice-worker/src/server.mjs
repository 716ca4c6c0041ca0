// Voice worker: stores voice-note recordings on disk and lists them, over HTTP on 127.0.0.1.
import http from 'node:http';
import fs from 'node:fs/promises';
import { createWriteStream } from 'node:fs';
import path from 'node:path';
import crypto from 'node:crypto';
import { pipeline } from 'node:stream/promises';
import { Transform } from 'node:stream';

const port = Number.parseInt(process.env.LORVANE_VOICE_PORT ?? '6061', 10);
const dataDir = path.resolve(process.env.LORVANE_VOICE_DATA_DIR ?? path.join(process.cwd(), 'data'));
const notesDir = path.join(dataDir, 'notes');

// A recording longer than a few minutes is not a voice note; the cap also keeps a runaway
// upload from filling the disk.
const MAX_UPLOAD_BYTES = 20 * 1024 * 1024;

// Only audio containers a browser's MediaRecorder produces; the extension comes from this table,
// never from the request, so nothing the client sends ends up in a file name.
const AUDIO_TYPES = new Map([
  ['audio/webm', 'webm'],
  ['audio/ogg', 'ogg'],
  ['audio/mp4', 'm4a'],
  ['audio/mpeg', 'mp3'],
  ['audio/wav', 'wav'],
  ['audio/x-wav', 'wav'],
]);

// Note ids are generated here; anything else in a URL is refused before it reaches the file system.
const NOTE_ID = /^[0-9]{13}-[0-9a-f]{8}$/;

function log(message) {
  process.stdout.write(`${new Date().toISOString()} voice-worker: ${message}\n`);
}

function sendJson(res, status, body) {
  const text = JSON.stringify(body);
  res.writeHead(status, { 'content-type': 'application/json; charset=utf-8', 'content-length': Buffer.byteLength(text) });
  res.end(text);
}

async function writeAtomically(file, data) {
  const temp = `${file}.${process.pid}.${crypto.randomBytes(4).toString('hex')}.tmp`;
  await fs.writeFile(temp, data);
  await fs.rename(temp, file);
}

async function readMeta(id) {
  try {
    return JSON.parse(await fs.readFile(path.join(notesDir, `${id}.json`), 'utf8'));
  } catch {
    return null;
  }
}

async function listNotes() {
  let names;
  try {
    names = await fs.readdir(notesDir);
  } catch (err) {
    if (err.code === 'ENOENT') return [];
    throw err;
  }
  const ids = names.filter((n) => n.endsWith('.json')).map((n) => n.slice(0, -5)).filter((id) => NOTE_ID.test(id));
  const notes = (await Promise.all(ids.map(readMeta))).filter(Boolean);
  return notes.sort((a, b) => b.createdAt.localeCompare(a.createdAt));
}

// Counts bytes as they pass and drops everything past the cap, so a body without a
// Content-Length (chunked) is bounded on disk too. The rest of the body is still read: closing
// the connection mid-upload would make the client miss the 413 answer.
function sizeLimit(limit) {
  let seen = 0;
  const stream = new Transform({
    transform(chunk, _enc, done) {
      seen += chunk.length;
      if (seen > limit) {
        stream.tooLarge = true;
        done();
      } else {
        done(null, chunk);
      }
    },
  });
  stream.tooLarge = false;
  return stream;
}

async function createNote(req, res) {
  const type = String(req.headers['content-type'] ?? '').split(';')[0].trim().toLowerCase();
  const ext = AUDIO_TYPES.get(type);
  if (!ext) return sendJson(res, 415, { error: 'unsupported content type' });
  const declared = Number(req.headers['content-length'] ?? 0);
  if (declared > MAX_UPLOAD_BYTES) {
    // Node reads and discards the unread body after this answer, keeping the client's upload
    // from failing before it sees the status.
    return sendJson(res, 413, { error: 'recording too large' });
  }
  await fs.mkdir(notesDir, { recursive: true });
  const id = `${Date.now()}-${crypto.randomBytes(4).toString('hex')}`;
  const audioName = `${id}.${ext}`;
  const temp = path.join(notesDir, `${audioName}.upload`);
  const limit = sizeLimit(MAX_UPLOAD_BYTES);
  try {
    await pipeline(req, limit, createWriteStream(temp));
  } catch (err) {
    await fs.rm(temp, { force: true });
    throw err;
  }
  if (limit.tooLarge) {
    await fs.rm(temp, { force: true });
    return sendJson(res, 413, { error: 'recording too large' });
  }
  const { size } = await fs.stat(temp);
  if (size === 0) {
    await fs.rm(temp, { force: true });
    return sendJson(res, 400, { error: 'empty recording' });
  }
  await fs.rename(temp, path.join(notesDir, audioName));
  const meta = {
    id,
    createdAt: new Date().toISOString(),
    contentType: type,
    size,
    file: audioName,
    title: String(req.headers['x-note-title'] ?? '').slice(0, 200),
  };
  await writeAtomically(path.join(notesDir, `${id}.json`), JSON.stringify(meta, null, 2));
  log(`stored note ${id} (${size} bytes, ${type})`);
  sendJson(res, 201, meta);
}

async function sendNoteAudio(res, id) {
  const meta = NOTE_ID.test(id) ? await readMeta(id) : null;
  if (!meta) return sendJson(res, 404, { error: 'no such note' });
  const data = await fs.readFile(path.join(notesDir, path.basename(meta.file)));
  res.writeHead(200, { 'content-type': meta.contentType, 'content-length': data.length });
  res.end(data);
}

async function handle(req, res) {
  const url = new URL(req.url, 'http://127.0.0.1');
  const parts = url.pathname.split('/').filter(Boolean);
  if (url.pathname === '/health' && req.method === 'GET') return sendJson(res, 200, { ok: true });
  if (parts[0] !== 'notes') return sendJson(res, 404, { error: 'not found' });
  if (parts.length === 1 && req.method === 'GET') return sendJson(res, 200, { notes: await listNotes() });
  if (parts.length === 1 && req.method === 'POST') return createNote(req, res);
  if (parts.length === 2 && req.method === 'GET') {
    if (!NOTE_ID.test(parts[1])) return sendJson(res, 400, { error: 'bad note id' });
    const meta = await readMeta(parts[1]);
    return meta ? sendJson(res, 200, meta) : sendJson(res, 404, { error: 'no such note' });
  }
  if (parts.length === 3 && parts[2] === 'audio' && req.method === 'GET') {
    if (!NOTE_ID.test(parts[1])) return sendJson(res, 400, { error: 'bad note id' });
    return sendNoteAudio(res, parts[1]);
  }
  return sendJson(res, 405, { error: 'method not allowed' });
}

const server = http.createServer((req, res) => {
  handle(req, res).catch((err) => {
    log(`error on ${req.method} ${req.url}: ${err.message}`);
    if (!res.headersSent) sendJson(res, 500, { error: 'internal error' });
    else res.destroy();
  });
});

server.on('error', (err) => {
  process.stderr.write(`${new Date().toISOString()} voice-worker: cannot listen on 127.0.0.1:${port}: ${err.message}\n`);
  process.exit(1);
});

function shutdown(signal) {
  log(`${signal} received, stopping`);
  server.close(() => process.exit(0));
  server.closeAllConnections();
  // An upload still streaming in must not hold up the app's quit.
  setTimeout(() => process.exit(0), 1000).unref();
}
process.on('SIGTERM', () => shutdown('SIGTERM'));
process.on('SIGINT', () => shutdown('SIGINT'));

server.listen(port, '127.0.0.1', () => {
  log(`listening on 127.0.0.1:${port}, notes in ${notesDir}`);
});
