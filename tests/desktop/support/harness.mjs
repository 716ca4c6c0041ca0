// One app under test: a private copy of the test shell with its services, home and session bus, on this run's lane.
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { lane, press } from './lanes.mjs';
import {
  BUNDLE_DIR, processesWithMarker, readJson, run, runChecked, startProcess, stopProcess, waitFor, waitPortsFree,
} from './util.mjs';

const BUILD = process.env.LORVANE_BUILD_DIR;

export function write(file, text, mode = 0o644) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, text, { mode });
}

export class LorvaneApp {
  // options.server, options.worker: how each service's stand-in behaves (fixture.mjs); options.sample:
  // the real sample services instead; options.installed: an installed executable (the shipped app,
  // without the test shell's switches and fake capture devices), run where it is; options.env:
  // variables for the app, which its children inherit.
  constructor(options = {}) {
    this.options = options;
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-app-'));
    this.marker = `LORVANE_TEST_RUN=${crypto.randomBytes(6).toString('hex')}`;
    const at = (...parts) => path.join(this.root, ...parts);
    Object.assign(this, { home: at('home'), dataHome: at('home/.local/share'), stateHome: at('home/.local/state'),
      serverLog: at('home/.local/state/Lorvane/server.log'), voiceLog: at('home/.local/state/Lorvane/voice-worker.log'),
      share: at('share/lorvane'), recordDir: at('records'), gate: at('gate'), launches: [] });
    for (const dir of [this.recordDir, this.dataHome, this.stateHome, `${this.home}/.cache`, `${this.home}/.config`]) fs.mkdirSync(dir, { recursive: true });
    this.executable = options.installed ?? path.join(this.root, 'bin/lorvane');
    if (options.installed) return;
    // The app finds its bundle and icons from where its executable is, as once installed.
    write(this.executable, fs.readFileSync(path.join(BUILD, 'bin', 'lorvane-test-shell')), 0o755);
    fs.cpSync(path.join(BUILD, 'share/icons'), path.join(this.root, 'share/icons'), { recursive: true });
    // The runtime notes the descriptors a service was started with, then hands over to node.
    write(path.join(this.share, 'runtime/node'),
      `#!/bin/sh\nls -l /proc/self/fd > '${this.recordDir}/fds-'$$\nexec '${process.execPath}' "$@"\n`, 0o755);
    if (options.sample) {
      for (const dir of ['server', 'voice-worker']) fs.cpSync(path.join(BUNDLE_DIR, dir), path.join(this.share, dir), { recursive: true });
      return;
    }
    const fixture = fs.readFileSync(new URL('./fixture.mjs', import.meta.url));
    for (const [role, dir] of [['server', 'server'], ['worker', 'voice-worker/src']]) {
      write(path.join(this.share, dir, 'server.mjs'), fixture);
      write(path.join(this.share, dir, 'fixture.json'), JSON.stringify({ role, records: this.recordDir, gate: this.gate, ...options[role] }));
    }
  }

  // Starts the app; called again, a second launch on the same bus with `env` added (such as what
  // a launcher hands the programs it starts). Returns the launch's process handle.
  async launch(env = {}) {
    if (!this.bus) {
      // The folder and everything in it go to the lane's user, who runs the app there.
      if (lane.user) await runChecked('chown', ['-R', `${lane.user.uid}:${lane.user.gid}`, this.root]);
      this.busAddress = `unix:path=${this.root}/bus`;
      this.bus = startProcess('dbus-daemon', ['--session', '--nofork', `--address=${this.busAddress}`], { as: lane.user });
      await waitFor('the private session bus', () => fs.existsSync(`${this.root}/bus`));
      await waitPortsFree();
      await lane.beforeLaunch?.();
    }
    const [name, value] = this.marker.split('=');
    const variables = {
      ...process.env, HOME: this.home, XDG_DATA_HOME: this.dataHome, XDG_STATE_HOME: this.stateHome, XDG_CACHE_HOME: `${this.home}/.cache`,
      XDG_CONFIG_HOME: `${this.home}/.config`, DBUS_SESSION_BUS_ADDRESS: this.busAddress, [name]: value, ...this.options.env, ...env,
    };
    const handle = startProcess(this.executable, [], { cwd: this.root, env: variables, as: lane.user });
    handle.env = variables;
    this.launches.push(handle);
    return handle;
  }

