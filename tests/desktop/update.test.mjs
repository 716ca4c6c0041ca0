// The update check against a local HTTPS update server: alerts, the downloads page, untrusted certificates.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { appForTest } from './support/harness.mjs';
import { ALERTS } from './support/pages.mjs';
import { focusWindow, key, screenshot, windowsOf } from './support/desktop.mjs';
import { dialogs, waitForDialog } from './support/accessibility.mjs';
import { certificatesForFile, startUpdateServer } from './support/update-server.mjs';
import { waitFor } from './support/util.mjs';

const { newer: NEWER, upToDate: UP_TO_DATE, failed: FAILED } = ALERTS;

const certs = certificatesForFile();

async function startApp(t, { certificate, version }) {
  const server = await startUpdateServer({ ...certs[certificate], manifest: { version, notes: 'ignored' } });
  t.after(() => server.close());
  const app = appForTest(t, { env: { LORVANE_TEST_UPDATE_ORIGIN: server.origin, LORVANE_TEST_CA_FILE: certs.caFile } });
  await app.launch();
  const window = await app.mainWindow();
  return { app, server, window };
}

// The alert is the app's one window besides the main one; the keyboard goes where the pointer is.
async function focusAlert(app, mainWindow) {
  const id = await waitFor('the alert window', async () => (await windowsOf(app.first.pid)).find((w) => w !== mainWindow) ?? false);
  await focusWindow(id);
}

async function checkFromMenu(window) {
  await focusWindow(window);
  // F10 opens the first menu with its first item ("Об Lorvane") selected; the update item is next.
  await key('F10', 'Down', 'Return');
}

// Nothing shows up for a while after the check has certainly run: the only way to see "no alert".
async function assertNoAlertFor(app, ms) {
  const until = Date.now() + ms;
  while (Date.now() < until) {
    assert.deepEqual(await dialogs(app.busAddress, app.first.pid), [], 'no alert is shown');
  }
}

test('a newer release is announced three seconds after launch, and "Открыть загрузки" opens the downloads page', async (t) => {
  const { app, server, window } = await startApp(t, { certificate: 'trusted', version: '9.9.9' });
  const [alert] = await waitForDialog(app.busAddress, app.first.pid, 'the update alert');
  assert.deepEqual(alert, NEWER);
  assert.deepEqual(server.requests.map((r) => `${r.method} ${r.url}`), ['GET /releases/latest.json']);
  await screenshot('update-alert');

  await focusAlert(app, window);
  await key('Return');
  const opened = await waitFor('the downloads page to be opened', () => app.openedUrls().length > 0 && app.openedUrls());
  assert.deepEqual(opened, [`${server.origin}/#downloads`]);
  const [{ startupId, activationToken }] = app.openings();
  assert.ok(startupId || activationToken, 'the browser is started with a startup id or token, so it may come to the front');
  await waitFor('the alert to close', async () => (await dialogs(app.busAddress, app.first.pid)).length === 0);

  // The same release again from the menu; dismissing it opens nothing.
  await checkFromMenu(window);
  assert.deepEqual((await waitForDialog(app.busAddress, app.first.pid, 'the second update alert'))[0], NEWER);
  await focusAlert(app, window);
  await key('Escape');
  await waitFor('the alert to close', async () => (await dialogs(app.busAddress, app.first.pid)).length === 0);
  assert.equal(server.requests.length, 2, 'each check fetches the manifest afresh');
  assert.deepEqual(app.openedUrls(), [`${server.origin}/#downloads`], 'dismissing opened nothing more');
});

test('the same version is silent at launch and reported as current from the menu', async (t) => {
  const { app, server, window } = await startApp(t, { certificate: 'trusted', version: '0.1.0' });
  await waitFor('the automatic check', () => server.requests.length === 1, { timeout: 15_000 });
  await assertNoAlertFor(app, 2000);

  await checkFromMenu(window);
  assert.deepEqual((await waitForDialog(app.busAddress, app.first.pid, 'the up-to-date alert'))[0], UP_TO_DATE);
  assert.equal(server.requests.length, 2);
});

test('an update server with an untrusted certificate is silent at launch and a failure from the menu', async (t) => {
  const { app, server, window } = await startApp(t, { certificate: 'selfSigned', version: '9.9.9' });
  await waitFor('the automatic check to be refused at the TLS handshake', () => server.tlsErrors.length === 1, { timeout: 15_000 });
  await assertNoAlertFor(app, 2000);
  assert.equal(server.requests.length, 0, 'no request got through');

  await checkFromMenu(window);
  assert.deepEqual((await waitForDialog(app.busAddress, app.first.pid, 'the failure alert'))[0], FAILED);
  assert.equal(server.tlsErrors.length, 2);
  await screenshot('update-failure-alert');
});

// Which answer quitting gives the alert is the backend's to show (tests/gtk); from outside, the
// alert must simply not hold the app up.
test('quitting while the update alert is open ends the app at once', async (t) => {
  const { app } = await startApp(t, { certificate: 'trusted', version: '9.9.9' });
  await waitForDialog(app.busAddress, app.first.pid, 'the update alert');
  process.kill(app.first.pid, 'SIGTERM');
  assert.deepEqual(await app.waitExit(app.first, 10_000), { code: 0, signal: null });
});
