// The bundled server and voice worker on their own: notes round-trip, ranges, deletion, refusals, state and shutdown.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  APP_PORT, VOICE_PORT, BUNDLE_DIR, assertPortsFree, waitPortsFree, portOpen, startProcess, stopProcess, waitFor,
} from './support/util.mjs';

const node = fs.existsSync(path.join(BUNDLE_DIR, 'runtime/node')) ? path.join(BUNDLE_DIR, 'runtime/node') : process.execPath;
const base = `http://127.0.0.1:${APP_PORT}`;
let tmp;
let worker;
let server;

function startWorker() {
  return startProcess(node, [path.join(BUNDLE_DIR, 'voice-worker/src/server.mjs')], {
    cwd: path.join(BUNDLE_DIR, 'voice-worker'),
    env: { ...process.env, NODE_ENV: 'production', LORVANE_VOICE_PORT: String(VOICE_PORT), LORVANE_VOICE_DATA_DIR: path.join(tmp, 'voice') },
  });
}

function startServer() {
  return startProcess(node, [path.join(BUNDLE_DIR, 'server/server.mjs')], {
    cwd: BUNDLE_DIR,
    env: {
      ...process.env, NODE_ENV: 'production', PORT: String(APP_PORT), HOST: '127.0.0.1',
      LORVANE_API_URL: 'http://127.0.0.1:5055', LORVANE_VOICE_API_URL: `http://127.0.0.1:${VOICE_PORT}`,
      LORVANE_GATEWAY_STATE_DIR: path.join(tmp, 'gateway'),
    },
  });
}

before(async () => {
  await assertPortsFree();
  tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-services-'));
  worker = startWorker();
  server = startServer();
  await waitFor('both services to listen', async () => (await portOpen(APP_PORT)) && (await portOpen(VOICE_PORT)));
});

after(async () => {
  await stopProcess(server);
  await stopProcess(worker);
  await waitPortsFree();
  fs.rmSync(tmp, { recursive: true, force: true });
});

test('a recorded note goes through the server to the worker and comes back byte for byte', async () => {
  const audio = Buffer.from(Array.from({ length: 4096 }, (_, i) => (i * 31) % 256));
  const created = await fetch(`${base}/api/voice/notes`, { method: 'POST', headers: { 'content-type': 'audio/webm;codecs=opus' }, body: audio });
  assert.equal(created.status, 201);
  const note = await created.json();
  assert.equal(note.size, audio.length);

  const list = await (await fetch(`${base}/api/voice/notes`)).json();
  assert.deepEqual(list.notes.map((n) => n.id), [note.id]);
  const meta = await (await fetch(`${base}/api/voice/notes/${note.id}`)).json();
  assert.equal(meta.contentType, 'audio/webm');
  const back = await fetch(`${base}/api/voice/notes/${note.id}/audio`);
  assert.equal(back.headers.get('content-type'), 'audio/webm');
  assert.deepEqual(Buffer.from(await back.arrayBuffer()), audio);

  const stored = fs.readdirSync(path.join(tmp, 'voice/notes')).sort();
  assert.deepEqual(stored, [`${note.id}.json`, `${note.id}.webm`]);
});

async function createNote(audio, type = 'audio/webm') {
  const created = await fetch(`${base}/api/voice/notes`, { method: 'POST', headers: { 'content-type': type }, body: audio });
  assert.equal(created.status, 201);
  return created.json();
}

