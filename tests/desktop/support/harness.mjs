// One app under test: a private copy of the test shell with fixture services, its own home and bus.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import crypto from 'node:crypto';
import { fileURLToPath } from 'node:url';
import {
  BUILD_DIR, BUNDLE_DIR, assertPortsFree, waitPortsFree, waitFor, run, startProcess, stopProcess, readJson, processesWithMarker,
} from './util.mjs';
import { requireDisplay, windowsOf, windowsNamed, windowManagerRunning } from './desktop.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const TEST_SHELL = path.join(BUILD_DIR, 'bin/lorvane-test-shell');
export const SHIPPED_APP = path.join(BUILD_DIR, 'bin/lorvane');

function write(file, text, mode) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, text);
  if (mode) fs.chmodSync(file, mode);
}

export class LorvaneApp {
  // options.server: { mode: 'ok' | '404' | '503' | 'never' | 'gated', probeMedia }; a gated
  //   server answers 503 until openGate()
  // options.worker: false to leave the voice worker out of the bundle
  // options.env: extra variables for the app (inherited by its children)
  // options.windowManager: run openbox, for closing and raising windows
  // options.sampleBundle: the real sample services from the build tree instead of fixtures
  // options.shipped: the shipped app (no test switches, no fake capture devices)
  // options.installed: an installed app's executable, run where it is with the bundle installed
  //   beside it (only the private home is laid out)
  constructor(options = {}) {
    this.options = options;
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-e2e-'));
    this.marker = `LORVANE_E2E_RUN=${crypto.randomBytes(6).toString('hex')}`;
    this.source = options.installed ?? (options.shipped ? SHIPPED_APP : TEST_SHELL);
    this.executable = options.installed ?? path.join(this.root, 'bin', path.basename(this.source));
    this.share = path.join(this.root, 'share/lorvane');
    this.home = path.join(this.root, 'home');
    this.dataHome = path.join(this.home, '.local/share');
    this.stateHome = path.join(this.home, '.local/state');
    this.configHome = path.join(this.home, '.config');
    this.cacheHome = path.join(this.home, '.cache');
    this.recordDir = path.join(this.root, 'records');
    this.openedUrlsFile = path.join(this.root, 'opened-urls');
    this.serverLog = path.join(this.stateHome, 'Lorvane/server.log');
    this.voiceLog = path.join(this.stateHome, 'Lorvane/voice-worker.log');
    this.launches = [];
    this.helpers = [];
    try {
      this.layOut();
    } catch (err) {
      fs.rmSync(this.root, { recursive: true, force: true });
      throw err;
    }
  }

  layOut() {
    if (!fs.existsSync(this.source)) throw new Error(`${this.source} is missing; build the desktop app first`);
    if (this.options.installed) {
      fs.mkdirSync(this.recordDir);
      for (const dir of [this.dataHome, this.stateHome, this.configHome, this.cacheHome]) fs.mkdirSync(dir, { recursive: true });
      this.installUrlHandler();
      return;
    }
    fs.mkdirSync(path.dirname(this.executable), { recursive: true });
    fs.copyFileSync(this.source, this.executable);
    fs.chmodSync(this.executable, 0o755);
    // The icons beside the binary, where the app looks for them as it does once installed.
    fs.cpSync(path.join(path.dirname(this.source), '../share/icons'), path.join(this.root, 'share/icons'), { recursive: true });
    fs.mkdirSync(path.join(this.share, 'runtime'), { recursive: true });
    fs.symlinkSync(process.execPath, path.join(this.share, 'runtime/node'));
    fs.mkdirSync(this.recordDir);
    for (const dir of [this.dataHome, this.stateHome, this.configHome, this.cacheHome]) fs.mkdirSync(dir, { recursive: true });
    this.installUrlHandler();
    if (this.options.sampleBundle) {
      for (const dir of ['server', 'voice-worker']) fs.cpSync(path.join(BUNDLE_DIR, dir), path.join(this.share, dir), { recursive: true });
      return;
    }
    const fixture = fs.readFileSync(path.join(here, 'fixture-service.mjs'));
    this.gateFile = path.join(this.root, 'server-ready');
    const server = { mode: 'ok', gate: this.gateFile, ...this.options.server };
    write(path.join(this.share, 'server/server.mjs'), fixture);
    write(path.join(this.share, 'server/fixture.json'), JSON.stringify({ role: 'server', records: this.recordDir, ...server }));
    if (this.options.worker !== false) {
      write(path.join(this.share, 'voice-worker/src/server.mjs'), fixture);
      write(path.join(this.share, 'voice-worker/src/fixture.json'), JSON.stringify({ role: 'worker', records: this.recordDir }));
    }
  }

