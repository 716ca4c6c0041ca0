// Stand-in for the bundled server and voice worker: notes what it sees, one record per process.
//
// The harness puts this file in the bundle as server/server.mjs and voice-worker/src/server.mjs,
// each with a fixture.json beside it naming the role, the record folder and how to behave. Each
// process writes <records>/<role>-<pid>.json after every event (whole, by a rename).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';

const config = JSON.parse(fs.readFileSync(new URL('./fixture.json', import.meta.url)));
const record = { pid: process.pid, reports: [], signals: [] };
const file = `${config.records}/${config.role}-${process.pid}.json`;
const save = () => {
  fs.writeFileSync(`${file}.tmp`, JSON.stringify(record));
  fs.renameSync(`${file}.tmp`, file);
};
// A helper process of its own, as a service that starts one has; it ignores SIGTERM as its service does.
if (config.helper) record.helper = spawn('/bin/sh', ['-c', `${config.ignoresTerm ? "trap '' TERM; " : ''}exec sleep 600`], { stdio: 'ignore' }).pid;
save();

// The web app: a page in its own colour that reports to /__report that it loaded, each change of
// its view, and the keys it takes for itself (by physical key: "ctrl+q"); then runs the test's script.
const page = `<!doctype html><meta charset="utf-8"><title>Фикстура</title><body style="background:#0a783c"><script>
const settings = ${JSON.stringify(config)};
const loadId = Math.random();
const report = (event) => fetch('/__report', { method: 'POST', body: JSON.stringify({ ...event, loadId }) });
report({ type: 'load' });
addEventListener('popstate', () => report({ type: 'popstate' }));
addEventListener('keydown', (e) => {
  const chord = [e.ctrlKey && 'ctrl', e.altKey && 'alt', e.shiftKey && 'shift', e.code.replace(/^Key/, '').toLowerCase()].filter(Boolean).join('+');
  if (!(settings.takeKeys ?? []).includes(chord)) return;
  e.preventDefault();
  report({ type: 'key', chord });
});
${config.script ?? ''}
</script>`;

http.createServer((req, res) => {
  if (req.url !== '/__report') {
    return res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' }).end(page);
  }
  let body = '';
  return req.on('data', (d) => { body += d; }).on('end', () => { record.reports.push(JSON.parse(body)); save(); res.writeHead(204).end(); });
}).listen(Number(config.role === 'server' ? process.env.PORT : process.env.LORVANE_VOICE_PORT), '127.0.0.1');

// SIGTERM is noted; a service that ignores it stays on.
process.on('SIGTERM', () => {
  record.signals.push('SIGTERM');
  save();
  if (!config.ignoresTerm) process.exit(0);
});
