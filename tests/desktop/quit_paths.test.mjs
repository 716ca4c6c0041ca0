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
const FIGURES = process.env.LORVANE_RELIABILITY_FIGURES;
const record = (line) => FIGURES && fs.appendFileSync(FIGURES, `${JSON.stringify(line)}\n`);
// The shell gives the services 3 s after SIGTERM, then kills what is left; a second more for the kernel.
const GRACE_MS = 3000;

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
  // An impatient user or a session manager asks again while the worker is still given its grace:
  // once the server has heard the first request.
  { name: 'second request', quit: async (app) => {
    process.kill(app.first.pid, 'SIGTERM');
    await app.waitRecord('server', 'to hear the first request', (r) => r.signals.length > 0);
    process.kill(app.first.pid, 'SIGINT');
  } },
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

// What each figure of a cycle must be; a figure that is not is a fault of that cycle. A count (or a
// list) of what was left or wrong must be none.
const none = (value) => (value.length ?? value) === 0;
const CHECKS = {
  extraDescriptors: none,
  environmentDifferences: none,
  exit: ({ code, signal }, row) => (row.killed ? code === null && signal === 'SIGKILL' : code === 0 && signal === null),
  // The window does not wait for the services: it is gone before the worker's grace has ended.
  slowestWindowGoneMs: (ms, row, { slowestStopMs }) => ms !== null && (slowestStopMs === null || ms < slowestStopMs),
  slowestStopMs: (ms, row) => row.killed || ms !== null,
  // Only after a kill: each service heard its parent-death signal (the server's log shows that it
  // ended on it); the worker, which ignores it, stays with both helpers until the next start,
  // whose sweep leaves only the server's helper.
  heard: (signals) => signals.every((name) => name === 'SIGTERM'),
  leftAfterKill: (left) => left === 'worker,serverHelper,workerHelper',
  leftAfterNext: (left) => left === 'serverHelper',
  leftovers: none,
  zombies: none,
  portsBusy: none,
  logsBad: none,
  launcherSurvived: (alive) => alive,
};

