// Voice recording as WAV: 16-bit PCM, mono, 16 kHz, taken from the microphone through Web Audio.
//
// MediaRecorder is not used. The desktop's web view offers it only for audio/mp4 and hands back no
// data for that, so every note would be lost; the same microphone stream reaches Web Audio intact.
// 16 kHz mono carries speech whole at 32 KB a second, and every browser plays the result.

export const SAMPLE_RATE = 16000;
// Ten minutes stay inside the voice worker's 20 MB cap; a longer recording is stopped and kept.
const MAX_FRAMES = 10 * 60 * SAMPLE_RATE;
// A muted or disconnected microphone delivers digital silence: nothing reaches 8/32768.
const SILENCE_PEAK = 8 / 32768;

export const recordingSupported = () => Boolean(navigator.mediaDevices?.getUserMedia && window.AudioWorkletNode);

// Starts recording `stream`. onSound: the first sample has arrived; onFull: the length cap is
// reached; `heard` says whether a sound has come yet. stop() ends the recording and resolves with
// its samples and how many the graph saw.
export async function startRecorder(stream, { onSound, onFull }) {
  const context = new AudioContext({ sampleRate: SAMPLE_RATE });
  let capture;
  try {
    await context.audioWorklet.addModule('/static/recorder-worklet.js');
    capture = new AudioWorkletNode(context, 'voice-capture',
      { numberOfInputs: 1, numberOfOutputs: 0, channelCount: 1, channelCountMode: 'explicit' });
  } catch (err) {
    context.close();
    throw err;
  }
  const source = context.createMediaStreamSource(stream);
  const blocks = [];
  let frames = 0;
  let finish = null;
  const recording = { heard: false };
  capture.port.onmessage = ({ data }) => {
    if (data.sound) {
      recording.heard = true;
      onSound();
    } else if (data.flushed) finish?.(data.seen);
    else if (frames < MAX_FRAMES) {
      blocks.push(data.subarray(0, MAX_FRAMES - frames));
      frames += blocks.at(-1).length;
      if (frames === MAX_FRAMES) onFull();
    }
  };
  source.connect(capture);
  await context.resume();
  return Object.assign(recording, {
    async stop() {
      // The audio thread answers at once; should it not, what has arrived is kept.
      const seen = await new Promise((resolve) => {
        finish = resolve;
        capture.port.postMessage('flush');
        setTimeout(() => resolve(frames), 1000);
      });
      source.disconnect();
      await context.close();
      return { blocks, seen };
    },
  });
}

// The samples as a WAV file, with how many there are and whether they are silence.
export function encodeWav(blocks) {
  const frames = blocks.reduce((sum, block) => sum + block.length, 0);
  const view = new DataView(new ArrayBuffer(44 + frames * 2));
  const text = (at, value) => [...value].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, 'RIFF');
  view.setUint32(4, 36 + frames * 2, true);
  text(8, 'WAVEfmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true); // PCM
  view.setUint16(22, 1, true); // mono
  view.setUint32(24, SAMPLE_RATE, true);
  view.setUint32(28, SAMPLE_RATE * 2, true);
  view.setUint16(32, 2, true);
  view.setUint16(34, 16, true);
  text(36, 'data');
  view.setUint32(40, frames * 2, true);
  let at = 44;
  let peak = 0;
  for (const block of blocks) {
    for (const sample of block) {
      const clipped = Math.max(-1, Math.min(1, sample));
      peak = Math.max(peak, Math.abs(clipped));
      view.setInt16(at, Math.round(clipped * 32767), true);
      at += 2;
    }
  }
  return { blob: new Blob([view.buffer], { type: 'audio/wav' }), frames, silent: peak < SILENCE_PEAK };
}
