// Descriptor and environment hygiene: what each child is handed at exec, read by a runtime stand-in.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { appForTest, HELPERS } from './support/harness.mjs';
import { reportFigure } from './support/figures.mjs';
import { waitFor } from './support/util.mjs';

function readProbe(dir, pid) {
  const fds = Object.fromEntries(fs.readFileSync(path.join(dir, `${pid}.fds`), 'utf8').trim().split('\n')
    .map((line) => [Number(line.slice(0, line.indexOf(' '))), line.slice(line.indexOf(' ') + 1)]));
  const env = Object.fromEntries(fs.readFileSync(path.join(dir, `${pid}.env`), 'utf8').split('\0').filter(Boolean)
    .map((entry) => [entry.slice(0, entry.indexOf('=')), entry.slice(entry.indexOf('=') + 1)]));
  return { fds, env };
}

// The launcher script is the probe too; the "runtime" it hands over to notes its pid and stays.
function probeLauncher(app) {
  const folder = path.join(app.dataHome, 'Lorvane/backend');
  const script = path.join(folder, 'start-lorvane.sh');
  fs.copyFileSync(path.join(HELPERS, 'lorvane_fd_probe'), script);
  fs.chmodSync(script, 0o755);
  fs.writeFileSync(path.join(folder, 'node.real'), `#!/bin/sh\necho $$ > '${app.launcherPidFile}'\nexec sleep 600\n`, { mode: 0o755 });
  return path.join(folder, 'probes');
}

test('each child starts with only 0, 1 and 2 open and exactly its environment table over the inherited one', async (t) => {
  const inherited = {
    PORT: '9999', HOST: '0.0.0.0', NODE_ENV: 'development', LORVANE_VOICE_PUBLIC_URL: 'https://inherited.example',
    LORVANE_VOICE_DATA_DIR: '/inherited/voice', LORVANE_RELIABILITY_INHERITED: 'kept as is',
  };
  const app = appForTest(t, { probeRuntime: true, launcher: true, env: inherited });
  const launcherProbes = probeLauncher(app);
  await app.launch();
  await app.waitLoaded();
  const server = await app.waitRecord('server', 'to listen', (r) => r.listening);
  const worker = await app.waitRecord('worker', 'to listen', (r) => r.listening);
  const launcherPid = await waitFor('the launcher to start', () => app.launcherPid());

  const shellEnv = app.environment();
  const support = app.dataHome;
  const children = [
    {
      name: 'server', probe: readProbe(app.probeDir, server.pid), output: app.serverLog,
      env: {
        ...shellEnv, NODE_ENV: 'production', PORT: '3001', HOST: '127.0.0.1', LORVANE_API_URL: 'http://127.0.0.1:5055',
        LORVANE_VOICE_API_URL: 'http://127.0.0.1:6061', LORVANE_GATEWAY_STATE_DIR: `${support}/Lorvane/gateway`,
      },
    },
    {
      name: 'voice worker', probe: readProbe(app.probeDir, worker.pid), output: app.voiceLog,
      env: { ...shellEnv, NODE_ENV: 'production', LORVANE_VOICE_PORT: '6061', LORVANE_VOICE_DATA_DIR: `${support}/Lorvane/voice` },
    },
    { name: 'launcher script', probe: readProbe(launcherProbes, launcherPid), output: '/dev/null', env: shellEnv },
  ];
  const stdin = fs.readlinkSync(`/proc/${app.first.pid}/fd/0`);
  const faults = [];
  let extraDescriptors = 0;
  let environmentDifferences = 0;
  for (const child of children) {
    const { fds, env } = child.probe;
    const expectedFds = { 0: stdin, 1: child.output, 2: child.output };
    const wrongFds = [...new Set([...Object.keys(fds), ...Object.keys(expectedFds)])]
      .filter((fd) => fds[fd] !== expectedFds[fd]).map((fd) => `fd ${fd}: ${fds[fd] ?? 'closed'} (expected ${expectedFds[fd] ?? 'closed'})`);
    extraDescriptors += Object.keys(fds).filter((fd) => Number(fd) > 2).length;
    const names = new Set([...Object.keys(env), ...Object.keys(child.env)]);
    const wrongEnv = [...names].filter((n) => env[n] !== child.env[n])
      .map((n) => `${n}=${JSON.stringify(env[n] ?? null)} (expected ${JSON.stringify(child.env[n] ?? null)})`);
    environmentDifferences += wrongEnv.length;
    faults.push(...[...wrongFds, ...wrongEnv].map((f) => `${child.name}: ${f}`));
  }
  reportFigure({ kind: 'hygiene', children: children.length, extraDescriptors, environmentDifferences });
  assert.deepEqual(faults, []);
});
