// Faults only the real app shows, as rows of one table: each arranges the fault, launches the app,
// checks what a person sees, and quits with Ctrl+Q, after which nothing the app started runs on.
import assert from 'node:assert/strict';
import http from 'node:http';
import { test } from 'node:test';
import { openApp, quit } from './support/harness.mjs';
import { lane, press, waitForText } from './support/lanes.mjs';
import { readText, waitFor } from './support/util.mjs';

const webProcesses = (app) => app.leftovers().filter((pid) => readText(`/proc/${pid}/comm`).startsWith('WebKitWebProces'));

// One getUserMedia call for the microphone, its outcome as data: the script of every asking page.
const ASK = `const askMicrophone = () => navigator.mediaDevices.getUserMedia({ audio: true })
  .then((stream) => { stream.getTracks().forEach((track) => track.stop()); return { granted: true }; }, (err) => ({ granted: false, error: err.name }));`;

// The local page asks for itself, then from a frame of another host.
const MEDIA_PAGE = `${ASK}
(async () => {
  await report({ type: 'media', where: 'local page', ...(await askMicrophone()) });
  const answer = new Promise((resolve) => addEventListener('message', (e) => resolve(e.data)));
  document.body.append(Object.assign(document.createElement('iframe'), { allow: 'microphone', src: settings.frame }));
  await report({ type: 'media', where: 'frame', ...(await answer) });
})();`;

const FAULTS = [
  {
    name: 'the web process ends: the page is back; ended a fourth time within the minute, a page in Russian says so, and its button brings the page back',
    async check(app, window) {
      for (let kill = 1; kill <= 4; kill += 1) {
        for (const pid of await waitFor('a web process', () => webProcesses(app).length && webProcesses(app))) process.kill(pid, 'SIGKILL');
        if (kill < 4) await waitFor(`the page to be back after kill ${kill}`, () => app.reports('load').length === kill + 1, { timeout: 5000 });
      }
      await waitForText('the stopped page', window.id, (s) => s.includes('Страница перестала работать'));
      await press('return');
      await waitFor('the page to be back from the button', () => app.reports('load').length === 5);
    },
  },
  {
    // The quitting app still owns the app's name while its worker is given its grace: the launch
    // reaches it, and is honoured once the quit is over. check() returns the window to quit then.
    name: 'a launch while the app quits, its worker still stopping: once the quit is over the app is back, with that launch\'s startup id',
    options: { worker: { ignoresTerm: true } },
    async check(app, window) {
      await lane.focus(window.id);
      await press('ctrl+q');
      await app.waitRecord('worker', 'to be asked to stop', (r) => r.signals.length > 0);
      const startupId = `relaunch-${process.pid}_TIME${Date.now() % 1e9}`;
      assert.deepEqual(await app.waitExit(await app.launch({ DESKTOP_STARTUP_ID: startupId }), 15_000), { code: 0, signal: null });
      assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
      const back = await waitFor('the app to come back', async () => (await lane.views()).find((v) => v.name === 'Lorvane' && v.pid !== app.first.pid),
        { timeout: 30_000, interval: 200 });
      assert.ok(readText(`/proc/${back.pid}/environ`).split('\0').includes(`DESKTOP_STARTUP_ID=${startupId}`));
      await waitFor('the page from its own server', () => app.records('server').filter((r) => r.reports.length).length === 2, { timeout: 30_000 });
      return back;
    },
  },
  {
    // WebKitGTK does not say which frame asks: the shell tracks which hosts the page's frames come from.
    name: 'the microphone goes to the local page, not to a frame from another host in it',
    async options(t) {
      const other = http.createServer((req, res) => res.writeHead(200, { 'content-type': 'text/html' })
        .end(`<script>${ASK}\naskMicrophone().then((outcome) => parent.postMessage(outcome, '*'));</script>`));
      await new Promise((resolve) => other.listen(0, '127.0.0.2', resolve));
      t.after(() => { other.closeAllConnections(); other.close(); });
      // WebKit's fake devices: no sound is recorded here.
      return { server: { frame: `http://127.0.0.2:${other.address().port}/`, script: MEDIA_PAGE }, env: { LORVANE_TEST_MOCK_CAPTURE: '1' } };
    },
    async check(app) {
      const asked = await waitFor('both answers', () => app.reports('media').length === 2 && app.reports('media'), { timeout: 20_000 });
      assert.deepEqual(asked.map((r) => r.granted), [true, false], JSON.stringify(asked));
    },
  },
];

for (const row of FAULTS) {
  test(row.name, async (t) => {
    const { app, window } = await openApp(t, typeof row.options === 'function' ? await row.options(t) : row.options);
    assert.deepEqual(await quit(app, (await row.check(app, window)) ?? window), { code: 0, signal: null });
  });
}
