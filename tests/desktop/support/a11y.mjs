// The app's windows read the way a screen reader reads them, over the accessibility bus with gdbus.
//
// An alert's texts are labels that cannot be selected or copied, and whether a menu item is greyed
// out shows nowhere else: this is how a test reads them.
import { lane } from './lanes.mjs';
import { runChecked } from './util.mjs';

const call = async (bus, ref, method, ...args) => (await runChecked('gdbus', ['call', '--address', bus, '--dest', ref.bus,
  '--object-path', ref.path, '--method', method, ...args], { as: lane.user, timeout: 5000 })).trim();
// gdbus prints GVariant text: ('label',) or (<'Доступно'>,), with \' or "…" for quotes.
const text = (answer) => /^\(<?(['"])([\s\S]*)\1>?,\)$/.exec(answer)?.[2].replace(/\\(.)/g, '$1') ?? answer;
const children = async (bus, ref) => [...(await call(bus, ref, 'org.a11y.atspi.Accessible.GetChildren'))
  .matchAll(/\('([^']+)', (?:objectpath )?'([^']+)'\)/g)].map((m) => ({ bus: m[1], path: m[2] }));

// A node with its role, name, whether it can be chosen (AT-SPI's "sensitive", state bit 24), and
// its descendants in order, each with `inMenu` where a menu holds it; `deep` says where to stop.
async function node(bus, ref, deep, inMenu = false) {
  const [role, name, state] = await Promise.all([
    call(bus, ref, 'org.a11y.atspi.Accessible.GetRoleName').then(text),
    call(bus, ref, 'org.freedesktop.DBus.Properties.Get', 'org.a11y.atspi.Accessible', 'Name').then(text),
    call(bus, ref, 'org.a11y.atspi.Accessible.GetState'),
  ]);
  const self = { role, name, inMenu, sensitive: (Number(/uint32 (\d+)/.exec(state)[1]) & (1 << 24)) !== 0 };
  const kids = deep(self) ? await Promise.all((await children(bus, ref)).map((c) => node(bus, c, deep, inMenu || role === 'menu'))) : [];
  return [self, ...kids.flat()];
}

// The windows of the app whose process is `pid`, each as a flat list of its nodes; `deep` as above.
async function windows(sessionBus, pid, deep) {
  const bus = text(await call(sessionBus, { bus: 'org.a11y.Bus', path: '/org/a11y/bus' }, 'org.a11y.Bus.GetAddress'));
  for (const app of await children(bus, { bus: 'org.a11y.atspi.Registry', path: '/org/a11y/atspi/accessible/root' })) {
    const owner = await call(bus, { bus: 'org.freedesktop.DBus', path: '/org/freedesktop/DBus' },
      'org.freedesktop.DBus.GetConnectionUnixProcessID', app.bus).catch(() => '');
    if (owner === `(uint32 ${pid},)`) return Promise.all((await children(bus, app)).map((w) => node(bus, w, deep)));
  }
  return [];
}

// The app's alerts (its windows besides the main one, titled "Lorvane"): their labels and buttons in order.
export async function dialogs(sessionBus, pid) {
  const found = await windows(sessionBus, pid, (n) => n.name !== 'Lorvane');
  return found.filter(([w]) => w.name !== 'Lorvane').map((nodes) => ({
    labels: nodes.filter((n) => n.role === 'label').map((n) => n.name).filter((name) => !nodes.some((b) => b.role === 'button' && b.name === name)),
    buttons: nodes.filter((n) => n.role === 'button').map((n) => n.name),
  }));
}

// The items of the menu open in the main window, each with whether it can be chosen now.
export async function openMenuItems(sessionBus, pid) {
  const found = await windows(sessionBus, pid, (n) => n.role !== 'document web');
  const main = found.find(([w]) => w.name === 'Lorvane') ?? [];
  return main.filter((n) => n.inMenu && n.role === 'menu item').map(({ name, sensitive }) => ({ name, sensitive }));
}
