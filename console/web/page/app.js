// Operator console of halvyn: draws the main window from the server's window state and sends
// the operator's commands back.
//
// Server contract (served by halvyn itself):
//   GET  /api/window   the window as JSON (full state, messageLog included). Every window
//                      JSON also says where the log stands: logEpoch and logEnd (the offset
//                      of its end within the epoch, in the server's bytes).
//   POST /api/command  {"command": NAME, "controls": {...}, "row": N}; answers the window.
//   GET  /api/events   text/event-stream: `window` events. The first carries the full window;
//                      later ones omit messageLog and carry log = {epoch, offset, append}
//                      (append `append` at offset `offset` of log epoch `epoch`), or the full
//                      messageLog again when the epoch changed (the log was cleared or
//                      trimmed). Comment heartbeats arrive every second.
// Every request carries `Authorization: Bearer TOKEN` once the operator has given a token
// (asked for when the server answers 401; kept in sessionStorage for this tab).
'use strict';

(() => {
  const APP_NAME = 'Halvyn';
  const TOKEN_KEY = 'halvyn.console.token';
  const STREAM_IDLE_MS = 5000;  // the server sends a heartbeat every second
  const RETRY_MIN_MS = 250;
  const RETRY_MAX_MS = 2000;
  const POLL_MS = 1000;  // only for a server that offers no event stream
  const NOTICE_MS = 8000;
  const MAX_SCROLL_PX = 8000000;  // beyond this the log's scroll range is scaled
  const LOG_PAD_PX = 3;  // space above the first line and below the last
  const SNAPSHOT_RETRIES = 5;

  const $ = (id) => document.getElementById(id);
  const ui = {
    window: $('window'),
    title: $('title'),
    linkState: $('link-state'),
    banner: $('banner'),
    bannerText: $('banner-text'),
    bannerAction: $('banner-action'),
    sysmenuButton: $('sysmenu-button'),
    sysmenu: $('sysmenu'),
    menuAbout: $('menu-about'),
    menuClose: $('menu-close'),
    captionClose: $('caption-close'),
    client: $('client'),
    localAddress: $('local-address'),
    relayPort: $('relay-port'),
    startStop: $('start-stop'),
    exit: $('exit'),
    stunCombo: $('stun-combo'),
    stunServer: $('stun-server'),
    stunDrop: $('stun-drop'),
    stunList: $('stun-list'),
    publicAddress: $('public-address'),
    getPublicIp: $('get-public-ip'),
    remoteDevices: $('remote-devices'),
    clearClients: $('clear-clients'),
    log: $('log'),
    logSizer: $('log-sizer'),
    logLines: $('log-lines'),
    clearMessages: $('clear-messages'),
    lanDevices: $('lan-devices'),
    forwardRoutes: $('forward-routes'),
    messageBox: $('message-box'),
    messageBoxCaption: $('message-box-caption'),
    messageBoxText: $('message-box-text'),
    messageBoxMore: $('message-box-more'),
    messageBoxOk: $('message-box-ok'),
    aboutBox: $('about-box'),
    exitConfirm: $('exit-confirm'),
    tokenDialog: $('token-dialog'),
    tokenInput: $('token-input'),
    tokenError: $('token-error'),
  };
  const commandButtons = [ui.startStop, ui.exit, ui.getPublicIp, ui.clearClients,
    ui.clearMessages, ui.captionClose];

  // ---------------------------------------------------------------- connection state

  const link = {
    online: false,       // the last contact with the server succeeded
    streamLive: false,   // the event stream is delivering
    everOnline: false,
    exitRequested: false,
    eventSeq: 0,         // count of stream events applied; orders snapshots against events
    lostAt: null,
  };

  function setOnline() {
    const focusLost = !document.activeElement || document.activeElement === document.body;
    link.online = true;
    link.everOnline = true;
    link.exitRequested = false;
    link.lostAt = null;
    ui.window.classList.remove('stale');
    for (const b of commandButtons) b.disabled = false;
    ui.linkState.dataset.state = 'live';
    ui.linkState.textContent = link.streamLive ? 'Live' : 'Live (polling)';
    hideBanner('connection');
    if (focusLost && !anyDialogOpen()) ui.startStop.focus();
  }

  function setOffline(reason, detail) {
    const wasOnline = link.online;
    link.online = false;
    link.streamLive = false;
    if (wasOnline || !link.lostAt) link.lostAt = new Date();
    ui.window.classList.add('stale');
    for (const b of commandButtons) b.disabled = true;
    closeMessageBox();
    if (reason === 'initial') {
      ui.linkState.dataset.state = 'connecting';
      ui.linkState.textContent = 'Connecting';
      return;
    }
    if (reason === 'locked') {
      ui.linkState.dataset.state = 'offline';
      ui.linkState.textContent = 'Locked';
      showBanner('connection', 'error',
        'This console needs its access token. Nothing is shown or sent until it is given.',
        'Enter token…', () => { authRetry?.(); });
      return;
    }
    if (reason === 'refused' && !link.exitRequested) {
      ui.linkState.dataset.state = 'offline';
      ui.linkState.textContent = 'Refused';
      showBanner('connection', 'error',
        'Halvyn refused the live updates (' + detail + '). Retrying…');
      return;
    }
    if (link.exitRequested) {
      ui.linkState.dataset.state = 'exited';
      ui.linkState.textContent = 'Exited';
      showBanner('connection', 'exited',
        'Halvyn has exited. This page reconnects by itself if it is started again.');
      return;
    }
    if (!link.everOnline) {
      ui.linkState.dataset.state = 'connecting';
      ui.linkState.textContent = 'Connecting';
      showBanner('connection', 'offline',
        'Cannot reach halvyn at ' + location.host + '. Retrying…');
      return;
    }
    ui.linkState.dataset.state = 'offline';
    ui.linkState.textContent = 'Offline';
    showBanner('connection', 'offline',
      'Connection to halvyn lost at ' + link.lostAt.toLocaleTimeString() +
      '. The window shows the last known state; reconnecting…');
  }

  // One banner line under the title bar. A connection banner outranks a passing notice.
  let bannerOwner = null;
  let noticeTimer = 0;
  function showBanner(owner, kind, text, actionText, action) {
    if (owner === 'notice' && bannerOwner === 'connection') return;
    bannerOwner = owner;
    clearTimeout(noticeTimer);
    ui.banner.dataset.kind = kind;
    ui.bannerText.textContent = text;
    ui.bannerAction.hidden = !actionText;
    ui.bannerAction.textContent = actionText || '';
    ui.bannerAction.onclick = action || null;
    ui.banner.hidden = false;
    if (owner === 'notice') noticeTimer = setTimeout(() => hideBanner('notice'), NOTICE_MS);
  }
  function hideBanner(owner) {
    if (bannerOwner !== owner) return;
    bannerOwner = null;
    ui.banner.hidden = true;
  }

  // ---------------------------------------------------------------- requests and the token

  let token = sessionStorage.getItem(TOKEN_KEY) || '';
  let tokenPrompt = null;  // the pending prompt, shared by every request that met a 401
  let authRetry = null;    // resolves the wait after the operator cancelled the prompt

  class AuthCancelled extends Error {}
  class NoEventStream extends Error {}
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
  async function api(path, init = {}) {
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

  // ---------------------------------------------------------------- the event stream

  // Parses text/event-stream incrementally; calls dispatch(type, data) per event.
  class EventStreamParser {
    constructor(dispatch) {
      this.dispatch = dispatch;
      this.rest = '';      // an unfinished line
      this.cr = false;     // the last chunk ended in CR; a LF may follow
      this.type = '';
      this.data = [];
    }

    push(chunk) {
      if (this.cr && chunk.startsWith('\n')) chunk = chunk.slice(1);
      this.cr = chunk.endsWith('\r');
      const text = chunk.replace(/\r\n?/g, '\n');
      if (text.indexOf('\n') < 0) {
        this.rest += text;
        return;
      }
      const lines = text.split('\n');
      lines[0] = this.rest + lines[0];
      this.rest = lines.pop();
      for (const line of lines) this.line(line);
    }

    line(line) {
      if (line === '') {
        if (this.data.length) this.dispatch(this.type || 'message', this.data.join('\n'));
        this.type = '';
        this.data = [];
        return;
      }
      if (line.startsWith(':')) return;  // heartbeat
      const colon = line.indexOf(':');
      const field = colon < 0 ? line : line.slice(0, colon);
      let value = colon < 0 ? '' : line.slice(colon + 1);
      if (value.startsWith(' ')) value = value.slice(1);
      if (field === 'event') this.type = value;
      else if (field === 'data') this.data.push(value);
    }
  }

  const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

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
      if (res.status === 404 || res.status === 405 || res.status === 501) {
        res.body?.cancel().catch(() => {});
        throw new NoEventStream();
      }
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
        applyEvent(w);
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

  // For a server without /api/events: poll the window until a poll fails.
  async function pollWindow() {
    let last = null;
    for (;;) {
      const seq = link.eventSeq;
      const res = await api('/api/window');
      if (!res.ok) throw new Error('HTTP ' + res.status);
      const text = await res.text();
      if (!link.online) setOnline();
      if (text !== last) {
        last = text;
        applySnapshot(JSON.parse(text), seq);
      }
      await sleep(POLL_MS);
    }
  }

  async function connectionLoop() {
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
        if (e instanceof NoEventStream) {
          try {
            await pollWindow();
          } catch (e2) {
            if (e2 instanceof AuthCancelled) {
              setOffline('locked');
              await new Promise((r) => { authRetry = r; });
              authRetry = null;
              continue;
            }
          }
        }
      }
      if (link.online) delay = RETRY_MIN_MS;
      setOffline(refused ? 'refused' : undefined, refused);
      await sleep(delay);
      delay = Math.min(delay * 2, RETRY_MAX_MS);
    }
  }

  // ---------------------------------------------------------------- applying window state

  // A stream event: always the newest state.
  function applyEvent(w) {
    link.eventSeq++;
    if (!link.streamLive) {
      link.streamLive = true;
      setOnline();
    }
    applyEventLog(w);
    applyWindow(w);
  }

  // A snapshot (GET /api/window or a command's answer) taken by a request sent when
  // link.eventSeq was seqAtSend. If stream events arrived meanwhile, the snapshot may be older
  // than what is shown, and the stream carries every change anyway: it is dropped. Returns
  // whether it was applied.
  function applySnapshot(w, seqAtSend) {
    if (link.streamLive && link.eventSeq !== seqAtSend) return false;
    applySnapshotLog(w);
    applyWindow(w);
    return true;
  }

  function applyWindow(w) {
    if (typeof w.title === 'string') {
      if (ui.title.textContent !== w.title) ui.title.textContent = w.title;
      if (document.title !== w.title) document.title = w.title;
    }
    if (typeof w.startStop === 'string') {
      if (ui.startStop.textContent !== w.startStop) ui.startStop.textContent = w.startStop;
      ui.startStop.dataset.running = String(w.startStop === 'Stop');
    }
    // The IP address box and the port box are bound to stored values: every update puts the
    // stored values back, replacing text typed but not yet taken over.
    if (typeof w.localAddress === 'string') setField(ui.localAddress, w.localAddress);
    if (w.relayPort !== undefined && w.relayPort !== null) setField(ui.relayPort, String(w.relayPort));
    if (typeof w.publicAddress === 'string') setField(ui.publicAddress, w.publicAddress);
    if (Array.isArray(w.remoteDevices)) remoteList.set(w.remoteDevices);
    if (Array.isArray(w.lanDevices)) lanList.set(w.lanDevices);
    if (Array.isArray(w.forwardRoutes)) routeList.set(w.forwardRoutes);
    if (Array.isArray(w.stunServers)) stunCombo.setEntries(w.stunServers);
    if (typeof w.stunServer === 'string') stunCombo.setServerText(w.stunServer);
    if (Array.isArray(w.messageBoxes)) messageBoxes.set(w.messageBoxes);
  }

  function setField(input, value) {
    if (input.value !== value) input.value = value;
    input.removeAttribute('aria-invalid');
  }

  // ---------------------------------------------------------------- the message log

  // The log's text and its lines. `epoch` and `end` are the server's: the log epoch and the
  // offset of the log's end within it, counted in the server's bytes (logEpoch, logEnd).
  const log = {
    epoch: null,
    end: 0,
    synced: false,      // epoch and end are known to match the server's
    lines: [],          // complete lines, without their line end
    tail: '',           // text after the last line end
    maxLen: 0,
    refetching: false,
    refetchAgain: false,
  };

  function epochOf(w) {
    if (w.log && w.log.epoch !== undefined) return w.log.epoch;
    return w.logEpoch;
  }

  function logReplace(text, epoch, end) {
    log.epoch = epoch === undefined ? null : epoch;
    log.end = typeof end === 'number' ? end : text.length;
    log.synced = epoch !== undefined;
    log.lines = [];
    log.tail = '';
    log.maxLen = 0;
    splitInto(text);
    logView.contentChanged(true);
  }

  function logAppend(text, end) {
    log.end = end;
    splitInto(text);
    logView.contentChanged(true);
  }

  // The whole log with CR LF line ends, as the server holds it.
  function logText() {
    const body = log.lines.length ? log.lines.join('\r\n') + '\r\n' : '';
    return body + log.tail;
  }

  function splitInto(text) {
    const parts = (log.tail + text).split('\n');
    log.tail = parts.pop();
    let max = log.maxLen;
    for (let p of parts) {
      if (p.endsWith('\r')) p = p.slice(0, -1);
      log.lines.push(p);
      if (p.length > max) max = p.length;
    }
    if (log.tail.length > max) max = log.tail.length;
    log.maxLen = max;
  }

  const ASCII = /^[\x00-\x7f]*$/;

  function applyEventLog(w) {
    if (typeof w.messageLog === 'string') {
      logReplace(w.messageLog, epochOf(w), w.logEnd);
      return;
    }
    const inc = w.log;
    if (!inc || typeof inc.append !== 'string' || typeof inc.offset !== 'number') return;
    const incEnd = typeof w.logEnd === 'number' ? w.logEnd : inc.offset + inc.append.length;
    if (!log.synced && inc.offset === log.end) {
      // After a snapshot that did not say its epoch: its end is where this increment starts.
      log.epoch = inc.epoch;
      log.synced = true;
    }
    if (inc.epoch !== log.epoch || inc.offset > log.end) {
      refetchLog();
      return;
    }
    if (incEnd <= log.end) return;  // shown already (a snapshot overtook the stream)
    if (inc.offset === log.end) {
      logAppend(inc.append, incEnd);
      return;
    }
    // Partly shown already: cut what is there, if characters and bytes are one to one.
    const have = log.end - inc.offset;
    if (ASCII.test(inc.append) && incEnd - inc.offset === inc.append.length) {
      logAppend(inc.append.slice(have), incEnd);
    } else {
      refetchLog();
    }
  }

  function applySnapshotLog(w) {
    if (typeof w.messageLog !== 'string') return;
    const epoch = epochOf(w);
    if (epoch !== undefined && log.synced && epoch === log.epoch && w.logEnd === log.end) return;
    if (epoch === undefined && w.messageLog === logText()) return;
    logReplace(w.messageLog, epoch, w.logEnd);
  }

  // The shown log does not fit the increments: take the whole window afresh.
  async function refetchLog() {
    if (log.refetching) {
      log.refetchAgain = true;
      return;
    }
    log.refetching = true;
    try {
      for (let i = 0; i < SNAPSHOT_RETRIES; i++) {
        log.refetchAgain = false;
        const seq = link.eventSeq;
        const res = await api('/api/window');
        if (!res.ok) break;
        const w = await res.json();
        if (applySnapshot(w, seq) && !log.refetchAgain) break;
        if (link.eventSeq !== seq && !log.refetchAgain) {
          // Events arrived meanwhile and fitted: the log is whole again.
          break;
        }
      }
    } catch {
      // The stream notices a lost server and reconnects; its first event is the whole window.
    } finally {
      log.refetching = false;
    }
  }

  // Draws only the lines in view: appending costs the appended text, not the whole log.
  const logView = {
    pool: [],
    lineHeight: 16,
    stickToEnd: false,
    scheduled: false,
    allSelected: false,
    sizerWidthFor: -1,

    contentChanged(scrollToEnd) {
      if (scrollToEnd) this.stickToEnd = true;
      this.schedule();
    },

    schedule() {
      if (this.scheduled) return;
      this.scheduled = true;
      requestAnimationFrame(() => this.render());
    },

    lineCount() {
      return log.lines.length + (log.tail !== '' ? 1 : 0);
    },

    lineAt(i) {
      if (i < log.lines.length) return log.lines[i];
      const t = log.tail;
      return t.endsWith('\r') ? t.slice(0, -1) : t;
    },

    render() {
      this.scheduled = false;
      const el = ui.log;
      const lh = parseFloat(getComputedStyle(el).lineHeight) || 16;
      this.lineHeight = lh;
      const n = this.lineCount();
      const total = n * lh;
      const scaled = total > MAX_SCROLL_PX;
      const sizerHeight = (scaled ? MAX_SCROLL_PX : total) + 2 * LOG_PAD_PX;
      ui.logSizer.style.height = sizerHeight + 'px';
      if (this.sizerWidthFor !== log.maxLen) {
        this.sizerWidthFor = log.maxLen;
        ui.logSizer.style.width = 'calc(' + log.maxLen + 'ch + 12px)';
      }
      if (this.stickToEnd) {
        this.stickToEnd = false;
        el.scrollTop = el.scrollHeight;
      }
      const viewHeight = el.clientHeight;
      const top = el.scrollTop;
      const visible = Math.ceil(viewHeight / lh) + 1;
      let first;
      let offset;
      if (!scaled) {
        first = Math.max(0, Math.floor((top - LOG_PAD_PX) / lh));
        offset = LOG_PAD_PX + first * lh;
      } else {
        const range = Math.max(1, sizerHeight - viewHeight);
        const lastFirst = Math.max(0, n - Math.floor(viewHeight / lh));
        first = Math.round(Math.min(1, top / range) * lastFirst);
        offset = top;
      }
      first = Math.max(0, Math.min(first, Math.max(0, n - 1)));
      while (this.pool.length < visible) {
        const div = document.createElement('div');
        div.appendChild(document.createTextNode(''));
        ui.logLines.appendChild(div);
        this.pool.push(div);
      }
      for (let k = 0; k < this.pool.length; k++) {
        const i = first + k;
        const div = this.pool[k];
        const text = i < n ? this.lineAt(i) : '';
        if (div.firstChild.data !== text) div.firstChild.data = text;
        const hidden = i >= n;
        if (div.hidden !== hidden) div.hidden = hidden;
      }
      ui.logLines.style.transform = 'translateY(' + offset + 'px)';
    },
  };

  // ---------------------------------------------------------------- remote device list

  const remoteList = {
    items: [],
    key: null,
    selected: -1,

    set(names) {
      const key = names.join('\n');
      if (key === this.key) return;
      this.key = key;
      const wasName = this.selected >= 0 ? this.items[this.selected] : null;
      this.items = names.map(String);
      let sel = -1;
      if (wasName !== null) {
        sel = this.items[this.selected] === wasName ? this.selected : this.items.indexOf(wasName);
      }
      const frag = document.createDocumentFragment();
      this.items.forEach((name, i) => {
        const li = document.createElement('li');
        li.id = 'remote-' + i;
        li.setAttribute('role', 'option');
        li.setAttribute('aria-selected', 'false');
        li.textContent = name;
        frag.appendChild(li);
      });
      ui.remoteDevices.replaceChildren(frag);
      this.selected = -1;
      this.select(sel, false);
    },

    select(i, reveal = true) {
      const ul = ui.remoteDevices;
      if (this.selected >= 0 && ul.children[this.selected]) {
        ul.children[this.selected].setAttribute('aria-selected', 'false');
      }
      this.selected = i >= 0 && i < this.items.length ? i : -1;
      const li = ul.children[this.selected];
      if (li) {
        li.setAttribute('aria-selected', 'true');
        ul.setAttribute('aria-activedescendant', li.id);
        if (reveal) li.scrollIntoView({ block: 'nearest' });
      } else {
        ul.removeAttribute('aria-activedescendant');
      }
    },

    onKey(e) {
      const n = this.items.length;
      if (!n) return;
      const page = Math.max(1, Math.floor(ui.remoteDevices.clientHeight / 18) - 1);
      const cur = this.selected;
      const to = listKeyTarget(e.key, cur, n, page);
      if (to === null) return;
      e.preventDefault();
      this.select(to);
    },
  };

  function listKeyTarget(key, cur, n, page) {
    switch (key) {
      case 'ArrowDown': return Math.min(n - 1, cur + 1);
      case 'ArrowUp': return cur < 0 ? 0 : Math.max(0, cur - 1);
      case 'Home': return 0;
      case 'End': return n - 1;
      case 'PageDown': return Math.min(n - 1, Math.max(0, cur) + page);
      case 'PageUp': return Math.max(0, cur - page);
      default: return null;
    }
  }

  // ---------------------------------------------------------------- list views

  function makeListView(container, onActivate) {
    const tbody = container.querySelector('tbody');
    const view = {
      rows: [],
      key: null,
      selected: -1,

      set(rows) {
        const key = JSON.stringify(rows);
        if (key === this.key) return;
        this.key = key;
        this.rows = rows;
        const frag = document.createDocumentFragment();
        rows.forEach((cells, i) => {
          const tr = document.createElement('tr');
          tr.dataset.row = String(i);
          tr.setAttribute('aria-selected', 'false');
          for (let c = 0; c < 6; c++) {
            const td = document.createElement('td');
            const text = Array.isArray(cells) && cells[c] !== undefined ? String(cells[c]) : '';
            td.textContent = text;
            td.title = text.trim();
            tr.appendChild(td);
          }
          frag.appendChild(tr);
        });
        tbody.replaceChildren(frag);
        const keep = this.selected < rows.length ? this.selected : -1;
        this.selected = -1;
        this.select(keep, false);
      },

      select(i, reveal = true) {
        const old = tbody.children[this.selected];
        if (old) old.setAttribute('aria-selected', 'false');
        this.selected = i >= 0 && i < this.rows.length ? i : -1;
        const tr = tbody.children[this.selected];
        if (tr) {
          tr.setAttribute('aria-selected', 'true');
          if (reveal) tr.scrollIntoView({ block: 'nearest' });
        }
      },
    };
    container.addEventListener('mousedown', (e) => {
      const tr = e.target.closest('tbody tr');
      if (tr) view.select(Number(tr.dataset.row), false);
    });
    container.addEventListener('dblclick', (e) => {
      const tr = e.target.closest('tbody tr');
      if (tr && onActivate) onActivate(Number(tr.dataset.row));
    });
    container.addEventListener('keydown', (e) => {
      if (e.altKey || e.ctrlKey || e.metaKey) return;
      const to = listKeyTarget(e.key, view.selected, view.rows.length, 4);
      if (to === null || !view.rows.length) return;
      e.preventDefault();
      view.select(to);
    });
    return view;
  }

  const lanList = makeListView(ui.lanDevices, (row) => command('select-device', { row }));
  const routeList = makeListView(ui.forwardRoutes, null);

  // ---------------------------------------------------------------- STUN server combo box

  const stunCombo = {
    entries: [],
    key: null,
    serverText: undefined,  // the last text the server reported for the box
    active: -1,

    setEntries(list) {
      const key = list.join('\n');
      if (key === this.key) return;
      this.key = key;
      this.entries = list.map(String);
      const frag = document.createDocumentFragment();
      this.entries.forEach((name, i) => {
        const li = document.createElement('li');
        li.id = 'stun-opt-' + i;
        li.setAttribute('role', 'option');
        li.setAttribute('aria-selected', 'false');
        li.textContent = name;
        frag.appendChild(li);
      });
      ui.stunList.replaceChildren(frag);
      this.highlight(this.entries.indexOf(ui.stunServer.value));
    },

    // The box is not bound to a stored value: what the operator typed stays until the server
    // reports a different text for it.
    setServerText(text) {
      if (text === this.serverText) return;
      this.serverText = text;
      if (ui.stunServer.value !== text) ui.stunServer.value = text;
      this.highlight(this.entries.indexOf(text));
    },

    isOpen() {
      return !ui.stunList.hidden;
    },

    open() {
      if (this.isOpen() || !this.entries.length) return;
      ui.stunList.hidden = false;
      ui.stunServer.setAttribute('aria-expanded', 'true');
      this.highlight(this.entries.indexOf(ui.stunServer.value));
    },

    close() {
      if (!this.isOpen()) return;
      ui.stunList.hidden = true;
      ui.stunServer.setAttribute('aria-expanded', 'false');
      ui.stunServer.removeAttribute('aria-activedescendant');
    },

    highlight(i) {
      const old = ui.stunList.children[this.active];
      if (old) old.setAttribute('aria-selected', 'false');
      this.active = i >= 0 && i < this.entries.length ? i : -1;
      const li = ui.stunList.children[this.active];
      if (li) {
        li.setAttribute('aria-selected', 'true');
        if (this.isOpen()) {
          ui.stunServer.setAttribute('aria-activedescendant', li.id);
          li.scrollIntoView({ block: 'nearest' });
        }
      } else {
        ui.stunServer.removeAttribute('aria-activedescendant');
      }
    },

    pick(i) {
      if (i < 0 || i >= this.entries.length) return;
      ui.stunServer.value = this.entries[i];
      this.highlight(i);
    },

    keydown(e) {
      const n = this.entries.length;
      if ((e.key === 'ArrowDown' && e.altKey) || (e.key === 'ArrowUp' && e.altKey) || e.key === 'F4') {
        e.preventDefault();
        if (this.isOpen()) this.close();
        else this.open();
        return;
      }
      if (e.altKey || e.ctrlKey || e.metaKey || !n) return;
      if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
        // Like an editable drop-down: the arrows step through the entries even when closed.
        e.preventDefault();
        const cur = this.active >= 0 ? this.active : this.entries.indexOf(ui.stunServer.value);
        const to = e.key === 'ArrowDown' ? Math.min(n - 1, cur + 1) : Math.max(0, cur - 1);
        this.pick(to < 0 ? 0 : to);
        return;
      }
      if (!this.isOpen()) return;
      if (e.key === 'Enter') {
        e.preventDefault();
        e.stopPropagation();
        this.pick(this.active);
        this.close();
      } else if (e.key === 'Escape') {
        e.preventDefault();
        e.stopPropagation();
        this.close();
      } else if (e.key === 'Tab') {
        this.close();
      }
    },
  };

  // ---------------------------------------------------------------- message boxes

  // The server's queue of message boxes, oldest first; the oldest is shown, OK dismisses it.
  const messageBoxes = {
    list: [],
    dismissing: false,

    set(list) {
      const next = list.map(String);
      if (next.length === this.list.length && next.every((t, i) => t === this.list[i])) return;
      this.list = next;
      this.dismissing = false;
      this.show();
    },

    show() {
      const d = ui.messageBox;
      if (!this.list.length || !link.online) {
        if (d.open) d.close('sync');
        return;
      }
      ui.messageBoxCaption.textContent = APP_NAME;
      ui.messageBoxText.textContent = this.list[0];
      const more = this.list.length - 1;
      ui.messageBoxMore.textContent = more > 0 ? more + ' more waiting' : '';
      // Not `disabled` while an answer is on its way: that would take the focus off OK.
      ui.messageBoxOk.setAttribute('aria-disabled', String(this.dismissing));
      if (!d.open) showModal(d);
      if (document.activeElement !== ui.messageBoxOk) ui.messageBoxOk.focus();
    },

    async dismiss() {
      if (this.dismissing || !this.list.length) return;
      this.dismissing = true;
      ui.messageBoxOk.setAttribute('aria-disabled', 'true');
      const shown = this.list;
      await command('dismiss-message');
      // The answer or a stream event has normally replaced the list by now; if neither has
      // (the stream delivers it a moment later), allow OK again after a short wait.
      if (this.list === shown && this.dismissing) {
        await sleep(500);
        if (this.list === shown && this.dismissing) {
          this.dismissing = false;
          this.show();
        }
      }
    },
  };

  function closeMessageBox() {
    messageBoxes.list = [];
    messageBoxes.dismissing = false;
    if (ui.messageBox.open) ui.messageBox.close('sync');
  }

  // ---------------------------------------------------------------- commands

  function normalisedAddress(text) {
    const t = text.trim();
    if (t === '') return '0.0.0.0';
    const fields = t.split('.').slice(0, 4);
    while (fields.length < 4) fields.push('');
    return fields.map((f) => {
      const v = f === '' ? 0 : Math.min(255, parseInt(f, 10) || 0);
      return String(v);
    }).join('.');
  }

  function readControls() {
    const address = normalisedAddress(ui.localAddress.value);
    if (ui.localAddress.value !== address) ui.localAddress.value = address;
    return {
      localAddress: address,
      relayPort: ui.relayPort.value,
      stunServer: ui.stunServer.value,
    };
  }

  async function command(name, extra = {}) {
    if (!link.online) return null;
    if (name === 'exit' || name === 'close') link.exitRequested = true;
    const body = JSON.stringify({ command: name, controls: readControls(), ...extra });
    const seq = link.eventSeq;
    try {
      const res = await api('/api/command', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body,
      });
      if (!res.ok) {
        showBanner('notice', 'error', 'Halvyn did not run “' + name + '”: ' +
          await errorText(res) + '.');
        return null;
      }
      const w = await res.json().catch(() => null);
      if (w && typeof w === 'object') applySnapshot(w, seq);
      return w;
    } catch (e) {
      if (e instanceof AuthCancelled) return null;
      if (link.exitRequested) return null;  // the server may end before it answers
      showBanner('notice', 'error', 'Could not send “' + name + '” to halvyn: ' + e.message);
      return null;
    }
  }

  // ---------------------------------------------------------------- dialogs and menu

  function showModal(d) {
    if (!d.open) d.showModal();
  }

  function anyDialogOpen() {
    return document.querySelector('dialog[open]') !== null;
  }

  function openAbout() {
    closeMenu();
    showModal(ui.aboutBox);
    $('about-ok').focus();
  }

  function confirmExit() {
    ui.exitConfirm.returnValue = '';
    showModal(ui.exitConfirm);
    $('exit-confirm-no').focus();
  }

  const menuItems = () => [...ui.sysmenu.querySelectorAll('[role="menuitem"]')];

  let focusBeforeMenu = null;

  function openMenu() {
    if (ui.sysmenu.hidden) focusBeforeMenu = document.activeElement;
    ui.sysmenu.hidden = false;
    ui.sysmenuButton.setAttribute('aria-expanded', 'true');
    menuItems()[0].focus();
  }

  function closeMenu(refocus = true) {
    if (ui.sysmenu.hidden) return;
    ui.sysmenu.hidden = true;
    ui.sysmenuButton.setAttribute('aria-expanded', 'false');
    if (refocus) {
      const back = focusBeforeMenu && focusBeforeMenu.isConnected &&
        focusBeforeMenu !== document.body ? focusBeforeMenu : ui.sysmenuButton;
      back.focus();
    }
    focusBeforeMenu = null;
  }

  function runMenuItem(item) {
    if (item === ui.menuAbout) {
      openAbout();
    } else if (item === ui.menuClose) {
      closeMenu();
      command('close');
    }
  }

  // ---------------------------------------------------------------- wiring

  function wire() {
    ui.startStop.addEventListener('click', () => command('start-stop'));
    ui.exit.addEventListener('click', () => command('exit'));
    ui.clearClients.addEventListener('click', () => command('clear-clients'));
    ui.clearMessages.addEventListener('click', () => command('clear-messages'));
    ui.getPublicIp.addEventListener('click', () => command('get-public-ip'));
    ui.captionClose.addEventListener('click', () => command('close'));

    // OK, Enter or Esc answer the box; it stays up until the server has dropped it.
    ui.messageBox.querySelector('form').addEventListener('submit', (e) => {
      e.preventDefault();
      messageBoxes.dismiss();
    });
    ui.messageBox.addEventListener('cancel', (e) => {
      e.preventDefault();
      messageBoxes.dismiss();
    });
    ui.messageBox.addEventListener('close', () => {
      // The browser closes a modal dialog on a repeated Esc whatever the page says.
      if (ui.messageBox.returnValue === 'sync') return;
      ui.messageBox.returnValue = '';
      if (messageBoxes.list.length && link.online) {
        showModal(ui.messageBox);
        messageBoxes.dismiss();
      }
    });

    ui.exitConfirm.addEventListener('close', () => {
      if (ui.exitConfirm.returnValue === 'exit') command('exit');
    });

    // System menu.
    ui.sysmenuButton.addEventListener('click', () => {
      if (ui.sysmenu.hidden) openMenu();
      else closeMenu();
    });
    ui.sysmenu.addEventListener('click', (e) => {
      const item = e.target.closest('[role="menuitem"]');
      if (item) runMenuItem(item);
    });
    ui.sysmenu.addEventListener('keydown', (e) => {
      const items = menuItems();
      const at = items.indexOf(document.activeElement);
      if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
        e.preventDefault();
        const step = e.key === 'ArrowDown' ? 1 : items.length - 1;
        items[(at + step) % items.length].focus();
      } else if (e.key === 'Home' || e.key === 'End') {
        e.preventDefault();
        items[e.key === 'Home' ? 0 : items.length - 1].focus();
      } else if (e.key === 'Enter' || e.key === ' ') {
        e.preventDefault();
        e.stopPropagation();
        if (at >= 0) runMenuItem(items[at]);
      } else if (e.key === 'Escape') {
        e.preventDefault();
        e.stopPropagation();
        closeMenu();
      } else if (e.key === 'Tab') {
        closeMenu(false);
      } else {
        const item = items.find((i) => i.dataset.key === e.key.toLowerCase());
        if (item) {
          e.preventDefault();
          runMenuItem(item);
        }
      }
    });
    document.addEventListener('mousedown', (e) => {
      if (!ui.sysmenu.hidden && !ui.sysmenu.contains(e.target) &&
          !ui.sysmenuButton.contains(e.target)) {
        closeMenu(false);
      }
      if (stunCombo.isOpen() && !ui.stunCombo.contains(e.target)) stunCombo.close();
    });

    // IP address box: digits and dots, four fields of at most 255 once it loses the focus.
    ui.localAddress.addEventListener('beforeinput', (e) => {
      if (e.inputType === 'insertText' && e.data && /[^0-9.]/.test(e.data)) e.preventDefault();
    });
    ui.localAddress.addEventListener('input', () => {
      const ok = /^\d{0,3}(\.\d{0,3}){0,3}$/.test(ui.localAddress.value) &&
        ui.localAddress.value.split('.').every((f) => f === '' || Number(f) <= 255);
      ui.localAddress.setAttribute('aria-invalid', String(!ok));
    });
    ui.localAddress.addEventListener('blur', () => {
      ui.localAddress.value = normalisedAddress(ui.localAddress.value);
      ui.localAddress.removeAttribute('aria-invalid');
    });

    // Port box: typing takes digits only (pasted text goes to the server, which judges it).
    ui.relayPort.addEventListener('beforeinput', (e) => {
      if (e.inputType === 'insertText' && e.data && /\D/.test(e.data)) e.preventDefault();
    });

    // STUN server combo box.
    ui.stunServer.addEventListener('keydown', (e) => stunCombo.keydown(e));
    ui.stunServer.addEventListener('input', () => {
      stunCombo.highlight(stunCombo.entries.indexOf(ui.stunServer.value));
    });
    ui.stunServer.addEventListener('blur', () => stunCombo.close());
    ui.stunDrop.addEventListener('mousedown', (e) => {
      e.preventDefault();  // keep the focus in the field
      ui.stunServer.focus();
      if (stunCombo.isOpen()) stunCombo.close();
      else stunCombo.open();
    });
    ui.stunList.addEventListener('mousedown', (e) => {
      e.preventDefault();
      const li = e.target.closest('li');
      if (!li) return;
      stunCombo.pick([...ui.stunList.children].indexOf(li));
      stunCombo.close();
    });

    // Remote device list.
    ui.remoteDevices.addEventListener('mousedown', (e) => {
      const li = e.target.closest('li');
      if (li) remoteList.select([...ui.remoteDevices.children].indexOf(li), false);
    });
    ui.remoteDevices.addEventListener('keydown', (e) => {
      if (!e.altKey && !e.ctrlKey && !e.metaKey) remoteList.onKey(e);
    });

    // Message log: scrolling draws the lines in view; Ctrl+A then copy takes the whole log.
    ui.log.addEventListener('scroll', () => logView.schedule(), { passive: true });
    new ResizeObserver(() => logView.schedule()).observe(ui.log);
    ui.log.addEventListener('keydown', (e) => {
      if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === 'a') {
        e.preventDefault();
        logView.allSelected = true;
        const range = document.createRange();
        range.selectNodeContents(ui.logLines);
        const sel = getSelection();
        sel.removeAllRanges();
        sel.addRange(range);
      } else if (!(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== 'c') {
        logView.allSelected = false;
      }
    });
    ui.log.addEventListener('mousedown', () => { logView.allSelected = false; });
    ui.log.addEventListener('blur', () => { logView.allSelected = false; });
    document.addEventListener('copy', (e) => {
      if (!logView.allSelected || !ui.log.contains(document.activeElement)) return;
      e.preventDefault();
      e.clipboardData.setData('text/plain', logText());
    });

    // The window's keyboard: Enter presses the default button unless another button has the
    // focus; Esc stands for Exit, after a confirmation; Alt+Space opens the system menu.
    document.addEventListener('keydown', (e) => {
      if (e.defaultPrevented || e.isComposing || anyDialogOpen()) return;
      if (e.key === ' ' && e.altKey && !e.ctrlKey && !e.metaKey) {
        e.preventDefault();
        openMenu();
        return;
      }
      if (e.altKey || e.ctrlKey || e.metaKey || e.shiftKey) return;
      if (!ui.sysmenu.hidden || stunCombo.isOpen()) return;
      const t = e.target;
      if (e.key === 'Enter') {
        if (t instanceof HTMLButtonElement || t.closest?.('.menu, .titlebar, .banner')) return;
        e.preventDefault();
        if (!ui.startStop.disabled) ui.startStop.click();
      } else if (e.key === 'Escape') {
        e.preventDefault();
        confirmExit();
      }
    });
  }

  wire();
  setOffline('initial');
  connectionLoop();
})();
