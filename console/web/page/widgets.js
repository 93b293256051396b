// The list widgets the window is made of: a list box (the remote devices) and the list
// views (LAN devices, forward routes). Each keeps its selection across updates, moves it
// with the keyboard, and redraws only when its content changed.

// Where a key moves the selection of a list of n entries (null: not a moving key).
export function listKeyTarget(key, cur, n, page) {
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

// A selectable list of items drawn by the given function. items are compared by key(item).
// render(item, i) returns the element (an li or a tr); id(i) names it for aria.
export class SelectList {
  constructor(container, parent, { render, key, onActivate, page = 4 }) {
    this.container = container;  // the element with the focus
    this.parent = parent;        // the element holding the entries
    this.render = render;
    this.keyOf = key;
    this.onActivate = onActivate;
    this.page = page;
    this.items = [];
    this.key = null;
    this.selected = -1;
    container.addEventListener('mousedown', (e) => {
      const at = this.indexOf(e.target);
      if (at >= 0) this.select(at, false);
    });
    container.addEventListener('dblclick', (e) => {
      const at = this.indexOf(e.target);
      if (at >= 0 && this.onActivate) this.onActivate(at);
    });
    container.addEventListener('keydown', (e) => {
      if (e.altKey || e.ctrlKey || e.metaKey) return;
      if (e.key === 'Enter' && this.onActivate) {
        e.preventDefault();
        e.stopPropagation();
        if (this.selected >= 0) this.onActivate(this.selected);
        return;
      }
      const n = this.items.length;
      const to = listKeyTarget(e.key, this.selected, n, this.page);
      if (to === null || !n) return;
      e.preventDefault();
      this.select(to);
    });
  }

  indexOf(target) {
    const el = target.closest?.('[data-index]');
    return el && this.parent.contains(el) ? Number(el.dataset.index) : -1;
  }

  set(items) {
    const key = this.keyOf(items);
    if (key === this.key) return false;
    this.key = key;
    const was = this.selected >= 0 ? this.items[this.selected] : undefined;
    const wasKey = was === undefined ? null : JSON.stringify(was);
    this.items = items;
    const frag = document.createDocumentFragment();
    items.forEach((item, i) => {
      const el = this.render(item, i);
      el.dataset.index = String(i);
      el.setAttribute('aria-selected', 'false');
      frag.appendChild(el);
    });
    this.parent.replaceChildren(frag);
    let keep = this.selected < items.length ? this.selected : -1;
    if (wasKey !== null && keep >= 0 && JSON.stringify(items[keep]) !== wasKey) {
      const moved = items.findIndex((it) => JSON.stringify(it) === wasKey);
      if (moved >= 0) keep = moved;
    }
    this.selected = -1;
    this.select(keep, false);
    return true;
  }

  select(i, reveal = true) {
    const old = this.parent.children[this.selected];
    if (old) old.setAttribute('aria-selected', 'false');
    this.selected = i >= 0 && i < this.items.length ? i : -1;
    const el = this.parent.children[this.selected];
    if (el) {
      el.setAttribute('aria-selected', 'true');
      if (el.id) this.container.setAttribute('aria-activedescendant', el.id);
      if (reveal) el.scrollIntoView({ block: 'nearest' });
    } else {
      this.container.removeAttribute('aria-activedescendant');
    }
  }
}

// A list view of six-column rows; labels are the column titles, shown beside each cell when
// the table is drawn as rows on a narrow screen. decorate(tr, cells, i) adds life signs.
export function makeListView(container, labels, { onActivate, decorate } = {}) {
  const tbody = container.querySelector('tbody');
  return new SelectList(container, tbody, {
    key: (rows) => JSON.stringify(rows),
    onActivate,
    render(cells, i) {
      const tr = document.createElement('tr');
      for (let c = 0; c < 6; c++) {
        const td = document.createElement('td');
        const text = Array.isArray(cells) && cells[c] !== undefined ? String(cells[c]) : '';
        td.textContent = text;
        td.title = text.trim();
        td.dataset.label = labels[c].trim();
        tr.appendChild(td);
      }
      if (decorate) decorate(tr, cells, i);
      return tr;
    },
  });
}