test('a note is served in byte ranges through the server, so the page can seek in it', async () => {
  const audio = Buffer.from(Array.from({ length: 4096 }, (_, i) => (i * 7 + 3) % 256));
  const note = await createNote(audio);
  const whole = { status: 200, range: null, body: [0, 4096] };
  const cases = [
    { name: 'no range', header: undefined, ...whole },
    { name: 'the start', header: 'bytes=0-99', status: 206, range: 'bytes 0-99/4096', body: [0, 100] },
    { name: 'from an offset to the end', header: 'bytes=4000-', status: 206, range: 'bytes 4000-4095/4096', body: [4000, 4096] },
    { name: 'the last bytes', header: 'bytes=-96', status: 206, range: 'bytes 4000-4095/4096', body: [4000, 4096] },
    { name: 'one byte', header: 'bytes=17-17', status: 206, range: 'bytes 17-17/4096', body: [17, 18] },
    { name: 'an end past the file, clipped', header: 'bytes=4000-99999', status: 206, range: 'bytes 4000-4095/4096', body: [4000, 4096] },
    { name: 'more last bytes than the file has', header: 'bytes=-99999', status: 206, range: 'bytes 0-4095/4096', body: [0, 4096] },
    { name: 'a start at the end', header: 'bytes=4096-', status: 416, range: 'bytes */4096', body: [0, 0] },
    { name: 'a start past the end', header: 'bytes=5000-6000', status: 416, range: 'bytes */4096', body: [0, 0] },
    { name: 'no last bytes', header: 'bytes=-0', status: 416, range: 'bytes */4096', body: [0, 0] },
    { name: 'end before start: ignored', header: 'bytes=5-2', ...whole },
    { name: 'several ranges: ignored', header: 'bytes=0-1,5-6', ...whole },
    { name: 'another unit: ignored', header: 'items=0-5', ...whole },
    { name: 'no numbers: ignored', header: 'bytes=-', ...whole },
  ];
  for (const c of cases) {
    const answer = await fetch(`${base}/api/voice/notes/${note.id}/audio`, { headers: c.header ? { range: c.header } : {} });
    const body = Buffer.from(await answer.arrayBuffer());
    assert.equal(answer.status, c.status, c.name);
    assert.equal(answer.headers.get('content-range'), c.range, c.name);
    assert.equal(answer.headers.get('accept-ranges'), 'bytes', c.name);
    assert.equal(Number(answer.headers.get('content-length')), c.body[1] - c.body[0], c.name);
    assert.deepEqual(body, audio.subarray(...c.body), c.name);
  }
});

test('a deleted note is gone from the list and the disk; a delete touches nothing else', async () => {
  const notesDir = path.join(tmp, 'voice/notes');
  const kept = await createNote(Buffer.from('kept'), 'audio/ogg');
  const doomed = await createNote(Buffer.from('doomed'));
  // Metadata that names another note's recording must not take that recording with it.
  const forged = await createNote(Buffer.from('forged'));
  const forgedMeta = path.join(notesDir, `${forged.id}.json`);
  fs.writeFileSync(forgedMeta, JSON.stringify({ ...forged, file: kept.file }));

  const cases = [
    { name: 'a note', url: `${base}/api/voice/notes/${doomed.id}`, status: 204 },
    { name: 'the same note again', url: `${base}/api/voice/notes/${doomed.id}`, status: 404 },
    { name: 'a note that never was', url: `${base}/api/voice/notes/1700000000000-00000000`, status: 404 },
    { name: 'metadata naming another recording', url: `${base}/api/voice/notes/${forged.id}`, status: 204 },
    { name: 'encoded traversal in a note id', url: `${base}/api/voice/notes/..%2f..%2fgateway%2fstate.json`, status: 400 },
    { name: 'traversal straight at the worker', url: `http://127.0.0.1:${VOICE_PORT}/notes/..%2f${kept.id}`, status: 400 },
    { name: 'a recording rather than its note', url: `${base}/api/voice/notes/${kept.id}/audio`, status: 405 },
    { name: 'the whole list', url: `${base}/api/voice/notes`, status: 405 },
  ];
  for (const c of cases) {
    assert.equal((await fetch(c.url, { method: 'DELETE' })).status, c.status, c.name);
  }
  const listed = (await (await fetch(`${base}/api/voice/notes`)).json()).notes.map((n) => n.id);
  assert.ok(listed.includes(kept.id) && !listed.includes(doomed.id) && !listed.includes(forged.id), listed.join(', '));
  const files = fs.readdirSync(notesDir);
  assert.deepEqual(files.filter((f) => f.startsWith(doomed.id) || f === `${forged.id}.json`), []);
  assert.ok(files.includes(kept.file) && files.includes(`${kept.id}.json`), 'the other note is untouched');
  assert.deepEqual(Buffer.from(await (await fetch(`${base}/api/voice/notes/${kept.id}/audio`)).arrayBuffer()), Buffer.from('kept'));
  assert.equal((await fetch(`${base}/api/voice/notes/${doomed.id}/audio`)).status, 404);
});

// A body sent without Content-Length, so only counting the bytes can bound it.
function chunked(count, size) {
  return new ReadableStream({
    pull(controller) {
      if (count-- > 0) controller.enqueue(new Uint8Array(size));
      else controller.close();
    },
  });
}

