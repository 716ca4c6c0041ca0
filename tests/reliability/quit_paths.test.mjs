// Quit-path matrix: launch/quit cycles for every way the app can end, and what each leaves behind.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { FaultyApp } from './support/faulty-app.mjs';
import { processState, holdersOf } from './support/procs.mjs';
import { reportFigure } from './support/figures.mjs';
import { focusWindow, key, windowManagerRunning } from '../e2e/support/desktop.mjs';
import { APP_PORT, VOICE_PORT, portOpen, startProcess, stopProcess, waitFor } from '../e2e/support/util.mjs';

const CYCLES = Number(process.env.LORVANE_QUIT_CYCLES ?? 3);

// Each service notes in its log which signal stopped it, before the fixture ends it: the proof that
// its log still takes its last words after the shell has closed its own handle.
const ANNOUNCER = `// Notes the stopping signal in the service's log, then runs the fixture beside it.
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => process.stdout.write(\`stopping on \${signal}\\n\`));
await import('./fixture-core.mjs');
`;

function announceStops(app) {
  for (const dir of [path.join(app.share, 'server'), path.join(app.share, 'voice-worker/src')]) {
    fs.renameSync(path.join(dir, 'server.mjs'), path.join(dir, 'fixture-core.mjs'));
    fs.writeFileSync(path.join(dir, 'server.mjs'), ANNOUNCER);
  }
}

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
  // The shell gets no say; the kernel's parent-death signal must reach the services within 2 s.
  { name: 'SIGKILL', quit: signalled('SIGKILL'), exit: { code: null, signal: 'SIGKILL' }, signalledWithin: 2000 },
];

// One window manager for all cycles of a path that needs one; it outlives each app.
async function startWindowManager(t) {
  if (await windowManagerRunning()) return;
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-rel-wm-'));
  const wm = startProcess('openbox', ['--sm-disable'], { env: { ...process.env, HOME: home, XDG_CONFIG_HOME: home } });
  t.after(async () => {
    await stopProcess(wm);
    fs.rmSync(home, { recursive: true, force: true });
  });
  await waitFor('openbox to manage the display', windowManagerRunning, { timeout: 10_000 });
}

// One cycle: launch, wait for the web app, quit, then look at everything that could be left over.
async function cycle(way, timings) {
  const app = new FaultyApp({ launcher: true });
  const faults = [];
  let launched = false;
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
    const services = [server.pid, worker.pid];

    await way.quit(app, window);
    const quitAt = Date.now();
    const exit = await app.waitExit(app.first, 20_000);
    if (exit.code !== way.exit.code || exit.signal !== way.exit.signal) faults.push(`exit ${JSON.stringify(exit)}`);

    const ended = await waitFor('the services to end', () => services.every((pid) => processState(pid) !== 'running'),
      { timeout: 8000, interval: 20 }).then(() => Date.now() - quitAt).catch(() => null);
    if (ended === null) faults.push('services still running 8 s after the quit');
    // When each service heard its stop signal, as it noted it: the kernel's part, apart from the
    // time the service then takes to stop.
    const heard = [app.record('server'), app.record('worker')].map((r) => (r?.signals[0] ? Math.round(r.signals[0].at - quitAt) : null));
    if (way.signalledWithin && heard.some((ms) => ms === null || ms > way.signalledWithin)) faults.push(`stop signal heard after ${heard} ms`);
    // The web content processes end once their connection to the shell is gone.
    const stray = await waitFor('every process of the app to end', () => app.strayProcesses().length === 0 && [],
      { timeout: 8000 }).catch(() => app.strayProcesses());
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
    for (const [log, role, pid] of [[app.serverLog, 'server', server.pid], [app.voiceLog, 'worker', worker.pid]]) {
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
    return { launched, faults, stoppedMs: ended, leftovers: stray.length, zombies: zombies.length, portsBusy: busy.length, logsBad: logsBad.length, launcherSurvived };
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
    const launcher = app.launcherPid();
    if (launcher) {
      try { process.kill(launcher, 'SIGKILL'); } catch { /* already gone */ }
    }
    await app.cleanup().catch((err) => faults.push(`cleanup: ${err.message}`));
    mark('cleanup', cleanupAt);
  }
}

for (const way of quitPaths) {
  test(`${way.name}, ${CYCLES} launch/quit cycles: no service, zombie, port or open log left; the launcher survives`, async (t) => {
    if (way.windowManager) await startWindowManager(t);
    const timings = {};
    const totals = { path: way.name, cycles: 0, launchFailed: 0, slowestStopMs: 0, clean: 0, leftovers: 0, zombies: 0, portsBusy: 0, logsBad: 0, launcherSurvived: 0 };
    const failures = [];
    for (let i = 1; i <= CYCLES; i += 1) {
      const result = await cycle(way, timings);
      totals.cycles += 1;
      if (!result.launched) totals.launchFailed += 1;
      totals.slowestStopMs = Math.max(totals.slowestStopMs, result.stoppedMs ?? 0);
      if (result.faults.length === 0) totals.clean += 1;
      for (const k of ['leftovers', 'zombies', 'portsBusy', 'logsBad']) totals[k] += result[k];
      if (result.launcherSurvived) totals.launcherSurvived += 1;
      if (result.faults.length) failures.push(`cycle ${i}: ${result.faults.join(' | ')}`);
    }
    reportFigure({ kind: 'quit', ...totals });
    t.diagnostic(JSON.stringify(totals));
    t.diagnostic(`mean ms per cycle: ${JSON.stringify(Object.fromEntries(Object.entries(timings).map(([k, v]) => [k, Math.round(v / CYCLES)])))}`);
    assert.deepEqual(failures, []);
  });
}
