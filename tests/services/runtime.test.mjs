// The bundle's runtime/node on its own: which node it starts, and that it hands on exactly what it was given.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BUNDLE_DIR, run, startProcess } from '../desktop/support/util.mjs';

const runtime = path.join(BUNDLE_DIR, 'runtime/node');
const systemNode = '/usr/bin/node';
let tmp;
let fakeBin;
let probe;

before(() => {
  tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-runtime-'));
  fakeBin = path.join(tmp, 'bin');
  fs.mkdirSync(fakeBin);
  // A "node" that only says it was the one chosen.
  fs.writeFileSync(path.join(fakeBin, 'node'), '#!/bin/sh\necho "node from PATH"\n', { mode: 0o755 });
  probe = path.join(tmp, 'probe.mjs');
  fs.writeFileSync(probe, "import fs from 'node:fs'; process.stdout.write(JSON.stringify({ argv0: process.argv0," +
    " args: process.argv.slice(1), execPath: process.execPath," +
    " environ: fs.readFileSync('/proc/self/environ', 'latin1').split('\\0').slice(0, -1) }));");
});

after(() => fs.rmSync(tmp, { recursive: true, force: true }));

async function runRuntime(env, args = [probe], cwd = tmp, command = runtime) {
  const handle = startProcess(command, args, { env, cwd });
  const { code } = await handle.exited;
  return { code, stdout: handle.stdout(), stderr: handle.stderr() };
}

test('node gets the arguments and the environment exactly as the app gave them, from a file of the bundle', async () => {
  // A link made at build time would point at the building machine's node.
  assert.ok(fs.lstatSync(runtime).isFile(), `${runtime} is not a regular file`);
  // Variables a shell would rewrite, add or drop on its way to node, in an order of their own.
  const env = {
    PWD: '/not/the/working/folder', 'BASH_FUNC_f%%': '() {  echo\n}', OLDPWD: '/before',
    PATH: path.dirname(process.execPath), MULTI_LINE: 'one\ntwo', EMPTY: '',
  };
  const args = [probe, 'two words', '', '--inspect=0', '$HOME'];
  const { code, stdout, stderr } = await runRuntime(env, args);
  assert.equal(code, 0, stderr);
  assert.deepEqual(JSON.parse(stdout), {
    argv0: runtime, args, execPath: fs.realpathSync(process.execPath),
    environ: Object.entries(env).map(([name, value]) => `${name}=${value}`),
  });
});

test('the node chosen is the first one on PATH, else the system one', async () => {
  const cases = [
    ['first node on PATH', `/nonexistent:${fakeBin}:${path.dirname(process.execPath)}`, 'PATH'],
    ['its own folder on PATH is passed over', `${path.dirname(runtime)}:${fakeBin}`, 'PATH'],
    ['a relative PATH entry is passed over', 'bin', 'system'],
    ['an empty PATH entry (the working folder) is passed over', ':', 'system', fakeBin],
    ['no PATH at all', undefined, 'system'],
  ];
  for (const [name, PATH, from, cwd] of cases) {
    const { code, stdout, stderr } = await runRuntime(PATH === undefined ? {} : { PATH }, [probe], cwd);
    assert.equal(code, 0, `${name}: ${stderr}`);
    if (from === 'PATH') assert.equal(stdout.trim(), 'node from PATH', name);
    else assert.equal(JSON.parse(stdout).execPath, fs.realpathSync(systemNode), name);
  }
});

test('without any node it says so in the log and fails, so the app shows its launch-error page', async (t) => {
  // The system node is hidden in a mount namespace of this test's own, where one can be made.
  const hide = `if [ -e ${systemNode} ]; then mount --bind /dev/null ${systemNode} || exit 99; fi\n` +
    'PATH=/nonexistent exec "$@"';
  const unshare = ['--mount', '--', 'sh', '-c', hide, 'hide'];
  const usable = await run('unshare', [...unshare, '/bin/true']);
  if (usable.code !== 0) return t.skip(`no private mount namespace here (${usable.stderr.trim() || usable.code})`);
  const { code, stdout, stderr } = await runRuntime(process.env, [...unshare, runtime, probe], tmp, 'unshare');
  assert.deepEqual({ code, stdout }, { code: 127, stdout: '' });
  assert.match(stderr, /runtime\/node: no Node runtime found .*install Node\.js/);
});
