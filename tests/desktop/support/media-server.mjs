// Stand-in server whose page asks for the microphone itself, then from cross-origin frames allowed to
// ask, then navigates the web view to a remote page. Records like the e2e fixture
// (records/server-<pid>.json); installed as server/server.mjs with ask-microphone.mjs beside it.
// "/slow" answers after a few seconds, so that a navigation to it stays pending for a while.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { ASK } from './ask-microphone.mjs';

const config = JSON.parse(fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixture.json'), 'utf8'));
const record = { role: 'server', pid: process.pid, env: { ...process.env }, listening: null, listenError: null, requests: [], reports: [], signals: [] };
const recordFile = path.join(config.records, `server-${process.pid}.json`);
function save() {
  fs.writeFileSync(`${recordFile}.tmp`, JSON.stringify(record));
  fs.renameSync(`${recordFile}.tmp`, recordFile);
}
save();

function page() {
  return `<!doctype html><html><head><meta charset="utf-8"><title>Микрофон</title></head><body><h1>Локальная страница</h1>
<script>
${ASK}
const config = ${JSON.stringify({ frames: config.frames, remote: config.remote })};
const report = (event) => fetch('/__report', { method: 'POST', body: JSON.stringify({ ...event, href: location.href }) });
(async () => {
  await report({ type: 'load', userAgent: navigator.userAgent });
  await report({ type: 'media', where: 'local page', ...(await askMicrophone()) });
  for (const src of config.frames) {
    const answer = new Promise((resolve) => window.addEventListener('message', function on(e) {
      if (e.origin === new URL(src).origin) { window.removeEventListener('message', on); resolve(e.data); }
    }));
    const frame = document.createElement('iframe');
    frame.allow = 'microphone';
    frame.src = src;
    document.body.append(frame);
    await report({ type: 'media', where: src, ...(await answer) });
  }
  await report({ type: 'frames-done' });
  location.href = config.remote;
})();
</script></body></html>`;
}

const server = http.createServer((req, res) => {
  record.requests.push({ method: req.method, url: req.url, userAgent: req.headers['user-agent'] ?? null, at: Date.now() });
  save();
  if (req.url === '/__report') {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      record.reports.push(JSON.parse(body));
      save();
      res.writeHead(204).end();
    });
    return;
  }
  if (req.url === '/slow') {
    setTimeout(() => res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' }).end('<h1>Медленная страница</h1>'), 5000);
    return;
  }
  res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' }).end(page());
});
server.on('error', (err) => {
  record.listenError = err.message;
  save();
  process.exit(3);
});
server.listen(Number(process.env.PORT), process.env.HOST, () => {
  record.listening = { host: process.env.HOST, port: Number(process.env.PORT) };
  save();
});
process.on('SIGTERM', () => process.exit(0));
