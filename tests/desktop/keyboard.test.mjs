// Menu shortcuts pressed as a keyboard sends them: the page has every key first, and the menu acts
// on the physical key of its letter whatever layout is active.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { appForTest } from './support/harness.mjs';
import { focusManagedWindow, focusWindow, key, keyboardLayoutForTest, lane } from './support/desktop.mjs';
import { openMenuItems } from './support/accessibility.mjs';
import { waitFor } from './support/util.mjs';

// X keycodes of a pc105 keyboard (the evdev code plus 8): what a key sends under any layout.
const CTRL = 37, SHIFT = 50, ALT = 64, TAB = 23, SPACE = 65, F10 = 76, RIGHT = 114;
const US = { a: 38, c: 54, h: 43, m: 58, q: 24, v: 55, x: 53, z: 52 };
// On a French keyboard A, Z, Q and M are elsewhere; a shortcut goes with its letter.
const FR = { ...US, a: 24, z: 25, q: 38, m: 47 };
const TEXT = 'Лорвейн';
const pressKeys = (chords) => key(...chords.map(String));

const edits = (app) => app.reports('edit').filter((r) => r.event !== 'select').map((r) => [r.event, r.inputType, r.value].filter(Boolean).join(' '));
// What the text field has selected, once the page has said.
const selected = (app) => app.reports('edit').filter((r) => r.event === 'select').at(-1)?.value;

// Every menu shortcut in turn, each with what shows that it acted: the page's reports, the
// window's state, the app's exit. Alt+Shift+V comes first, so that with grp:alt_shift_toggle the
// rest is pressed in the layout it switches to.
const SHORTCUTS = [
  { chords: (k) => [`${ALT}+${SHIFT}+${k.v}`], acted: (app) => app.reports('popstate').length === 1 },
  { chords: (k) => [`${CTRL}+${k.a}`], selects: TEXT },
  { chords: (k) => [`${CTRL}+${k.c}`], edit: `copy ${TEXT}` },
  { chords: (k) => [`${CTRL}+${k.x}`], edit: 'input deleteByCut' },
  { chords: (k) => [`${CTRL}+${k.v}`], edit: `input insertFromPaste ${TEXT}` },
  { chords: (k) => [`${CTRL}+${k.z}`], edit: 'input historyUndo' },
  { chords: (k) => [`${CTRL}+${SHIFT}+${k.z}`], edit: `input historyRedo ${TEXT}` },
  { chords: (k) => [`${CTRL}+${k.m}`], minimizes: true },
  { chords: (k) => [`${CTRL}+${k.h}`], minimizes: true },
  { chords: (k) => [`${CTRL}+${k.q}`], quits: true },
];

const LAYOUTS = [
  { layout: 'us' },
  { layout: 'ru' },
  { layout: 'ru,us', group: 0, name: 'ru,us with ru active' },
  { layout: 'us,ru', group: 1, name: 'us,ru with ru active' },
  { layout: 'fr', keys: FR },
  { layout: 'us,ru', options: 'grp:alt_shift_toggle', name: 'us,ru with grp:alt_shift_toggle' },
];

// The layout is switched with the app running, as a user does.
async function startEditing(t, layout, server = {}) {
  const app = appForTest(t, { windowManager: true, server: { mode: 'ok', editor: TEXT, ...server } });
  await app.launch();
  const window = await app.mainWindow();
  await app.waitLoaded();
  await keyboardLayoutForTest(t, layout);
  await focusManagedWindow(window);
  return { app, window };
}

for (const row of LAYOUTS) {
  test(`every menu shortcut acts once on its key with ${row.name ?? row.layout}`, async (t) => {
    const { app, window } = await startEditing(t, row);
    const keys = row.keys ?? US;
    const expectedEdits = [];
    for (const shortcut of SHORTCUTS) {
      const chords = shortcut.chords(keys);
      await pressKeys(chords);
      if (shortcut.selects) {
        await waitFor(`${chords} to select the text`, () => selected(app) === shortcut.selects);
      } else if (shortcut.edit) {
        expectedEdits.push(shortcut.edit);
        await waitFor(`${chords} to edit the text`, () => edits(app).length >= expectedEdits.length);
      } else if (shortcut.minimizes) {
        // A desktop that keeps no minimised windows (sway) shows nothing of it.
        if ((await lane().minimized(window)) === null) continue;
        await waitFor(`${chords} to minimise the window`, () => lane().minimized(window));
        await lane().restore(window);
        await focusManagedWindow(window);
      } else if (shortcut.quits) {
        assert.deepEqual(await app.waitExit(), { code: 0, signal: null }, `${chords} quits`);
      } else {
        await waitFor(`${chords} to act`, () => shortcut.acted(app));
      }
    }
    // Only now, with every key long handled: a key acted on twice would have left a second edit.
    assert.deepEqual(edits(app), expectedEdits);
    assert.equal(app.reports('popstate').length, 1);
  });
}