  // The desktop's default https handler, as GIO finds it: a .desktop file in the private data
  // folder and a mimeapps.list naming it. Its "browser" only notes the URL it was given and the
  // startup id or activation token it was started with, which let a browser come to the front.
  installUrlHandler() {
    const opener = path.join(this.root, 'bin/open-url');
    write(opener, `#!/bin/sh\nprintf '%s\\t%s\\t%s\\n' "$1" "$DESKTOP_STARTUP_ID" "$XDG_ACTIVATION_TOKEN" >> '${this.openedUrlsFile}'\n`, 0o755);
    write(path.join(this.dataHome, 'applications/lorvane-e2e-browser.desktop'), [
      '[Desktop Entry]', 'Type=Application', 'Name=E2E browser', `Exec=${opener} %u`, 'NoDisplay=true', 'StartupNotify=true',
      'MimeType=x-scheme-handler/https;x-scheme-handler/http;', '',
    ].join('\n'));
    write(path.join(this.configHome, 'mimeapps.list'), [
      '[Default Applications]', 'x-scheme-handler/https=lorvane-e2e-browser.desktop',
      'x-scheme-handler/http=lorvane-e2e-browser.desktop', '',
    ].join('\n'));
  }

  // From now on a gated fixture server answers its requests.
  openGate() {
    fs.writeFileSync(this.gateFile, '');
  }

  // What the URL handler was started for: [{ url, startupId, activationToken }].
  openings() {
    const lines = fs.existsSync(this.openedUrlsFile) ? fs.readFileSync(this.openedUrlsFile, 'utf8').split('\n').filter(Boolean) : [];
    return lines.map((line) => {
      const [url, startupId, activationToken] = line.split('\t');
      return { url, startupId, activationToken };
    });
  }

  openedUrls() {
    return this.openings().map((o) => o.url);
  }

  async startBus() {
    const address = `unix:path=${path.join(this.root, 'bus')}`;
    this.bus = startProcess('dbus-daemon', ['--session', '--nofork', `--address=${address}`, '--print-address=1']);
    this.helpers.push(this.bus);
    await waitFor('the private session bus', () => this.bus.stdout().includes('unix:'), { timeout: 5000 });
    this.busAddress = this.bus.stdout().trim().split('\n')[0];
  }

  async startWindowManager() {
    if (await windowManagerRunning()) throw new Error('a window manager is already running on this display');
    // Seen once in a while on a loaded machine: openbox quits at start with status 1 and no
    // message. A second start has always worked.
    for (let attempt = 1; ; attempt += 1) {
      const wm = startProcess('openbox', ['--sm-disable'], { env: { ...process.env, HOME: this.home, XDG_CONFIG_HOME: this.configHome } });
      this.helpers.push(wm);
      try {
        await waitFor('openbox to manage the display', async () => {
          if (wm.child.exitCode !== null) throw Object.assign(new Error(`openbox exited (${wm.child.exitCode}): ${wm.stdout()}${wm.stderr()}`), { exited: true });
          return windowManagerRunning();
        }, { timeout: 20_000 });
        return;
      } catch (err) {
        if (wm.child.exitCode === null || attempt === 3) throw err;
        process.stderr.write(`# ${err.message.split('\n')[0]}; starting it again\n`);
      }
    }
  }

  environment() {
    const [name, value] = this.marker.split('=');
    return {
      ...process.env,
      HOME: this.home,
      XDG_DATA_HOME: this.dataHome,
      XDG_STATE_HOME: this.stateHome,
      XDG_CONFIG_HOME: this.configHome,
      XDG_CACHE_HOME: this.cacheHome,
      DBUS_SESSION_BUS_ADDRESS: this.busAddress,
      [name]: value,
      ...this.options.env,
    };
  }

  // Starts the app (again, for a second launch on the same bus); returns the launch handle.
  async launch() {
    requireDisplay();
    if (this.launches.length > 0) return this.spawnApp();
    await this.startBus();
    if (this.options.windowManager) await this.startWindowManager();
    // The ports are fixed and this machine may have other programs using them now and then. A
    // launch whose fixture found its port taken by someone else is retried once they are gone.
    for (let attempt = 1; ; attempt += 1) {
      await waitPortsFree(undefined, 90_000).catch(() => {});
      await assertPortsFree();
      const handle = this.spawnApp();
      const conflict = await this.portConflict();
      if (!conflict || attempt === 3) return handle;
      process.stderr.write(`# ${conflict}; launching again\n`);
      await stopProcess(handle);
      this.launches.pop();
      this.killMarked();
      for (const name of fs.readdirSync(this.recordDir)) fs.rmSync(path.join(this.recordDir, name));
    }
  }

  spawnApp() {
    const handle = startProcess(this.executable, [], { cwd: this.root, env: this.environment() });
    this.launches.push(handle);
    return handle;
  }

  // Waits until both fixtures listen; reports a port that another program took meanwhile.
  async portConflict() {
    if (this.options.sampleBundle || this.options.installed) return null;
    const roles = this.options.worker === false ? ['server'] : ['server', 'worker'];
    const outcome = await waitFor('the fixture services to listen', () => {
      const recs = roles.map((role) => this.records(role)[0]);
      const failed = recs.find((rec) => rec?.listenError);
      if (failed) return { failed };
      return recs.every((rec) => rec?.listening) ? { ok: true } : false;
    }, { timeout: 20_000 }).catch(() => ({ ok: true }));
    if (!outcome.failed || !/EADDRINUSE/.test(outcome.failed.listenError)) return null;
    return `another program took the ${outcome.failed.role}'s port (${outcome.failed.listenError})`;
  }

