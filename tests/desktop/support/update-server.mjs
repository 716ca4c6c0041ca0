// A local HTTPS update server with certificates made by openssl for this run only.
import https from 'node:https';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import os from 'node:os';
import { before, after } from 'node:test';
import { run } from './util.mjs';
import { handOverToLane } from './harness.mjs';

async function openssl(args, cwd) {
  const result = await run('openssl', args, { cwd, timeout: 30_000 });
  if (result.code !== 0) throw new Error(`openssl ${args.join(' ')} failed: ${result.stderr}`);
}

const KEY = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes'];

// A CA the app is told to trust, a server certificate for 127.0.0.1 signed by it, and a
// self-signed certificate for the same address that nothing trusts.
export async function makeCertificates(dir) {
  fs.mkdirSync(dir, { recursive: true });
  await openssl(['req', '-x509', ...KEY, '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '2', '-subj', '/CN=Lorvane E2E CA',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign'], dir);
  await openssl(['req', ...KEY, '-keyout', 'server.key', '-out', 'server.csr', '-subj', '/CN=127.0.0.1'], dir);
  fs.writeFileSync(path.join(dir, 'server.ext'), [
    'subjectAltName=IP:127.0.0.1', 'basicConstraints=CA:FALSE', 'keyUsage=critical,digitalSignature',
    'extendedKeyUsage=serverAuth', '',
  ].join('\n'));
  await openssl(['x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial',
    '-out', 'server.pem', '-days', '2', '-extfile', 'server.ext'], dir);
  await openssl(['req', '-x509', ...KEY, '-keyout', 'self.key', '-out', 'self.pem', '-days', '2', '-subj', '/CN=127.0.0.1',
    '-addext', 'subjectAltName=IP:127.0.0.1'], dir);
  return {
    caFile: path.join(dir, 'ca.pem'),
    trusted: { cert: path.join(dir, 'server.pem'), key: path.join(dir, 'server.key') },
    selfSigned: { cert: path.join(dir, 'self.pem'), key: path.join(dir, 'self.key') },
  };
}

// The certificates of one test file: made before its first test, in a folder the app may read,
// and removed after its last. The object is filled in once the first test runs.
export function certificatesForFile() {
  const certs = {};
  let dir;
  before(async () => {
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-certs-'));
    Object.assign(certs, await makeCertificates(dir));
    handOverToLane(dir);
  });
  after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return certs;
}

// Serves /releases/latest.json with `manifest`, and records every request and failed handshake.
export async function startUpdateServer({ cert, key, manifest }) {
  const requests = [];
  const tlsErrors = [];
  const server = https.createServer({ cert: fs.readFileSync(cert), key: fs.readFileSync(key) }, (req, res) => {
    requests.push({ method: req.method, url: req.url, at: performance.timeOrigin + performance.now(), headers: req.headers });
    if (req.url === '/releases/latest.json') {
      const body = JSON.stringify(manifest);
      res.writeHead(200, { 'content-type': 'application/json' });
      res.end(body);
    } else {
      res.writeHead(404).end();
    }
  });
  server.on('tlsClientError', (err) => tlsErrors.push({ message: err.message, at: performance.timeOrigin + performance.now() }));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    origin: `https://127.0.0.1:${port}`,
    requests,
    tlsErrors,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}
