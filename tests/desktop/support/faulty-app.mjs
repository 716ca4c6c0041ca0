// The app under test with a fault arranged around it: other services, broken resources, a launcher.
import fs from 'node:fs';
import path from 'node:path';
import { LorvaneApp } from './harness.mjs';
import { requireDisplay, focusWindow, key, copyAllText, windowsOf, windowsNamed } from './desktop.mjs';
import { BUILD_DIR, BUNDLE_DIR, assertPortsFree, waitFor, waitPortsFree, APP_PORT, VOICE_PORT } from './util.mjs';

export const HELPERS = process.env.LORVANE_RELIABILITY_HELPERS ?? path.join(BUILD_DIR, 'tests/desktop');
export const ERROR_HEADING = 'Не удалось запустить локальный интерфейс';
export const LOADING_TEXT = 'Запускаем локальное приложение…';

export class FaultyApp extends LorvaneApp {
  // Besides LorvaneApp's options:
  //   serverScript: source text that replaces the server fixture
  //   realServer:   the bundle's own server instead of the fixture
  //   probeRuntime: a runtime stand-in that notes the descriptors and environment it was given
  //   launcher:     an executable start-lorvane.sh that notes its pid and stays running
  //   foreignPorts: the test holds the app's ports itself, so they are not checked before launch
  layOut() {
    super.layOut();
    const serverDir = path.join(this.share, 'server');
    if (this.options.realServer) {
      fs.rmSync(serverDir, { recursive: true });
      fs.cpSync(path.join(BUNDLE_DIR, 'server'), serverDir, { recursive: true });
    } else if (this.options.serverScript) {
      fs.writeFileSync(path.join(serverDir, 'server.mjs'), this.options.serverScript);
    }
    if (this.options.probeRuntime) {
      const runtime = path.join(this.share, 'runtime');
      fs.renameSync(path.join(runtime, 'node'), path.join(runtime, 'node.real'));
      fs.copyFileSync(path.join(HELPERS, 'lorvane_fd_probe'), path.join(runtime, 'node'));
      fs.chmodSync(path.join(runtime, 'node'), 0o755);
      this.probeDir = path.join(runtime, 'probes');
    }
    if (this.options.launcher) {
      this.launcherPidFile = path.join(this.root, 'launcher.pid');
      const script = path.join(this.dataHome, 'Lorvane/backend/start-lorvane.sh');
      fs.mkdirSync(path.dirname(script), { recursive: true });
      fs.writeFileSync(script, `#!/bin/sh\necho $$ > '${this.launcherPidFile}'\nexec sleep 600\n`, { mode: 0o755 });
    }
  }

  // Starts the app once with no help from the fixtures: some faults keep them from ever listening.
  async launch() {
    requireDisplay();
    await this.startBus();
    if (this.options.windowManager) await this.startWindowManager();
    if (!this.options.foreignPorts) {
      await waitPortsFree([APP_PORT, VOICE_PORT], 30_000).catch(() => {});
      await assertPortsFree();
    }
    this.launchedAt = Date.now();
    return this.spawnApp();
  }

  // The main window of this launch, found by its process.
  async window(timeout = 60_000) {
    return waitFor('the Lorvane window', async () => {
      const own = new Set(await windowsOf(this.first.pid));
      return (await windowsNamed('^Lorvane$')).find((id) => own.has(id)) ?? false;
    }, { timeout, interval: 200 }).catch(async (err) => {
      throw new Error(`${err.message}; ${await this.whyNoWindow()}`);
    });
  }

  // Text copied out of the window until it contains `needle`; copying needs a working main loop.
  async waitForPageText(window, needle, timeout = 20_000, interval = 300) {
    return waitFor(`"${needle}" in the window`, async () => {
      const text = await copyAllText(window);
      return text.includes(needle) ? text : false;
    }, { timeout, interval });
  }

  launcherPid() {
    try {
      return Number(fs.readFileSync(this.launcherPidFile, 'utf8').trim()) || null;
    } catch {
      return null;
    }
  }

  // Everything this launch started that still runs, less the launcher, which outlives the app by design.
  strayProcesses() {
    const launcher = this.launcherPid();
    return this.leftovers().filter((p) => p.pid !== launcher);
  }

  // Ctrl+Q, then a normal exit, nothing left running and the app's ports (those named) free again.
  async quitCleanly(window, ports = [APP_PORT, VOICE_PORT]) {
    await focusWindow(window);
    await key('ctrl+q');
    const { code, signal } = await this.waitExit(this.first, 10_000);
    await waitFor('every service of the app to end', () => this.strayProcesses().length === 0, { timeout: 8000 });
    await waitPortsFree(ports);
    return { code, signal };
  }

  readLog(which = 'server') {
    const file = which === 'server' ? this.serverLog : this.voiceLog;
    return fs.existsSync(file) && fs.statSync(file).isFile() ? fs.readFileSync(file, 'utf8') : null;
  }
}

// Creates the app for one test and ends it with the test; `before` runs first at the end (for a
// server the test holds on the app's port, which must be gone before the ports are checked).
export function faultyAppForTest(t, options, before = async () => {}) {
  const app = new FaultyApp(options);
  t.after(async () => {
    if (process.env.LORVANE_E2E_DEBUG) {
      for (const l of app.launches) process.stderr.write(`--- app ${l.pid} stderr ---\n${l.stderr()}\n`);
    }
    await before();
    const launcher = app.launcherPid();
    if (launcher) {
      try { process.kill(launcher, 'SIGKILL'); } catch { /* already gone */ }
    }
    await app.cleanup();
  });
  return app;
}
