// Fault matrix, media capture: microphone requests from frames and pages that are not the local app.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { appForTest } from './support/harness.mjs';
import { ASK } from './support/ask-microphone.mjs';
import { waitFor } from './support/util.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));

// A page on another origin that asks for the microphone and tells its parent (if framed) and its
// own server what it got. With ?then=<url> it starts navigating the web view there first, in the
// same turn.
async function startAskingOrigin(host) {
  const outcomes = [];
  const server = http.createServer((req, res) => {
    if (req.url === '/__report') {
      let body = '';
      req.on('data', (d) => { body += d; });
      req.on('end', () => { outcomes.push(JSON.parse(body)); res.writeHead(204).end(); });
      return;
    }
    res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' }).end(`<!doctype html><meta charset="utf-8"><h1>Чужая страница</h1><script>
${ASK}
const then = new URLSearchParams(location.search).get('then');
if (then) location.href = then;
askMicrophone().then((outcome) => {
  const result = { ...outcome, framed: window !== window.top };
  if (result.framed) parent.postMessage(result, '*');
  fetch('/__report', { method: 'POST', body: JSON.stringify({ ...result, href: location.href }) });
});
</script>`);
  });
  await new Promise((resolve) => server.listen(0, host, resolve));
  return { origin: `http://${host}:${server.address().port}`, outcomes, close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }) };
}

// WebKitGTK does not say which frame asks: once a frame from a host that is not local has been
// loaded, the page asks in vain until the next page commits. A remote page is judged by its own
// host while its navigation to localhost is pending.
test('the microphone goes to local hosts only: not to a cross-host frame allowed to ask, nor to a remote page on its way to localhost', async (t) => {
  const otherPort = await startAskingOrigin('127.0.0.1');
  const otherHost = await startAskingOrigin('127.0.0.2');
  const frames = [`${otherPort.origin}/framed`, `${otherHost.origin}/framed`];
  const remote = `${otherHost.origin}/remote?then=${encodeURIComponent('http://localhost:3001/slow')}`;
  const app = appForTest(t, { server: { frames, remote }, serverScript: fs.readFileSync(path.join(here, 'support/media-server.mjs')) },
    async () => { await otherPort.close(); await otherHost.close(); });
  fs.copyFileSync(path.join(here, 'support/ask-microphone.mjs'), path.join(app.share, 'server/ask-microphone.mjs'));
  await app.launch();
  await app.waitRecord('server', 'the frames to answer', (r) => r.reports.some((e) => e.type === 'frames-done'), 30_000);
  const remoteOutcome = await waitFor('the remote page to answer', () => otherHost.outcomes.find((o) => !o.framed), { timeout: 20_000 });

  const decisions = [
    ...app.reports('media').map((r) => ({ where: r.where, granted: r.granted })),
    { where: remote, granted: remoteOutcome.granted },
  ];
  t.diagnostic(JSON.stringify([...app.reports('media'), remoteOutcome]));
  assert.deepEqual(decisions, [
    { where: 'local page', granted: true },
    { where: frames[0], granted: true },
    { where: frames[1], granted: false },
    { where: remote, granted: false },
  ]);
});
