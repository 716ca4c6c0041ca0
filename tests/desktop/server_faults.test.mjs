// Fault matrix, server side: a server that fails, stalls or is beaten to its port, and broken resources.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { appForTest } from './support/harness.mjs';
import { ERROR_HEADING, LOADING_TEXT, errorPageLines } from './support/pages.mjs';
import { zombieChildren } from './support/procs.mjs';
import { APP_PORT, VOICE_PORT, waitFor, waitPortsFree } from './support/util.mjs';
import { copyAllText } from './support/desktop.mjs';

const EXITING_SERVER = `// A server that gives up at once, as one with a broken configuration does.
process.stderr.write('server: cannot read its settings: simulated start-up failure\\n');
process.exit(1);
`;

const lines = (text) => text.split('\n').map((l) => l.trim()).filter(Boolean);

const stalledServers = [
  { name: 'exits at once with an error', options: { serverScript: EXITING_SERVER }, log: /simulated start-up failure/ },
  { name: 'answers 503 forever', options: { server: { mode: '503' } }, log: /fixture server started/ },
  { name: 'accepts connections and never answers', options: { server: { mode: 'never' } }, log: /fixture server started/ },
];

for (const row of stalledServers) {
  test(`a server that ${row.name}: the launch-error page after 30 s, the app responsive, quit clean`, async (t) => {
    const app = appForTest(t, row.options);
    await app.launch();
    const window = await app.window();
    await app.waitForPageText(window, LOADING_TEXT);
    const text = await app.waitForPageText(window, ERROR_HEADING, 60_000, 1000);
    const waited = (Date.now() - app.launchedAt) / 1000;
    t.diagnostic(`launch-error page ${waited.toFixed(1)} s after launch`);
    assert.ok(waited >= 29, `the error page came ${waited.toFixed(1)} s after launch, before the time limit`);
    assert.deepEqual(lines(text), errorPageLines(app.serverLog));
    assert.match(app.readLog('server'), row.log, 'the server\'s own words are in its log');
    assert.deepEqual(zombieChildren(app.first.pid), [], 'a service that ended was reaped by the shell');
    // Still answering the keyboard and the clipboard after the failure, and quitting cleanly.
    assert.deepEqual(lines(await copyAllText(window)), errorPageLines(app.serverLog));
    assert.deepEqual(await app.quitCleanly(window), { code: 0, signal: null });
  });
}

// Each row breaks the bundle before launch; the previous run's logs must survive for the user.
const runtimeOf = (app) => path.join(app.share, 'runtime/node');
const brokenResources = [
  { name: 'the runtime is missing', workerStarts: false, arrange: (app) => fs.rmSync(runtimeOf(app)) },
  {
    name: 'the runtime is not executable',
    workerStarts: false,
    arrange: (app) => {
      fs.rmSync(runtimeOf(app));
      fs.writeFileSync(runtimeOf(app), '#!/bin/sh\nexit 0\n', { mode: 0o644 });
    },
  },
  {
    name: 'the runtime is a directory',
    workerStarts: false,
    arrange: (app) => {
      fs.rmSync(runtimeOf(app));
      fs.mkdirSync(runtimeOf(app));
    },
  },
  { name: 'the server script is missing', workerStarts: true, arrange: (app) => fs.rmSync(path.join(app.share, 'server/server.mjs')) },
];

for (const row of brokenResources) {
  test(`${row.name}: the launch-error page at once and the previous server log untouched`, async (t) => {
    const app = appForTest(t, {});
    row.arrange(app);
    fs.mkdirSync(path.dirname(app.serverLog), { recursive: true });
    fs.writeFileSync(app.serverLog, 'previous run: the server said goodbye\n');
    fs.writeFileSync(app.voiceLog, 'previous run: the worker said goodbye\n');
    const past = new Date(Date.now() - 3600_000);
    fs.utimesSync(app.serverLog, past, past);
    const before = fs.statSync(app.serverLog);

    await app.launch();
    const window = await app.window();
    // Well inside the 30 s readiness limit, so this page can only come from the failed start.
    const text = await app.waitForPageText(window, ERROR_HEADING, 15_000);
    assert.deepEqual(lines(text), errorPageLines(app.serverLog));
    assert.equal(app.readLog('server'), 'previous run: the server said goodbye\n');
    assert.equal(fs.statSync(app.serverLog).mtimeMs, before.mtimeMs, 'the server log was not even rewritten');
    assert.equal(app.records('server').length, 0, 'no server was started');
    assert.ok(!fs.existsSync(path.join(app.dataHome, 'Lorvane/gateway')), 'no gateway folder was made');
    if (row.workerStarts) {
      await app.waitRecord('worker', 'to listen', (rec) => rec.listening);
    } else {
      assert.equal(app.records('worker').length, 0, 'no voice worker was started');
      assert.equal(app.readLog('voice'), 'previous run: the worker said goodbye\n');
    }
    assert.deepEqual(await app.quitCleanly(window), { code: 0, signal: null });
  });
}

test('a missing voice worker script: the app loads normally and no voice data folder appears', async (t) => {
  const app = appForTest(t, {});
  fs.rmSync(path.join(app.share, 'voice-worker/src/server.mjs'));
  await app.launch();
  const window = await app.window();
  const load = await app.waitLoaded();
  assert.equal(load.href, `http://127.0.0.1:${APP_PORT}/`);
  assert.ok(!fs.existsSync(path.join(app.dataHome, 'Lorvane/voice')), 'no voice data folder');
  assert.ok(!fs.existsSync(app.voiceLog), 'no voice worker log');
  assert.equal(app.records('worker').length, 0);
  assert.equal(app.record('server').env.LORVANE_VOICE_API_URL, `http://127.0.0.1:${VOICE_PORT}`);
  assert.deepEqual(await app.quitCleanly(window), { code: 0, signal: null });
});

test('a foreign server answering 404 on the app port is loaded, and our server\'s bind failure is in its log', async (t) => {
  const seen = [];
  const foreign = http.createServer((req, res) => {
    seen.push({ url: req.url, userAgent: req.headers['user-agent'] ?? '' });
    res.writeHead(404, { 'content-type': 'text/html; charset=utf-8' }).end('<!doctype html><title>Чужой</title><h1>Чужой сервер</h1>');
  });
  await waitPortsFree([APP_PORT], 30_000);
  await new Promise((resolve, reject) => foreign.once('error', reject).listen(APP_PORT, '127.0.0.1', resolve));
  const closeForeign = () => new Promise((resolve) => { foreign.closeAllConnections(); foreign.close(resolve); });
  const app = appForTest(t, { realServer: true, foreignPorts: true }, closeForeign);

  await app.launch();
  const window = await app.window();
  await waitFor('the web view to load the foreign page', () => seen.some((r) => /LorvaneMac\/0\.1$/.test(r.userAgent)), { timeout: 20_000 });
  assert.match(await app.waitForPageText(window, 'Чужой сервер'), /Чужой сервер/);
  const log = await waitFor('the bind failure in server.log', () => /EADDRINUSE/.test(app.readLog('server') ?? '') && app.readLog('server'));
  assert.match(log, new RegExp(`cannot listen on 127\\.0\\.0\\.1:${APP_PORT}: .*EADDRINUSE`));

  // The foreign server keeps the app port; the worker's port must be free again.
  assert.deepEqual(await app.quitCleanly(window, [VOICE_PORT]), { code: 0, signal: null });
});
