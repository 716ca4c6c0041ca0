// What the page inside the window experiences: the voice-notes shortcut and the capture-device policy.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { appForTest } from './support/harness.mjs';
import { waitForText, focusWindow, key } from './support/desktop.mjs';
import { APP_PORT, portOpen, waitFor } from './support/util.mjs';
import { LOADING_TEXT } from './support/pages.mjs';

const ORIGIN = 'http://127.0.0.1:3001';

test('Alt+Shift+V does nothing on the loading page, then pushes ?view=voice with a popstate and no reload', async (t) => {
  const app = appForTest(t, { server: { mode: 'gated' } });
  await app.launch();
  const window = await app.mainWindow();
  await focusWindow(window);
  await key('alt+shift+v');
  // Proof that the shortcut was handled before the web app came: the loading page is still
  // there after it, and the server has answered nothing but 503 so far.
  assert.ok((await waitForText('the loading page', window, (s) => s.includes('Lorvane'))).includes(LOADING_TEXT));
  assert.equal(app.reports('load').length, 0);
  app.openGate();

  const load = await app.waitLoaded();
  assert.equal(load.href, `${ORIGIN}/`, 'the shortcut before loading did not redirect the first load');
  assert.equal(app.reports('popstate').length, 0);
  assert.ok(!app.pageRequests().some((r) => r.url.includes('view=voice')), 'no voice view was requested while loading');
  await waitForText('the web app', window, (s) => s.includes('Вид: main'));

  const pageLoads = () => app.pageRequests().filter((r) => r.method === 'GET' && (r.url === '/' || r.url.startsWith('/?'))).length;
  const loadsBefore = pageLoads();
  await focusWindow(window);
  for (const expectedLength of [load.historyLength + 1, load.historyLength + 2]) {
    await key('alt+shift+v');
    const pops = await waitFor('a popstate report', () => {
      const all = app.reports('popstate');
      return all.length > 0 && all[all.length - 1].historyLength === expectedLength ? all : false;
    });
    const pop = pops[pops.length - 1];
    assert.equal(pop.href, `${ORIGIN}/?view=voice`);
    assert.equal(pop.state, null);
    assert.equal(pop.loadId, load.loadId, 'the same document, not a reloaded one');
  }
  assert.equal(app.reports('load').length, 1, 'the page was never reloaded');
  assert.equal(pageLoads(), loadsBefore, 'nothing was fetched from the server for the voice view');
  await waitForText('the voice view', window, (s) => s.includes('Вид: voice'));
});

test('when the page refuses the history change, Alt+Shift+V loads the voice view afresh', async (t) => {
  const app = appForTest(t, { server: { mode: 'ok', refuseHistory: true } });
  await app.launch();
  const window = await app.mainWindow();
  const first = await app.waitLoaded();
  await focusWindow(window);
  await key('alt+shift+v');
  const second = await waitFor('the voice view to load', () => app.reports('load').find((r) => r.loadId !== first.loadId));
  assert.equal(second.href, `${ORIGIN}/?view=voice`);
  assert.equal(app.reports('popstate').length, 0);
  assert.deepEqual(app.pageRequests().filter((r) => r.method === 'GET' && r.url !== '/favicon.ico').map((r) => r.url).slice(-2), ['/', '/?view=voice'],
    'one new request, for the voice view');

  // With the server gone the fallback load fails, and the voice view stays in the window: no
  // error page of the web view's own.
  process.kill(app.record('server').pid, 'SIGKILL');
  await waitFor('the server to be gone', async () => !(await portOpen(APP_PORT)));
  await waitForText('the voice view', window, (s) => s.includes('Вид: voice'));
  await key('alt+shift+v');
  await assert.rejects(waitForText('another page', window, (s) => !s.includes('Вид: voice'), 4000), /timed out/);
});

test('the local page gets the microphone, alone or with the camera, but never the camera alone', async (t) => {
  const app = appForTest(t, { server: { mode: 'ok', probeMedia: true } });
  await app.launch();
  await app.waitLoaded();
  await app.waitRecord('server', 'the page to finish asking for devices', (rec) => rec.reports.some((r) => r.type === 'media-done'), 20_000);
  const decisions = app.reports('media').map((r) => ({
    constraints: Object.keys(r.constraints).sort().join('+'), granted: r.granted, kinds: r.kinds ?? null, error: r.error ?? null,
  }));
  assert.deepEqual(decisions, [
    { constraints: 'audio', granted: true, kinds: ['audio'], error: null },
    { constraints: 'video', granted: false, kinds: null, error: 'NotAllowedError' },
    { constraints: 'audio+video', granted: true, kinds: ['audio', 'video'], error: null },
  ]);
});
