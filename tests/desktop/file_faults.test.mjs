// Fault matrix, files: logs and user folders that are not what they should be, and bad public-URL files.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { appForTest } from './support/harness.mjs';
import { waitFor } from './support/util.mjs';

const PUBLIC_URL = 'https://phone.tail4e7d1.ts.net';
const MiB = 1024 * 1024;

// Replaces a folder of the private home with a plain file.
function fileInsteadOf(folder) {
  fs.rmSync(folder, { recursive: true, force: true });
  fs.writeFileSync(folder, 'not a folder\n');
}

function publicUrlFile(app, bytes) {
  fs.mkdirSync(path.join(app.dataHome, 'Lorvane'), { recursive: true });
  fs.writeFileSync(path.join(app.dataHome, 'Lorvane/voice-phone-public-url'), bytes);
}

// Where a service's output went: its log, or (without a usable log) the shell's own stderr, as
// the children inherit the shell's streams then.
const outputInLog = (app) => /fixture server started/.test(app.readLog('server') ?? '');
const outputInShellStreams = (app) => /fixture server started/.test(app.first.stdout() + app.first.stderr());

const rows = [
  {
    name: 'the log paths are taken by directories',
    arrange: (app) => {
      fs.mkdirSync(app.serverLog, { recursive: true });
      fs.mkdirSync(app.voiceLog, { recursive: true });
    },
    output: outputInShellStreams,
    check: (app) => assert.ok(fs.statSync(app.serverLog).isDirectory() && fs.statSync(app.voiceLog).isDirectory(), 'the directories are left alone'),
  },
  { name: 'XDG_STATE_HOME is a file', arrange: (app) => fileInsteadOf(app.stateHome), output: outputInShellStreams },
  {
    name: 'XDG_DATA_HOME is a file',
    arrange: (app) => fileInsteadOf(app.dataHome),
    output: outputInLog,
    check: (app, server) => {
      // The paths are handed over all the same; the services report a missing folder themselves.
      assert.equal(server.env.LORVANE_GATEWAY_STATE_DIR, `${app.dataHome}/Lorvane/gateway`);
      assert.equal(app.record('worker').env.LORVANE_VOICE_DATA_DIR, `${app.dataHome}/Lorvane/voice`);
    },
  },
  { name: 'XDG_CACHE_HOME is a file', arrange: (app) => fileInsteadOf(app.cacheHome), output: outputInLog },
  {
    name: 'every XDG folder and HOME itself are files',
    arrange: (app) => {
      for (const folder of [app.dataHome, app.stateHome, app.cacheHome, app.configHome]) fileInsteadOf(folder);
      fileInsteadOf(app.home);
    },
    output: outputInShellStreams,
  },
  {
    name: 'the public-URL file is not UTF-8',
    arrange: (app) => publicUrlFile(app, Buffer.concat([Buffer.from(`${PUBLIC_URL}\n`), Buffer.from([0xff, 0xfe, 0x0a])])),
    output: outputInLog,
    check: (app, server) => assert.equal(server.env.LORVANE_VOICE_PUBLIC_URL, undefined),
  },
  {
    name: 'the public-URL file is 10 MB',
    arrange: (app) => publicUrlFile(app, `${PUBLIC_URL}/${'a'.repeat(10 * MiB)}\n`),
    output: outputInLog,
    check: (app, server) => assert.equal(server.env.LORVANE_VOICE_PUBLIC_URL, undefined),
  },
];

for (const row of rows) {
  test(`${row.name}: the app still starts its services, loads the web app and quits cleanly`, async (t) => {
    const app = appForTest(t, {});
    row.arrange(app);
    await app.launch();
    const window = await app.window();
    const load = await app.waitLoaded();
    assert.equal(load.href, 'http://127.0.0.1:3001/');
    const server = await app.waitRecord('server', 'to listen', (r) => r.listening);
    await app.waitRecord('worker', 'to listen', (r) => r.listening);
    await waitFor('the server\'s first words where they belong', () => row.output(app), { timeout: 5000 });
    row.check?.(app, server);
    assert.deepEqual(await app.quitCleanly(window), { code: 0, signal: null });
  });
}
