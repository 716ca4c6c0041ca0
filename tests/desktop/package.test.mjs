// The .deb as a person meets it: built, installed with dpkg, started from /usr/bin, quit, removed again.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { LorvaneApp, quit } from './support/harness.mjs';
import { press, waitForText } from './support/lanes.mjs';
import { BUNDLE_DIR, run, waitFor } from './support/util.mjs';

const installed = async () => (await run('dpkg-query', ['-W', '-f=${Status}', 'lorvane'])).stdout.includes('install ok installed');
// dpkg refuses to start while another package tool holds its lock; that passes.
const dpkg = (...args) => waitFor(`dpkg ${args.join(' ')}`, async () => {
  const result = await run('dpkg', args, { timeout: 120_000 });
  return !(result.code !== 0 && /lock/i.test(result.stderr)) && result;
}, { timeout: 180_000, interval: 2000 });

test('the .deb installs, its app starts from /usr/bin with the sample app, quits, and the package removes cleanly', async (t) => {
  if (process.getuid() !== 0) return t.skip('installing a package needs root');
  if (await installed()) return t.skip('a lorvane package is installed on this machine already; it is left alone');
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-deb-'));
  let app = null;
  // Whatever happens below, the machine is left without the package.
  t.after(async () => {
    await app?.cleanup();
    if (await installed()) await dpkg('--purge', 'lorvane');
    fs.rmSync(out, { recursive: true, force: true });
  });
  const built = await run(process.env.LORVANE_CPACK, ['--config', path.join(process.env.LORVANE_BUILD_DIR, 'CPackConfig.cmake'), '-B', out], { timeout: 240_000 });
  assert.equal(built.code, 0, built.stdout + built.stderr);
  const deb = path.join(out, fs.readdirSync(out).find((name) => name.endsWith('.deb')));

  // What a package manager decides on: the libraries the binary links, node for the services.
  const fields = (await run('dpkg-deb', ['-f', deb, 'Depends', 'Homepage'])).stdout;
  const depends = /^Depends: (.*)$/m.exec(fields)[1].split(', ').map((d) => d.split(' ')[0]);
  for (const library of ['liburiparser1', 'libwebkitgtk-6.0-4', 'libgtk-4-1', 'libsoup-3.0-0', 'libglib2.0-0', 'libc6', 'nodejs']) {
    assert.ok(depends.includes(library), `Depends names ${library}: ${fields}`);
  }
  assert.match(fields, /nodejs \(>= [0-9.]+\)/);
  assert.match(fields, /^Homepage: https:\/\/\S+$/m);
  const install = await dpkg('-i', deb);
  assert.equal(install.code, 0, install.stdout + install.stderr);
  const listed = (await run('dpkg', ['-L', 'lorvane'])).stdout.split('\n');
  for (const file of ['/usr/share/applications/app.lorvane.Lorvane.desktop', '/usr/share/metainfo/app.lorvane.Lorvane.metainfo.xml',
    '/usr/share/doc/lorvane/copyright', '/usr/share/icons/hicolor/256x256/apps/app.lorvane.Lorvane.png']) {
    assert.ok(listed.includes(file), `the package holds ${file}`);
  }
  assert.match((await run('file', ['-b', '/usr/bin/lorvane'])).stdout, /, stripped/);
  // The services' runtime is the bundle's own script, not a link into the machine that built it.
  assert.deepEqual(fs.readFileSync('/usr/share/lorvane/runtime/node'), fs.readFileSync(path.join(BUNDLE_DIR, 'runtime/node')));
  assert.ok(fs.lstatSync('/usr/share/lorvane/runtime/node').isFile());

  app = new LorvaneApp({ installed: '/usr/bin/lorvane' });
  await app.launch();
  const window = await app.mainWindow();
  await waitForText('the sample app with its voice worker', window.id, (s) => s.includes('Добро пожаловать') && s.includes('Голосовой сервис работает.'), 40_000);
  // The shipped app has no fake capture devices, and this machine has no capture device at all.
  await press('alt+shift+v');
  await waitForText('the voice view', window.id, (s) => s.includes('Пока нет ни одной заметки.'));
  await press('space');
  const shown = await waitForText('the no-microphone message', window.id, (s) => s.includes('Микрофон не найден'));
  assert.doesNotMatch(shown, /Идёт запись/);
  assert.deepEqual(await quit(app, window), { code: 0, signal: null });
  const removal = await dpkg('--purge', 'lorvane');
  assert.equal(removal.code, 0, removal.stdout + removal.stderr);
  for (const gone of ['/usr/bin/lorvane', '/usr/share/lorvane', '/usr/share/metainfo/app.lorvane.Lorvane.metainfo.xml']) {
    assert.equal(fs.existsSync(gone), false, `${gone} goes with the package`);
  }
});
