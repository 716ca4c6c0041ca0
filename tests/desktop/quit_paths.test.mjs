// Every way the app can end, as rows of one table, each for LORVANE_QUIT_CYCLES launch/quit cycles,
// and what each leaves behind. The services have helpers of their own; the server ends on SIGTERM,
// the voice worker and its helper ignore it, so that only the shell's SIGKILL after the grace
// ends them. The developer launcher outlives the app by design. The figures go to
// scripts/reliability.sh through LORVANE_RELIABILITY_FIGURES.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { LorvaneApp, write } from './support/harness.mjs';
import { lane, press, view } from './support/lanes.mjs';
import { processState, waitFor, waitPortsFree } from './support/util.mjs';

const CYCLES = Number(process.env.LORVANE_QUIT_CYCLES ?? 1);
// The shell gives the services 3 s after SIGTERM, then kills what is left; a second more for the
// kernel. The window goes well inside the grace: it must not wait for the services.
const GRACE_MS = 3000;
const WINDOW_GOES_WITHIN_MS = 1500;

const keys = (chord) => async (app, window) => {
  await lane.focus(window.id);
  await press(chord);
};
const signal = (name) => async (app) => process.kill(app.first.pid, name);
const PATHS = [
  { name: 'menu quit', quit: keys('ctrl+q') },
  { name: 'window close', quit: keys('alt+f4') },
  { name: 'SIGTERM', quit: signal('SIGTERM') },
  { name: 'SIGINT', quit: signal('SIGINT') },
  { name: 'SIGHUP', quit: signal('SIGHUP') },
  // An impatient user or a session manager asks again while the worker is still given its grace.
  {
    name: 'second request',
    quit: async (app) => {
      process.kill(app.first.pid, 'SIGTERM');
      await new Promise((resolve) => setTimeout(resolve, 500));
      process.kill(app.first.pid, 'SIGINT');
    },
  },
  // The shell gets no say; the kernel's parent-death signal must reach the services within 2 s. The
  // server ends on it; the worker, which ignores it, stays with its helper until the next start,
  // whose sweep ends them; the server's helper, whose group has lost its leader, stays.
  { name: 'SIGKILL', quit: signal('SIGKILL'), killed: true },
];

// The launcher notes its pid, the descriptors and the environment it was started with, and stays.
const LAUNCHER = (records) => `#!/bin/sh
ls -l /proc/self/fd > '${records}/fds-'$$
cp /proc/$$/environ '${records}/launcher.env'
echo $$ > '${records}/launcher.pid'
exec sleep 600
`;

// Milliseconds until `done` holds, or null if it does not within `timeout`.
const timeUntil = (what, done, timeout, elapsed) => waitFor(what, done, { timeout, interval: 10 }).then(elapsed, () => null);

