// Fault matrix, update check: manifests that are huge, cut, silent, redirected, untrusted or mistyped.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { appForTest } from './support/harness.mjs';
import { startManifestServer } from './support/manifest-server.mjs';
import { residentKiB } from './support/procs.mjs';
import { reportFigure } from './support/figures.mjs';
import { certificatesForFile } from './support/update-server.mjs';
import { dialogs, waitForDialog } from './support/accessibility.mjs';
import { focusWindow, key, windowsOf } from './support/desktop.mjs';
import { waitFor } from './support/util.mjs';
import { ALERTS } from './support/pages.mjs';
const MiB = 1024 * 1024;
// Generous: a shell that kept a 100 MB body would grow by far more than this.
const RSS_GROWTH_LIMIT_KIB = 64 * 1024;

const certs = certificatesForFile();

const rows = [
  { name: 'a 100 MB body of unknown length', mode: 'huge-chunked', huge: true },
  { name: 'a 100 MB body with its length declared', mode: 'huge-declared', huge: true },
  { name: 'a body cut off mid-way', mode: 'cut' },
  { name: 'a server that never answers (8 s time-out)', mode: 'silent' },
  { name: 'a redirect from https to http', mode: 'redirect-http' },
  { name: 'a self-signed certificate', mode: 'ok', certificate: 'selfSigned' },
  { name: 'a version that is a number', mode: 'version-number' },
  { name: 'a version that is an array', mode: 'version-array' },
  { name: 'a version that is null', mode: 'version-null' },
];

// Samples the shell's resident memory until stopped; the peak is what a body could have cost.
function memorySampler(pid) {
  let peak = residentKiB(pid) ?? 0;
  const timer = setInterval(() => { peak = Math.max(peak, residentKiB(pid) ?? 0); }, 25);
  return { stop: () => { clearInterval(timer); return Math.max(peak, residentKiB(pid) ?? 0); } };
}

async function assertNoAlertFor(app, ms) {
  const until = Date.now() + ms;
  while (Date.now() < until) assert.deepEqual(await dialogs(app.busAddress, app.first.pid), [], 'no alert is shown');
}

async function dismissAlert(app, mainWindow) {
  const id = await waitFor('the alert window', async () => (await windowsOf(app.first.pid)).find((w) => w !== mainWindow) ?? false);
  await focusWindow(id);
  await key('Return');
  await waitFor('the alert to close', async () => (await dialogs(app.busAddress, app.first.pid)).length === 0);
}

for (const row of rows) {
  test(`${row.name}: nothing from the automatic check, a failure alert from the menu${row.huge ? ', memory bounded' : ''}`, async (t) => {
    const server = await startManifestServer({ ...certs[row.certificate ?? 'trusted'], mode: row.mode });
    const app = appForTest(t, { env: { LORVANE_TEST_UPDATE_ORIGIN: server.origin, LORVANE_TEST_CA_FILE: certs.caFile } }, server.close);
    await app.launch();
    const window = await app.window();
    await app.waitLoaded();

    // The automatic check runs three seconds after launch; it is over once its exchange has ended.
    await waitFor('the automatic check to end', () => server.finished() >= 1, { timeout: 20_000 });
    await assertNoAlertFor(app, 2000);

    const checkFromMenu = async () => {
      await focusWindow(window);
      await key('F10', 'Down', 'Return');
      const [alert] = await waitForDialog(app.busAddress, app.first.pid, 'the failure alert', 20_000);
      assert.deepEqual(alert, ALERTS.failed);
    };
    await checkFromMenu();
    await dismissAlert(app, window);
    let checks = 2;
    if (row.huge) {
      // Once more, now that the menu and the alert have been built once: what the shell grows by
      // now is what the body cost it.
      const baseline = residentKiB(app.first.pid);
      const sampler = memorySampler(app.first.pid);
      await checkFromMenu();
      const peak = sampler.stop();
      await dismissAlert(app, window);
      checks += 1;
      t.diagnostic(`resident memory ${baseline} KiB before the check, peak ${peak} KiB while it read the body`);
      reportFigure({ kind: 'manifest', row: row.name, growthKiB: peak - baseline });
      assert.ok(peak - baseline < RSS_GROWTH_LIMIT_KIB, `the shell grew by ${peak - baseline} KiB`);
      // The server wrote on only as far as the socket buffers took it after the shell stopped reading.
      for (const r of server.requests) assert.ok(r.sentBytes < 8 * MiB, `the shell read on to ${r.sentBytes} bytes`);
    }
    const attempts = row.certificate ? server.tlsErrors.length : server.requests.length;
    assert.equal(attempts, checks, 'one exchange per check');
    assert.deepEqual(server.plainRequests, [], 'nothing was ever fetched in clear text');
    assert.deepEqual(await app.quitCleanly(window), { code: 0, signal: null });
  });
}
