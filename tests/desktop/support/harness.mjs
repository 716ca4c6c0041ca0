// One app under test: a private copy of the test shell with its bundle and home, on this run's lane.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { lane, press } from './lanes.mjs';
import { BUNDLE_DIR, processesWithMarker, run, runChecked, startProcess, stopProcess, waitFor, waitPortsFree } from './util.mjs';

const FIXTURE = new URL('./fixture.mjs', import.meta.url);
const readJson = (file) => JSON.parse(fs.readFileSync(file, 'utf8'));

export class LorvaneApp {
  // options.server, options.worker: how each service's stand-in behaves (fixture.mjs); options.sample:
  // the real sample services instead; options.env: variables for the app, which its children inherit.
  constructor(options = {}) {
    this.options = options;
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-app-'));
    // Everything the app starts inherits this variable, so it finds them all, even orphans.
    this.marker = `LORVANE_TEST_RUN=${path.basename(this.root)}`;
    Object.assign(this, { home: `${this.root}/home`, dataHome: `${this.root}/home/.local/share`, recordDir: `${this.root}/records`, launches: [] });
    for (const folder of [this.recordDir, this.dataHome, `${this.root}/bin`]) fs.mkdirSync(folder, { recursive: true });
    // The app finds its bundle from where its executable is, as once installed.
    fs.copyFileSync(path.join(process.env.LORVANE_BUILD_DIR, 'bin/lorvane-test-shell'), `${this.root}/bin/lorvane`);
    const share = `${this.root}/share/lorvane`;
    fs.cpSync(BUNDLE_DIR, share, { recursive: true });
    if (options.sample) return;
    for (const [role, dir] of [['server', 'server'], ['worker', 'voice-worker/src']]) {
      fs.copyFileSync(FIXTURE, path.join(share, dir, 'server.mjs'));
      fs.writeFileSync(path.join(share, dir, 'fixture.json'), JSON.stringify({ role, records: this.recordDir, ...options[role] }));
    }
  }

  // Starts the app; called again, a second launch with `env` added (such as what a launcher hands
  // the programs it starts). Returns the launch's process handle.
  async launch(env = {}) {
    // The folder and everything in it go to the lane's user, who runs the app there.
    if (lane.user && !this.launches.length) await runChecked('chown', ['-R', `${lane.user.uid}:${lane.user.gid}`, this.root]);
    const [name, value] = this.marker.split('=');
    const variables = { ...process.env, HOME: this.home, XDG_DATA_HOME: this.dataHome, XDG_STATE_HOME: `${this.home}/.local/state`,
      XDG_CACHE_HOME: `${this.home}/.cache`, XDG_CONFIG_HOME: `${this.home}/.config`, [name]: value, ...this.options.env, ...env };
    this.launches.push(startProcess(`${this.root}/bin/lorvane`, [], { cwd: this.root, env: variables, as: lane.user }));
    return this.launches.at(-1);
  }

  get first() { return this.launches[0]; }

  // What the stand-ins of one role noted, one record per process started.
  records(role) {
    return fs.readdirSync(this.recordDir).filter((n) => n.startsWith(`${role}-`) && n.endsWith('.json')).map((n) => readJson(`${this.recordDir}/${n}`));
  }

  // The record of the one process of `role` started so far.
  record(role) {
    const all = this.records(role);
    if (all.length > 1) throw new Error(`${all.length} ${role} processes were started, not one`);
    return all[0];
  }

  waitRecord(role, what, predicate = () => true) {
    return waitFor(`${role}: ${what}`, () => [this.record(role)].find((found) => found && predicate(found)), { timeout: 30_000 });
  }

  reports(type) { return (this.record('server')?.reports ?? []).filter((r) => r.type === type); }

  // The web app counts as shown once its page has reported back.
  waitLoaded() { return this.waitRecord('server', 'the page to load', (r) => r.reports.some((e) => e.type === 'load')); }

  // The main window of the first launch: its process's own, titled "Lorvane".
  mainWindow() {
    const find = async () => (await lane.views()).find((v) => v.pid === this.first.pid && v.name === 'Lorvane');
    return waitFor('the Lorvane window', find, { timeout: 30_000, interval: 200 }).catch((err) => {
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

  // Ends whatever this app's test started, by pid (each found by this app's marker; one that ended
  // meanwhile is no failure), and its folder.
  async cleanup() {
    for (const handle of this.launches) await stopProcess(handle);
    await run('kill', ['-KILL', ...this.leftovers().map(String)]);
    await waitPortsFree().catch(() => {});
    // A web process still ending may write into its cache while the folder goes.
    fs.rmSync(this.root, { recursive: true, force: true, maxRetries: 5 });
  }
}

// The app for one test, launched after `arrange(app)`, with its main window and (unless `loaded` is
// false) the web app shown; ended with the test whatever its outcome.
export async function openApp(t, { loaded = true, ...options } = {}, arrange = () => {}) {
  const app = new LorvaneApp(options);
  t.after(() => app.cleanup());
  arrange(app);
  await app.launch();
  const window = await app.mainWindow();
  if (loaded) await app.waitLoaded();
  return { app, window };
}

// Ctrl+Q in the window: the app exits, and nothing it started runs on.
export async function quit(app, window) {
  await lane.focus(window.id);
  await press('ctrl+q');
  const exit = await app.waitExit();
  await waitFor('everything the app started to end', () => app.leftovers().length === 0, { timeout: 8000 });
  return exit;
}
