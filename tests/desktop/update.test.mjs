// The update check against a local update server: which alert each answer brings, the downloads
// page opened from the window, and an open alert that does not hold up quitting.
import assert from 'node:assert/strict';
import http from 'node:http';
import { Readable } from 'node:stream';
import path from 'node:path';
import { test } from 'node:test';
import { dialogs } from './support/a11y.mjs';
import { openApp, write } from './support/harness.mjs';
import { lane, press } from './support/lanes.mjs';
import { residentKiB, waitFor } from './support/util.mjs';
import fs from 'node:fs';

const figures = process.env.LORVANE_RELIABILITY_FIGURES;

// Each row: what the update server answers (a body, or nothing listening), the version the alert
// names (the release's, the installed one, or none for a failure) and its buttons.
const ROWS = [
  { name: 'a newer release', body: '{"version":"9.9.9"}', names: '9.9.9', buttons: 2 },
  { name: 'the installed release', body: JSON.stringify({ version: process.env.LORVANE_VERSION }), names: process.env.LORVANE_VERSION, buttons: 1 },
  { name: 'no update server', body: null, names: null, buttons: 1 },
  // Streamed on and on: the check must fail without the shell keeping the body.
  { name: 'a 100 MB manifest', body: 'huge', names: null, buttons: 1, lanes: ['x11'] },
];

// The huge body is 1,600 blocks of 64 KiB after the version, sent as fast as the reader takes them.
const HUGE = ['{"version":"9.9.9","padding":"', ...Array(1600).fill(Buffer.alloc(1 << 16, 'x'))];

async function startUpdateServer(t, body) {
  const server = http.createServer((req, res) => (body === 'huge' ? Readable.from(HUGE).pipe(res) : res.end(body)));
  t.after(() => { server.closeAllConnections(); server.close(); });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;
  // Nothing listens once a server that should not be there has gone.
  if (body === null) server.close();
  return origin;
}

// The desktop's handler for web links, as GIO finds it: its "browser" notes each URL it was given
// with the startup id or activation token it was started with, which let a browser come forward.
function installBrowser(app) {
  const opened = path.join(app.root, 'opened');
  write(path.join(app.root, 'bin/browser'), `#!/bin/sh\necho "$1 $DESKTOP_STARTUP_ID$XDG_ACTIVATION_TOKEN" >> '${opened}'\n`, 0o755);
  write(path.join(app.dataHome, 'applications/test-browser.desktop'),
    `[Desktop Entry]\nType=Application\nName=Browser\nExec=${app.root}/bin/browser %u\nStartupNotify=true\nMimeType=x-scheme-handler/http;\n`);
  write(path.join(app.home, '.config/mimeapps.list'), '[Default Applications]\nx-scheme-handler/http=test-browser.desktop\n');
  return () => (fs.existsSync(opened) ? fs.readFileSync(opened, 'utf8').trim().split('\n') : []);
}

for (const row of ROWS.filter((r) => !r.lanes || r.lanes.includes(lane.name))) {
  test(`${row.name}: the alert it brings${row.buttons === 2 ? ', whose first button opens the downloads page' : ''}`, async (t) => {
    const origin = await startUpdateServer(t, row.body);
    const options = { env: { LORVANE_TEST_UPDATE_ORIGIN: origin }, arrange: installBrowser };
    const { app, window, arranged: opened } = await openApp(t, options);
    // The menu's second item checks now; a newer release is announced by the check at launch too.
    const alert = async () => {
      const [shown] = await waitFor('an alert', () => dialogs(app.busAddress, app.first.pid).then((open) => open.length === 1 && open), { timeout: 20_000 });
      assert.equal(shown.labels.join(' ').match(/\d+\.\d+\.\d+/)?.[0] ?? null, row.names, `the alert says ${shown.labels}`);
      assert.equal(shown.buttons.length, row.buttons);
      return (await lane.views()).find((v) => v.pid === app.first.pid && v.id !== window.id);
    };
    if (row.buttons === 2) {
      await lane.focus((await alert()).id);
      await press('return');
      const [url, vouch] = (await waitFor('the downloads page to open', () => opened()[0])).split(' ');
      assert.equal(url, `${origin}/#downloads`);
      assert.ok(vouch, 'the browser is started with a startup id or activation token');
    }
    const before = residentKiB(app.first.pid);
    let peak = before;
    const sampler = setInterval(() => { peak = Math.max(peak, residentKiB(app.first.pid)); }, 25);
    await lane.focus(window.id);
    await press('f10', 'down', 'return');
    await alert();
    clearInterval(sampler);
    if (row.body === 'huge' && figures) fs.appendFileSync(figures, `${JSON.stringify({ kind: 'manifest', row: row.name, growthKiB: peak - before })}\n`);
    // Quitting with an alert open ends the app at once.
    process.kill(app.first.pid, 'SIGTERM');
    assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
    assert.deepEqual(opened().length, row.buttons === 2 ? 1 : 0);
  });
}
