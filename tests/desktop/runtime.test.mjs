// The bundle's runtime/node on its own: which node it starts, and that it hands on exactly what it was given.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BUNDLE_DIR, run, startProcess } from './support/util.mjs';

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
  fs.writeFileSync(probe, [
    "import fs from 'node:fs';",
    'process.stdout.write(JSON.stringify({',
    '  argv0: process.argv0, args: process.argv.slice(1), execPath: process.execPath,',
    "  environ: fs.readFileSync('/proc/self/environ', 'latin1').split('\\0').slice(0, -1),",
    '}));',
  ].join('\n'));
});

after(() => fs.rmSync(tmp, { recursive: true, force: true }));

async function runRuntime(env, args = [probe], options = {}) {
  const handle = startProcess(runtime, args, { env, cwd: tmp, ...options });
  const { code } = await handle.exited;
  return { code, stdout: handle.stdout(), stderr: handle.stderr() };
}

test('runtime/node is a file of its own, not a link to the node of the machine that built it', () => {
  const stat = fs.lstatSync(runtime);
  assert.ok(stat.isFile(), `${runtime} is not a regular file`);
  assert.ok(stat.mode & 0o111, `${runtime} is not executable`);
});

test('node gets the arguments and the environment exactly as the app gave them', async () => {
  // Variables a shell would rewrite, add or drop on its way to node, in an order of their own.
  const env = {
    PWD: '/not/the/working/folder',
    'BASH_FUNC_f%%': '() {  echo\n}',
    OLDPWD: '/before',
    PATH: path.dirname(process.execPath),
    MULTI_LINE: 'one\ntwo',
    EMPTY: '',
  };
  const args = [probe, 'two words', '', '--inspect=0', '$HOME'];
  const { code, stdout, stderr } = await runRuntime(env, args);
  assert.equal(code, 0, stderr);
  const seen = JSON.parse(stdout);
  assert.deepEqual(seen.environ, Object.entries(env).map(([name, value]) => `${name}=${value}`));
  assert.equal(seen.argv0, runtime, 'argv[0] stays the path the app started');
  assert.deepEqual(seen.args, args);
  assert.equal(seen.execPath, fs.realpathSync(process.execPath));
});

test('the node chosen is the first one on PATH, else the system one', async (t) => {
  const cases = [
    { name: 'first node on PATH', PATH: `/nonexistent:${fakeBin}:${path.dirname(process.execPath)}`, from: 'PATH' },
    { name: 'its own folder on PATH is passed over', PATH: `${path.dirname(runtime)}:${fakeBin}`, from: 'PATH' },
    { name: 'a relative PATH entry is passed over', PATH: 'bin', from: 'system' },
    { name: 'an empty PATH entry (the working folder) is passed over', PATH: ':', from: 'system', cwd: fakeBin },
    { name: 'no PATH at all', PATH: undefined, from: 'system' },
  ];
  if (!fs.existsSync(systemNode)) {
    t.diagnostic(`${systemNode} is missing here: only the PATH cases run`);
  }
  for (const c of cases) {
    if (c.from === 'system' && !fs.existsSync(systemNode)) continue;
    const env = c.PATH === undefined ? {} : { PATH: c.PATH };
    const { code, stdout, stderr } = await runRuntime(env, [probe], c.cwd ? { cwd: c.cwd } : {});
    assert.equal(code, 0, `${c.name}: ${stderr}`);
    if (c.from === 'PATH') assert.equal(stdout.trim(), 'node from PATH', c.name);
    else assert.equal(JSON.parse(stdout).execPath, fs.realpathSync(systemNode), c.name);
  }
});

test('without any node it says so in the log and fails, so the app shows its launch-error page', async (t) => {
  // The system node is hidden in a mount namespace of this test's own, where one can be made.
  const hide = `if [ -e ${systemNode} ]; then mount --bind /dev/null ${systemNode} || exit 99; fi\n` +
    'PATH=/nonexistent exec "$@"';
  const usable = await run('unshare', ['--mount', '--', 'sh', '-c', hide, 'hide', '/bin/true']);
  if (usable.code !== 0) {
    t.skip(`no private mount namespace here (${usable.stderr.trim() || usable.code})`);
    return;
  }
  const handle = startProcess('unshare', ['--mount', '--', 'sh', '-c', hide, 'hide', runtime, probe], { cwd: tmp });
  const { code } = await handle.exited;
  assert.equal(code, 127);
  assert.match(handle.stderr(), /runtime\/node: no Node runtime found .*install Node\.js/);
  assert.equal(handle.stdout(), '');
});
