// The real sample services inside the app, used from the keyboard: a draft typed in Russian, a voice
// note recorded from a real sound server's microphone, saved, listed, played and deleted, and the
// microphone only on in the voice view.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { test } from 'node:test';
import { openApp, quit } from './support/harness.mjs';
import { countPixels, layoutForTest, pixelsIn, press, waitForText } from './support/lanes.mjs';
import { readWav, soundServer, TONE_HZ, toneOf } from './support/sound.mjs';
import { waitFor } from './support/util.mjs';

test('a draft typed in Russian is kept as typed, its spelling checked, under a dark menu bar; 2 s said into the microphone are saved as they sounded, play, and are deleted; leaving the view while recording keeps the note', async (t) => {
  const sound = await soundServer(t);
  const { app, window } = await openApp(t, { sample: true, loaded: false, env: sound.env });
  await waitForText('the web app', window.id, (s) => s.includes('Добро пожаловать'), 30_000);
  const state = () => JSON.parse(fs.readFileSync(path.join(app.dataHome, 'Lorvane/gateway/state.json'), 'utf8'));
  // Past the two view tabs to the draft, then "Привет, мир" on the keys a Russian typist uses.
  await layoutForTest(t, { layout: 'ru' });
  await press('tab', 'tab', 'tab', 'shift+42', 43, 56, 40, 28, 57, 'shift+61', 'space', 55, 56, 43);
  await waitFor('the draft to be saved', () => state().note === 'Привет, мир');
  // Spelling is checked as the person types, in Russian: a word spelt wrong ("малако") gets the
  // red marker under it, words spelt right ("Привет, мир", "молоко") do not: a second wrong word
  // after a right one doubles the marked pixels. The menu bar is as dark as the page.
  const marked = async () => (await countPixels(window, (r, g, b) => r > 110 && g < 50 && b < 50)).count;
  await press('space', 55, 41, 45, 41, 27, 44, 'space');
  const once = await waitFor('the misspelt word to be marked', async () => (await marked()) > 10 && (await marked()));
  await press(55, 44, 45, 44, 27, 44, 'space', 55, 41, 45, 41, 27, 44, 'space');
  const twice = await waitFor('the second one to be marked', async () => (await marked()) > once && (await marked()));
  assert.ok(Math.abs(twice - 2 * once) <= 0.1 * once, `marked pixels: ${once}, then ${twice}`);
  // Down a column of empty menu bar into the page: the ten rows above the page's first.
  const column = await pixelsIn({ x: window.x + 800, y: window.y - 40, width: 1, height: 100 });
  const page = column.findIndex((_, i) => column.slice(i, i + 20).every(([r, g, b]) => r === 7 && g === 17 && b === 31));
  const menuBar = column.slice(page - 10, page);
  assert.ok(page >= 10 && menuBar.every(([r, g, b]) => r + g + b < 3 * 80), `the menu bar is dark: ${JSON.stringify(menuBar)}`);

  await press('alt+shift+v');
  const listed = () => /GET \/api\/voice\/notes 200/.test(fs.readFileSync(app.serverLog, 'utf8'));
  await waitFor('the voice view to list its notes', listed);
  // The record button has the keyboard in the voice view: Space starts, and once recording, stops.
  await press('space');
  await waitForText('the recording to start', window.id, (s) => s.includes('Идёт запись…'));
  await sleep(2000);
  await press('space');
  const shown = await waitForText('the saved note in the list', window.id, (s) => s.includes('Заметка сохранена.') && s.includes('Заметка от'));
  const notes = path.join(app.dataHome, 'Lorvane/voice/notes');
  const wav = fs.readdirSync(notes).find((n) => n.endsWith('.wav'));
  const recording = readWav(path.join(notes, wav));
  assert.deepEqual([recording.code, recording.channels, recording.rate, recording.bits], [1, 1, 16000, 16]);
  const seconds = recording.samples.length / recording.rate;
  assert.ok(seconds > 1.7 && seconds < 2.8, `${seconds} s recorded`);
  const { rms, hz } = toneOf(recording);
  assert.ok(rms > 0.2, `the tone's level, not silence: RMS ${rms}`);
  assert.ok(Math.abs(hz - TONE_HZ) < 15, `the tone's pitch: ${hz} Hz`);
  assert.match(shown, new RegExp(`0:0${Math.round(seconds)} · `));

  // Played from the list (its player's play button follows the delete button and the player
  // itself), the note is heard on the speakers: a playback stream of the app's, running.
  await press('tab', 'tab', 'tab', 'space');
  const streams = async () => (await sound.pactl('list', 'sink-inputs')).split('Sink Input #');
  await waitFor('the note to play on the speakers', async () => (await streams()).some((s) => /Corked: no/.test(s) && /application.name = "Lorvane"/.test(s)));
  // The voice view afresh gives the record button the keyboard; the delete button follows it.
  await press('alt+shift+v', 'tab', 'return');
  await waitForText('the note to be deleted', window.id, (s) => s.includes('Заметка удалена.') && s.includes('Пока нет ни одной заметки.'));
  assert.deepEqual(fs.readdirSync(notes), []);

  // A muted microphone sends silence: nothing is kept, and the message says what to check.
  await sound.pactl('set-source-mute', 'microphone', '1');
  await press('alt+shift+v', 'space');
  await waitForText('the recording to start', window.id, (s) => s.includes('Идёт запись…'));
  await press('space');
  await waitForText('the silence to be named', window.id, (s) => s.includes('В записи нет звука. Проверьте, что микрофон подключён'));
  assert.deepEqual(fs.readdirSync(notes), []);
  await sound.pactl('set-source-mute', 'microphone', '0');

  // Into the voice view afresh, which gives the record button the keyboard again.
  await press('alt+shift+v', 'space');
  await waitForText('the microphone to be on', window.id, (s) => s.includes('Идёт запись…'));
  assert.equal(state().lastView, 'voice');
  // Back to the main view by keyboard, as a person would: from the record button to the first tab.
  await press('shift+tab', 'shift+tab', 'return');
  assert.doesNotMatch(await waitForText('the main view', window.id, (s) => s.includes('Добро пожаловать')), /Микрофон включён/);
  await waitFor('the recording to be saved', () => fs.readdirSync(notes).length === 2, { timeout: 15_000 });
  assert.deepEqual(await quit(app, window), { code: 0, signal: null });
});
