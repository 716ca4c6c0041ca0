// Page logic of the Lorvane web app: view switching, the saved draft, voice-note recording and the notes list.
import { encodeWav, recordingSupported, startRecorder } from '/static/recorder.js';

const views = { main: document.getElementById('view-main'), voice: document.getElementById('view-voice') };
const $ = (id) => document.getElementById(id);

// The desktop shell opens the voice notes by pushing ?view=voice and firing popstate,
// so the view is derived from the address every time rather than kept in a variable.
function currentView() {
  return new URLSearchParams(window.location.search).get('view') === 'voice' ? 'voice' : 'main';
}

function render() {
  const view = currentView();
  for (const [name, el] of Object.entries(views)) el.hidden = name !== view;
  for (const tab of document.querySelectorAll('.tab')) {
    if (tab.dataset.view === view) tab.setAttribute('aria-current', 'page');
    else tab.removeAttribute('aria-current');
  }
  document.title = view === 'voice' ? 'Lorvane — голосовые заметки' : 'Lorvane';
  saveState({ lastView: view });
  if (view === 'voice') {
    // Opened by its shortcut, the view is ready for Space or Enter to start a recording.
    $('record').focus({ preventScroll: true });
    refreshNotes();
  } else {
    // The microphone is only ever on where the user can see that it records.
    stopRecording();
    checkVoiceService();
  }
}

async function saveState(patch) {
  try {
    await fetch('/api/state', { method: 'PUT', headers: { 'content-type': 'application/json' }, body: JSON.stringify(patch) });
    return true;
  } catch {
    return false;
  }
}

async function checkVoiceService() {
  let ok = false;
  try {
    ok = (await fetch('/api/voice/health')).ok;
  } catch { /* shown below as unavailable */ }
  $('voice-health').className = `dot ${ok ? 'ok' : 'bad'}`;
  $('voice-health-text').textContent = ok ? 'Голосовой сервис работает.' : 'Голосовой сервис недоступен.';
}

// --- Draft -------------------------------------------------------------------------------

let draftTimer = 0;
$('note').addEventListener('input', () => {
  clearTimeout(draftTimer);
  $('note-status').textContent = 'Сохраняем…';
  draftTimer = setTimeout(async () => {
    const saved = await saveState({ note: $('note').value });
    $('note-status').textContent = saved ? 'Сохранено.' : 'Не удалось сохранить черновик.';
  }, 500);
});

async function loadDraft() {
  try {
    const state = await (await fetch('/api/state')).json();
    if (typeof state.note === 'string') $('note').value = state.note;
  } catch { /* an empty draft is a fine start */ }
}

// --- Voice notes -------------------------------------------------------------------------

const dateFormat = new Intl.DateTimeFormat('ru-RU', { dateStyle: 'long', timeStyle: 'short' });

async function refreshNotes() {
  const list = $('notes');
  let notes = [];
  try {
    const answer = await fetch('/api/voice/notes');
    if (!answer.ok) throw new Error(String(answer.status));
    notes = (await answer.json()).notes;
  } catch {
    list.replaceChildren();
    $('notes-empty').hidden = false;
    $('notes-empty').textContent = 'Голосовой сервис недоступен: список заметок не загружен.';
    return;
  }
  list.replaceChildren(...notes.map(noteItem));
  $('notes-empty').hidden = notes.length > 0;
  $('notes-empty').textContent = 'Пока нет ни одной заметки.';
}

// A note's length as the player shows it: minutes and seconds, 0:02.
function duration(ms) {
  const seconds = Math.round(ms / 1000);
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
}

function noteItem(note) {
  const item = document.createElement('li');
  const head = document.createElement('div');
  head.className = 'note-head';
  const title = document.createElement('strong');
  title.textContent = note.title || `Заметка от ${dateFormat.format(new Date(note.createdAt))}`;
  const info = document.createElement('span');
  info.className = 'muted small';
  const size = `${(note.size / 1024).toFixed(1)} КБ`;
  info.textContent = Number.isFinite(note.durationMs) ? `${duration(note.durationMs)} · ${size}` : size;
  const remove = document.createElement('button');
  remove.className = 'quiet';
  remove.textContent = 'Удалить';
  remove.setAttribute('aria-label', `Удалить: ${title.textContent}`);
  remove.addEventListener('click', () => deleteNote(note, remove));
  head.append(title, info, remove);
  const audio = document.createElement('audio');
  audio.controls = true;
  audio.preload = 'none';
  audio.src = `/api/voice/notes/${encodeURIComponent(note.id)}/audio`;
  item.append(head, audio);
  return item;
}

async function deleteNote(note, button) {
  button.disabled = true;
  let answer = null;
  try {
    answer = await fetch(`/api/voice/notes/${encodeURIComponent(note.id)}`, { method: 'DELETE' });
  } catch { /* reported below */ }
  // Already gone (deleted from another window, say) is as good as deleted.
  const deleted = answer && (answer.ok || answer.status === 404);
  $('notes-status').textContent = deleted ? 'Заметка удалена.' : 'Не удалось удалить заметку.';
  $('notes-status').className = deleted ? 'muted small' : 'error small';
  if (deleted) refreshNotes();
  else button.disabled = false;
}

