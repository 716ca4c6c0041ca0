// Every way the app can end, one row per mechanism, and what each leaves running. The services
// have helpers of their own; the server ends on SIGTERM, the voice worker and its helper ignore
// it, so that only the shell's SIGKILL after the grace ends them. The developer launcher outlives
// the app by design. A shell killed outright is the real-process tests' (KilledShell).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { openApp } from './support/harness.mjs';
import { lane, press } from './support/lanes.mjs';
import { isRunning, readText, waitFor } from './support/util.mjs';

const keys = (chord) => async (app, window) => {
  await lane.focus(window.id);
  await press(chord);
};
const PATHS = [
  { name: 'menu quit', quit: keys('ctrl+q') },
  { name: 'window close', quit: keys('alt+f4') },
  // SIGINT and SIGHUP take the same way as SIGTERM.
  { name: 'SIGTERM', quit: (app) => process.kill(app.first.pid, 'SIGTERM') },
  // Asked again while the worker is still given its grace, once the server has heard the first request.
  { name: 'second request', async quit(app) {
    process.kill(app.first.pid, 'SIGTERM');
    await app.waitRecord('server', 'to hear the first request', (r) => r.signals.length > 0);
    process.kill(app.first.pid, 'SIGTERM');
  } },
];

for (const row of PATHS) {
  test(`${row.name}: no service or helper left running; the launcher survives`, async (t) => {
    const { app, window } = await openApp(t, { server: { helper: true }, worker: { helper: true, ignoresTerm: true } }, (arranging) => {
      fs.mkdirSync(`${arranging.dataHome}/Lorvane/backend`, { recursive: true });
      fs.writeFileSync(`${arranging.dataHome}/Lorvane/backend/start-lorvane.sh`, `#!/bin/sh\necho $$ >> '${arranging.recordDir}/launchers'\nexec sleep 600\n`, { mode: 0o755 });
    });
    const [server, worker] = await Promise.all(['server', 'worker'].map((role) => app.waitRecord(role, 'to start')));
    const launchers = () => fs.readFileSync(`${app.recordDir}/launchers`, 'utf8').split('\n').filter(Boolean).map(Number);
    const [launcher] = await waitFor('the launcher to start', launchers);
    await row.quit(app, window);
    assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
    // The web processes end once the shell is gone, the services once their grace is over.
    const left = () => app.leftovers().filter((pid) => !launchers().includes(pid));
    await waitFor('everything of the app to end', () => left().length === 0, { timeout: 8000 }).catch(() => {});
    assert.deepEqual(left(), [], `left: ${left().map((pid) => readText(`/proc/${pid}/cmdline`))}; services ${[server, worker].map((r) => [r.pid, r.helper])}`);
    assert.ok(isRunning(launcher), 'the launcher survives');
  });
}
