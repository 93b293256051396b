// The window's boxes and buttons as the operator types into them: the IP address box, the
// port box, the STUN server combo box, and the message boxes the server queues.
import { command, link } from './api.js';
import { APP_NAME, showModal, sleep, ui } from './dom.js';
import { messageBoxEntry } from './format.js';

export function normalisedAddress(text) {
  const t = text.trim();
  if (t === '') return '0.0.0.0';
  const fields = t.split('.').slice(0, 4);
  while (fields.length < 4) fields.push('');
  return fields.map((f) => {
    const v = f === '' ? 0 : Math.min(255, parseInt(f, 10) || 0);
    return String(v);
  }).join('.');
}

// What the operator has typed but the window has not read yet; goes with every command.
export function readControls() {
  const address = normalisedAddress(ui.localAddress.value);
  if (ui.localAddress.value !== address) ui.localAddress.value = address;
  return {
    localAddress: address,
    relayPort: ui.relayPort.value,
    stunServer: ui.stunServer.value,
  };
}

export function send(name, extra = {}) {
  return command(name, readControls(), extra);
}

export const stunCombo = {
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

// The server's queue of message boxes, oldest first; the oldest is shown, OK dismisses it.
// An entry is a text or {text, count}; hints hold the meaning of an error number beside it.
export const messageBoxes = {
  list: [],
  hints: [],
  dismissing: false,

  set(list, hints) {
    const next = list.map(messageBoxEntry);
    this.hints = Array.isArray(hints) ? hints.map((h) => String(h || '')) : [];
    const same = next.length === this.list.length &&
      next.every((e, i) => e.text === this.list[i].text && e.count === this.list[i].count);
    if (same) return;
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
    const first = this.list[0];
    ui.messageBoxCaption.textContent = APP_NAME;
    ui.messageBoxText.textContent = first.text;
    const hint = this.hints[0] || '';
    ui.messageBoxHint.textContent = hint ? 'Error ' + (first.text.match(/\d+/) || [''])[0] + ': ' + hint : '';
    ui.messageBoxHint.hidden = !hint;
    const more = this.list.length - 1;
    ui.messageBoxMore.textContent = (first.count > 1 ? first.count + ' times' : '') +
      (first.count > 1 && more > 0 ? '; ' : '') + (more > 0 ? more + ' more waiting' : '');
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
    await send('dismiss-message');
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

  close() {
    this.list = [];
    this.dismissing = false;
    if (ui.messageBox.open) ui.messageBox.close('sync');
  },
};