test('requests that try to leave the data folders or overflow it are refused', async () => {
  const cases = [
    { name: 'encoded traversal in a note id', url: `${base}/api/voice/notes/..%2f..%2fetc%2fpasswd`, status: 400 },
    { name: 'dot-dot segment, resolved away before any file is named', url: `${base}/api/voice/notes/%2e%2e/audio`, status: 404 },
    { name: 'traversal straight at the worker', url: `http://127.0.0.1:${VOICE_PORT}/notes/..%2fnotes%2f`, status: 400 },
    { name: 'static file outside public', url: `${base}/static/..%2fserver.mjs`, status: 404 },
    { name: 'not an audio type', url: `${base}/api/voice/notes`, method: 'POST', type: 'text/plain', body: Buffer.from('x'), status: 415 },
    { name: 'empty recording', url: `${base}/api/voice/notes`, method: 'POST', type: 'audio/ogg', body: Buffer.alloc(0), status: 400 },
    { name: 'over 20 MB via the server', url: `${base}/api/voice/notes`, method: 'POST', type: 'audio/webm', body: Buffer.alloc(20 * 1024 * 1024 + 1), status: 413 },
    { name: 'over 20 MB at the worker', url: `http://127.0.0.1:${VOICE_PORT}/notes`, method: 'POST', type: 'audio/webm', body: Buffer.alloc(20 * 1024 * 1024 + 1), status: 413 },
    { name: 'over 20 MB chunked, no length given', url: `http://127.0.0.1:${VOICE_PORT}/notes`, method: 'POST', type: 'audio/webm', body: chunked(21, 1024 * 1024), status: 413 },
  ];
  const before = fs.existsSync(path.join(tmp, 'voice/notes')) ? fs.readdirSync(path.join(tmp, 'voice/notes')).sort() : [];
  for (const c of cases) {
    const answer = await fetch(c.url, { method: c.method ?? 'GET', headers: c.type ? { 'content-type': c.type } : {}, body: c.body, duplex: 'half' });
    assert.equal(answer.status, c.status, c.name);
  }
  const afterList = fs.existsSync(path.join(tmp, 'voice/notes')) ? fs.readdirSync(path.join(tmp, 'voice/notes')).sort() : [];
  assert.deepEqual(afterList, before, 'refused uploads leave no file behind');
});

test('both views are one page, and the page state is kept in the gateway folder', async () => {
  for (const url of ['/', '/?view=voice']) {
    const page = await fetch(base + url);
    assert.equal(page.status, 200);
    const html = await page.text();
    assert.match(html, /Голосовые заметки/);
    assert.doesNotMatch(html, /https?:\/\/(?!127\.0\.0\.1)/, 'no external URLs');
  }
  const put = await fetch(`${base}/api/state`, { method: 'PUT', headers: { 'content-type': 'application/json' }, body: JSON.stringify({ note: 'купить хлеб', lastView: 'voice' }) });
  assert.equal(put.status, 200);
  const dir = path.join(tmp, 'gateway');
  const saved = JSON.parse(fs.readFileSync(path.join(dir, 'state.json'), 'utf8'));
  assert.equal(saved.note, 'купить хлеб');
  assert.equal(saved.lastView, 'voice');
  assert.deepEqual(fs.readdirSync(dir), ['state.json'], 'no temp file left after the rename');
  assert.equal((await fetch(`${base}/api/state`, { method: 'PUT', body: 'null' })).status, 400);
});

test('a second server on a taken port reports the error and exits non-zero', async () => {
  const second = startServer();
  const { code } = await second.exited;
  assert.notEqual(code, 0);
  assert.match(second.stderr(), /127\.0\.0\.1:3001.*EADDRINUSE/);
});

test('SIGTERM ends both services with status 0, leaving their start and stop lines', async () => {
  const cases = [['server', server, /listening on http:\/\/127\.0\.0\.1:3001/], ['voice worker', worker, /listening on 127\.0\.0\.1:6061/]];
  for (const [name, handle, startLine] of cases) {
    const result = await stopProcess(handle, { timeout: 3000 });
    assert.deepEqual({ code: result.code, signal: result.signal }, { code: 0, signal: null }, name);
    assert.match(handle.stdout(), startLine, name);
    assert.match(handle.stdout(), /SIGTERM received/, name);
  }
  await waitPortsFree();
});
