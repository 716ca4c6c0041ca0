// The real sample services inside the app, used from the keyboard: a draft typed in Russian, voice
// notes recorded, listed and deleted, the microphone only on in the voice view. (The shipped app,
// which has no fake microphone, is met in package.test.mjs.)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { openApp, quit } from './support/harness.mjs';
import { layoutForTest, press, waitForText } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

test('a draft typed in Russian is kept as typed; a note recorded in the voice view is listed, deleted, and kept when the view is left while recording', async (t) => {
  const { app, window } = await openApp(t, { sample: true, loaded: false });
  await waitForText('the web app', window.id, (s) => s.includes('Добро пожаловать'), 30_000);
  const state = () => JSON.parse(fs.readFileSync(path.join(app.dataHome, 'Lorvane/gateway/state.json'), 'utf8'));
  // Past the two view tabs to the draft, then "Привет, мир" on the keys a Russian typist uses.
  await layoutForTest(t, { layout: 'ru' });
  await press('tab', 'tab', 'tab', 'shift+42', 43, 56, 40, 28, 57, 'shift+61', 'space', 55, 56, 43);
  await waitFor('the draft to be saved', () => state().note === 'Привет, мир');

  await press('alt+shift+v');
  const listed = () => /GET \/api\/voice\/notes 200/.test(fs.readFileSync(app.serverLog, 'utf8'));
  await waitFor('the voice view to list its notes', listed);
  // The record button has the keyboard in the voice view: Space starts, and once recording, stops.
  // On a busy machine a recording stopped at once may hold no sound yet, which the app refuses to
  // keep as empty: then it is recorded again.
  for (let attempt = 1; ; attempt += 1) {
    await press('space');
    await waitForText('the recording to start', window.id, (s) => s.includes('Идёт запись…'));
    await press('space');
    const shown = await waitForText('the note saved or refused as empty', window.id, (s) => /Заметка сохранена\.|Запись пустая/.test(s));
    if (!shown.includes('Запись пустая') || attempt === 3) break;
  }
  await waitForText('the saved note in the list', window.id, (s) => s.includes('Заметка сохранена.') && s.includes('Заметка от'));
  const notes = path.join(app.dataHome, 'Lorvane/voice/notes');
  assert.equal(fs.readdirSync(notes).length, 2, 'the recording and its metadata');
  assert.equal(state().lastView, 'voice');
  // The note's delete button comes right after the record button.
  await press('tab', 'return');
  await waitForText('the note to be deleted', window.id, (s) => s.includes('Заметка удалена.') && s.includes('Пока нет ни одной заметки.'));
  assert.deepEqual(fs.readdirSync(notes), []);

  // Into the voice view afresh, which gives the record button the keyboard again.
  await press('alt+shift+v', 'space');
  await waitForText('the microphone to be on', window.id, (s) => s.includes('Микрофон включён'));
  // Back to the main view by keyboard, as a person would: from the record button to the first tab.
  await press('shift+tab', 'shift+tab', 'return');
  assert.doesNotMatch(await waitForText('the main view', window.id, (s) => s.includes('Добро пожаловать')), /Микрофон включён/);
  await waitFor('the recording to be saved', () => fs.readdirSync(notes).length === 2, { timeout: 15_000 });
  assert.deepEqual(await quit(app, window), { code: 0, signal: null });
});

