// Launch as the user sees it: loading page, readiness probes, then the web app, and what the services got.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { appForTest, testFolder } from './support/harness.mjs';
import { lane, screenSizeForTest, waitForText, screenshot, windowAppId, windowGeometry, windowIconSizes, windowName } from './support/desktop.mjs';
import { isAlive } from './support/procs.mjs';
import { waitFor } from './support/util.mjs';
import { LOADING_TEXT } from './support/pages.mjs';
const PUBLIC_URL = 'https://phone.tail4e7d1.ts.net';

test('the loading page shows until the server answers; probes come every 0.3 s; then the web app loads', async (t) => {
  // The server answers 503 (not ready) until the test has seen enough probes to time them.
  const app = appForTest(t, { server: { mode: 'gated' } });
  await app.launch();
  const window = await app.mainWindow();
  assert.equal(await windowName(window), 'Lorvane');
  assert.equal((await windowGeometry(window)).WIDTH, 1440);
  // On X11 the window hands its icon over in several sizes; on Wayland the compositor finds it
  // by the app id, the name of the desktop entry.
  if (lane().name === 'x11') {
    const iconSizes = await windowIconSizes(window);
    assert.ok(['16x16', '48x48', '128x128'].every((size) => iconSizes.includes(size)), `window icon sizes: ${iconSizes}`);
  } else {
    assert.equal(await windowAppId(window), 'app.lorvane.Lorvane');
  }
  const loading = await waitForText('the loading page', window, (text) => text.includes(LOADING_TEXT));
  assert.match(loading, /Lorvane/);
  assert.equal(app.reports('load').length, 0, 'the web app is not shown while the server is not ready');
  await app.waitRecord('server', 'ten probes', (rec) => rec.requests.length >= 10);
  app.openGate();

  const load = await app.waitLoaded();
  assert.equal(load.href, 'http://127.0.0.1:3001/');
  assert.match(load.userAgent, /LorvaneMac\/0\.1$/);
  const page = await waitForText('the web app page', window, (text) => text.includes('Тестовая страница'));
  assert.ok(!page.includes(LOADING_TEXT));
  await screenshot('web-app');

  const requests = app.pageRequests();
  assert.ok(requests.every((r) => r.method === 'GET'), 'only GET requests');
  const notReady = requests.filter((r) => r.status === 503);
  assert.ok(notReady.every((r) => r.url === '/'), 'probes ask for /');
  const gaps = notReady.slice(1).map((r, i) => Math.round(r.at - notReady[i].at));
  t.diagnostic(`probe gaps while not ready (ms): ${gaps}`);
  const median = [...gaps].sort((a, b) => a - b)[Math.floor(gaps.length / 2)];
  assert.ok(median > 200 && median < 600, `gaps between probes ${gaps} ms`);
  // One last probe that got the 200 and the page load itself; nothing probes after that.
  const ready = requests.filter((r) => r.url === '/' && r.status === 200);
  assert.equal(ready.length, 2, `GET / after the server became ready: ${ready.length}`);
  assert.ok(ready[0].at > notReady[notReady.length - 1].at);
  assert.match(ready[1].userAgent, /LorvaneMac\/0\.1$/, 'the page request carries the app name in its user agent');
});

// Smaller screens: the largest window that fits, the menu bar included, but not below 1024 × 700.
for (const [width, height] of [[1280, 800], [1024, 768]]) {
  test(`on a ${width}×${height} screen the window opens as large as the screen`, async (t) => {
    await screenSizeForTest(t, width, height);
    const app = appForTest(t);
    await app.launch();
    const g = await windowGeometry(await app.mainWindow());
    assert.deepEqual([g.WIDTH, g.HEIGHT], [width, height]);
  });
}

// A developer's launcher script: notes how it was started, then keeps running like a backend would.
const LAUNCHER = `#!/bin/sh
out=$(readlink /proc/$$/fd/1)
{ echo "pid=$$"; echo "cwd=$(pwd)"; echo "args=$#"; echo "stdout=$out"; } > "$(dirname "$0")/launcher.txt"
echo "this output goes nowhere"
exec sleep 600
`;

