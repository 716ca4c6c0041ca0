// The bundled server and voice worker as real processes over HTTP, without the app: what the page
// relies on (notes, byte ranges, WAV lengths) and what must be refused.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  APP_PORT, VOICE_PORT, BUNDLE_DIR, assertPortsFree, waitPortsFree, portOpen, startProcess, stopProcess, waitFor,
} from '../desktop/support/util.mjs';

const base = `http://127.0.0.1:${APP_PORT}`;
const voice = `http://127.0.0.1:${VOICE_PORT}`;
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-services-'));
let worker;
let server;

function startService(script, cwd, env) {
  return startProcess(path.join(BUNDLE_DIR, 'runtime/node'), [path.join(BUNDLE_DIR, script)], {
    cwd: path.join(BUNDLE_DIR, cwd), env: { ...process.env, NODE_ENV: 'production', ...env },
  });
}
const notesDir = () => path.join(tmp, 'voice/notes');
const notesOnDisk = () => (fs.existsSync(notesDir()) ? fs.readdirSync(notesDir()).sort() : []);

async function createNote(audio, type = 'audio/webm') {
  const created = await fetch(`${base}/api/voice/notes`, { method: 'POST', headers: { 'content-type': type }, body: audio });
  assert.equal(created.status, 201);
  return created.json();
}

before(async () => {
  await assertPortsFree();
  worker = startService('voice-worker/src/server.mjs', 'voice-worker',
    { LORVANE_VOICE_PORT: String(VOICE_PORT), LORVANE_VOICE_DATA_DIR: path.join(tmp, 'voice') });
  server = startService('server/server.mjs', '.', {
    PORT: String(APP_PORT), HOST: '127.0.0.1', LORVANE_API_URL: 'http://127.0.0.1:5055',
    LORVANE_VOICE_API_URL: voice, LORVANE_GATEWAY_STATE_DIR: path.join(tmp, 'gateway'),
  });
  await waitFor('both services to listen', async () => (await portOpen(APP_PORT)) && (await portOpen(VOICE_PORT)));
});

after(async () => {
  await stopProcess(server);
  await stopProcess(worker);
  await waitPortsFree();
  fs.rmSync(tmp, { recursive: true, force: true });
});

test('a note goes through the server to the worker and comes back whole, or in the byte range asked', async () => {
  const audio = Buffer.from(Array.from({ length: 4096 }, (_, i) => (i * 31) % 256));
  const note = await createNote(audio, 'audio/webm;codecs=opus');
  assert.deepEqual((await (await fetch(`${base}/api/voice/notes`)).json()).notes.map((n) => n.id), [note.id]);
  assert.equal((await (await fetch(`${base}/api/voice/notes/${note.id}`)).json()).contentType, 'audio/webm');
  assert.deepEqual(notesOnDisk(), [`${note.id}.json`, `${note.id}.webm`]);
  const cases = [
    [undefined, 200, null, 0, 4096],
    ['bytes=0-99', 206, 'bytes 0-99/4096', 0, 100],
    ['bytes=-96', 206, 'bytes 4000-4095/4096', 4000, 4096],
    ['bytes=4096-', 416, 'bytes */4096', 0, 0],
  ];
  for (const [range, status, contentRange, start, end] of cases) {
    const answer = await fetch(`${base}/api/voice/notes/${note.id}/audio`, { headers: range ? { range } : {} });
    const seen = [answer.status, answer.headers.get('content-range'), answer.headers.get('accept-ranges'),
      answer.headers.get('content-type'), Number(answer.headers.get('content-length'))];
    assert.deepEqual(seen, [status, contentRange, 'bytes', 'audio/webm', end - start], range);
    assert.deepEqual(Buffer.from(await answer.arrayBuffer()), audio.subarray(start, end), range);
  }
});

// A WAV file's header as the web app writes it (16-bit mono at `rate`), before `frames` samples.
function wav(frames, rate = 16000) {
  const head = Buffer.alloc(44);
  head.write('RIFF', 0);
  head.writeUInt32LE(36 + frames * 2, 4);
  head.write('WAVEfmt ', 8);
  [[16, 16, 4], [1, 20, 2], [1, 22, 2], [rate, 24, 4], [rate * 2, 28, 4], [2, 32, 2], [16, 34, 2]]
    .forEach(([value, at, size]) => head.writeUIntLE(value, at, size));
  head.write('data', 36);
  head.writeUInt32LE(frames * 2, 40);
  return Buffer.concat([head, Buffer.alloc(frames * 2, 1)]);
}

// A body without Content-Length, so only counting the bytes can bound it.
function chunked(count, size) {
  return new ReadableStream({
    pull(controller) { if (count-- > 0) controller.enqueue(new Uint8Array(size)); else controller.close(); },
  });
}

test('deletes remove exactly one note; a WAV note has its header\'s length; what leaves the data folder, overflows it or only says it is WAV is refused', async () => {
  const wavNote = await createNote(wav(24000), 'audio/wav');
  assert.deepEqual([wavNote.durationMs, wavNote.file], [1500, `${wavNote.id}.wav`]);
  const kept = await createNote(Buffer.from('kept'), 'audio/ogg');
  const doomed = await createNote(Buffer.from('doomed'));
  // Metadata that names another note's recording must not take that recording with it.
  const forged = await createNote(Buffer.from('forged'));
  fs.writeFileSync(path.join(notesDir(), `${forged.id}.json`), JSON.stringify({ ...forged, file: kept.file }));
  const gone = [`${doomed.id}.json`, doomed.file, `${forged.id}.json`];
  const left = notesOnDisk().filter((file) => !gone.includes(file));
  const big = Buffer.alloc(20 * 1024 * 1024 + 1);
  const cases = [
    ['DELETE', `${base}/api/voice/notes/${doomed.id}`, 204],
    ['DELETE', `${base}/api/voice/notes/${forged.id}`, 204],
    ['DELETE', `${base}/api/voice/notes/..%2f..%2fgateway%2fstate.json`, 400],
    ['DELETE', `${voice}/notes/${kept.id}%2f..%2f..%2fgateway`, 400],
    ['GET', `${base}/api/voice/notes/..%2f..%2fetc%2fpasswd`, 400],
    ['GET', `${base}/static/..%2fserver.mjs`, 404],
    ['POST', `${base}/api/voice/notes`, 415, 'text/plain', Buffer.from('x')],
    ['POST', `${base}/api/voice/notes`, 400, 'audio/ogg', Buffer.alloc(0)],
    ['POST', `${base}/api/voice/notes`, 413, 'audio/webm', big],
    ['POST', `${voice}/notes`, 413, 'audio/webm', chunked(21, 1024 * 1024)],
    ['POST', `${base}/api/voice/notes`, 400, 'audio/wav', Buffer.from('RIFF....WAVEdata')],
    ['POST', `${base}/api/voice/notes`, 400, 'audio/wav', wav(100).subarray(0, 36)],
  ];
  for (const [method, url, status, type, body] of cases) {
    const answer = await fetch(url, { method, headers: type ? { 'content-type': type } : {}, body, duplex: 'half' });
    assert.equal(answer.status, status, `${method} ${url}`);
  }
  assert.deepEqual(notesOnDisk(), left, 'the deleted files are gone; refused uploads leave no file behind');
  assert.deepEqual(Buffer.from(await (await fetch(`${base}/api/voice/notes/${kept.id}/audio`)).arrayBuffer()),
    Buffer.from('kept'));
});
