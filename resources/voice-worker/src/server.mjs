// Voice worker: stores voice-note recordings on disk, lists, serves and deletes them, over HTTP on 127.0.0.1.
import http from 'node:http';
import fs from 'node:fs/promises';
import { createReadStream, createWriteStream } from 'node:fs';
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

// Audio containers a browser records (the web app itself sends WAV); the extension comes from this
// table, never from the request, so nothing the client sends ends up in a file name.
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

// A WAV recording's length from its header: the format chunk's byte rate and the size of the data
// chunk, which may be cut short by the end of the file. Null for a body that is no PCM or float WAV.
function wavDurationMs(head, fileSize) {
  if (head.length < 12 || head.toString('latin1', 0, 4) !== 'RIFF' || head.toString('latin1', 8, 12) !== 'WAVE') return null;
  let byteRate = 0;
  for (let at = 12; at + 8 <= head.length;) {
    const id = head.toString('latin1', at, at + 4);
    const length = head.readUInt32LE(at + 4);
    const body = at + 8;
    if (id === 'fmt ' && body + 16 <= head.length && [1, 3, 0xfffe].includes(head.readUInt16LE(body))) {
      byteRate = head.readUInt32LE(body + 8);
    }
    if (id === 'data') return byteRate > 0 ? Math.round((Math.min(length, fileSize - body) * 1000) / byteRate) : null;
    at = body + length + (length % 2);
  }
  return null;
}

async function readHead(file, bytes) {
  const handle = await fs.open(file);
  try {
    const { buffer, bytesRead } = await handle.read(Buffer.alloc(bytes), 0, bytes, 0);
    return buffer.subarray(0, bytesRead);
  } finally {
    await handle.close();
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
  // What says it is WAV is read as WAV: its length is shown in the list, so it must be true.
  let durationMs;
  if (ext === 'wav') {
    durationMs = wavDurationMs(await readHead(temp, 64 * 1024), size);
    if (durationMs === null) {
      await fs.rm(temp, { force: true });
      return sendJson(res, 400, { error: 'not a WAV recording' });
    }
  }
  await fs.rename(temp, path.join(notesDir, audioName));
  const meta = {
    id,
    createdAt: new Date().toISOString(),
    contentType: type,
    size,
    file: audioName,
    title: String(req.headers['x-note-title'] ?? '').slice(0, 200),
    ...(durationMs === undefined ? {} : { durationMs }),
  };
  await writeAtomically(path.join(notesDir, `${id}.json`), JSON.stringify(meta, null, 2));
  log(`stored note ${id} (${size} bytes, ${type})`);
  sendJson(res, 201, meta);
}

// The one byte range a media element asks for to seek ("bytes=0-", "bytes=100-199", "bytes=-500"),
// clipped to the file. Several ranges, other units and malformed values answer null, and the
// whole file is sent, as HTTP allows; 'unsatisfiable' is a range that starts past the end.
function byteRange(header, size) {
  const match = /^bytes=(\d*)-(\d*)$/.exec(String(header ?? '').trim());
  if (!match || (match[1] === '' && match[2] === '')) return null;
  const [first, last] = [match[1], match[2]].map((digits) => (digits === '' ? null : Number(digits)));
  if (first === null) {
    return last === 0 ? 'unsatisfiable' : { start: Math.max(0, size - last), end: size - 1 };
  }
  if (last !== null && last < first) return null;
  if (first >= size) return 'unsatisfiable';
  return { start: first, end: last === null ? size - 1 : Math.min(last, size - 1) };
}

async function sendNoteAudio(req, res, id) {
  const meta = await readMeta(id);
  if (!meta) return sendJson(res, 404, { error: 'no such note' });
  const file = path.join(notesDir, path.basename(String(meta.file)));
  let size;
  try {
    ({ size } = await fs.stat(file));
  } catch {
    return sendJson(res, 404, { error: 'no such note' });
  }
  const headers = { 'content-type': meta.contentType, 'accept-ranges': 'bytes' };
  const range = byteRange(req.headers.range, size);
  if (range === 'unsatisfiable') {
    res.writeHead(416, { ...headers, 'content-range': `bytes */${size}`, 'content-length': 0 });
    return res.end();
  }
  const { start, end } = range ?? { start: 0, end: size - 1 };
  if (range) headers['content-range'] = `bytes ${start}-${end}/${size}`;
  res.writeHead(range ? 206 : 200, { ...headers, 'content-length': end - start + 1 });
  try {
    await pipeline(createReadStream(file, { start, end }), res);
  } catch (err) {
    // A media element drops the rest of an answer whenever it seeks again.
    if (err.code !== 'ERR_STREAM_PREMATURE_CLOSE') throw err;
  }
}

async function deleteNote(res, id) {
  const meta = await readMeta(id);
  if (!meta) return sendJson(res, 404, { error: 'no such note' });
  // The metadata goes first: from then on the note is no longer listed, whatever happens next.
  await fs.rm(path.join(notesDir, `${id}.json`), { force: true });
  // Only the note's own recording: metadata that names some other file leaves that file alone.
  const audio = path.basename(String(meta.file ?? ''));
  if (audio.startsWith(`${id}.`)) await fs.rm(path.join(notesDir, audio), { force: true });
  log(`deleted note ${id}`);
  res.writeHead(204);
  res.end();
}

async function handle(req, res) {
  const url = new URL(req.url, 'http://127.0.0.1');
  const parts = url.pathname.split('/').filter(Boolean);
  if (url.pathname === '/health' && req.method === 'GET') return sendJson(res, 200, { ok: true });
  if (parts[0] !== 'notes') return sendJson(res, 404, { error: 'not found' });
  if (parts.length === 1 && req.method === 'GET') return sendJson(res, 200, { notes: await listNotes() });
  if (parts.length === 1 && req.method === 'POST') return createNote(req, res);
  if (parts.length === 1) return sendJson(res, 405, { error: 'method not allowed' });
  const note = parts.length === 2 || (parts.length === 3 && parts[2] === 'audio');
  if (!note) return sendJson(res, 404, { error: 'not found' });
  if (!NOTE_ID.test(parts[1])) return sendJson(res, 400, { error: 'bad note id' });
  if (parts.length === 2 && req.method === 'GET') {
    const meta = await readMeta(parts[1]);
    return meta ? sendJson(res, 200, meta) : sendJson(res, 404, { error: 'no such note' });
  }
  if (parts.length === 2 && req.method === 'DELETE') return deleteNote(res, parts[1]);
  if (parts.length === 3 && req.method === 'GET') return sendNoteAudio(req, res, parts[1]);
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