async function cycle(row) {
  const app = new LorvaneApp({ server: { grandchild: true }, worker: { grandchild: true, ignoresTerm: true } });
  const faults = [];
  const figures = {};
  let launched = false;
  try {
    write(path.join(app.dataHome, 'Lorvane/backend/start-lorvane.sh'), LAUNCHER(app.recordDir), 0o755);
    await app.launch();
    const window = await app.mainWindow(60_000);
    // A busy machine can take long to bring WebKit up; the cycle is about the quit.
    await app.waitLoaded(60_000);
    const [server, worker] = await Promise.all(['server', 'worker'].map((role) => app.waitRecord(role, 'to listen', (r) => r.listening)));
    const launcher = await waitFor('the launcher to start', () => Number(fs.readFileSync(`${app.recordDir}/launcher.pid`, 'utf8')));
    launched = true;
    const trees = { server: server.pid, worker: worker.pid, serverHelper: server.grandchild, workerHelper: worker.grandchild };
    const running = () => Object.keys(trees).filter((name) => processState(trees[name]) === 'running');

    // Descriptors beyond 0-2 that each child was started with (ls adds one of its own), and the
    // launcher's environment against the one the app was started with.
    const extra = [server.pid, worker.pid, launcher].map((pid) => fs.readFileSync(`${app.recordDir}/fds-${pid}`, 'utf8').match(/ -> /g).length - 4);
    const environment = fs.readFileSync(`${app.recordDir}/launcher.env`, 'latin1').split('\0').filter(Boolean).sort();
    const expected = Object.entries(app.first.env).map(([k, v]) => `${k}=${v}`).sort();
    const environmentDifferences = [...new Set([...environment, ...expected])].filter((e) => !environment.includes(e) || !expected.includes(e));
    figures.hygiene = { kind: 'hygiene', children: 3, extraDescriptors: extra.reduce((a, b) => a + b), environmentDifferences: environmentDifferences.length };
    if (extra.some(Boolean)) faults.push(`descriptors beyond 0-2 at exec (server, worker, launcher): ${extra}`);
    if (environmentDifferences.length) faults.push(`the launcher's environment differs: ${environmentDifferences}`);

    await row.quit(app, window);
    const quitAt = Date.now();
    const elapsed = () => Date.now() - quitAt;
    const windowGone = timeUntil('the window to go', async () => !(await view(window.id)), 8000, elapsed);
    const serverEnded = timeUntil('the server to end', () => !running().includes('server'), 8000, elapsed);
    const treesEnded = timeUntil('both trees to end', () => running().length === 0, GRACE_MS + 1500, elapsed);
    const exit = await app.waitExit(app.first, 20_000);
    figures.slowestExitMs = elapsed();
    const expectedExit = row.killed ? { code: null, signal: 'SIGKILL' } : { code: 0, signal: null };
    if (JSON.stringify(exit) !== JSON.stringify(expectedExit)) faults.push(`exit ${JSON.stringify(exit)}`);
    figures.slowestWindowGoneMs = await windowGone;
    if (!(figures.slowestWindowGoneMs < WINDOW_GOES_WITHIN_MS)) faults.push(`the window went ${figures.slowestWindowGoneMs} ms after the quit`);
    // The well-behaved server ends on its SIGTERM, long before the grace would run out.
    figures.slowestServerStopMs = await serverEnded;
    if (!(figures.slowestServerStopMs < GRACE_MS)) faults.push(`the server, which ends on SIGTERM, ended after ${figures.slowestServerStopMs} ms`);
    const stopMs = await treesEnded;
    const left = running();
    figures.grandchildrenLeft = left.filter((n) => n.endsWith('Helper')).length;
    figures.termIgnoringLeft = left.filter((n) => n === 'worker').length;
    if (!row.killed) {
      figures.slowestStopMs = stopMs;
      if (stopMs === null) faults.push(`left ${GRACE_MS + 1500} ms after the quit: ${left}`);
    } else {
      // When each service heard its stop signal, as it noted it.
      const heard = ['server', 'worker'].map((role) => Math.round((app.record(role).signals[0]?.at ?? Infinity) - quitAt));
      if (heard.some((ms) => !(ms <= 2000))) faults.push(`the stop signal was heard after ${heard} ms`);
      if (left.join() !== 'worker,serverHelper,workerHelper') faults.push(`left after the kill: ${left}`);
      // The next start's sweep ends what a running leader proves the app's; it runs the launcher again.
      const next = await app.launch();
      const nextWorker = await waitFor('the next start\'s worker', () => app.records('worker').find((r) => r.pid !== worker.pid && (r.listening || r.listenError)), { timeout: 60_000 });
      if (nextWorker.listenError) faults.push(`the next start's worker could not listen: ${nextWorker.listenError}`);
      figures.leftAfterNextStart = running().length;
      if (running().join() !== 'serverHelper') faults.push(`left after the next start: ${running()}`);
      process.kill(next.pid, 'SIGTERM');
      await app.waitExit(next, 20_000);
    }

    // The web processes end once the shell is gone; the launcher (and after a kill the server's
    // orphaned helper) is left running by design.
    const launchers = () => [launcher, Number(fs.readFileSync(`${app.recordDir}/launcher.pid`, 'utf8'))];
    const strays = () => app.leftovers().filter((pid) => !launchers().includes(pid) && !(row.killed && pid === trees.serverHelper));
    figures.leftovers = await waitFor('everything of the app to end', () => strays().length === 0 && [], { timeout: 8000 }).catch(() => strays());
    figures.launcherSurvived = processState(launcher) === 'running';
    // Orphans are reaped by the session's subreaper; a zombie left is one nobody reaped.
    await waitFor('ended services to be reaped', () => [server.pid, worker.pid].every((pid) => processState(pid) === 'gone'), { timeout: 3000 }).catch(() => {});
    figures.zombies = [app.first.pid, server.pid, worker.pid].filter((pid) => processState(pid) === 'zombie');
    figures.portsBusy = await waitPortsFree(undefined, 3000).then(() => 0, () => 1);
    // Each log ends with the service's last words, written after the shell closed its own handle.
    // After a kill the next start has written them anew.
    figures.logsBad = row.killed ? [] : [[app.serverLog, 'server'], [app.voiceLog, 'worker']]
      .filter(([log, role]) => fs.readFileSync(log, 'utf8') !== `${role} started\n${role} writes to stderr\nstopping on SIGTERM\n`)
      .map(([log]) => `${path.basename(log)}: ${JSON.stringify(fs.readFileSync(log, 'utf8'))}`);
    for (const [what, list] of [['left running', figures.leftovers], ['zombies', figures.zombies], ['bad logs', figures.logsBad]]) {
      if (list.length) faults.push(`${what}: ${list.join('; ')}`);
    }
    if (figures.portsBusy) faults.push('the app\'s ports are still taken');
    if (!figures.launcherSurvived) faults.push('the launcher did not outlive the app');
  } catch (err) {
    faults.push(launched ? err.message : `launch: ${err.message}`);
  } finally {
    await app.cleanup().catch((err) => faults.push(`cleanup: ${err.message}`));
  }
  return { launched, faults, figures };
}