test('the launcher, the voice worker and the server start in that order with their arguments, folders and environment', async (t) => {
  const folder = testFolder(t, 'workspace');
  const workspace = folder.path;
  fs.writeFileSync(path.join(workspace, 'start-lorvane.sh'), LAUNCHER, { mode: 0o755 });
  folder.handOver();
  const app = appForTest(t, {
    // Inherited variables reach both children; PORT and HOST are replaced for the server only.
    env: { PORT: '9999', HOST: '0.0.0.0', LORVANE_E2E_INHERITED: 'kept', NODE_ENV: 'development', LORVANE_WORKSPACE: workspace },
  });
  fs.mkdirSync(path.join(app.dataHome, 'Lorvane'), { recursive: true });
  fs.writeFileSync(path.join(app.dataHome, 'Lorvane/voice-phone-public-url'), `  ${PUBLIC_URL}\n`);
  // Last launch's logs must be emptied.
  fs.mkdirSync(path.dirname(app.serverLog), { recursive: true });
  fs.writeFileSync(app.serverLog, 'old server output\n');
  fs.writeFileSync(app.voiceLog, 'old worker output\n');

  await app.launch();
  await app.waitLoaded();
  const server = app.record('server');
  const worker = await app.waitRecord('worker', 'to listen', (rec) => rec.listening);
  const share = fs.realpathSync(app.share);
  const node = path.join(share, 'runtime/node');

  const cases = [
    { rec: server, argv: [node, path.join(share, 'server/server.mjs')], cwd: share },
    { rec: worker, argv: [node, path.join(share, 'voice-worker/src/server.mjs')], cwd: path.join(share, 'voice-worker') },
  ];
  for (const { rec, argv, cwd } of cases) {
    // Node reports argv[0] as the resolved runtime; the script path is as the app passed it.
    assert.equal(fs.realpathSync(rec.argv[0]), fs.realpathSync(argv[0]), `${rec.role} runtime`);
    assert.deepEqual(rec.argv.slice(1).map((p) => fs.realpathSync(p)), argv.slice(1), `${rec.role} arguments`);
    assert.deepEqual(rec.execArgv, [], `${rec.role} gets no runtime flags`);
    assert.equal(fs.realpathSync(rec.cwd), cwd, `${rec.role} working directory`);
  }

  const inherited = {
    HOME: app.home, XDG_STATE_HOME: app.stateHome, LORVANE_E2E_INHERITED: 'kept',
    DISPLAY: process.env.DISPLAY, WAYLAND_DISPLAY: process.env.WAYLAND_DISPLAY,
  };
  const expected = {
    server: {
      ...inherited, NODE_ENV: 'production', PORT: '3001', HOST: '127.0.0.1',
      LORVANE_API_URL: 'http://127.0.0.1:5055', LORVANE_VOICE_API_URL: 'http://127.0.0.1:6061',
      LORVANE_GATEWAY_STATE_DIR: path.join(app.dataHome, 'Lorvane/gateway'), LORVANE_VOICE_PUBLIC_URL: PUBLIC_URL,
    },
    worker: {
      ...inherited, NODE_ENV: 'production', PORT: '9999', HOST: '0.0.0.0',
      LORVANE_VOICE_PORT: '6061', LORVANE_VOICE_DATA_DIR: path.join(app.dataHome, 'Lorvane/voice'),
      LORVANE_API_URL: undefined, LORVANE_VOICE_API_URL: undefined, LORVANE_GATEWAY_STATE_DIR: undefined, LORVANE_VOICE_PUBLIC_URL: undefined,
    },
  };
  for (const rec of [server, worker]) {
    const seen = Object.fromEntries(Object.keys(expected[rec.role]).map((k) => [k, rec.env[k]]));
    assert.deepEqual(seen, expected[rec.role], `${rec.role} environment`);
  }
  assert.ok(fs.statSync(path.join(app.dataHome, 'Lorvane/gateway')).isDirectory());
  assert.ok(fs.statSync(path.join(app.dataHome, 'Lorvane/voice')).isDirectory());

  for (const [log, role] of [[app.serverLog, 'server'], [app.voiceLog, 'worker']]) {
    const text = fs.readFileSync(log, 'utf8');
    assert.match(text, new RegExp(`fixture ${role} started`), `${role} stdout in its log`);
    assert.match(text, new RegExp(`fixture ${role} stderr line`), `${role} stderr in its log`);
    assert.doesNotMatch(text, /old .* output|goes nowhere/, `${role} log emptied at start, and only its own`);
  }

  const notes = await waitFor('the launcher\'s notes', () => {
    const text = fs.existsSync(path.join(workspace, 'launcher.txt')) && fs.readFileSync(path.join(workspace, 'launcher.txt'), 'utf8');
    return text && text.includes('stdout=') ? text : false;
  });
  const launcher = Object.fromEntries(notes.trim().split('\n').map((l) => l.split('=')));
  assert.deepEqual({ cwd: launcher.cwd, args: launcher.args, stdout: launcher.stdout }, { cwd: workspace, args: '0', stdout: '/dev/null' });
  // Process ids are handed out in fork order.
  const pids = [Number(launcher.pid), worker.pid, server.pid];
  assert.deepEqual([...pids].sort((a, b) => a - b), pids, `launcher, worker, server started in that order: ${pids}`);

  // Quitting ends the two services but not what the launcher started.
  process.kill(app.first.pid, 'SIGTERM');
  await app.waitExit();
  await waitFor('the services to stop', () => !isAlive(server.pid) && !isAlive(worker.pid));
  assert.ok(isAlive(Number(launcher.pid)), 'the launcher keeps running after the app quits');
});