  killMarked() {
    for (const { pid } of processesWithMarker(this.marker)) {
      try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
    }
  }

  get first() {
    return this.launches[0];
  }

  records(role) {
    if (!fs.existsSync(this.recordDir)) return [];
    return fs.readdirSync(this.recordDir)
      .filter((name) => name.startsWith(`${role}-`) && name.endsWith('.json'))
      .map((name) => readJson(path.join(this.recordDir, name)))
      .filter(Boolean);
  }

  record(role) {
    const all = this.records(role);
    if (all.length > 1) throw new Error(`${all.length} ${role} processes were started, expected one`);
    return all[0] ?? null;
  }

  async waitRecord(role, description, predicate = () => true, timeout = 15_000) {
    return waitFor(`${role}: ${description}`, () => {
      const rec = this.record(role);
      if (rec?.listenError) throw new Error(`the ${role} fixture could not listen: ${rec.listenError}`);
      return rec && predicate(rec) ? rec : false;
    }, { timeout });
  }

  pageRequests() {
    return (this.record('server')?.requests ?? []).filter((r) => !r.url.startsWith('/__report'));
  }

  reports(type) {
    return (this.record('server')?.reports ?? []).filter((r) => !type || r.type === type);
  }

  // The web app counts as shown once the page it was given has reported back.
  async waitLoaded(timeout = 30_000) {
    await this.waitRecord('server', 'the page to load and report', (rec) => rec.reports.some((r) => r.type === 'load'), timeout);
    return this.reports('load')[0];
  }

  async mainWindow(timeout = 30_000) {
    return waitFor('the Lorvane window', async () => {
      const named = await windowsNamed('^Lorvane$');
      const own = new Set(await windowsOf(this.first.pid));
      return named.find((id) => own.has(id)) ?? named[0] ?? false;
    }, { timeout, interval: 200 }).catch(async (err) => {
      throw new Error(`${err.message}; ${await this.whyNoWindow()}`);
    });
  }

  // Enough to tell a display that went away from an app that hung or died on its way up: whether
  // the app runs and what its main thread waits in, its children, whether the display answers a
  // new client, and the app's last words.
  async whyNoWindow() {
    const pid = this.first.pid;
    const exited = this.first.child.exitCode ?? this.first.child.signalCode;
    const read = (file) => { try { return fs.readFileSync(file, 'utf8').trim(); } catch { return '?'; } };
    const children = read(`/proc/${pid}/task/${pid}/children`).split(/\s+/).filter((c) => /^\d+$/.test(c));
    const app = exited === null
      ? `the app still runs (main thread in ${read(`/proc/${pid}/wchan`)}, syscall ${read(`/proc/${pid}/syscall`).split(' ')[0]}; ` +
        `children: ${children.map((c) => `${c} ${read(`/proc/${c}/comm`)}`).join(', ') || 'none'})`
      : `the app ended (${exited})`;
    const probe = await run('xdotool', ['getdisplaygeometry'], { timeout: 5_000 });
    const display = probe.code === 0 ? 'the display answers' : `the display does not answer: ${probe.stderr.trim().split('\n').at(-1)}`;
    const stderr = this.first.stderr().trim().split('\n').slice(-3).join(' / ');
    return `${app}; ${display}; its stderr: ${stderr}`;
  }

  async waitExit(handle = this.first, timeout = 10_000) {
    const timer = new Promise((resolve) => setTimeout(resolve, timeout, null));
    const result = await Promise.race([handle.exited, timer]);
    if (!result) throw new Error(`the app (pid ${handle.pid}) did not exit within ${timeout} ms\n${handle.stderr()}`);
    return result;
  }

  // Everything the app started, directly or not, that is still running.
  leftovers() {
    return processesWithMarker(this.marker);
  }

  async waitNoLeftovers(timeout = 8000) {
    await waitFor('every process the app started to end', () => this.leftovers().length === 0, { timeout });
  }

  // Ends whatever this test started, by pid: the app, its children, the bus and the window manager.
  async cleanup() {
    try {
      for (const handle of this.launches) await stopProcess(handle, { timeout: 5000 });
      this.killMarked();
      for (const helper of this.helpers.reverse()) await stopProcess(helper, { timeout: 3000 });
      await waitPortsFree();
    } finally {
      if (!process.env.LORVANE_E2E_KEEP) fs.rmSync(this.root, { recursive: true, force: true });
    }
  }
}

// Creates the app for one test and ends it with the test, whatever the outcome.
export function appForTest(t, options) {
  const app = new LorvaneApp(options);
  t.after(async () => {
    if (process.env.LORVANE_E2E_DEBUG) {
      for (const l of app.launches) process.stderr.write(`--- app ${l.pid} stderr ---\n${l.stderr()}\n`);
    }
    await app.cleanup();
  });
  return app;
}
