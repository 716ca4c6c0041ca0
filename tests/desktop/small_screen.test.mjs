// On a screen smaller than the window's usual size, as seen without a window manager, which would
// shrink any window to fit (and so hide one that asked for more than the screen).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { appForTest } from './support/harness.mjs';
import { run, waitFor } from './support/util.mjs';

test('on a 1280×800 screen the window opens as large as the screen', async (t) => {
  const app = appForTest(t);
  await app.launch();
  const geometry = await waitFor('the Lorvane window', async () => {
    const found = await run('xdotool', ['search', '--onlyvisible', '--name', '^Lorvane$', 'getwindowgeometry', '--shell']);
    return /WIDTH=\d+\nHEIGHT=\d+/.exec(found.stdout)?.[0];
  });
  assert.equal(geometry, 'WIDTH=1280\nHEIGHT=800');
});
