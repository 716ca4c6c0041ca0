// Quit-path matrix: launch/quit cycles for every way the app can end, and what each leaves behind.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { LorvaneApp } from './support/harness.mjs';
import { processState, holdersOf } from './support/procs.mjs';
import { reportFigure } from './support/figures.mjs';
import { focusWindow, key, lane, windowsNamed } from './support/desktop.mjs';
import { APP_PORT, VOICE_PORT, portOpen, stopProcess, waitFor } from './support/util.mjs';

const CYCLES = Number(process.env.LORVANE_QUIT_CYCLES ?? 3);

// Each service notes in its log which signal stopped it, before the fixture ends it: the proof that
// its log still takes its last words after the shell has closed its own handle. Each also starts a
// grandchild of its own, as a service that spawns a helper does. The server then ends on SIGTERM,
// as a service should, and its grandchild with it; the worker notes SIGTERM and stays, and its
// grandchild ignores SIGTERM altogether, so that only the shell's SIGKILL after the grace ends them.
// In place of the fixture's own handler, which would end the process; the time it heard the signal
// goes beside the records, as the fixture would have noted it.
const STAYS_ON_SIGTERM = `process.removeAllListeners('SIGTERM');
process.on('SIGTERM', () => {
  process.stdout.write('stopping on SIGTERM\\n');
  fs.writeFileSync(path.join(config.records, \`\${config.role}.sigterm\`), String(performance.timeOrigin + performance.now()));
});`;
const wrapper = (stubborn) => `// Notes the stopping signal in the service's log, then runs the fixture beside it.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => process.stdout.write(\`stopping on \${signal}\\n\`));
await import('./fixture-core.mjs');
const config = JSON.parse(fs.readFileSync(new URL('./fixture.json', import.meta.url), 'utf8'));
${stubborn ? STAYS_ON_SIGTERM : ''}
const grandchild = spawn('/bin/sh', ['-c', '${stubborn ? "trap \\'\\' TERM; " : ''}exec sleep 600'], { stdio: 'ignore' });
fs.writeFileSync(path.join(config.records, \`\${config.role}.grandchild\`), String(grandchild.pid));
`;

function announceStops(app) {
  for (const [dir, stubborn] of [[path.join(app.share, 'server'), false], [path.join(app.share, 'voice-worker/src'), true]]) {
    fs.renameSync(path.join(dir, 'server.mjs'), path.join(dir, 'fixture-core.mjs'));
    fs.writeFileSync(path.join(dir, 'server.mjs'), wrapper(stubborn));
  }
}

// A number a wrapper wrote beside the records (`<role>.<what>`), or null.
function noted(app, role, what) {
  try {
    return Number(fs.readFileSync(path.join(app.recordDir, `${role}.${what}`), 'utf8')) || null;
  } catch {
    return null;
  }
}

// The shell gives the services 3 s after SIGTERM, then kills what is left; a second more for the
// kernel to end it all.
const GRACE_MS = 3000;
const TREES_END_WITHIN_MS = GRACE_MS + 1000;
// Well inside the grace: the window must not wait for the services.
const WINDOW_GOES_WITHIN_MS = 1500;

const signalled = (signal) => async (app) => process.kill(app.first.pid, signal);
const quitPaths = [
  {
    // The menu item's own key equivalent: one key press, which a loaded machine does not lose the
    // way it can lose a key typed into a menu that is still opening.
    name: 'menu quit',
    quit: async (app, window) => {
      await focusWindow(window);
      await key('ctrl+q');
    },
    exit: { code: 0, signal: null },
  },
  {
    name: 'window close',
    windowManager: true,
    quit: async (app, window) => {
      await focusWindow(window);
      await key('alt+F4');
    },
    exit: { code: 0, signal: null },
  },
  { name: 'SIGTERM', quit: signalled('SIGTERM'), exit: { code: 0, signal: null } },
  { name: 'SIGINT', quit: signalled('SIGINT'), exit: { code: 0, signal: null } },
  { name: 'SIGHUP', quit: signalled('SIGHUP'), exit: { code: 0, signal: null } },
  // An impatient user or a session manager asks again while the worker is still given its grace.
  {
    name: 'second request',
    quit: async (app) => {
      process.kill(app.first.pid, 'SIGTERM');
      await new Promise((resolve) => setTimeout(resolve, 500));
      process.kill(app.first.pid, 'SIGINT');
    },
    exit: { code: 0, signal: null },
  },
  // The shell gets no say; the kernel's parent-death signal must reach the services within 2 s.
  // The server ends on it; the worker, which ignores it, stays with its grandchild until the next
  // start, whose sweep ends them; the server's grandchild, whose group has lost its leader, stays.
  { name: 'SIGKILL', quit: signalled('SIGKILL'), exit: { code: null, signal: 'SIGKILL' }, signalledWithin: 2000, killed: true },
];

