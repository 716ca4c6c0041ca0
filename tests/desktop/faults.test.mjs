// Faults only the real app shows, as rows of one table: each arranges the fault, launches the app,
// checks what a person sees, and quits with Ctrl+Q, after which nothing the app started runs on.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { test } from 'node:test';
import { openApp, quit } from './support/harness.mjs';
import { setTimeout as sleep } from 'node:timers/promises';
import { lane, press, waitForText } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

// One getUserMedia call for what ?ask= names (the microphone if nothing), its outcome as data: the
// script of every asking page.
const ASK = `const ask = new URLSearchParams(location.search).get('ask') ?? 'audio';
const askMicrophone = () => navigator.mediaDevices.getUserMedia({ audio: ask.includes('audio'), video: ask.includes('video') })
  .then((stream) => { stream.getTracks().forEach((track) => track.stop()); return { granted: true }; }, (err) => ({ granted: false, error: err.name }));`;

// A page on another origin that asks for the microphone and tells its parent (when framed) and its
// own server what it got; with ?then=<url> it starts the web view's way there first, in the same turn.
async function askingOrigin(t, host) {
  const outcomes = [];
  const server = http.createServer((req, res) => {
    if (req.method === 'POST') return req.on('data', (d) => outcomes.push(JSON.parse(d))).on('end', () => res.end());
    return res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' }).end(`<!doctype html><meta charset="utf-8"><script>${ASK}
const then = new URLSearchParams(location.search).get('then');
if (then) location.href = then;
askMicrophone().then((outcome) => {
  if (window !== top) parent.postMessage(outcome, '*');
  else fetch('/', { method: 'POST', body: JSON.stringify(outcome) });
});</script>`);
  });
  await new Promise((resolve) => server.listen(0, host, resolve));
  t.after(() => { server.closeAllConnections(); server.close(); });
  return { origin: `http://${host}:${server.address().port}`, outcomes };
}

// The local page asks for itself, then from frames allowed to ask, then leaves for a remote page.
const MEDIA_PAGE = `${ASK}
(async () => {
  await report({ type: 'media', where: 'local page', ...(await askMicrophone()) });
  for (const src of settings.frames) {
    const answer = new Promise((resolve) => addEventListener('message', (e) => e.origin === new URL(src).origin && resolve(e.data)));
    document.body.append(Object.assign(document.createElement('iframe'), { allow: 'microphone; camera', src }));
    await report({ type: 'media', where: src, ...(await answer) });
  }
  location.href = settings.remote;
})();`;

// The app's web processes, among everything it started.
function webProcesses(app) {
  const parents = new Map();
  for (const pid of fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      parents.set(Number(pid), { parent: Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]), name: stat.slice(stat.indexOf('(') + 1, stat.lastIndexOf(')')) });
    } catch { /* gone meanwhile */ }
  }
  const descends = (pid) => pid > 1 && (pid === app.first.pid || descends(parents.get(pid)?.parent ?? 0));
  return [...parents].filter(([pid, { name }]) => name.startsWith('WebKitWebProces') && descends(pid)).map(([pid]) => pid);
}