function microphoneMessage(err) {
  switch (err && err.name) {
    case 'NotFoundError':
    case 'OverconstrainedError':
    case 'NotAllowedError':
    case 'SecurityError':
      return 'Микрофон не найден или доступ к нему запрещён.';
    case 'NotReadableError':
      return 'Микрофон занят другой программой.';
    default:
      return 'Не удалось включить микрофон.';
  }
}

// The recording under way, from the moment the microphone opens until it is saved.
let recorder = null;
// Asking for the microphone can take a while; a second press meanwhile must not open it twice.
let starting = false;
let microphone = null;

// The header shows, in every view, whether the microphone is open. A recording that is still being
// stopped releases its own stream, never one a newer recording has opened meanwhile.
function releaseMicrophone(stream = microphone) {
  for (const track of stream?.getTracks() ?? []) track.stop();
  if (stream !== microphone) return;
  microphone = null;
  $('microphone-on').hidden = true;
}

function setRecordStatus(text, isError = false) {
  $('record-status').textContent = text;
  $('record-status').className = isError ? 'error' : 'muted';
}

function showRecording(active) {
  $('record').textContent = active ? 'Остановить' : 'Записать';
  $('record').classList.toggle('recording', active);
}

async function startRecording() {
  if (!recordingSupported()) {
    setRecordStatus('Запись звука в этом окне не поддерживается.', true);
    return;
  }
  starting = true;
  setRecordStatus('Включаем микрофон…');
  try {
    // Nothing plays while a note is recorded, so there is no echo to cancel.
    microphone = await navigator.mediaDevices.getUserMedia({ audio: { echoCancellation: false } });
  } catch (err) {
    starting = false;
    setRecordStatus(microphoneMessage(err), true);
    return;
  }
  $('microphone-on').hidden = false;
  let current = null;
  // The microphone takes a moment to deliver its first sound: "recording" is said only then, or
  // after a few seconds of a microphone that sends nothing.
  const heard = () => { if (recorder && recorder === current) setRecordStatus('Идёт запись…'); };
  try {
    // The user may have left the voice view while the microphone was being opened.
    if (currentView() === 'voice') current = await startRecorder(microphone, { onSound: heard, onFull: () => stopRecording({ full: true }) });
  } catch {
    setRecordStatus('Не удалось включить запись звука.', true);
  } finally {
    starting = false;
  }
  if (!current) {
    releaseMicrophone();
    if (currentView() !== 'voice') setRecordStatus('');
    return;
  }
  recorder = current;
  showRecording(true);
  if (current.heard) heard();
  setTimeout(heard, 3000);
}

// Ends a recording and keeps what was said so far.
async function stopRecording({ full = false } = {}) {
  const current = recorder;
  if (!current) return;
  const stream = microphone;
  recorder = null;
  showRecording(false);
  const { blocks, seen } = await current.stop();
  releaseMicrophone(stream);
  const wav = encodeWav(blocks);
  if (!seen) setRecordStatus('Запись пустая — попробуйте ещё раз.', true);
  else if (!wav.frames || wav.silent) {
    setRecordStatus('В записи нет звука. Проверьте, что микрофон подключён, не выключен и выбран в настройках звука.', true);
  } else await upload(wav.blob, full);
}

async function upload(blob, full) {
  setRecordStatus('Сохраняем заметку…');
  $('record').disabled = true;
  try {
    const answer = await fetch('/api/voice/notes', { method: 'POST', headers: { 'content-type': blob.type }, body: blob });
    if (answer.status === 413) setRecordStatus('Запись слишком длинная.', true);
    else if (!answer.ok) setRecordStatus('Не удалось сохранить заметку.', true);
    else setRecordStatus(full ? 'Заметка сохранена. Запись остановлена на 10 минутах — это наибольшая длина заметки.' : 'Заметка сохранена.');
  } catch {
    setRecordStatus('Голосовой сервис недоступен.', true);
  } finally {
    $('record').disabled = false;
    // Disabling the button took the focus from it: give it back, ready for the next recording.
    const lost = document.activeElement === document.body || document.activeElement === $('record');
    if (lost && currentView() === 'voice') $('record').focus({ preventScroll: true });
  }
  refreshNotes();
}

$('record').addEventListener('click', () => {
  if (recorder) stopRecording();
  else if (!starting) startRecording();
});

// --- Navigation --------------------------------------------------------------------------

for (const tab of document.querySelectorAll('.tab')) {
  tab.addEventListener('click', (event) => {
    event.preventDefault();
    const next = new URL(window.location.href);
    if (tab.dataset.view === 'voice') next.searchParams.set('view', 'voice');
    else next.searchParams.delete('view');
    if (next.href !== window.location.href) window.history.pushState(window.history.state, '', next);
    render();
  });
}

window.addEventListener('popstate', render);
loadDraft();
render();