// One window manager for all cycles of a path that needs one; it outlives each app.
async function startWindowManager(t) {
  if (await lane().windowManagerRunning()) return;
  const wm = await lane().startWindowManager();
  t.after(() => stopProcess(wm));
}

// One cycle: launch, wait for the web app, quit, then look at everything that could be left over.
async function cycle(way, timings) {
  const app = new LorvaneApp({ launcher: true });
  const faults = [];
  let launched = false;
  let firstLauncher = null;
  const mark = (name, since) => { timings[name] = (timings[name] ?? 0) + (Date.now() - since); };
  try {
    announceStops(app);
    const startedAt = Date.now();
    await app.launch();
    const window = await app.window(60_000);
    // A busy machine can take long to bring WebKit up; the cycle is about the quit.
    await app.waitLoaded(60_000);
    mark('launch', startedAt);
    launched = true;
    const server = await app.waitRecord('server', 'to listen', (r) => r.listening);
    const worker = await app.waitRecord('worker', 'to listen', (r) => r.listening);
    const launcher = await waitFor('the launcher script to start', () => app.launcherPid());
    firstLauncher = launcher;
    const services = [server.pid, worker.pid];

    const grandchildren = await waitFor('both grandchildren to start', () => {
      const pids = ['server', 'worker'].map((role) => noted(app, role, 'grandchild'));
      return pids.every(Boolean) && pids;
    });
    const trees = { server: server.pid, worker: worker.pid, serverGrandchild: grandchildren[0], workerGrandchild: grandchildren[1] };
    const running = (names) => names.filter((name) => processState(trees[name]) === 'running');

    await way.quit(app, window);
    const quitAt = Date.now();
    // Watched from the quit on, while the shell is still there.
    const allNames = Object.keys(trees);
    const endOf = (names, timeout) => waitFor(`${names} to end`, () => running(names).length === 0, { timeout, interval: 10 })
      .then(() => Date.now() - quitAt, () => null);
    const serverEnded = endOf(['server'], 8000);
    // The window goes at once, whatever the services still take.
    const windowGone = waitFor('the window to go', async () => !(await windowsNamed('^Lorvane$')).includes(window), { timeout: 8000, interval: 50 })
      .then(() => Date.now() - quitAt, () => null);
    const treesEnded = endOf(allNames, TREES_END_WITHIN_MS + 500);
    const exit = await app.waitExit(app.first, 20_000);
    const exitedMs = Date.now() - quitAt;
    if (exit.code !== way.exit.code || exit.signal !== way.exit.signal) faults.push(`exit ${JSON.stringify(exit)}`);

    const windowMs = await windowGone;
    if (windowMs === null || windowMs >= WINDOW_GOES_WITHIN_MS) faults.push(`the window went ${windowMs} ms after the quit`);
    // The well-behaved server ends at its SIGTERM, long before the grace would run out.
    const serverMs = await serverEnded;
    if (serverMs === null || serverMs >= GRACE_MS) faults.push(`the server, which ends on SIGTERM, ended after ${serverMs} ms`);
    // Everything of both trees, the worker that ignores SIGTERM and both grandchildren included.
    const treesMs = await treesEnded;
    const leftAtLimit = running(allNames);
    if (!way.killed && (treesMs === null || treesMs > TREES_END_WITHIN_MS)) faults.push(`left ${TREES_END_WITHIN_MS} ms after the quit: ${leftAtLimit}`);
    // When each service heard its stop signal, as it noted it: the kernel's part, apart from the
    // time the service then takes to stop.
    const heardAt = [app.record('server')?.signals[0]?.at, noted(app, 'worker', 'sigterm')];
    const heard = heardAt.map((at) => (at ? Math.round(at - quitAt) : null));
    if (way.signalledWithin && heard.some((ms) => ms === null || ms > way.signalledWithin)) faults.push(`stop signal heard after ${heard} ms`);

    // After a kill, the next start's sweep ends what a running leader proves the app's.
    let leftAfterNextStart = null;
    if (way.killed) {
      if (leftAtLimit.join() !== 'worker,serverGrandchild,workerGrandchild') faults.push(`left after the kill: ${leftAtLimit}`);
      // The next start runs the launcher script again; the first one, left running, is not a stray.
      fs.rmSync(app.launcherPidFile);
      const next = app.spawnApp();
      const nextWorker = await waitFor('the next start\'s worker to listen', () => {
        const rec = app.records('worker').find((r) => r.pid !== worker.pid);
        return rec && (rec.listening || rec.listenError) ? rec : false;
      }, { timeout: 60_000 });
      if (nextWorker.listenError) faults.push(`the next start's worker could not listen: ${nextWorker.listenError}`);
      leftAfterNextStart = running(allNames);
      if (leftAfterNextStart.join() !== 'serverGrandchild') faults.push(`left after the next start: ${leftAfterNextStart}`);
      process.kill(next.pid, 'SIGTERM');
      await app.waitExit(next, 20_000);
    }

    // The web content processes end once their connection to the shell is gone.
    const expectedLeft = new Set(way.killed ? [trees.serverGrandchild, launcher] : []);
    const strays = () => app.strayProcesses().filter((p) => !expectedLeft.has(p.pid));
    const stray = await waitFor('every process of the app to end', () => strays().length === 0 && [],
      { timeout: 8000 }).catch(() => strays());
    mark('quit', quitAt);
    // Orphans are reaped by the session's subreaper; a zombie left is one nobody reaped.
    await waitFor('ended services to be reaped', () => services.every((pid) => processState(pid) === 'gone'), { timeout: 3000 }).catch(() => {});
    const zombies = [app.first.pid, ...services].filter((pid) => processState(pid) === 'zombie');
    const busy = [];
    for (const port of [APP_PORT, VOICE_PORT]) {
      if (await waitFor(`port ${port} to be free`, async () => !(await portOpen(port)), { timeout: 3000 }).then(() => false, () => true)) busy.push(port);
    }
    const stopSignal = way.stopSignal ?? 'SIGTERM';
    const logsBad = [];
    // After a kill the next start has written the logs anew; only the others are read.
    for (const [log, role, pid] of way.killed ? [] : [[app.serverLog, 'server', server.pid], [app.voiceLog, 'worker', worker.pid]]) {
      const expected = `fixture ${role} started, pid ${pid}\nfixture ${role} stderr line\nstopping on ${stopSignal}\n`;
      const text = fs.readFileSync(log, 'utf8');
      if (text !== expected) logsBad.push(`${path.basename(log)}: ${JSON.stringify(text)}`);
      if (holdersOf(log).length > 0) logsBad.push(`${path.basename(log)} still open in ${holdersOf(log)}`);
    }
    const launcherSurvived = processState(launcher) === 'running';

    if (stray.length) faults.push(`left running: ${stray.map((p) => `${p.pid} ${p.cmdline}`).join('; ')}`);
    if (zombies.length) faults.push(`zombies: ${zombies}`);
    if (busy.length) faults.push(`ports still taken: ${busy}`);
    faults.push(...logsBad);
    if (!launcherSurvived) faults.push('the launcher script did not outlive the app');
    const count = (names, wanted) => names.filter((n) => wanted.includes(n)).length;
    return {
      launched, faults, stoppedMs: treesMs, serverMs, exitedMs, windowMs, leftovers: stray.length, zombies: zombies.length, portsBusy: busy.length,
      logsBad: logsBad.length, launcherSurvived,
      grandchildrenLeft: count(leftAtLimit, ['serverGrandchild', 'workerGrandchild']),
      termIgnoringLeft: count(leftAtLimit, ['worker']),
      leftAfterNextStart: leftAfterNextStart?.length ?? null,
    };
  } catch (err) {
    // A launch that never got as far as the web app leaves no quit to judge: counted apart.
    if (launched) {
      faults.push(err.message);
    } else {
      // Enough to tell a slow machine from an app that hung or died on its way up.
      const shell = app.first ? processState(app.first.pid) : 'never started';
      const started = ['server', 'worker'].filter((role) => app.records(role).length > 0);
      const stderr = app.first?.stderr().trim().split('\n').slice(-3).join(' / ') ?? '';
      faults.push(`launch: ${err.message}; shell ${shell}; started: ${started.join(', ') || 'nothing'}; stderr: ${stderr}`);
    }
    const leftovers = launched ? app.strayProcesses().length : 0;
    return { launched, faults, leftovers, zombies: 0, portsBusy: 0, logsBad: 0, launcherSurvived: false };
  } finally {
    const cleanupAt = Date.now();
    for (const launcher of new Set([firstLauncher, app.launcherPid()])) {
      if (!launcher) continue;
      try { process.kill(launcher, 'SIGKILL'); } catch { /* already gone */ }
    }
    await app.cleanup().catch((err) => faults.push(`cleanup: ${err.message}`));
    mark('cleanup', cleanupAt);
  }
}

