// Stand-in for the bundled server and voice worker: notes how it was started and everything it sees.
//
// The harness puts this file in the bundle as server/server.mjs and voice-worker/src/server.mjs,
// each with a fixture.json beside it naming the role, the record folder and how to behave. Each
// process writes <records>/<role>-<pid>.json after every event (whole, by a rename).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

const config = JSON.parse(fs.readFileSync(new URL('./fixture.json', import.meta.url)));
const record = { pid: process.pid, requests: [], reports: [], signals: [] };
const file = path.join(config.records, `${config.role}-${process.pid}.json`);
const save = () => {
  fs.writeFileSync(`${file}.tmp`, JSON.stringify(record));
  fs.renameSync(`${file}.tmp`, file);
};
// A line on each stream: both belong in the service's log.
console.log(`${config.role} started`);
console.error(`${config.role} writes to stderr`);
// A helper process of its own, as a service that starts one has; it ignores SIGTERM as its service does.
if (config.grandchild) {
  record.grandchild = spawn('/bin/sh', ['-c', `${config.ignoresTerm ? "trap '' TERM; " : ''}exec sleep 600`], { stdio: 'ignore' }).pid;
}
save();

// The web app: it shows its view, reports what happens in it to /__report, and does what the test
// asked of it: refuse history changes, hold a text field with the keyboard, take some shortcuts for
// itself ("ctrl+z", by physical key), or run a script of the test's.
const page = () => `<!doctype html><html lang="ru"><meta charset="utf-8"><title>Фикстура</title>
<body style="background:#102a43;color:#f0f4f8;font:24px sans-serif"><h1>Тестовая страница</h1><p>Вид: <span id="view"></span></p>
<script>
const settings = ${JSON.stringify(config)};
const loadId = Math.random().toString(36).slice(2);
const report = (event) => fetch('/__report', { method: 'POST', body: JSON.stringify({ ...event, loadId, href: location.href }) });
const show = () => { document.getElementById('view').textContent = new URLSearchParams(location.search).get('view') || 'main'; };
if (settings.refuseHistory) history.pushState = () => { throw new Error('history changes refused'); };
show();
report({ type: 'load', userAgent: navigator.userAgent, historyLength: history.length });
addEventListener('popstate', (e) => { show(); report({ type: 'popstate', state: e.state, historyLength: history.length }); });
if (settings.editor) {
  const editor = document.body.appendChild(Object.assign(document.createElement('textarea'), { value: settings.editor }));
  editor.focus();
  for (const type of ['select', 'copy', 'input']) {
    editor.addEventListener(type, (e) => report({ type: 'edit', event: type, inputType: e.inputType,
      value: type === 'select' ? editor.value.slice(editor.selectionStart, editor.selectionEnd) : editor.value }));
  }
}
addEventListener('keydown', (e) => {
  const chord = [e.ctrlKey && 'ctrl', e.altKey && 'alt', e.shiftKey && 'shift', e.code.replace(/^Key/, '').toLowerCase()].filter(Boolean).join('+');
  if (!(settings.takeKeys ?? []).includes(chord)) return;
  e.preventDefault();
  report({ type: 'key', chord });
});
${config.script ?? ''}
</script>`;

// A gated server is not ready (503) until the test creates the gate file; /slow answers after 5 s.
const server = http.createServer((req, res) => {
  const entry = { method: req.method, url: req.url, status: null };
  record.requests.push(entry);
  res.on('finish', () => { entry.status = res.statusCode; save(); });
  if (req.url === '/__report') {
    let body = '';
    req.on('data', (d) => { body += d; }).on('end', () => { record.reports.push(JSON.parse(body)); res.writeHead(204).end(); });
  } else if (config.gated && !fs.existsSync(config.gate)) {
    res.writeHead(503).end();
  } else {
    setTimeout(() => res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' }).end(page()),
      req.url === '/slow' ? 5000 : 0);
  }
});
server.on('error', (err) => { record.listenError = err.message; save(); process.exit(3); });
server.listen(Number(config.role === 'server' ? process.env.PORT : process.env.LORVANE_VOICE_PORT), '127.0.0.1', () => {
  record.listening = true;
  save();
});

// Each stop signal is noted in the log and the record; a service that ignores SIGTERM stays on it.
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
  process.on(signal, () => {
    console.log(`stopping on ${signal}`);
    record.signals.push(signal);
    save();
    if (!(config.ignoresTerm && signal === 'SIGTERM')) process.exit(0);
  });
}
