// Texts and judgements the console shows beside the window's own: times, ages, life signs,
// route states, the confirmation texts of guarded actions, and the metrics the charts read.
// Pure: no DOM.

// A remote device is dropped after 24.6 s of silence; its age turns amber past 10 s and red
// past 20 s, so the operator sees it coming.
export const SILENCE_LIMIT_MS = 24600;
export const AMBER_MS = 10000;
export const RED_MS = 20000;
// Get Public IP sends one request and never retries; past this the page says no answer came.
export const STUN_WAIT_MS = 3000;

const pad = (n, w = 2) => String(n).padStart(w, '0');

// "14:03:22" in the browser's time zone.
export function clockTime(ms) {
  const d = new Date(ms);
  return pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());
}

// "2026-12-09 14:03:22.125", for the downloaded log.
export function fullTime(ms) {
  const d = new Date(ms);
  return d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate()) + ' ' +
    clockTime(ms) + '.' + pad(d.getMilliseconds(), 3);
}

// A duration for people: "0 s", "59 s", "4 min 05 s", "2 h 03 min", "3 d 4 h".
export function duration(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 60) return s + ' s';
  const m = Math.floor(s / 60);
  if (m < 60) return m + ' min ' + pad(s % 60) + ' s';
  const h = Math.floor(m / 60);
  if (h < 24) return h + ' h ' + pad(m % 60) + ' min';
  return Math.floor(h / 24) + ' d ' + (h % 24) + ' h';
}

// 'ok', 'amber' or 'red' for the time since a remote device was last heard.
export function lifeLevel(lastHeardMs) {
  if (lastHeardMs > RED_MS) return 'red';
  if (lastHeardMs > AMBER_MS) return 'amber';
  return 'ok';
}

// A forward route: 'live' while both ends are logged in, 'half' with one, 'stale' with none.
export function routeState(detail) {
  if (!detail) return 'live';
  const ends = (detail.txOnline ? 1 : 0) + (detail.rxOnline ? 1 : 0);
  return ends === 2 ? 'live' : ends === 1 ? 'half' : 'stale';
}

// A message box entry: a text, or {text, count} for identical boxes merged into one (the
// window's messageBoxes with messageBoxCounts beside them).
export function messageBoxEntry(entry) {
  if (entry && typeof entry === 'object') {
    const count = Number.isInteger(entry.count) && entry.count > 1 ? entry.count : 1;
    return { text: String(entry.text ?? ''), count };
  }
  return { text: String(entry), count: 1 };
}

const plural = (n, one, many) => n + ' ' + (n === 1 ? one : many);

function listNames(names, most = 3) {
  if (names.length <= most) return names.join(', ');
  return names.slice(0, most).join(', ') + ' and ' + (names.length - most) + ' more';
}

// What a guarded action is about to lose, in the operator's words; null when nothing is
// at stake and the action needs no question. w is the window as last shown.
export function guardText(action, w, extra = {}) {
  const status = w.status || {};
  const routes = Array.isArray(w.forwardRoutes) ? w.forwardRoutes.length : 0;
  const clients = Array.isArray(w.remoteDevices) ? w.remoteDevices : [];
  switch (action) {
    case 'exit':
    case 'close': {
      const what = [];
      if (status.relayRunning) what.push('stops the relay server on UDP port ' + status.relayBoundPort);
      if (clients.length) what.push('drops ' + plural(clients.length, 'logged-in remote device', 'logged-in remote devices'));
      if (routes) what.push('ends ' + plural(routes, 'active route', 'active routes'));
      return {
        title: (action === 'exit' ? 'Exit' : 'Close') + ' Halvyn?',
        text: 'This ' + (what.length ? what.join(', ') + ' and ' : '') +
          'ends the program; under the service it stays down until started again.',
        yes: action === 'exit' ? 'Exit' : 'Close',
      };
    }
    case 'clear-clients':
      if (!clients.length && !routes) return null;
      return {
        title: 'Clear clients?',
        text: plural(clients.length, 'remote device', 'remote devices') +
          (clients.length ? ' (' + listNames(clients) + ')' : '') + ' will be forgotten' +
          (routes ? ' and ' + plural(routes, 'active route', 'active routes') + ' cleared' : '') +
          '; their keep-alives are then dropped until they log in again.',
        yes: 'Clear clients',
      };
    case 'select-device': {
      if (!routes) return null;
      const on = status.selectedDevice ? ' on ' + status.selectedDevice.replace(/ \(.*\)$/, '') : '';
      return {
        title: 'Select ' + (extra.name || 'this device') + '?',
        text: plural(routes, 'active route', 'active routes') + on + ' will be cleared.',
        yes: 'Select',
      };
    }
    default:
      return null;
  }
}

// Sums of the Prometheus text format's samples by metric name (labels summed over).
export function parseMetrics(text) {
  const out = {};
  for (const line of text.split('\n')) {
    if (!line || line.startsWith('#')) continue;
    const m = /^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{[^}]*\})?\s+(\S+)/.exec(line);
    if (!m) continue;
    const v = Number(m[2]);
    if (Number.isFinite(v)) out[m[1]] = (out[m[1]] || 0) + v;
  }
  return out;
}

// A rolling series of samples {t, v}, at most `keep` of them.
export class Series {
  constructor(keep) {
    this.keep = keep;
    this.points = [];
  }

  add(t, v) {
    this.points.push({ t, v });
    if (this.points.length > this.keep) this.points.shift();
  }

  // The rate per second between consecutive counter samples (a counter that went back, a
  // restarted halvyn, starts again from there).
  static rates(counter) {
    const out = [];
    for (let i = 1; i < counter.length; i++) {
      const dt = (counter[i].t - counter[i - 1].t) / 1000;
      const dv = counter[i].v - counter[i - 1].v;
      if (dt > 0) out.push({ t: counter[i].t, v: dv >= 0 ? dv / dt : 0 });
    }
    return out;
  }
}
