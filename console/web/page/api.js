// The console's connection to halvyn: requests with the token, the event stream, the
// connection state shown in the title bar, and operator commands.
//
// Server contract (served by halvyn itself):
//   GET  /api/window   the window as JSON (full state, messageLog and logTimes included),
//                      with logEpoch and logEnd saying where the log stands.
//   POST /api/command  {"command": NAME, "controls": {...}, "row": N}; answers the window.
//   GET  /api/events   text/event-stream: `window` events. The first carries the full window;
//                      later ones carry log = {epoch, offset, append, times} instead of the
//                      log, or the whole log again when its epoch changed. A comment
//                      heartbeat follows every second of quiet.
//   GET  /metrics      counters in the Prometheus text format (the charts).
// Every request carries `Authorization: Bearer TOKEN` once the operator has given one (asked
// for on a 401; kept in sessionStorage for this tab).
import { EventStreamParser } from './event_stream.js';
import { anyDialogOpen, hideBanner, showBanner, showModal, sleep, ui } from './dom.js';

const TOKEN_KEY = 'halvyn.console.token';
const STREAM_IDLE_MS = 5000;  // the server sends a heartbeat every second
const RETRY_MIN_MS = 250;
const RETRY_MAX_MS = 2000;

export const link = {
  online: false,       // the last contact with the server succeeded
  everOnline: false,
  lostAt: null,
  exitRequested: false,
  eventSeq: 0,         // count of stream events applied; orders snapshots against events
};

// Set by main: what to do with a stream event, with a snapshot, and when the link changes.
export const handlers = { event: () => {}, snapshot: () => true, online: () => {}, offline: () => {} };

let token = sessionStorage.getItem(TOKEN_KEY) || '';
let tokenPrompt = null;  // the pending prompt, shared by every request that met a 401
let authRetry = null;    // resolves the wait after the operator cancelled the prompt

export class AuthCancelled extends Error {}
class Refused extends Error {}  // the server answered, but not with what was asked

async function errorText(res) {
  const body = await res.json().catch(() => null);
  return body && typeof body.error === 'string' ? body.error : 'HTTP ' + res.status;
}

function withAuth(headers) {
  const h = new Headers(headers || {});
  if (token) h.set('Authorization', 'Bearer ' + token);
  return h;
}

// fetch() with the token; on 401 asks the operator (once for all waiting requests) and
// retries. Throws AuthCancelled when the operator declines.
export async function api(path, init = {}) {
  for (;;) {
    const used = token;
    const res = await fetch(path, { ...init, headers: withAuth(init.headers), cache: 'no-store' });
    if (res.status !== 401) return res;
    res.body?.cancel().catch(() => {});
    if (token !== used) continue;  // a newer token arrived while this request was out
    const given = await askForToken(used ? 'The token was not accepted.' : '');
    if (!given) throw new AuthCancelled('no token');
  }
}

function askForToken(error) {
  if (tokenPrompt) return tokenPrompt;
  tokenPrompt = new Promise((resolve) => {
    const d = ui.tokenDialog;
    ui.tokenError.textContent = error;
    ui.tokenError.hidden = !error;
    ui.tokenInput.value = '';
    d.returnValue = '';
    d.addEventListener('close', () => {
      const value = ui.tokenInput.value.trim();
      const ok = d.returnValue === 'ok' && value !== '';
      if (ok) {
        token = value;
        sessionStorage.setItem(TOKEN_KEY, token);
      }
      ui.tokenInput.value = '';
      tokenPrompt = null;
      resolve(ok);
    }, { once: true });
    showModal(d);
    ui.tokenInput.focus();
  });
  return tokenPrompt;
}

function setLinkState(state, text) {
  ui.linkState.dataset.state = state;
  ui.linkState.textContent = text;
}

function setOnline() {
  const focusLost = !document.activeElement || document.activeElement === document.body;
  link.online = true;
  link.everOnline = true;
  link.lostAt = null;
  link.exitRequested = false;
  ui.window.classList.remove('stale');
  setLinkState('live', 'Console connected');
  hideBanner('connection');
  handlers.online();
  if (focusLost && !anyDialogOpen()) ui.localAddress.focus();
}

