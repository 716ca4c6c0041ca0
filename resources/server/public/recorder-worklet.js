// Audio-thread half of the voice recorder: hands the microphone's samples to the page in blocks.
//
// Until the capture pipeline delivers its first sample, Web Audio feeds the node exact zeros; those
// are not part of what the person said and are left out. Any sound at all, even a quiet room's
// noise, is never exactly zero.
class VoiceCapture extends AudioWorkletProcessor {
  constructor() {
    super();
    this.block = new Float32Array(4096);
    this.filled = 0;
    this.seen = 0;
    this.heard = false;
    // Messages on a port keep their order: the last block reaches the page before this answer.
    this.port.onmessage = () => {
      this.flush();
      this.port.postMessage({ flushed: true, seen: this.seen });
    };
  }

  process(inputs) {
    const samples = inputs[0][0];
    if (!samples) return true;
    this.seen += samples.length;
    for (const sample of samples) {
      if (!this.heard) {
        if (sample === 0) continue;
        this.heard = true;
        this.port.postMessage({ sound: true });
      }
      this.block[this.filled++] = sample;
      if (this.filled === this.block.length) this.flush();
    }
    return true;
  }

  flush() {
    if (this.filled) this.port.postMessage(this.block.slice(0, this.filled));
    this.filled = 0;
  }
}

registerProcessor('voice-capture', VoiceCapture);