  get first() { return this.launches[0]; }

  // What the stand-ins of one role noted, one record per process started.
  records(role) {
    return fs.readdirSync(this.recordDir).filter((n) => n.startsWith(`${role}-`) && n.endsWith('.json'))
      .map((n) => readJson(path.join(this.recordDir, n))).filter(Boolean);
  }

  record(role) {
    const all = this.records(role);
    if (all.length > 1) throw new Error(`${all.length} ${role} processes were started, not one`);
    return all[0];
  }

  waitRecord(role, what, predicate = () => true, timeout = 15_000) {
    return waitFor(`${role}: ${what}`, () => [this.record(role)].find((found) => found && predicate(found)), { timeout });
  }

  reports(type) { return (this.record('server')?.reports ?? []).filter((r) => r.type === type); }

  // The web app counts as shown once its page has reported back.
  async waitLoaded(timeout = 30_000) {
    await this.waitRecord('server', 'the page to load and report', (r) => r.reports.some((e) => e.type === 'load'), timeout);
    return this.reports('load')[0];
  }

  // The main window of the first launch: its process's own, titled "Lorvane".
  mainWindow(timeout = 30_000) {
    const find = async () => (await lane.views()).find((v) => v.pid === this.first.pid && v.name === 'Lorvane');
    return waitFor('the Lorvane window', find, { timeout, interval: 200 }).catch((err) => {
      throw new Error(`${err.message}; the app ${this.first.child.exitCode ?? 'runs'}, its last words: ${this.first.stderr().slice(-400)}`);
    });
  }

  waitExit(handle = this.first, timeout = 10_000) {
    return waitFor(`the app (pid ${handle.pid}) to exit`, () => {
      const { exitCode: code, signalCode: signal } = handle.child;
      return (code !== null || signal !== null) && { code, signal };
    }, { timeout, interval: 20 });
  }

  // Everything the app started, directly or not, that still runs.
  leftovers() { return processesWithMarker(this.marker); }

  // Ends whatever this app's test started, by pid, and its folder.
  async cleanup() {
    for (const handle of this.launches) await stopProcess(handle);
    // By pid, each found by this app's marker; one that ended meanwhile is no failure.
    await run('kill', ['-KILL', ...this.leftovers().map(String)]);
    await stopProcess(this.bus);
    await waitPortsFree().catch(() => {});
    // A web process still ending may write into its cache while the folder goes.
    fs.rmSync(this.root, { recursive: true, force: true, maxRetries: 5 });
  }
}

// The app for one test, ended with the test whatever its outcome.
export function appForTest(t, options) {
  const app = new LorvaneApp(options);
  t.after(() => app.cleanup());
  return app;
}

// The app for one test, launched, with its main window; `arrange` prepares the fault the test is
// about before the launch (what it returns is `arranged`), and with `loaded` (the default) the web
// app has reported back.
export async function openApp(t, { arrange, loaded = true, ...options } = {}) {
  const app = appForTest(t, options);
  const arranged = await arrange?.(app);
  await app.launch();
  const window = await app.mainWindow();
  if (loaded) await app.waitLoaded();
  return { app, window, arranged };
}

// Ctrl+Q in the window: the app exits, and nothing it started runs on.
export async function quit(app, window) {
  await lane.focus(window.id);
  await press('ctrl+q');
  const exit = await app.waitExit();
  await waitFor('everything the app started to end', () => app.leftovers().length === 0, { timeout: 8000 });
  return exit;
}
