// The real sample services inside the app: voice notes recorded, stored, listed and deleted; the microphone only
// on in the voice view; the no-microphone message.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { appForTest } from './support/harness.mjs';
import { focusWindow, key, screenshot, waitForText } from './support/desktop.mjs';
import { waitFor } from './support/util.mjs';

const logHas = (file, pattern) => fs.existsSync(file) && pattern.test(fs.readFileSync(file, 'utf8'));

async function openVoiceView(app) {
  const window = await app.mainWindow();
  await waitForText('the web app', window, (s) => s.includes('Добро пожаловать'), 30_000);
  await focusWindow(window);
  await key('alt+shift+v');
  await waitFor('the voice view to list its notes', () => logHas(app.serverLog, /GET \/api\/voice\/notes 200/));
  return window;
}

test('a note recorded in the voice view reaches the worker, is listed and can be deleted; quitting stops both services', async (t) => {
  const app = appForTest(t, { sampleBundle: true });
  await app.launch();
  const window = await openVoiceView(app);

  // The record button has the focus in the voice view: Space starts, and once recording, stops.
  await key('space');
  await waitForText('the recording to start', window, (s) => s.includes('Идёт запись…'));
  await key('space');
  await waitFor('the recording to be uploaded', () => logHas(app.serverLog, /POST \/api\/voice\/notes 201/), { timeout: 15_000 });

  const { notes } = await (await fetch('http://127.0.0.1:3001/api/voice/notes')).json();
  assert.equal(notes.length, 1);
  assert.ok(notes[0].size > 0);
  const stored = fs.readdirSync(path.join(app.dataHome, 'Lorvane/voice/notes')).sort();
  assert.deepEqual(stored.map((n) => path.extname(n)).sort(), ['.json', path.extname(notes[0].file)].sort());
  const text = await waitForText('the saved note in the list', window, (s) => s.includes('Заметка сохранена.') && s.includes('Заметка от'));
  assert.match(text, /Сохранённые заметки/);
  await screenshot('sample-voice-notes');
  const state = JSON.parse(fs.readFileSync(path.join(app.dataHome, 'Lorvane/gateway/state.json'), 'utf8'));
  assert.equal(state.lastView, 'voice');

  // The note's delete button comes right after the record button.
  await key('Tab', 'Return');
  await waitForText('the note to be deleted', window, (s) => s.includes('Заметка удалена.') && s.includes('Пока нет ни одной заметки.'));
  assert.ok(logHas(app.serverLog, new RegExp(`DELETE /api/voice/notes/${notes[0].id} 204`)));
  assert.deepEqual(fs.readdirSync(path.join(app.dataHome, 'Lorvane/voice/notes')), []);

  await focusWindow(window);
  await key('ctrl+q');
  assert.equal((await app.waitExit()).code, 0);
  await app.waitNoLeftovers();
  assert.ok(logHas(app.serverLog, /SIGTERM received/), 'the server logged its shutdown');
  assert.ok(logHas(app.voiceLog, /SIGTERM received/), 'the worker logged its shutdown');
});

test('leaving the voice view while recording turns the microphone off and keeps what was said', async (t) => {
  const app = appForTest(t, { sampleBundle: true });
  await app.launch();
  const window = await openVoiceView(app);
  await key('space');
  await waitForText('the recording to start', window, (s) => s.includes('Идёт запись…') && s.includes('Микрофон включён'));

  // Back to the main view by keyboard, as a user would: from the record button to the first tab.
  await key('shift+Tab', 'shift+Tab', 'Return');
  const text = await waitForText('the main view', window, (s) => s.includes('Добро пожаловать'));
  assert.doesNotMatch(text, /Микрофон включён/, 'the microphone is released');
  await waitFor('the recording to be saved', () => logHas(app.serverLog, /POST \/api\/voice\/notes 201/), { timeout: 15_000 });
  await screenshot('sample-left-voice-view');
});

test('without a microphone the voice view says so in Russian', async (t) => {
  // The shipped app has no fake devices, and this machine has no capture device at all.
  const app = appForTest(t, { sampleBundle: true, shipped: true });
  await app.launch();
  const window = await openVoiceView(app);
  await key('space');
  const text = await waitForText('the no-microphone message', window, (s) => s.includes('Микрофон не найден или доступ к нему запрещён.'));
  assert.doesNotMatch(text, /Идёт запись/);
  await screenshot('sample-no-microphone');
});
