// The window as a person meets it: the loading page, then the web app; the voice-notes shortcut,
// which waits for the web app and then changes its view without a reload; a second launch.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { openApp } from './support/harness.mjs';
import { coloursIn, copyText, coverWindow, lane, press, view } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

const APP = 'http://127.0.0.1:3001/';

test('the loading page until the server answers, then the web app; Alt+Shift+V acts once it is there, without reload', async (t) => {
  const { app, window } = await openApp(t, { server: { gated: true }, loaded: false });
  // 1440 wide, the web view 900 high below the menu bar; the icon where the lane shows it.
  assert.equal(window.width, 1440);
  assert.ok(window.height >= 900 && window.height < 960, `height ${window.height}`);
  if (lane.name === 'x11') {
    const icons = await lane.iconSizes(window.id);
    assert.ok(['16x16', '48x48', '128x128'].every((size) => icons.includes(size)), `icon sizes ${icons}`);
  } else {
    assert.equal(window.appId, 'app.lorvane.Lorvane');
  }
  // Painted, not only there: a window whose renderer draws nothing shows one colour.
  await waitFor('the loading page to be painted', async () => (await coloursIn(window)) > 10, { timeout: 20_000, interval: 300 });
  assert.match(await copyText(window.id), /Lorvane/);
  await press('alt+shift+v');
  await app.waitRecord('server', 'probes that found it not ready', (r) => r.requests.filter((q) => q.status === 503).length >= 2);
  fs.writeFileSync(app.gate, '');

  const load = await app.waitLoaded();
  assert.equal(load.href, APP, 'the shortcut on the loading page redirected nothing');
  assert.match(load.userAgent, /LorvaneMac\/0\.1$/);
  assert.doesNotMatch(await copyText(window.id), /Lorvane/);
  for (const extra of [1, 2]) {
    await press('alt+shift+v');
    const pop = await waitFor('the voice view', () => app.reports('popstate')[extra - 1]);
    assert.deepEqual(pop, { type: 'popstate', state: null, historyLength: load.historyLength + extra, loadId: load.loadId, href: `${APP}?view=voice` });
  }
  assert.equal(app.reports('load').length, 1, 'the page was never reloaded');
  assert.deepEqual(app.record('server').requests.filter((r) => r.url.includes('voice')), [], 'nothing was fetched for the voice view');
});

test('the window keeps its minimum size; a second launch gives it the keyboard again and starts nothing', async (t) => {
  const { app, window } = await openApp(t);
  await lane.resize(window.id, 800, 500);
  const menuBar = window.height - 900;
  await waitFor('the window to stop at 1024 wide and 700 for the page', async () => {
    const now = await view(window.id);
    return now.width === 1024 && now.height - menuBar === 700;
  });

  // Started from another window, as from a launcher there: on Wayland only the activation token it
  // hands over lets the compositor give the app the keyboard.
  const cover = await coverWindow(t);
  const second = await app.launch(await cover.launchEnvironment());
  assert.deepEqual(await app.waitExit(second, 15_000), { code: 0, signal: null }, 'the second launch hands over and exits');
  await waitFor('the window to have the keyboard again', async () => (await view(window.id)).focused);
  assert.equal(app.records('server').length + app.records('worker').length, 2, 'one server and one worker were ever started');
  assert.equal(app.reports('load').length, 1, 'the page was not loaded again');
  assert.deepEqual(app.record('server').signals, []);
});
