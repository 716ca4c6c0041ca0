// The real sample services inside the app, used from the keyboard: Russian spelling checked under
// a dark menu bar, and a voice note recorded from a real sound server's microphone, saved and played.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { setTimeout as sleep } from 'node:timers/promises';
import { test } from 'node:test';
import { openApp } from './support/harness.mjs';
import { lane, pixelsIn, press, waitForText } from './support/lanes.mjs';
import { readWav, soundServer, TONE_HZ, toneOf } from './support/sound.mjs';
import { waitFor } from './support/util.mjs';

// Russian words on the keys a Russian typist uses (X keycodes), each with the space after it.
const WORDS = { малако: [55, 41, 45, 41, 27, 44, 65], молоко: [55, 44, 45, 44, 27, 44, 65] };

test('a misspelt Russian word is marked, right ones are not, under a dark menu bar; 2 s said into the microphone are saved as they sounded, and play', async (t) => {
  const sound = await soundServer(t);
  const { app, window } = await openApp(t, { sample: true, loaded: false, env: sound.env });
  await waitForText('the web app', window.id, (s) => s.includes('Добро пожаловать'), 30_000);
  // Past the two view tabs to the draft. A wrong word ("малако") gets the red marker under it;
  // after a right one ("молоко"), a second wrong word doubles the marked pixels.
  await lane.setLayout('ru');
  const marked = async () => (await pixelsIn(window)).filter(([r, g, b]) => r > 110 && g < 50 && b < 50).length;
  await press('tab', 'tab', 'tab', ...WORDS.малако);
  const once = await waitFor('the misspelt word to be marked', async () => (await marked()) > 10 && (await marked()));
  await press(...WORDS.молоко, ...WORDS.малако);
  const twice = await waitFor('the second one to be marked', async () => (await marked()) > once && (await marked()));
  assert.ok(Math.abs(twice - 2 * once) <= 0.1 * once, `marked pixels: ${once}, then ${twice}`);
  // Down a column of empty menu bar into the page: the ten rows above the page's first are dark.
  const column = await pixelsIn({ x: window.x + 800, y: window.y - 40, width: 1, height: 100 });
  const page = column.findIndex((_, i) => column.slice(i, i + 20).every(([r, g, b]) => r === 7 && g === 17 && b === 31));
  assert.ok(page >= 10 && column.slice(page - 10, page).every(([r, g, b]) => r + g + b < 3 * 80), `the menu bar: ${JSON.stringify(column)}`);

  // The record button has the keyboard in the voice view: Space starts, and once recording, stops.
  await press('alt+shift+v');
  await waitForText('the voice view', window.id, (s) => s.includes('Пока нет ни одной заметки.'));
  await press('space');
  await waitForText('the recording to start', window.id, (s) => s.includes('Идёт запись…'));
  await sleep(2000);
  await press('space');
  const shown = await waitForText('the saved note in the list', window.id, (s) => s.includes('Заметка сохранена.'));
  const notes = `${app.dataHome}/Lorvane/voice/notes`;
  const recording = readWav(`${notes}/${fs.readdirSync(notes).find((n) => n.endsWith('.wav'))}`);
  assert.deepEqual([recording.code, recording.channels, recording.rate, recording.bits], [1, 1, 16000, 16]);
  const seconds = recording.samples.length / recording.rate;
  assert.ok(seconds > 1.7 && seconds < 2.8, `${seconds} s recorded`);
  assert.match(shown, new RegExp(`0:0${Math.round(seconds)} · `));
  const { rms, hz } = toneOf(recording);
  assert.ok(rms > 0.2 && Math.abs(hz - TONE_HZ) < 15, `the tone, not silence: RMS ${rms}, ${hz} Hz`);
  // Played from the list (its play button follows the delete button and the player itself), the
  // note is heard on the speakers: a playback stream of the app's, running.
  await press('tab', 'tab', 'tab', 'space');
  await waitFor('the note to play on the speakers', async () => (await sound.pactl('list', 'sink-inputs')).split('Sink Input #')
    .some((s) => /Corked: no/.test(s) && /application.name = "Lorvane"/.test(s)));
});
