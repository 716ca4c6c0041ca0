// The page script every asking page shares: one getUserMedia call for the microphone, its outcome as data.
export const ASK = `async function askMicrophone() {
  if (!navigator.mediaDevices) return { granted: false, error: 'no mediaDevices (not a secure context)' };
  try {
    const stream = await navigator.mediaDevices.getUserMedia({ audio: true });
    stream.getTracks().forEach((t) => t.stop());
    return { granted: true };
  } catch (err) {
    return { granted: false, error: err.name };
  }
}`;
