// What the operator reads at a glance: the status strip (relay state and the port actually
// bound, clients online, routes in use, the selected device, the LAN adapter, the public
// address, uptimes,
// the last error), the hints beside the port and public address boxes, the activity list,
// and two small charts fed by the server's counters (/metrics).
import { api, link } from './api.js';
import { ui } from './dom.js';
import { clockTime, duration, parseMetrics, Series, STUN_WAIT_MS } from './format.js';

const SAMPLE_MS = 2000;
const SAMPLES = 150;  // five minutes

export class StatusView {
  constructor() {
    this.s = null;
    this.offset = 0;  // server clock minus the page's
    this.stunServer = '';
  }

  serverNow() {
    return Date.now() + this.offset;
  }

  set(w) {
    const s = w.status;
    if (!s || typeof s !== 'object') return;
    this.s = s;
    if (typeof s.now === 'number') this.offset = s.now - Date.now();
    this.boxPort = String(w.relayPort ?? '');
    this.stunServer = String(w.stunServer ?? '');
    ui.stClients.textContent = String(s.clientsOnline);
    ui.stRoutes.textContent = s.routesInUse + ' of ' + s.routeSlots;
    ui.stDevice.textContent = s.selectedDevice || 'none selected';
    ui.stDevice.parentElement.dataset.state = s.selectedDevice ? 'ok' : 'idle';
    const lan = w.lanInterface;
    ui.stLan.textContent = lan && lan.name ? lan.name + ' ' + lan.address : 'none';
    ui.stLan.parentElement.title = lan && lan.name ? 'LAN adapter ' + lan.name + ', MAC ' + lan.mac : '';
    ui.stLan.parentElement.dataset.state = lan && lan.name ? 'ok' : 'idle';
    ui.stPublic.textContent = w.publicAddress || 'unknown';
    ui.stError.textContent = s.lastError
      ? s.lastError + (s.lastErrorHint ? ' (' + s.lastErrorHint + ')' : '') + ' at ' + clockTime(s.lastErrorTime)
      : 'none';
    ui.stError.parentElement.dataset.state = s.lastError ? 'error' : 'idle';
    this.setActivity(w.activity);
    this.tick();
  }

  setActivity(list) {
    if (!Array.isArray(list)) return;
    const key = list.length ? list.length + ':' + list[list.length - 1].time + list[list.length - 1].text : '';
    if (key === this.activityKey) return;
    this.activityKey = key;
    const frag = document.createDocumentFragment();
    for (const a of list.slice(-50).reverse()) {
      const li = document.createElement('li');
      const t = document.createElement('time');
      t.textContent = clockTime(a.time);
      li.append(t, ' ' + a.text);
      frag.appendChild(li);
    }
    ui.activity.replaceChildren(frag);
  }

  // Once a second: the ages, and the hints that appear when time has passed.
  tick() {
    const s = this.s;
    if (!s) return;
    const now = this.serverNow();
    const relay = ui.stRelay;
    relay.parentElement.dataset.state = s.relayRunning ? 'ok' : 'stopped';
    relay.textContent = s.relayRunning
      ? 'running on UDP ' + s.relayBoundPort + ' for ' + duration(now - s.relayStartedAt)
      : 'stopped';
    ui.stUptime.textContent = duration(now - s.startedAt);
    const portHint = s.relayRunning && String(s.relayBoundPort) !== this.boxPort
      ? 'bound to ' + s.relayBoundPort : '';
    ui.portHint.textContent = portHint;
    ui.portHint.hidden = !portHint;
    const waiting = s.stunRequestedAt > s.stunAnsweredAt;
    const silent = waiting && now - s.stunRequestedAt >= STUN_WAIT_MS;
    ui.stunHint.textContent = silent
      ? 'No answer from ' + (this.stunServer || 'the STUN server') + ' after ' +
        Math.floor((now - s.stunRequestedAt) / 1000) + ' s. The request is sent once; press Get Public IP to ask again.'
      : '';
    ui.stunHint.hidden = !silent;
  }
}

// Two sparklines: clients online and relay datagrams received per second.
export class Charts {
  constructor() {
    this.clients = new Series(SAMPLES);
    this.received = new Series(SAMPLES + 1);
    this.timer = 0;
  }

  start() {
    const sample = async () => {
      // Only while the console is connected: a server that asks for a token asks once, on
      // the event stream.
      if (!link.online) {
        this.timer = setTimeout(sample, SAMPLE_MS);
        return;
      }
      try {
        const res = await api('/metrics');
        if (res.ok) {
          const m = parseMetrics(await res.text());
          const t = Date.now();
          this.clients.add(t, m.halvyn_relay_clients_online || 0);
          this.received.add(t, m.halvyn_relay_datagrams_received_total || 0);
          this.draw();
        }
      } catch {
        // the connection loop reports a lost server
      }
      this.timer = setTimeout(sample, SAMPLE_MS);
    };
    sample();
  }

  draw() {
    drawLine(ui.chartClients, this.clients.points, ui.chartClientsValue, (v) => String(v));
    drawLine(ui.chartDatagrams, Series.rates(this.received.points), ui.chartDatagramsValue,
      (v) => (v < 10 ? v.toFixed(1) : Math.round(v)) + '/s');
  }
}

const SVG = 'http://www.w3.org/2000/svg';

function drawLine(svg, points, label, format) {
  const w = 200;
  const h = 40;
  const max = Math.max(1, ...points.map((p) => p.v));
  const n = SAMPLES;
  const x0 = n - points.length;
  const d = points.map((p, i) => (i ? 'L' : 'M') + ((x0 + i) * w / (n - 1)).toFixed(1) + ' ' +
    (h - 2 - (p.v / max) * (h - 4)).toFixed(1)).join(' ');
  let path = svg.querySelector('path');
  if (!path) {
    path = document.createElementNS(SVG, 'path');
    svg.appendChild(path);
  }
  path.setAttribute('d', d || 'M0 ' + (h - 2));
  svg.dataset.max = String(max);
  label.textContent = points.length ? format(points[points.length - 1].v) : '–';
}
