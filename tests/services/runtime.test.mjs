// The bundle's runtime/node on its own: it hands on exactly what it was given, and says so when it finds no node.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BUNDLE_DIR, run } from '../desktop/support/util.mjs';

const runtime = path.join(BUNDLE_DIR, 'runtime/node');
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-runtime-'));
const probe = path.join(tmp, 'probe.mjs');
fs.writeFileSync(probe, "import fs from 'node:fs'; process.stdout.write(JSON.stringify({ argv0: process.argv0," +
  " args: process.argv.slice(1), execPath: process.execPath," +
  " environ: fs.readFileSync('/proc/self/environ', 'latin1').split('\\0').slice(0, -1) }));");
after(() => fs.rmSync(tmp, { recursive: true, force: true }));

test('node gets the arguments and the environment exactly as the app gave them, from a file of the bundle', async () => {
  // A link made at build time would point at the building machine's node.
  assert.ok(fs.lstatSync(runtime).isFile(), `${runtime} is not a regular file`);
  // Variables a shell would rewrite, add or drop on its way to node, in an order of their own.
  const env = {
    PWD: '/not/the/working/folder', 'BASH_FUNC_f%%': '() {  echo\n}', OLDPWD: '/before',
    PATH: path.dirname(process.execPath), MULTI_LINE: 'one\ntwo', EMPTY: '',
  };
  const args = [probe, 'two words', '', '--inspect=0', '$HOME'];
  const { code, stdout, stderr } = await run(runtime, args, { env, cwd: tmp });
  assert.equal(code, 0, stderr);
  assert.deepEqual(JSON.parse(stdout), {
    argv0: runtime, args, execPath: fs.realpathSync(process.execPath),
    environ: Object.entries(env).map(([name, value]) => `${name}=${value}`),
  });
});

test('without any node it says so in the log and fails, so the app shows its launch-error page', async (t) => {
  // The system node is hidden in a mount namespace of this test's own, where one can be made.
  const hide = ['--mount', '--', 'sh', '-c', 'if [ -e /usr/bin/node ]; then mount --bind /dev/null /usr/bin/node || exit 99; fi\n' +
    'PATH=/nonexistent exec "$@"', 'hide'];
  const usable = await run('unshare', [...hide, '/bin/true']);
  if (usable.code !== 0) return t.skip(`no private mount namespace here (${usable.stderr.trim() || usable.code})`);
  const { code, stdout, stderr } = await run('unshare', [...hide, runtime, probe], { cwd: tmp });
  assert.deepEqual({ code, stdout: String(stdout) }, { code: 127, stdout: '' });
  assert.match(stderr, /runtime\/node: no Node runtime found .*install Node\.js/);
});