for (const row of PATHS) {
  test(`${row.name}, ${CYCLES} launch/quit cycles: no service, helper, zombie, port or log left behind; the launcher survives`, async (t) => {
    const totals = {
      kind: 'quit', path: row.name, cycles: CYCLES, launchFailed: 0, clean: 0, leftovers: 0, zombies: 0, portsBusy: 0, logsBad: 0,
      launcherSurvived: 0, grandchildrenLeft: 0, termIgnoringLeft: 0, leftAfterNextStart: row.killed ? 0 : null,
      slowestServerStopMs: 0, slowestStopMs: row.killed ? null : 0, slowestExitMs: 0, slowestWindowGoneMs: 0,
    };
    const failures = [];
    for (let i = 1; i <= CYCLES; i += 1) {
      const { launched, faults, figures } = await cycle(row);
      totals.launchFailed += launched ? 0 : 1;
      totals.clean += faults.length ? 0 : 1;
      if (faults.length) failures.push(`cycle ${i}: ${faults.join(' | ')}`);
      for (const [name, value] of Object.entries(figures)) {
        if (name === 'hygiene') {
          if (process.env.LORVANE_RELIABILITY_FIGURES) fs.appendFileSync(process.env.LORVANE_RELIABILITY_FIGURES, `${JSON.stringify(value)}\n`);
        } else if (totals[name] !== null) {
          totals[name] = name.endsWith('Ms') ? Math.max(totals[name], value ?? 0) : totals[name] + (Array.isArray(value) ? value.length : Number(value));
        }
      }
    }
    if (process.env.LORVANE_RELIABILITY_FIGURES) fs.appendFileSync(process.env.LORVANE_RELIABILITY_FIGURES, `${JSON.stringify(totals)}\n`);
    t.diagnostic(JSON.stringify(totals));
    assert.deepEqual(failures, []);
  });
}
