// Stand-in for the bundled server and voice worker: records how it was started and everything it sees.
//
// The harness copies this file to share/lorvane/server/server.mjs and
// share/lorvane/voice-worker/src/server.mjs, each with a fixture.json beside it that names the role,
// the record folder and how to answer. Each process writes <records>/<role>-<pid>.json after every
// event (temp file + rename, so a reader never sees half a file).
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { fileURLToPath } from 'node:url';

const config = JSON.parse(fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixture.json'), 'utf8'));
const now = () => performance.timeOrigin + performance.now();
const startedAt = now();

const record = {
  role: config.role,
  pid: process.pid,
  ppid: process.ppid,
  argv: process.argv,
  execArgv: process.execArgv,
  cwd: process.cwd(),
  env: { ...process.env },
  startedAt,
  listening: null,
  listenError: null,
  requests: [],
  reports: [],
  signals: [],
};
const recordFile = path.join(config.records, `${config.role}-${process.pid}.json`);

function save() {
  const temp = `${recordFile}.tmp`;
  fs.writeFileSync(temp, JSON.stringify(record, null, 1));
  fs.renameSync(temp, recordFile);
}
save();

// One line on each stream: both must end up in the service's log file.
process.stdout.write(`fixture ${config.role} started, pid ${process.pid}\n`);
process.stderr.write(`fixture ${config.role} stderr line\n`);

const held = new Set();

function page() {
  const settings = JSON.stringify({
    probeMedia: Boolean(config.probeMedia), refuseHistory: Boolean(config.refuseHistory), editor: config.editor ?? null, takeKeys: config.takeKeys ?? [],
  });
  return `<!doctype html>
<html lang="ru"><head><meta charset="utf-8"><title>Фикстура Lorvane</title>
<style>body { margin: 0; min-height: 100vh; display: grid; place-items: center; background: #102a43; color: #f0f4f8;
  font: 20px sans-serif; } #view { font-size: 40px; }</style></head>
<body><main><h1>Тестовая страница</h1><p>Вид: <span id="view">?</span></p><p id="log"></p></main>
<script>
const settings = ${settings};
// A page that refuses history changes makes any script that pushes an entry fail.
if (settings.refuseHistory) history.pushState = () => { throw new Error('history changes refused'); };
const loadId = Math.random().toString(36).slice(2);
function report(event) {
  const body = JSON.stringify({ ...event, loadId, href: location.href, at: performance.timeOrigin + performance.now() });
  return fetch('/__report', { method: 'POST', body, keepalive: true }).catch(() => {});
}
function show() {
  document.getElementById('view').textContent = new URLSearchParams(location.search).get('view') || 'main';
}
show();
report({ type: 'load', userAgent: navigator.userAgent, historyLength: history.length });
window.addEventListener('popstate', (event) => {
  show();
  report({ type: 'popstate', state: event.state, historyLength: history.length });
});
// One request per document: WebKit remembers a grant or a denial for the rest of a document and
// answers later requests from that memory without asking the app again.
async function probeMedia() {
  const cases = [{ audio: true }, { video: true }, { audio: true, video: true }];
  const index = Number(new URLSearchParams(location.search).get('media') ?? 0);
  const constraints = cases[index];
  try {
    const stream = await navigator.mediaDevices.getUserMedia(constraints);
    const kinds = stream.getTracks().map((t) => t.kind).sort();
    stream.getTracks().forEach((t) => t.stop());
    await report({ type: 'media', constraints, granted: true, kinds });
  } catch (err) {
    await report({ type: 'media', constraints, granted: false, error: err.name });
  }
  if (index + 1 < cases.length) location.replace('/?media=' + (index + 1));
  else await report({ type: 'media-done' });
}
if (settings.probeMedia) probeMedia();
// A text field holding the keyboard, and what editing did to it.
if (settings.editor !== null) {
  const editor = document.createElement('textarea');
  editor.value = settings.editor;
  document.querySelector('main').append(editor);
  editor.focus();
  for (const type of ['select', 'copy', 'input']) {
    editor.addEventListener(type, (e) => report({
      type: 'edit', event: type, inputType: e.inputType ?? null,
      value: type === 'select' ? editor.value.slice(editor.selectionStart, editor.selectionEnd) : editor.value,
    }));
  }
}
// Shortcuts the page takes for itself, by physical key ("ctrl+z", "alt+shift+v").
window.addEventListener('keydown', (e) => {
  const chord = [e.ctrlKey && 'ctrl', e.altKey && 'alt', e.shiftKey && 'shift', e.code.replace(/^Key/, '').toLowerCase()].filter(Boolean).join('+');
  if (!settings.takeKeys.includes(chord)) return;
  e.preventDefault();
  report({ type: 'key', chord });
});
</script></body></html>`;
}

function respondOk(req, res, status = 200) {
  if (req.url.startsWith('/__report') && req.method === 'POST') {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      try { record.reports.push(JSON.parse(body)); } catch { record.reports.push({ type: 'unparsable', body }); }
      save();
      res.writeHead(204).end();
    });
    return;
  }
  const text = config.role === 'server' ? page() : JSON.stringify({ ok: true });
  res.writeHead(status, { 'content-type': config.role === 'server' ? 'text/html; charset=utf-8' : 'application/json', 'cache-control': 'no-store' });
  res.end(text);
}

// How the server answers, as the test chose it: ready at once, with a 404, never ready (503),
// never answering at all, or ready only once the test creates the file `gate`.
function answer(req, res) {
  const mode = config.role === 'server' ? config.mode ?? 'ok' : 'ok';
  if (req.url.startsWith('/__report')) return respondOk(req, res);
  switch (mode) {
    case 'ok': return respondOk(req, res);
    case '404': return respondOk(req, res, 404);
    case '503': return res.writeHead(503).end('not yet');
    case 'never': held.add(res); return undefined;
    case 'gated':
      if (!fs.existsSync(config.gate)) return res.writeHead(503).end('not yet');
      return respondOk(req, res);
    default: return res.writeHead(500).end(`unknown fixture mode ${mode}`);
  }
}

const server = http.createServer((req, res) => {
  const entry = { method: req.method, url: req.url, userAgent: req.headers['user-agent'] ?? null, at: now(), status: null };
  record.requests.push(entry);
  save();
  res.on('finish', () => {
    entry.status = res.statusCode;
    save();
  });
  answer(req, res);
});

server.on('error', (err) => {
  record.listenError = err.message;
  save();
  process.stderr.write(`fixture ${config.role}: ${err.message}\n`);
  process.exit(3);
});

const port = Number(config.role === 'server' ? process.env.PORT : process.env.LORVANE_VOICE_PORT);
const host = config.role === 'server' ? process.env.HOST : '127.0.0.1';
server.listen(port, host, () => {
  record.listening = { host, port, at: now() };
  save();
});

for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
  process.on(signal, () => {
    record.signals.push({ signal, at: now() });
    save();
    for (const res of held) res.destroy();
    server.close();
    server.closeAllConnections();
    process.exit(0);
  });
}
