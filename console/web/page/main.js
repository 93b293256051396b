// Operator console of halvyn: draws the main window from the server's window state, adds
// what an operator of a live show needs around it (status strip, life signs, times,
// activity, charts), and sends the operator's commands back, asking first before those that
// lose something.
import { api, connectionLoop, handlers, link } from './api.js';
import { $, anyDialogOpen, confirmAction, showModal, ui } from './dom.js';
import { guardText } from './format.js';
import { makeLanList, RemoteDevices, Routes } from './lists.js';
import { LogModel } from './log_model.js';
import { LogView } from './log_view.js';
import { messageBoxes, normalisedAddress, send, stunCombo } from './controls.js';
import { Charts, StatusView } from './status.js';
import { WindowOrder } from './window_order.js';

const SNAPSHOT_RETRIES = 5;

const commandButtons = [ui.startStop, ui.exit, ui.getPublicIp, ui.clearClients,
  ui.clearMessages, ui.captionClose];

// The window as last shown (every field but the log).
const current = {};
const logModel = new LogModel();
const windowOrder = new WindowOrder();
const logView = new LogView(logModel);
const remote = new RemoteDevices();
const routes = new Routes();
const lanList = makeLanList(() => current, (row) => send('select-device', { row }));
const status = new StatusView();
const charts = new Charts();

// ---------------------------------------------------------------- applying window state

// The log follows its own increments; the rest of the window is drawn only from what is
// not older than the window shown (an answer may have overtaken this event).
handlers.event = (w) => {
  const result = logModel.applyEvent(w);
  if (result === 'refetch') refetchLog();
  else if (result !== 'unchanged') logView.contentChanged(result === 'replaced');
  if (windowOrder.take(w)) applyWindow(w);
};

// A snapshot (GET /api/window or a command's answer) taken by a request sent when
// link.eventSeq was seqAtSend. If stream events arrived meanwhile, the snapshot may be older
// than what is shown, and the stream carries every change anyway: it is dropped.
handlers.snapshot = (w, seqAtSend) => {
  if (link.online && link.eventSeq !== seqAtSend) return false;
  if (!windowOrder.take(w)) return false;
  if (logModel.applySnapshot(w)) logView.contentChanged(true);
  applyWindow(w);
  return true;
};

handlers.online = () => {
  for (const b of commandButtons) b.disabled = false;
};

handlers.offline = () => {
  windowOrder.reset();
  for (const b of commandButtons) b.disabled = true;
  messageBoxes.close();
};

let refetching = false;
let refetchAgain = false;
// The shown log does not fit the increments: take the whole window afresh.
async function refetchLog() {
  if (refetching) {
    refetchAgain = true;
    return;
  }
  refetching = true;
  try {
    for (let i = 0; i < SNAPSHOT_RETRIES; i++) {
      refetchAgain = false;
      const seq = link.eventSeq;
      const res = await api('/api/window');
      if (!res.ok) break;
      const w = await res.json();
      if (handlers.snapshot(w, seq) && !refetchAgain) break;
      if (link.eventSeq !== seq && !refetchAgain) break;  // events arrived meanwhile and fitted
    }
  } catch {
    // The stream notices a lost server and reconnects; its first event is the whole window.
  } finally {
    refetching = false;
  }
}

function setField(input, value) {
  if (input.value !== value) input.value = value;
  input.removeAttribute('aria-invalid');
}

function applyWindow(w) {
  for (const [k, v] of Object.entries(w)) {
    if (k !== 'messageLog' && k !== 'logTimes' && k !== 'log') current[k] = v;
  }
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
  if (Array.isArray(w.remoteDevices)) remote.set(w.remoteDevices, w.remoteDeviceDetails);
  if (w.status && typeof w.status.now === 'number') remote.tick(w.status.now);
  if (Array.isArray(w.lanDevices)) lanList.set(w.lanDevices);
  if (Array.isArray(w.forwardRoutes)) routes.set(w.forwardRoutes, w.routeDetails, w.status?.now);
  if (Array.isArray(w.stunServers)) stunCombo.setEntries(w.stunServers);
  if (typeof w.stunServer === 'string') stunCombo.setServerText(w.stunServer);
  if (Array.isArray(w.messageBoxes)) {
    // messageBoxCounts says, beside each text, how often that box was raised.
    const counts = Array.isArray(w.messageBoxCounts) ? w.messageBoxCounts : [];
    messageBoxes.set(w.messageBoxes.map((text, i) => ({ text, count: counts[i] ?? 1 })),
                     w.messageBoxHints);
  }
  status.set(current);
}

// ---------------------------------------------------------------- guarded commands

async function guarded(action, extra) {
  const guard = guardText(action, current);
  if (guard && !(await confirmAction(guard))) return;
  send(action, extra);
}

// ---------------------------------------------------------------- dialogs and menu

function openAbout() {
  closeMenu();
  showModal(ui.aboutBox);
  $('about-ok').focus();
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
    guarded('close');
  }
}

// ---------------------------------------------------------------- wiring

function wire() {
  ui.startStop.addEventListener('click', () => send('start-stop'));
  ui.exit.addEventListener('click', () => guarded('exit'));
  ui.clearClients.addEventListener('click', () => guarded('clear-clients'));
  ui.clearMessages.addEventListener('click', () => send('clear-messages'));
  ui.getPublicIp.addEventListener('click', () => send('get-public-ip'));
  ui.captionClose.addEventListener('click', () => guarded('close'));
  logView.wire();

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

  // The window's keyboard: Enter presses the default button unless a button or the LAN
  // device list (where Enter selects the device) has the focus; Esc stands for Exit, after
  // a confirmation; Alt+Space opens the system menu.
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
      if (t instanceof HTMLButtonElement || t.closest?.('.menu, .titlebar, .banner, .toolbar')) return;
      e.preventDefault();
      if (!ui.startStop.disabled) ui.startStop.click();
    } else if (e.key === 'Escape') {
      e.preventDefault();
      guarded('exit');
    }
  });

  // The ages move on between events.
  setInterval(() => {
    status.tick();
    remote.tick(null);
    routes.tick();
  }, 1000);
}

wire();
connectionLoop();
charts.start();
