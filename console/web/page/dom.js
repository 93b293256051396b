// The page's elements, the banner line, and the modal dialogs shared by every area: the
// confirmation of guarded actions among them.
export const $ = (id) => document.getElementById(id);

export const APP_NAME = 'Halvyn';
const NOTICE_MS = 8000;

// ui.fooBar is the element with the id "foo-bar" (looked up once).
export const ui = new Proxy({}, {
  get(cache, key) {
    if (!(key in cache)) cache[key] = $(String(key).replace(/[A-Z]/g, (c) => '-' + c.toLowerCase()));
    return cache[key];
  },
});

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// One banner line under the title bar. A connection banner outranks a passing notice.
let bannerOwner = null;
let noticeTimer = 0;
export function showBanner(owner, kind, text, actionText, action) {
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

export function hideBanner(owner) {
  if (bannerOwner !== owner) return;
  bannerOwner = null;
  ui.banner.hidden = true;
}

export function showModal(d) {
  if (!d.open) d.showModal();
}

export function anyDialogOpen() {
  return document.querySelector('dialog[open]') !== null;
}

// Asks before a guarded action: guard is {title, text, yes}. Resolves true when the operator
// chose the action; Cancel has the focus, so Enter or Esc keep things as they are.
let pendingConfirm = null;
export function confirmAction(guard) {
  const d = ui.confirm;
  if (pendingConfirm) {
    // Closed a moment ago, its close event still to come: ask once it has come.
    if (!d.open) return pendingConfirm.then(() => confirmAction(guard));
    return Promise.resolve(false);
  }
  ui.confirmTitle.textContent = guard.title;
  ui.confirmText.textContent = guard.text;
  ui.confirmYes.textContent = guard.yes;
  d.returnValue = '';
  pendingConfirm = new Promise((resolve) => {
    d.addEventListener('close', () => {
      pendingConfirm = null;
      resolve(d.returnValue === 'yes');
    }, { once: true });
  });
  showModal(d);
  ui.confirmNo.focus();
  return pendingConfirm;
}