async function cycle(row) {
  const app = new LorvaneApp({ server: { grandchild: true }, worker: { grandchild: true, ignoresTerm: true } });
  const figures = {};
  let launched = false;
  try {
    write(path.join(app.dataHome, 'Lorvane/backend/start-lorvane.sh'), LAUNCHER(app.recordDir), 0o755);
    await app.launch();
    // A busy machine can take long to bring WebKit up; the cycle is about the quit.
    const window = await app.mainWindow(60_000);
    await app.waitLoaded(60_000);
    const [server, worker] = await Promise.all(['server', 'worker'].map((role) => app.waitRecord(role, 'to listen', (r) => r.listening)));
    const launcherPid = () => Number(fs.readFileSync(`${app.recordDir}/launcher.pid`, 'utf8'));
    const launcher = await waitFor('the launcher to start', launcherPid);
    launched = true;
    const trees = { server: server.pid, worker: worker.pid, serverHelper: server.grandchild, workerHelper: worker.grandchild };
    const running = () => Object.keys(trees).filter((name) => processState(trees[name]) === 'running');

    // Descriptors beyond 0-2 that each child was started with (ls adds one of its own), and the
    // launcher's environment against the one the app was started with.
    figures.extraDescriptors = [server.pid, worker.pid, launcher]
      .reduce((sum, pid) => sum + fs.readFileSync(`${app.recordDir}/fds-${pid}`, 'utf8').match(/ -> /g).length - 4, 0);
    const environment = fs.readFileSync(`${app.recordDir}/launcher.env`, 'latin1').split('\0').filter(Boolean);
    const expected = Object.entries(app.first.env).map(([k, v]) => `${k}=${v}`);
    figures.environmentDifferences = [...new Set([...environment, ...expected])].filter((e) => !environment.includes(e) || !expected.includes(e));

    await row.quit(app, window);
    const quitAt = Date.now();
    // Milliseconds until `done` holds, or null if it does not within `timeout`.
    const after = (what, done, timeout) => waitFor(what, done, { timeout, interval: 10 }).then(() => Date.now() - quitAt, () => null);
    const { child } = app.first;
    [figures.slowestExitMs, figures.slowestWindowGoneMs, figures.slowestServerStopMs, figures.slowestStopMs] = await Promise.all([
      after('the app to exit', () => child.exitCode !== null || child.signalCode !== null, 20_000),
      after('the window to go', async () => !(await view(window.id)), 8000),
      after('the server to end', () => !running().includes('server'), 8000),
      after('both trees to end', () => running().length === 0, GRACE_MS + 1500),
    ]);
    figures.exit = { code: child.exitCode, signal: child.signalCode };
    const left = running();
    figures.grandchildrenLeft = left.filter((n) => n.endsWith('Helper')).length;
    figures.termIgnoringLeft = left.filter((n) => n === 'worker').length;
    if (row.killed) {
      figures.heard = ['server', 'worker'].map((role) => app.record(role).signals[0]);
      figures.leftAfterKill = left.join();
      // The next start's sweep ends what a running leader proves the app's; it runs the launcher again.
      const next = await app.launch();
      await waitFor('the next start\'s worker to listen', () => app.records('worker').find((r) => r.pid !== worker.pid && r.listening), { timeout: 60_000 });
      figures.leftAfterNext = running().join();
      figures.leftAfterNextStart = running().length;
      process.kill(next.pid, 'SIGTERM');
      await app.waitExit(next, 20_000);
    }

    // The web processes end once the shell is gone; the launcher (and after a kill the server's
    // orphaned helper) is left running by design.
    const strays = () => app.leftovers().filter((pid) => ![launcher, launcherPid()].includes(pid) && !(row.killed && pid === trees.serverHelper));
    figures.leftovers = await waitFor('everything of the app to end', () => strays().length === 0 && [], { timeout: 8000 }).catch(strays);
    figures.launcherSurvived = processState(launcher) === 'running';
    // Orphans are reaped by the session's subreaper; a zombie left is one nobody reaped.
    await waitFor('ended services to be reaped', () => [server.pid, worker.pid].every((pid) => processState(pid) === 'gone'), { timeout: 3000 }).catch(() => {});
    figures.zombies = [app.first.pid, server.pid, worker.pid].filter((pid) => processState(pid) === 'zombie');
    figures.portsBusy = await waitPortsFree(undefined, 3000).then(() => 0, () => 1);
    // Each log ends with the service's last words, written after the shell closed its own handle.
    // After a kill the next start has written them anew.
    figures.logsBad = row.killed ? [] : [[app.serverLog, 'server'], [app.voiceLog, 'worker']]
      .map(([log, role]) => [path.basename(log), fs.readFileSync(log, 'utf8'), `${role} started\n${role} writes to stderr\nstopping on SIGTERM\n`])
      .filter(([, text, expected]) => text !== expected).map(([log, text]) => `${log}: ${JSON.stringify(text)}`);
  } catch (err) {
    figures.error = launched ? err.message : `launch: ${err.message}`;
  } finally {
    await app.cleanup().catch((err) => { figures.error = `cleanup: ${err.message}`; });
  }
  const faults = Object.entries(CHECKS).filter(([name, ok]) => name in figures && !ok(figures[name], row, figures))
    .map(([name]) => `${name}: ${JSON.stringify(figures[name])}`);
  return { launched, faults: figures.error ? [...faults, figures.error] : faults, figures };
}

// The table's columns, summed over the cycles or the slowest of them (…Ms); null where the row has no such figure.
const columns = (row) => ({
  launchFailed: 0, clean: 0, leftovers: 0, zombies: 0, portsBusy: 0, logsBad: 0, launcherSurvived: 0, grandchildrenLeft: 0,
  termIgnoringLeft: 0, leftAfterNextStart: row.killed ? 0 : null, slowestServerStopMs: 0, slowestStopMs: row.killed ? null : 0,
  slowestExitMs: 0, slowestWindowGoneMs: 0,
});

for (const row of PATHS) {
  test(`${row.name}, ${CYCLES} launch/quit cycles: no service, helper, zombie, port or log left behind; the launcher survives`, async (t) => {
    const totals = columns(row);
    const failures = [];
    for (let i = 1; i <= CYCLES; i += 1) {
      const { launched, faults, figures } = await cycle(row);
      Object.assign(figures, { launchFailed: !launched, clean: faults.length === 0 });
      if (faults.length) failures.push(`cycle ${i}: ${faults.join(' | ')}`);
      for (const [name, value] of Object.entries(figures).filter(([key]) => key in totals && totals[key] !== null)) {
        totals[name] = name.endsWith('Ms') ? Math.max(totals[name], value ?? 0) : totals[name] + (Array.isArray(value) ? value.length : Number(value));
      }
      const { extraDescriptors, environmentDifferences } = figures;
      if (extraDescriptors === undefined) continue;
      record({ kind: 'hygiene', children: 3, extraDescriptors, environmentDifferences: environmentDifferences.length });
    }
    record({ kind: 'quit', path: row.name, cycles: CYCLES, ...totals });
    t.diagnostic(JSON.stringify(totals));
    assert.deepEqual(failures, []);
  });
}
