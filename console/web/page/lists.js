// The window's three lists with their life signs: the remote devices (address, p2p address,
// time since last heard and since login, a count and a filter), the LAN devices (selected
// by double-click or Enter, after a question when routes would be lost), and the forward
// routes (age, and whether each end is still logged in).
import { $, confirmAction, ui } from './dom.js';
import { duration, guardText, lifeLevel, routeState, SILENCE_LIMIT_MS } from './format.js';
import { makeListView, SelectList } from './widgets.js';

const LAN_LABELS = ['No', 'Device ID', 'Device Name', 'IP', 'FPGA Ver', 'Status'];
const ROUTE_LABELS = ['No', 'Tx Device Name', 'Remote IP:Port', 'Rx Device Name',
  'Rx Remote IP:Port', 'Forward chans'];

function span(cls, text) {
  const s = document.createElement('span');
  s.className = cls;
  s.textContent = text;
  return s;
}

// ---------------------------------------------------------------- remote devices

export class RemoteDevices {
  constructor() {
    this.details = [];
    this.at = 0;  // the page's clock when the details were taken
    this.list = new SelectList(ui.remoteDevices, ui.remoteDevices, {
      key: (items) => items.map((d) => d.name + '\u0000' + d.address + '\u0000' + d.p2pAddress).join('\n'),
      page: 8,
      render: (d, i) => {
        const li = document.createElement('li');
        li.id = 'remote-' + i;
        li.setAttribute('role', 'option');
        li.appendChild(span('rd-name', d.name));
        li.appendChild(span('rd-address', d.address || ''));
        li.appendChild(span('rd-p2p', d.p2pAddress ? 'p2p ' + d.p2pAddress : ''));
        li.appendChild(span('rd-heard', ''));
        return li;
      },
    });
    ui.remoteFilter.addEventListener('input', () => this.filter());
  }

  set(names, details) {
    const byName = new Map();
    if (Array.isArray(details)) for (const d of details) if (d && !byName.has(d.name)) byName.set(d.name, d);
    this.details = names.map((n) => {
      const d = byName.get(String(n)) || {};
      return { name: String(n), address: d.address || '', p2pAddress: d.p2pAddress || '',
        lastHeardMs: typeof d.lastHeardMs === 'number' ? d.lastHeardMs : null,
        loginTime: d.loginTime || 0 };
    });
    this.at = Date.now();
    this.list.set(this.details);
    ui.remoteCount.textContent = String(names.length);
    this.filter();
    this.tick(null);
  }

  // Redraws the ages; serverNow is the server's clock as last reported (null: keep).
  tick(serverNow) {
    if (serverNow !== null) this.serverOffset = serverNow - Date.now();
    const since = Date.now() - this.at;
    const now = Date.now() + (this.serverOffset || 0);
    [...ui.remoteDevices.children].forEach((li, i) => {
      const d = this.details[i];
      if (!d) return;
      const heard = li.querySelector('.rd-heard');
      if (d.lastHeardMs === null) {
        heard.textContent = 'not in the table';
        li.dataset.life = 'gone';
      } else {
        const age = d.lastHeardMs + since;
        heard.textContent = 'heard ' + duration(age) + ' ago';
        li.dataset.life = age >= SILENCE_LIMIT_MS ? 'red' : lifeLevel(age);
      }
      heard.dataset.login = d.loginTime ? ' · login ' + duration(now - d.loginTime) + ' ago' : '';
    });
  }

  filter() {
    const q = ui.remoteFilter.value.trim().toLowerCase();
    let shown = 0;
    [...ui.remoteDevices.children].forEach((li, i) => {
      const d = this.details[i];
      const hit = !q || (d && (d.name.toLowerCase().includes(q) || d.address.includes(q)));
      li.hidden = !hit;
      if (hit) shown++;
    });
    ui.remoteCount.textContent = q ? shown + ' of ' + this.details.length : String(this.details.length);
  }
}

// ---------------------------------------------------------------- LAN devices and routes

export function makeLanList(getWindow, select) {
  return makeListView(ui.lanDevices, LAN_LABELS, {
    async onActivate(row) {
      const w = getWindow();
      const cells = w.lanDevices?.[row] || [];
      const guard = guardText('select-device', w, { name: String(cells[2] || '').trim() });
      if (guard && !(await confirmAction(guard))) return;
      select(row);
    },
  });
}

export class Routes {
  constructor() {
    this.view = makeListView(ui.forwardRoutes, ROUTE_LABELS);
    this.details = [];
    this.serverOffset = 0;
  }

  set(rows, details, serverNow) {
    this.view.set(rows);
    this.details = Array.isArray(details) ? details : [];
    if (typeof serverNow === 'number') this.serverOffset = serverNow - Date.now();
    this.tick();
  }

  tick() {
    const now = Date.now() + this.serverOffset;
    let stale = 0;
    [...ui.forwardRoutes.querySelectorAll('tbody tr')].forEach((tr, i) => {
      const d = this.details[i];
      const state = routeState(d);
      if (state === 'stale') stale++;
      tr.dataset.state = state;
      tr.children[0].dataset.age = d && d.since ? duration(now - d.since) : '';
      tr.children[1].dataset.online = String(!d || !!d.txOnline);
      tr.children[3].dataset.online = String(!d || !!d.rxOnline);
      tr.title = state === 'stale' ? 'Stale: neither end is logged in any more'
        : state === 'half' ? 'One end is no longer logged in' : '';
    });
    const n = this.details.length;
    $('routes-summary').textContent = n ? n + (n === 1 ? ' route' : ' routes') +
      (stale ? ', ' + stale + ' stale' : '') : '';
  }
}
