// One app under test: a private copy of the test shell with its services, home, bus and faults arranged.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import crypto from 'node:crypto';
import { fileURLToPath } from 'node:url';
import {
  APP_PORT, VOICE_PORT, BUILD_DIR, BUNDLE_DIR, assertPortsFree, waitPortsFree, waitFor, startProcess, stopProcess, readJson,
} from './util.mjs';
import { childrenOf, commandName, processesWithMarker, waitsIn } from './procs.mjs';
import { focusWindow, key, copyAllText, lane } from './desktop.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const TEST_SHELL = path.join(BUILD_DIR, 'bin/lorvane-test-shell');
export const SHIPPED_APP = path.join(BUILD_DIR, 'bin/lorvane');
export const HELPERS = process.env.LORVANE_DESKTOP_HELPERS ?? path.join(BUILD_DIR, 'tests/desktop');

function write(file, text, mode) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, text);
  if (mode) fs.chmodSync(file, mode);
}

// Hands a folder and everything in it to the lane's user, who runs the app there.
function handOver(folder, user) {
  if (!user) return;
  const walk = (entry) => {
    fs.lchownSync(entry, user.uid, user.gid);
    if (fs.lstatSync(entry).isDirectory()) for (const name of fs.readdirSync(entry)) walk(path.join(entry, name));
  };
  walk(folder);
}

// Gives the lane's user a folder the test filled in for the app (certificates, a workspace).
export function handOverToLane(folder) {
  handOver(folder, lane().user);
}

// A temporary folder the app may read and run from, removed with the test.
export function testFolder(t, prefix) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), `lorvane-${prefix}-`));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return {
    path: folder,
    // Call once the folder is filled in.
    handOver: () => handOver(folder, lane().user),
  };
}