function setOffline(reason, detail) {
  const wasOnline = link.online;
  link.online = false;
  ui.window.classList.add('stale');
  handlers.offline();
  if (reason === 'initial') {
    setLinkState('connecting', 'Connecting');
  } else if (reason === 'locked') {
    setLinkState('offline', 'Locked');
    showBanner('connection', 'error',
      'This console needs its access token. Nothing is shown or sent until it is given.',
      'Enter token…', () => { authRetry?.(); });
  } else if (reason === 'refused' && !link.exitRequested) {
    setLinkState('offline', 'Refused');
    showBanner('connection', 'error', 'Halvyn refused the live updates (' + detail + '). Retrying…');
  } else if (link.exitRequested) {
    setLinkState('exited', 'Exited');
    showBanner('connection', 'exited',
      'Halvyn has exited. This page reconnects by itself if it is started again.');
  } else if (!link.everOnline) {
    setLinkState('connecting', 'Connecting');
    showBanner('connection', 'offline', 'Cannot reach halvyn at ' + location.host + '. Retrying…');
  } else {
    if (wasOnline || !link.lostAt) link.lostAt = new Date();
    setLinkState('offline', 'Console disconnected');
    showBanner('connection', 'offline', 'Connection to halvyn lost at ' +
      link.lostAt.toLocaleTimeString() + '. The window shows the last known state; reconnecting…');
  }
}

async function runEventStream() {
  const abort = new AbortController();
  let idle = 0;
  const stillAlive = () => {
    clearTimeout(idle);
    idle = setTimeout(() => abort.abort(), STREAM_IDLE_MS);
  };
  try {
    const res = await api('/api/events', {
      signal: abort.signal,
      headers: { Accept: 'text/event-stream' },
    });
    if (!res.ok || !res.body) throw new Refused(await errorText(res));
    stillAlive();
    const parser = new EventStreamParser((type, data) => {
      if (type !== 'window') return;
      let w;
      try {
        w = JSON.parse(data);
      } catch {
        return;
      }
      link.eventSeq++;
      if (!link.online) setOnline();
      handlers.event(w);
    });
    const reader = res.body.pipeThrough(new TextDecoderStream()).getReader();
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      stillAlive();
      parser.push(value);
    }
  } finally {
    clearTimeout(idle);
    abort.abort();
  }
}

export async function connectionLoop() {
  setOffline('initial');
  let delay = RETRY_MIN_MS;
  for (;;) {
    let refused = '';
    try {
      await runEventStream();
    } catch (e) {
      if (e instanceof Refused) refused = e.message;
      if (e instanceof AuthCancelled) {
        setOffline('locked');
        await new Promise((r) => { authRetry = r; });
        authRetry = null;
        continue;
      }
    }
    if (link.online) delay = RETRY_MIN_MS;
    setOffline(refused ? 'refused' : undefined, refused);
    await sleep(delay);
    delay = Math.min(delay * 2, RETRY_MAX_MS);
  }
}

// Sends an operator command with what the operator typed; applies the answer as a snapshot.
export async function command(name, controls, extra = {}) {
  if (!link.online) return null;
  if (name === 'exit' || name === 'close') link.exitRequested = true;
  const body = JSON.stringify({ command: name, controls, ...extra });
  const seq = link.eventSeq;
  try {
    const res = await api('/api/command', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body,
    });
    if (!res.ok) {
      showBanner('notice', 'error', 'Halvyn did not run “' + name + '”: ' + await errorText(res) + '.');
      return null;
    }
    const w = await res.json().catch(() => null);
    if (w && typeof w === 'object') handlers.snapshot(w, seq);
    return w;
  } catch (e) {
    if (e instanceof AuthCancelled) return null;
    if (link.exitRequested) return null;  // the server may end before it answers
    showBanner('notice', 'error', 'Could not send “' + name + '” to halvyn: ' + e.message);
    return null;
  }
}
