// Menu shortcuts pressed as a keyboard sends them: on the physical key of their letter whatever
// layout is active, and only for keys the page leaves alone, as the page has every key first.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { openApp } from './support/harness.mjs';
import { lane, press, view } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

const ROWS = [
  { layouts: 'us' },
  { layouts: 'ru,us', name: 'ru,us with ru active' },
  { layouts: 'us', pageTakes: 'ctrl+q', name: 'us, the page taking Ctrl+Q' },
];

for (const row of ROWS) {
  test(`Alt+Shift+V opens the voice view and Ctrl+Q quits, with ${row.name ?? row.layouts}`, async (t) => {
    await lane.setLayout(row.layouts);
    const { app, window } = await openApp(t, { server: { takeKeys: [row.pageTakes] } });
    await lane.focus(window.id);
    await waitFor('the window to have the keyboard', async () => (await view(window.id)).focused);
    await press('alt+shift+v');
    await waitFor('the voice view', () => app.reports('popstate').length === 1);
    await press('ctrl+q');
    if (!row.pageTakes) return assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
    // The key the page took was no shortcut: the app is still there for the next one.
    await waitFor('the page to take the key', () => app.reports('key').length === 1);
    await press('alt+shift+v');
    await waitFor('the voice view again', () => app.reports('popstate').length === 2);
    return assert.equal(app.first.child.exitCode, null, 'the app runs on');
  });
}
