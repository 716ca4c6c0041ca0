// A private PulseAudio server for one test, whose default microphone hears a steady 440 Hz tone:
// the sound path of a desktop (GStreamer's pulsesrc inside the web process), with a known signal.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { runChecked, startProcess, stopProcess, waitFor } from './util.mjs';

export const TONE_HZ = 440;

// The tone plays into a sink whose monitor a remapped source presents as an ordinary microphone.
// Not module-sine-source: it sends its samples in blocks of up to two seconds, far coarser than any
// real microphone, and WebKit's capture drops most of them.
const config = (socket) => `load-module module-null-sink sink_name=speakers
load-module module-null-sink sink_name=line rate=48000 channels=1
load-module module-sine sink=line frequency=${TONE_HZ}
load-module module-remap-source master=line.monitor source_name=microphone source_properties=device.description=Microphone
set-default-sink speakers
set-default-source microphone
load-module module-native-protocol-unix socket=${socket} auth-anonymous=1
`;

// Starts the server; it ends with the test. `env` is what the app needs to reach it, pactl() asks
// it something.
export async function soundServer(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-sound-'));
  const socket = path.join(dir, 'native');
  fs.writeFileSync(path.join(dir, 'default.pa'), config(socket));
  // The socket is loaded last, so a client that finds it finds the microphone ready.
  const server = startProcess('pulseaudio', ['-n', '-F', path.join(dir, 'default.pa'), '--daemonize=no',
    '--exit-idle-time=-1', '--use-pid-file=no', '--log-target=stderr'],
  { env: { ...process.env, HOME: dir, PULSE_RUNTIME_PATH: path.join(dir, 'run') } });
  t.after(async () => {
    await stopProcess(server);
    fs.rmSync(dir, { recursive: true, force: true });
  });
  await waitFor('the sound server', () => (server.child.exitCode !== null ? new Error(server.stderr()) : fs.existsSync(socket)));
  const env = { PULSE_SERVER: `unix:${socket}` };
  return { env, pactl: (...args) => runChecked('pactl', args, { env: { ...process.env, ...env } }) };
}

// The samples of a 16-bit PCM WAV file with its rate, read from its header.
export function readWav(file) {
  const data = fs.readFileSync(file);
  const [fmt, body] = [data.indexOf('fmt '), data.indexOf('data')];
  const pcm = data.subarray(body + 8, body + 8 + data.readUInt32LE(body + 4));
  return { code: data.readUInt16LE(fmt + 8), channels: data.readUInt16LE(fmt + 10), rate: data.readUInt32LE(fmt + 12),
    bits: data.readUInt16LE(fmt + 22), samples: Array.from({ length: pcm.length / 2 }, (_, i) => pcm.readInt16LE(i * 2) / 32768) };
}

// Loudness and pitch of samples: the RMS level and the frequency their rising zero crossings give.
export function toneOf({ samples, rate }) {
  const crossings = samples.filter((x, i) => i > 0 && samples[i - 1] < 0 && x >= 0).length;
  return { rms: Math.sqrt(samples.reduce((sum, x) => sum + x * x, 0) / samples.length), hz: crossings / (samples.length / rate) };
}
