// A server that never answers: after 30 seconds the window shows the launch-error page with the log path.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { appForTest } from './support/harness.mjs';
import { waitForText, copyAllText, screenshot, waitForColour, windowGeometry } from './support/desktop.mjs';
import { waitFor } from './support/util.mjs';
import { ERROR_HEADING, LOADING_TEXT, errorPageLines } from './support/pages.mjs';

test('a server that accepts connections but never answers ends in the launch-error page', async (t) => {
  const app = appForTest(t, { server: { mode: 'never' } });
  const launchedAt = Date.now();
  await app.launch();
  const window = await app.mainWindow();
  await app.waitRecord('server', 'to be probed', (rec) => rec.requests.length > 0);
  // Thirty seconds of loading page: long enough for its first frame even under software rendering.
  await waitForText('the loading page', window, (s) => s.includes(LOADING_TEXT));
  const g = await windowGeometry(window);
  await waitForColour('the loading page background to be drawn', g.X + 40, g.Y + g.HEIGHT - 80, [7, 17, 31]);
  // The web view's own background has the page's colour from the start; the blue mark above the
  // title is the page itself, painted.
  await waitForColour('the loading page mark to be drawn', g.X + g.WIDTH / 2 - 6, g.Y + g.HEIGHT - 450 - 50, [75, 177, 255], 20_000, 12);
  await screenshot('loading-page');

  const text = await waitForText('the launch-error page', window, (s) => s.includes(ERROR_HEADING), 50_000);
  const waited = (Date.now() - launchedAt) / 1000;
  t.diagnostic(`error page seen ${waited.toFixed(1)} s after launch`);
  assert.ok(waited > 30, `the error page came after only ${waited.toFixed(1)} s`);
  const lines = text.split('\n').map((l) => l.trim()).filter(Boolean);
  assert.deepEqual(lines, errorPageLines(app.serverLog));
  await screenshot('launch-error-page');

  // Polling has ended for good: the request count stays put while the page is shown.
  const count = app.pageRequests().length;
  await assert.rejects(
    waitFor('another probe after the error page', () => app.pageRequests().length > count, { timeout: 2500 }),
    /timed out/,
  );
  assert.ok((await copyAllText(window)).includes(ERROR_HEADING));
  // Each probe gave up after about a second, so roughly one per second reached the server.
  const gets = app.pageRequests().filter((r) => r.url === '/');
  assert.ok(gets.length >= 20 && gets.length <= 40, `${gets.length} probes in 30 s`);
});
