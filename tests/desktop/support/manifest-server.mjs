// An HTTPS update server that misbehaves on purpose: huge, cut or silent bodies, redirects, bad versions.
import https from 'node:https';
import http from 'node:http';
import fs from 'node:fs';

const MiB = 1024 * 1024;
const NEWER = '{"version":"9.9.9"}';

// Streams `total` bytes of a JSON object that never ends in time, minding back-pressure; stops when
// the client goes away.
function streamHuge(res, total) {
  const chunk = Buffer.alloc(64 * 1024, 'x');
  const head = Buffer.from('{"version":"9.9.9","padding":"');
  let sent = 0;
  const pump = () => {
    if (sent === 0) {
      res.write(head);
      sent = head.length;
    }
    while (sent < total && !res.destroyed) {
      const piece = chunk.subarray(0, Math.min(chunk.length, total - sent));
      sent += piece.length;
      res.sentBytes = sent;
      if (!res.write(piece)) return void res.once('drain', pump);
    }
    if (!res.destroyed) res.end();
  };
  pump();
}

// How the manifest request is answered, by mode name.
const answers = {
  ok: (req, res) => res.writeHead(200, { 'content-type': 'application/json' }).end(NEWER),
  'huge-chunked': (req, res) => {
    res.writeHead(200, { 'content-type': 'application/json' });
    streamHuge(res, 100 * MiB);
  },
  'huge-declared': (req, res) => {
    res.writeHead(200, { 'content-type': 'application/json', 'content-length': String(100 * MiB) });
    streamHuge(res, 100 * MiB);
  },
  cut: (req, res) => {
    res.writeHead(200, { 'content-type': 'application/json', 'content-length': '4096' });
    res.write('{"version":"9.9.9","padding":"');
    res.write('y'.repeat(1000), () => res.destroy());
  },
  silent: () => {},
  'version-number': (req, res) => res.writeHead(200).end('{"version":9.9}'),
  'version-array': (req, res) => res.writeHead(200).end('{"version":["9","9","9"]}'),
  'version-null': (req, res) => res.writeHead(200).end('{"version":null}'),
};

// `plain` is an http server holding a valid newer manifest, the target of the downgrade redirect.
export async function startManifestServer({ cert, key, mode }) {
  const requests = [];
  const plainRequests = [];
  const tlsErrors = [];
  const closed = [];
  const plain = http.createServer((req, res) => {
    plainRequests.push(req.url);
    res.writeHead(200, { 'content-type': 'application/json' }).end(NEWER);
  });
  await new Promise((resolve) => plain.listen(0, '127.0.0.1', resolve));
  const plainOrigin = `http://127.0.0.1:${plain.address().port}`;

  const server = https.createServer({ cert: fs.readFileSync(cert), key: fs.readFileSync(key) }, (req, res) => {
    const entry = { url: req.url, at: Date.now(), sentBytes: 0 };
    requests.push(entry);
    res.on('close', () => {
      entry.sentBytes = res.sentBytes ?? 0;
      closed.push(Date.now());
    });
    if (req.url !== '/releases/latest.json') return void res.writeHead(404).end();
    if (mode === 'redirect-http') return void res.writeHead(302, { location: `${plainOrigin}/releases/latest.json` }).end();
    answers[mode](req, res);
  });
  server.on('tlsClientError', (err) => {
    tlsErrors.push(err.message);
    closed.push(Date.now());
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    origin: `https://127.0.0.1:${server.address().port}`,
    requests,
    plainRequests,
    tlsErrors,
    // Exchanges that have ended, whoever ended them: a check is over once its exchange is.
    finished: () => closed.length,
    close: async () => {
      for (const s of [server, plain]) {
        s.closeAllConnections();
        await new Promise((resolve) => s.close(resolve));
      }
    },
  };
}