for (const way of quitPaths) {
  test(`${way.name}, ${CYCLES} launch/quit cycles: no service, grandchild, zombie, port or open log left; the launcher survives`, async (t) => {
    if (way.windowManager) await startWindowManager(t);
    const timings = {};
    const totals = {
      path: way.name, cycles: 0, launchFailed: 0, slowestStopMs: way.killed ? null : 0, slowestServerStopMs: 0, slowestExitMs: 0, slowestWindowGoneMs: 0, clean: 0, leftovers: 0, zombies: 0,
      portsBusy: 0, logsBad: 0, launcherSurvived: 0, grandchildrenLeft: 0, termIgnoringLeft: 0, leftAfterNextStart: way.killed ? 0 : null,
    };
    const failures = [];
    for (let i = 1; i <= CYCLES; i += 1) {
      const result = await cycle(way, timings);
      totals.cycles += 1;
      if (!result.launched) totals.launchFailed += 1;
      if (totals.slowestStopMs !== null) totals.slowestStopMs = Math.max(totals.slowestStopMs, result.stoppedMs ?? 0);
      totals.slowestServerStopMs = Math.max(totals.slowestServerStopMs, result.serverMs ?? 0);
      totals.slowestExitMs = Math.max(totals.slowestExitMs, result.exitedMs ?? 0);
      totals.slowestWindowGoneMs = Math.max(totals.slowestWindowGoneMs, result.windowMs ?? 0);
      if (totals.leftAfterNextStart !== null) totals.leftAfterNextStart += result.leftAfterNextStart ?? 0;
      if (result.faults.length === 0) totals.clean += 1;
      for (const k of ['leftovers', 'zombies', 'portsBusy', 'logsBad', 'grandchildrenLeft', 'termIgnoringLeft']) totals[k] += result[k] ?? 0;
      if (result.launcherSurvived) totals.launcherSurvived += 1;
      if (result.faults.length) failures.push(`cycle ${i}: ${result.faults.join(' | ')}`);
    }
    reportFigure({ kind: 'quit', ...totals });
    t.diagnostic(JSON.stringify(totals));
    t.diagnostic(`mean ms per cycle: ${JSON.stringify(Object.fromEntries(Object.entries(timings).map(([k, v]) => [k, Math.round(v / CYCLES)])))}`);
    assert.deepEqual(failures, []);
  });
}