export class LorvaneApp {
  // options.server: { mode: 'ok' | '404' | '503' | 'never' | 'gated', probeMedia, refuseHistory }; a
  //   gated server answers 503 until openGate()
  // options.worker: false to leave the voice worker out of the bundle
  // options.env: extra variables for the app (inherited by its children)
  // options.windowManager: a window manager for closing and raising windows (openbox on X11)
  // options.sampleBundle: the real sample services from the build tree instead of fixtures
  // options.shipped: the shipped app (no test switches, no fake capture devices)
  // options.installed: an installed app's executable, run where it is with the bundle installed
  //   beside it (only the private home is laid out)
  // options.serverScript: source text that replaces the server fixture
  // options.realServer: the bundle's own server instead of the fixture
  // options.probeRuntime: a runtime stand-in that notes the descriptors and environment it was given
  // options.launcher: an executable start-lorvane.sh that notes its pid and stays running
  // options.foreignPorts: the test holds the app's ports itself, so they are not checked before launch
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
    this.launcherPidFile = path.join(this.root, 'launcher.pid');
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
    } else {
      this.installFixtures();
    }
    if (this.options.probeRuntime) {
      const runtime = path.join(this.share, 'runtime');
      fs.renameSync(path.join(runtime, 'node'), path.join(runtime, 'node.real'));
      fs.copyFileSync(path.join(HELPERS, 'lorvane_fd_probe'), path.join(runtime, 'node'));
      fs.chmodSync(path.join(runtime, 'node'), 0o755);
      this.probeDir = path.join(runtime, 'probes');
    }
    if (this.options.launcher) {
      write(path.join(this.dataHome, 'Lorvane/backend/start-lorvane.sh'), `#!/bin/sh\necho $$ > '${this.launcherPidFile}'\nexec sleep 600\n`, 0o755);
    }
  }

  installFixtures() {
    const fixture = fs.readFileSync(path.join(here, 'fixture-service.mjs'));
    this.gateFile = path.join(this.root, 'server-ready');
    const server = { mode: 'ok', gate: this.gateFile, ...this.options.server };
    const serverDir = path.join(this.share, 'server');
    if (this.options.realServer) {
      fs.cpSync(path.join(BUNDLE_DIR, 'server'), serverDir, { recursive: true });
    } else {
      write(path.join(serverDir, 'server.mjs'), this.options.serverScript ?? fixture);
      write(path.join(serverDir, 'fixture.json'), JSON.stringify({ role: 'server', records: this.recordDir, ...server }));
    }
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

  launcherPid() {
    try {
      return Number(fs.readFileSync(this.launcherPidFile, 'utf8').trim()) || null;
    } catch {
      return null;
    }
  }

  readLog(which = 'server') {
    const file = which === 'server' ? this.serverLog : this.voiceLog;
    return fs.existsSync(file) && fs.statSync(file).isFile() ? fs.readFileSync(file, 'utf8') : null;
  }

  async startBus() {
    const address = `unix:path=${path.join(this.root, 'bus')}`;
    this.bus = startProcess('dbus-daemon', ['--session', '--nofork', `--address=${address}`, '--print-address=1'], { as: lane().user });
    this.helpers.push(this.bus);
    await waitFor('the private session bus', () => this.bus.stdout().includes('unix:'), { timeout: 5000 });
    this.busAddress = this.bus.stdout().trim().split('\n')[0];
  }

  environment(extra = {}) {
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
      ...extra,
    };
  }

  // Starts the app; called again, a second launch on the same bus with `env` added (such as the
  // activation token a launcher hands over). Returns the launch handle.
  async launch(env = {}) {
    if (this.launches.length > 0) return this.spawnApp(env);
    handOver(this.root, lane().user);
    await this.startBus();
    if (this.options.windowManager) {
      const wm = await lane().startWindowManager();
      if (wm) this.helpers.push(wm);
    }
    if (!this.options.foreignPorts) {
      await waitPortsFree(undefined, 30_000).catch(() => {});
      await assertPortsFree();
    }
    await lane().prepareLaunch();
    this.launchedAt = Date.now();
    return this.spawnApp(env);
  }

  spawnApp(env) {
    const handle = startProcess(this.executable, [], { cwd: this.root, env: this.environment(env), as: lane().user });
    this.launches.push(handle);
    return handle;
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

  // The main window of the first launch: titled "Lorvane" and its process's own.
  async mainWindow(timeout = 30_000) {
    return waitFor('the Lorvane window', async () => {
      const own = new Set(await lane().windowsOf(this.first.pid));
      return (await lane().windowsNamed('^Lorvane$')).find((id) => own.has(id)) ?? false;
    }, { timeout, interval: 200 }).catch(async (err) => {
      throw new Error(`${err.message}; ${await this.whyNoWindow()}`);
    });
  }

  window(timeout = 60_000) {
    return this.mainWindow(timeout);
  }

  // Text copied out of the window until it contains `needle`; copying needs a working main loop.
  async waitForPageText(window, needle, timeout = 20_000, interval = 300) {
    return waitFor(`"${needle}" in the window`, async () => {
      const text = await copyAllText(window);
      return text.includes(needle) ? text : false;
    }, { timeout, interval });
  }

  // Enough to tell a display that went away from an app that hung or died on its way up: whether
  // the app runs and what its main thread waits in, its children, whether the display answers a
  // new client, and the app's last words.
  async whyNoWindow() {
    const { pid } = this.first;
    const exited = this.first.child.exitCode ?? this.first.child.signalCode;
    const { wchan, syscall } = waitsIn(pid);
    const children = childrenOf(pid).map((c) => `${c} ${commandName(c)}`).join(', ') || 'none';
    const app = exited === null
      ? `the app still runs (main thread in ${wchan}, syscall ${syscall}; children: ${children})`
      : `the app ended (${exited})`;
    const silent = await lane().answers();
    const display = silent ? `the display does not answer: ${silent}` : 'the display answers';
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

  // The same, less the launcher script, which outlives the app by design.
  strayProcesses() {
    const launcher = this.launcherPid();
    return this.leftovers().filter((p) => p.pid !== launcher);
  }

  async waitNoLeftovers(timeout = 8000) {
    await waitFor('every process the app started to end', () => this.strayProcesses().length === 0, { timeout });
  }

  // Ctrl+Q, then a normal exit, nothing left running and the app's ports (those named) free again.
  async quitCleanly(window, ports = [APP_PORT, VOICE_PORT]) {
    await focusWindow(window);
    await key('ctrl+q');
    const { code, signal } = await this.waitExit(this.first, 10_000);
    await this.waitNoLeftovers();
    await waitPortsFree(ports);
    return { code, signal };
  }

  // Ends whatever this test started, by pid: the app, its children, the launcher, the bus and
  // the window manager.
  async cleanup() {
    try {
      for (const handle of this.launches) await stopProcess(handle, { timeout: 5000 });
      for (const { pid } of [...this.leftovers(), { pid: this.launcherPid() }].filter((p) => p.pid)) {
        try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
      }
      for (const helper of this.helpers.reverse()) await stopProcess(helper, { timeout: 3000 });
      await waitPortsFree();
    } finally {
      // A web process still ending may write into its cache while the folder goes.
      if (!process.env.LORVANE_E2E_KEEP) fs.rmSync(this.root, { recursive: true, force: true, maxRetries: 5 });
    }
  }
}

// Creates the app for one test and ends it with the test, whatever the outcome; `before` runs
// first at the end (for a server the test holds on the app's port, which must be gone before
// the ports are checked).
export function appForTest(t, options, before = async () => {}) {
  const app = new LorvaneApp(options);
  t.after(async () => {
    if (process.env.LORVANE_E2E_DEBUG) {
      for (const l of app.launches) process.stderr.write(`--- app ${l.pid} stderr ---\n${l.stderr()}\n`);
    }
    await before();
    await app.cleanup();
  });
  return app;
}
