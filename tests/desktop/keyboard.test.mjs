// Menu shortcuts pressed as a keyboard sends them: the page has every key first, and the menu acts
// on the physical key of its letter whatever layout is active.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { openMenuItems } from './support/a11y.mjs';
import { openApp } from './support/harness.mjs';
import { lane, layoutForTest, press, view } from './support/lanes.mjs';
import { waitFor } from './support/util.mjs';

const TEXT = 'Лорвейн';
// On a French keyboard A, Z, Q and M lie elsewhere (as X keycodes); a shortcut goes with its letter.
const FR = { a: 24, z: 25, q: 38, m: 47 };
const LAYOUTS = [
  { layout: 'us' },
  { layout: 'ru' },
  { layout: 'ru,us', name: 'ru,us with ru active' },
  { layout: 'us,ru', group: 1, name: 'us,ru with ru active' },
  { layout: 'fr', keys: FR },
  { layout: 'us,ru', options: 'grp:alt_shift_toggle', name: 'us,ru switched by Alt+Shift' },
];

// What the text field went through, and what it has selected now, as the page reported it.
const edits = (app) => app.reports('edit').filter((r) => r.event !== 'select').map((r) => [r.event, r.inputType, r.value].filter(Boolean).join(' '));
const selected = (app) => app.reports('edit').filter((r) => r.event === 'select').at(-1)?.value;

// Every menu shortcut in turn, each with what shows that it acted. Alt+Shift+V comes first, so that
// with grp:alt_shift_toggle the rest is pressed in the layout it switches to.
const SHORTCUTS = [
  ['alt+shift+v', (app) => app.reports('popstate').length === 1],
  ['ctrl+a', (app) => selected(app) === TEXT],
  ['ctrl+c', `copy ${TEXT}`],
  ['ctrl+x', 'input deleteByCut'],
  ['ctrl+v', `input insertFromPaste ${TEXT}`],
  ['ctrl+z', 'input historyUndo'],
  ['ctrl+shift+z', `input historyRedo ${TEXT}`],
  ['ctrl+m', 'minimises'],
  ['ctrl+h', 'minimises'],
  ['ctrl+q', 'quits'],
];

// The web app with a text field holding the keyboard; the layout is switched with the app running.
async function startEditing(t, layout, takeKeys = []) {
  const { app, window } = await openApp(t, { server: { editor: TEXT, takeKeys } });
  await layoutForTest(t, layout);
  await lane.focus(window.id);
  await waitFor('the window to have the keyboard', async () => (await view(window.id)).focused);
  return { app, window };
}

for (const row of LAYOUTS) {
  test(`every menu shortcut acts once on its key with ${row.name ?? row.layout}`, async (t) => {
    const { app, window } = await startEditing(t, row);
    const expected = [];
    for (const [shortcut, effect] of SHORTCUTS) {
      const keys = shortcut.split('+');
      await press([...keys.slice(0, -1), row.keys?.[keys.at(-1)] ?? keys.at(-1)].join('+'));
      if (effect === 'quits') {
        assert.deepEqual(await app.waitExit(), { code: 0, signal: null }, `${shortcut} quits`);
      } else if (effect === 'minimises') {
        // A desktop that keeps no minimised windows (sway) shows nothing of it.
        if ((await lane.minimized(window.id)) === null) continue;
        await waitFor(`${shortcut} to minimise the window`, () => lane.minimized(window.id));
        await lane.focus(window.id);
        await waitFor('the window to be back with the keyboard', async () => (await view(window.id))?.focused);
      } else if (typeof effect === 'string') {
        expected.push(effect);
        await waitFor(`${shortcut} to edit the text`, () => edits(app).length >= expected.length);
      } else {
        await waitFor(`${shortcut} to act`, () => effect(app));
      }
    }
    // Only now, with every key long handled: a key acted on twice would have left a second edit.
    assert.deepEqual(edits(app), expected);
    assert.equal(app.reports('popstate').length, 1);
  });
}

// The items of the menu open now, once there is one with `item` (any item if none is named).
const openMenu = (app, item) => waitFor(`an open menu${item ? ` with ${item}` : ''}`, async () => {
  const items = await openMenuItems(app.busAddress, app.first.pid);
  return items.some((i) => !item || i.name === item) && items;
});

test('keys the page takes never reach the menu; keys it leaves, or that never reach it, do', async (t) => {
  const taken = ['ctrl+z', 'ctrl+v', 'ctrl+h', 'alt+shift+v'];
  const { app, window } = await startEditing(t, { layout: 'us' }, taken);
  await press('ctrl+a');
  await waitFor('the text to be selected', () => selected(app) === TEXT);
  await press('ctrl+x', ...taken);
  await waitFor('the page to see the keys it takes', () => app.reports('key').length === taken.length);
  // F10 comes back from the page like every key it leaves, after the taken ones would have: once
  // its menu is open, the menu has had its turn at them.
  await press('f10');
  await openMenu(app);
  assert.deepEqual(app.reports('key').map((r) => r.chord), taken);
  assert.deepEqual(edits(app), ['input deleteByCut'], 'no undo, no paste');
  assert.equal(app.reports('popstate').length, 0, 'no voice view');
  assert.notEqual(await lane.minimized(window.id), true, 'not minimised');
  // With the menu holding the keyboard, the page never sees the key and the menu acts.
  await press('alt+shift+v');
  await waitFor('the voice view', () => app.reports('popstate').length === 1);
  assert.equal(app.reports('key').length, taken.length);
  await press('ctrl+q');
  assert.deepEqual(await app.waitExit(), { code: 0, signal: null });
});

test('the Edit menu greys out what cannot act on the page now, and follows the page', async (t) => {
  const { app } = await startEditing(t, { layout: 'us' });
  // The menu is opened from the keyboard where none is open. One left open (Escape does not close
  // it on sway, and the shortcuts act through it) shows its items as they change.
  const editMenuShows = (undo, cut, what) => waitFor(what, async () => {
    if ((await openMenuItems(app.busAddress, app.first.pid)).length === 0) {
      await press('f10');
      await openMenu(app, 'Об Lorvane');
      await press('right');
    }
    const seen = Object.fromEntries((await openMenu(app, 'Отменить')).map((item) => [item.name, item.sensitive]));
    const expected = { Отменить: undo, Повторить: false, Вырезать: cut, Копировать: cut, Вставить: true, 'Выбрать всё': true };
    return Object.entries(expected).every(([name, sensitive]) => seen[name] === sensitive) && seen;
  });
  await editMenuShows(false, false, 'nothing to undo, cut or copy');
  await press('ctrl+a');
  await editMenuShows(false, true, 'cut and copy once all is selected');
  await press('ctrl+x');
  await waitFor('the text to be cut', () => edits(app).includes('input deleteByCut'));
  await editMenuShows(true, false, 'undo once the text is cut');
});