const FAULTS = [
  {
    name: 'the web process ends: the page is back; ended a fourth time within the minute, a page in Russian says so, and its button brings the page back',
    async check(app, window) {
      await app.waitLoaded();
      for (let kill = 1; kill <= 4; kill += 1) {
        const victims = webProcesses(app);
        assert.notDeepEqual(victims, [], 'a web process to end');
        for (const pid of victims) process.kill(pid, 'SIGKILL');
        if (kill < 4) await waitFor(`the page to be back after kill ${kill}`, () => app.reports('load').length === kill + 1, { timeout: 5000 });
      }
      await waitForText('the stopped page', window.id, (s) => s.includes('Страница перестала работать'));
      await press('return');
      await waitFor('the page to be back from the button', () => app.reports('load').length === 5);
      assert.equal(app.first.stderr().match(/web process crashed/g)?.length, 4, app.first.stderr());
    },
  },
  {
    // The quitting app still owns the app's name while its worker is given its grace: the launch
    // reaches it, and is honoured once the quit is over. check() returns the window to quit then.
    name: 'a launch while the app quits, its worker still stopping: once the quit is over the app is back, with that launch\'s startup id',
    options: { worker: { ignoresTerm: true } },
    async check(app, window) {
      await app.waitLoaded();
      await lane.focus(window.id);
      await press('ctrl+q');
      await sleep(500);
      const startupId = `relaunch-${process.pid}_TIME${Date.now() % 1e9}`;
      assert.deepEqual(await app.waitExit(await app.launch({ DESKTOP_STARTUP_ID: startupId }), 15_000), { code: 0, signal: null });
      assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
      const back = await waitFor('the app to come back', async () => (await lane.views()).find((v) => v.name === 'Lorvane' && v.pid !== app.first.pid),
        { timeout: 30_000, interval: 200 });
      assert.ok(fs.readFileSync(`/proc/${back.pid}/environ`, 'latin1').split('\0').includes(`DESKTOP_STARTUP_ID=${startupId}`));
      await waitFor('its own services, and the page from its server', () => app.records('worker').length === 2 && app.records('server')
        .some((r) => r.reports.some((e) => e.type === 'load') && app.records('server').length === 2 && r !== app.records('server')[0]), { timeout: 30_000 });
      return back;
    },
  },
  {
    name: 'a page that refuses the history change: Alt+Shift+V loads the voice view afresh, which a failed load then leaves in the window',
    options: { server: { refuseHistory: true } },
    async check(app, window) {
      const first = await app.waitLoaded();
      await press('alt+shift+v');
      const second = await waitFor('the voice view to load', () => app.reports('load').find((r) => r.loadId !== first.loadId));
      assert.equal(second.href, 'http://127.0.0.1:3001/?view=voice');
      assert.equal(app.reports('popstate').length, 0);
      // With the server gone the next load fails: no error page of the web view's own takes its place.
      process.kill(app.record('server').pid, 'SIGKILL');
      await press('alt+shift+v');
      await assert.rejects(waitForText('another page', window.id, (s) => !s.includes('Вид: voice'), 4000), /timed out/);
    },
  },
  {
    name: 'the bundle has no runtime: the launch-error page at once, naming the server log',
    arrange: (app) => fs.rmSync(path.join(app.share, 'runtime/node')),
    async check(app, window) {
      // Well inside the 30 s readiness limit: this page can only come from the failed start.
      await waitForText('the launch-error page', window.id, (s) => s.includes(app.serverLog), 15_000);
      assert.deepEqual(app.records('server'), []);
    },
  },
  {
    name: 'every user folder and HOME itself are files: the services start and the web app loads all the same',
    arrange(app) {
      for (const variable of ['HOME', 'XDG_DATA_HOME', 'XDG_STATE_HOME', 'XDG_CACHE_HOME', 'XDG_CONFIG_HOME']) {
        app.options.env = { ...app.options.env, [variable]: path.join(app.root, variable) };
        fs.writeFileSync(path.join(app.root, variable), 'not a folder\n');
      }
    },
    async check(app) {
      await Promise.all([app.waitLoaded(), app.waitRecord('worker', 'to listen', (r) => r.listening)]);
    },
  },
  {
    // WebKitGTK does not say which frame asks: once a frame from a host that is not local has loaded,
    // the page asks in vain until the next page commits; a remote page is judged by its own host
    // while its way back to a local one is still pending.
    name: 'the microphone goes to local hosts only, never the camera alone: not to a frame from another host, nor to a remote page on its way back',
    async options(t) {
      // WebKit remembers an origin's answer for the rest of the page: one question per origin.
      const [camera, both, otherHost] = await Promise.all(['127.0.0.1', '127.0.0.1', '127.0.0.2'].map((host) => askingOrigin(t, host)));
      this.remote = otherHost;
      const remote = `${otherHost.origin}/?then=${encodeURIComponent('http://localhost:3001/slow')}`;
      const frames = [`${camera.origin}/?ask=video`, `${both.origin}/?ask=audio,video`, otherHost.origin];
      // The camera policy needs a camera: WebKit's fake devices, as no sound is recorded here.
      return { server: { frames, remote, script: MEDIA_PAGE }, env: { LORVANE_TEST_MOCK_CAPTURE: '1' } };
    },
    async check(app) {
      const remote = await waitFor('the remote page to answer', () => this.remote.outcomes[0], { timeout: 20_000 });
      // The local page comes back once the remote one has gone its way: only its first visit counts.
      const first = app.reports('media').filter((r, _, all) => r.loadId === all[0].loadId);
      assert.deepEqual([...first.map((r) => r.granted), remote.granted], [true, false, true, false, false],
        JSON.stringify([...first, remote]));
    },
  },
];

for (const row of FAULTS) {
  test(row.name, async (t) => {
    const options = typeof row.options === 'function' ? await row.options(t) : row.options;
    const { app, window } = await openApp(t, { ...options, arrange: row.arrange, loaded: false });
    const shown = (await row.check(app, window)) ?? window;
    assert.deepEqual(await quit(app, shown), { code: 0, signal: null });
  });
}
