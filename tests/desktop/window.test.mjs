// The window as a person meets it, and a second launch started from another program's window as
// from a launcher there: on Wayland only the activation token it hands on lets the compositor give
// the app the keyboard.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { openApp } from './support/harness.mjs';
import { coverWindow, pixelsIn, view } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

test('the window shows the web app; a second launch hands on its activation token, and the window has the keyboard again', async (t) => {
  const { app, window: { id, x, y, width, height } } = await openApp(t);
  await waitFor('the middle of the window in the page\'s colour', async () => (await pixelsIn({ x: x + (width >> 1), y: y + (height >> 1), width: 8, height: 8 }))
    .every(([r, g, b]) => r === 0x0a && g === 0x78 && b === 0x3c));
  const second = await app.launch(await coverWindow(t));
  assert.deepEqual(await app.waitExit(second, 15_000), { code: 0, signal: null }, 'the second launch hands over and exits');
  await waitFor('the window to have the keyboard again', async () => (await view(id)).focused);
  assert.equal(app.records('server').length, 1, 'one server was ever started');
});
