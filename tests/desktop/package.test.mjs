// The .deb as a user meets it: built, installed with dpkg, started from /usr/bin, quit, removed again.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { appForTest } from './support/harness.mjs';
import { focusWindow, key, screenshot, waitForText } from './support/desktop.mjs';
import { BUILD_DIR, BUNDLE_DIR, run, waitFor } from './support/util.mjs';

const PACKAGE = 'lorvane';
const CPACK = process.env.LORVANE_CPACK || 'cpack';

async function installed() {
  const { stdout } = await run('dpkg-query', ['-W', '-f=${Status}', PACKAGE]);
  return stdout.includes('install ok installed');
}

// dpkg refuses to start while another package tool holds its lock; wait for that to pass.
async function dpkg(...args) {
  return waitFor(`dpkg ${args.join(' ')}`, async () => {
    const result = await run('dpkg', args, { timeout: 120_000 });
    if (result.code !== 0 && /lock/i.test(result.stderr)) return false;
    return result;
  }, { timeout: 180_000, interval: 2000 });
}

test('the .deb installs, its app starts from /usr/bin with the sample app, quits, and the package removes cleanly', async (t) => {
  if (process.getuid() !== 0) return t.skip('installing a package needs root');
  if (await installed()) return t.skip(`a ${PACKAGE} package is installed on this machine already; it is left alone`);

  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-deb-'));
  let app = null;
  // Whatever happens below, the machine is left without the package.
  t.after(async () => {
    await app?.cleanup();
    if (await installed()) await dpkg('--purge', PACKAGE);
    fs.rmSync(out, { recursive: true, force: true });
  });

  const built = await run(CPACK, ['--config', path.join(BUILD_DIR, 'CPackConfig.cmake'), '-B', out], { timeout: 240_000 });
  assert.equal(built.code, 0, built.stdout + built.stderr);
  const deb = fs.readdirSync(out).find((name) => name.endsWith('.deb'));
  assert.ok(deb, `no .deb in ${out}`);
  const debPath = path.join(out, deb);

  // The control fields a package manager decides on.
  const fields = await run('dpkg-deb', ['-f', debPath, 'Depends', 'Homepage']);
  const depends = /^Depends: (.*)$/m.exec(fields.stdout)?.[1] ?? '';
  const dependencies = depends.split(',').map((d) => d.trim().split(' ')[0]);
  for (const library of ['liburiparser1', 'libwebkitgtk-6.0-4', 'libgtk-4-1', 'libsoup-3.0-0', 'libglib2.0-0', 'libc6']) {
    assert.ok(dependencies.includes(library), `Depends names ${library}: ${depends}`);
  }
  assert.match(depends, /(^|, )nodejs \(>= [0-9.]+\)/, 'Depends names nodejs with a minimum version');
  assert.match(fields.stdout, /^Homepage: https:\/\/\S+$/m);

  const install = await dpkg('-i', debPath);
  assert.equal(install.code, 0, install.stdout + install.stderr);

  // The installed tree: a stripped binary, the services' own runtime script, the metadata.
  const listed = (await run('dpkg', ['-L', PACKAGE])).stdout.split('\n');
  for (const file of [
    '/usr/bin/lorvane', '/usr/share/lorvane/runtime/node', '/usr/share/lorvane/server/server.mjs',
    '/usr/share/lorvane/voice-worker/src/server.mjs', '/usr/share/applications/app.lorvane.Lorvane.desktop',
    '/usr/share/metainfo/app.lorvane.Lorvane.metainfo.xml', '/usr/share/doc/lorvane/copyright',
    '/usr/share/icons/hicolor/256x256/apps/app.lorvane.Lorvane.png',
  ]) {
    assert.ok(listed.includes(file), `the package holds ${file}`);
  }
  assert.match((await run('file', ['-b', '/usr/bin/lorvane'])).stdout, /, stripped/);
  const runtime = '/usr/share/lorvane/runtime/node';
  assert.ok(fs.lstatSync(runtime).isFile(), `${runtime} is a file, not a link into the build machine`);
  assert.deepEqual(fs.readFileSync(runtime), fs.readFileSync(path.join(BUNDLE_DIR, 'runtime/node')));

  // The installed app, from its own folders, with nothing of the build tree.
  app = appForTest(t, { installed: '/usr/bin/lorvane' });
  await app.launch();
  const window = await app.mainWindow();
  await waitForText('the sample app with its voice worker', window,
    (s) => s.includes('Добро пожаловать') && s.includes('Голосовой сервис работает.'), 40_000);
  await screenshot('installed-package');
  await focusWindow(window);
  await key('ctrl+q');
  assert.equal((await app.waitExit()).code, 0);
  await app.waitNoLeftovers();

  const removal = await dpkg('--purge', PACKAGE);
  assert.equal(removal.code, 0, removal.stdout + removal.stderr);
  assert.equal(await installed(), false);
  for (const gone of ['/usr/bin/lorvane', '/usr/share/lorvane', '/usr/share/metainfo/app.lorvane.Lorvane.metainfo.xml']) {
    assert.equal(fs.existsSync(gone), false, `${gone} is removed with the package`);
  }
});