async function cutAll(app) {
  await pressKeys([`${CTRL}+${US.a}`]);
  await waitFor('the text to be selected', () => selected(app) === TEXT);
  await pressKeys([`${CTRL}+${US.x}`]);
  await waitFor('the text to be cut', () => edits(app).includes('input deleteByCut'));
}

// The items of the menu open now, once there is one with `item` (any item if none is named).
const openMenu = (app, item) => waitFor(`an open menu${item ? ` with ${item}` : ''}`, async () => {
  const items = await openMenuItems(app.busAddress, app.first.pid);
  return items.some((i) => !item || i.name === item) ? items : false;
});

test('keys the page takes never reach the menu; keys it leaves, or that never reach it, do', async (t) => {
  const taken = ['ctrl+z', 'ctrl+v', 'ctrl+h', 'alt+shift+v'];
  const { app, window } = await startEditing(t, { layout: 'us' }, { takeKeys: taken });
  await cutAll(app);
  await pressKeys([`${CTRL}+${US.z}`, `${CTRL}+${US.v}`, `${CTRL}+${US.h}`, `${ALT}+${SHIFT}+${US.v}`]);
  await waitFor('the page to see the keys it takes', () => app.reports('key').length === taken.length);
  // F10 comes back from the page like every key it leaves, after the taken ones would have: once
  // its menu is open, the menu has had its turn at them.
  await pressKeys([`${F10}`]);
  await openMenu(app);
  assert.deepEqual(app.reports('key').map((r) => r.chord), taken);
  assert.deepEqual(edits(app), ['input deleteByCut'], 'no undo, no paste');
  assert.equal(app.reports('popstate').length, 0, 'no voice view');
  assert.notEqual(await lane().minimized(window), true, 'not minimised');

  // With the menu holding the keyboard, the page never sees the key and the menu acts.
  await pressKeys([`${ALT}+${SHIFT}+${US.v}`]);
  await waitFor('the voice view', () => app.reports('popstate').length === 1);
  assert.equal(app.reports('key').length, taken.length);
  await pressKeys([`${CTRL}+${US.q}`]);
  assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
});

test('the Edit menu greys out what cannot act on the page now, and follows the page', async (t) => {
  const { app } = await startEditing(t, { layout: 'us' });
  // The menu is opened from the keyboard where none is open. One left open (Escape does not close
  // it on sway, and the shortcuts act through it) shows its items as they change.
  const editMenuShows = (undo, cut, description) => waitFor(description, async () => {
    if ((await openMenuItems(app.busAddress, app.first.pid)).length === 0) {
      await pressKeys([`${F10}`]);
      await openMenu(app, 'Об Lorvane');
      await pressKeys([`${RIGHT}`]);
    }
    const items = await openMenu(app, 'Отменить');
    const seen = Object.fromEntries(items.map((item) => [item.name, item.sensitive]));
    const expected = { Отменить: undo, Повторить: false, Вырезать: cut, Копировать: cut, Вставить: true, 'Выбрать всё': true };
    return Object.entries(expected).every(([name, sensitive]) => seen[name] === sensitive) ? seen : false;
  });
  await editMenuShows(false, false, 'nothing to undo, cut or copy');
  await pressKeys([`${CTRL}+${US.a}`]);
  await editMenuShows(false, true, 'cut and copy once all is selected');
  await pressKeys([`${CTRL}+${US.x}`]);
  await waitFor('the text to be cut', () => edits(app).includes('input deleteByCut'));
  await editMenuShows(true, false, 'undo once the text is cut');
});

test('Cyrillic typed with the Russian layout arrives in the sample app\'s draft as typed', async (t) => {
  const app = appForTest(t, { sampleBundle: true });
  await app.launch();
  const window = await app.mainWindow();
  const stateFile = path.join(app.dataHome, 'Lorvane/gateway/state.json');
  await waitFor('the web app', () => fs.existsSync(stateFile), { timeout: 30_000 });
  await keyboardLayoutForTest(t, { layout: 'ru' });
  await focusWindow(window);
  // Past the two view tabs to the draft, then "Привет, мир" on the keys a Russian typist uses.
  const typed = [TAB, TAB, TAB, `${SHIFT}+42`, 43, 56, 40, 28, 57, `${SHIFT}+61`, SPACE, 55, 56, 43];
  await pressKeys(typed.map(String));
  await waitFor('the draft to be saved', () => JSON.parse(fs.readFileSync(stateFile, 'utf8')).note === 'Привет, мир');
});
