// The message log on the page: draws only the lines in view (an append costs the appended
// text, not the whole log), each with the time it was added beside it (not part of its
// text), a filter, a Follow switch that pauses scrolling to the end, and a download of the
// whole log as text.
import { clockTime, fullTime } from './format.js';
import { ui } from './dom.js';

const MAX_SCROLL_PX = 8000000;  // beyond this the log's scroll range is scaled
const LOG_PAD_PX = 3;           // space above the first line and below the last

export class LogView {
  constructor(model) {
    this.model = model;
    this.pool = [];
    this.stickToEnd = false;
    this.scheduled = false;
    this.allSelected = false;
    this.sizerWidthFor = -1;
    this.query = '';
    this.shown = null;  // indices of the lines that pass the filter; null: all
    this.tested = 0;    // lines the filter has seen
  }

  follow() {
    return ui.logFollow.checked;
  }

  contentChanged(replaced) {
    if (this.query) {
      // An append re-tests only the lines from the last one held before (it may have grown).
      const from = replaced ? 0 : Math.max(0, this.tested - 1);
      const kept = this.shown.filter((i) => i < from);
      this.shown = kept.concat(this.model.matching(this.query, from));
      this.tested = this.model.lineCount();
    }
    if (this.follow() || replaced) this.stickToEnd = true;
    this.schedule();
  }

  setQuery(query) {
    this.query = query;
    this.shown = query ? this.model.matching(query) : null;
    this.tested = this.model.lineCount();
    ui.logCount.textContent = query ? this.shown.length + ' of ' + this.model.lineCount() + ' lines' : '';
    this.stickToEnd = true;
    this.schedule();
  }

  schedule() {
    if (this.scheduled) return;
    this.scheduled = true;
    requestAnimationFrame(() => this.render());
  }

  count() {
    return this.shown ? this.shown.length : this.model.lineCount();
  }

  index(k) {
    return this.shown ? this.shown[k] : k;
  }

  render() {
    this.scheduled = false;
    const el = ui.log;
    const lh = parseFloat(getComputedStyle(el).lineHeight) || 16;
    const n = this.count();
    if (this.query) ui.logCount.textContent = n + ' of ' + this.model.lineCount() + ' lines';
    const total = n * lh;
    const scaled = total > MAX_SCROLL_PX;
    const sizerHeight = (scaled ? MAX_SCROLL_PX : total) + 2 * LOG_PAD_PX;
    ui.logSizer.style.height = sizerHeight + 'px';
    if (this.sizerWidthFor !== this.model.maxLen) {
      this.sizerWidthFor = this.model.maxLen;
      ui.logSizer.style.width = 'calc(' + this.model.maxLen + 'ch + 12px + var(--time-width))';
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
      const div = this.pool[k];
      const hidden = first + k >= n;
      const i = hidden ? -1 : this.index(first + k);
      const text = hidden ? '' : this.model.line(i);
      if (div.firstChild.data !== text) div.firstChild.data = text;
      const t = hidden ? null : this.model.time(i);
      const stamp = t === null ? '' : clockTime(t);
      if (div.dataset.time !== stamp) div.dataset.time = stamp;
      if (div.hidden !== hidden) div.hidden = hidden;
    }
    ui.logLines.style.transform = 'translateY(' + offset + 'px)';
  }

  // The log as a text file: each line with the date and time it was added.
  download() {
    const m = this.model;
    const out = [];
    for (let i = 0; i < m.lineCount(); i++) {
      const t = m.time(i);
      out.push((t === null ? '' : fullTime(t) + '  ') + m.line(i));
    }
    const blob = new Blob([out.join('\n') + (out.length ? '\n' : '')], { type: 'text/plain' });
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    const stamp = fullTime(Date.now()).replace(/[-:]/g, '').replace(' ', '-').slice(0, 15);
    a.download = 'halvyn-log-' + stamp + '.txt';
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  }

  wire() {
    ui.log.addEventListener('scroll', () => this.schedule(), { passive: true });
    new ResizeObserver(() => {
      if (this.follow()) this.stickToEnd = true;
      this.schedule();
    }).observe(ui.log);
    ui.logFilter.addEventListener('input', () => this.setQuery(ui.logFilter.value));
    ui.logFollow.addEventListener('change', () => {
      if (this.follow()) {
        this.stickToEnd = true;
        this.schedule();
      }
    });
    ui.logDownload.addEventListener('click', () => this.download());
    // Ctrl+A then copy takes the whole log (only the lines in view are in the page).
    ui.log.addEventListener('keydown', (e) => {
      if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === 'a') {
        e.preventDefault();
        this.allSelected = true;
        const range = document.createRange();
        range.selectNodeContents(ui.logLines);
        const sel = getSelection();
        sel.removeAllRanges();
        sel.addRange(range);
      } else if (!(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== 'c') {
        this.allSelected = false;
      }
    });
    ui.log.addEventListener('mousedown', () => { this.allSelected = false; });
    ui.log.addEventListener('blur', () => { this.allSelected = false; });
    document.addEventListener('copy', (e) => {
      if (!this.allSelected || !ui.log.contains(document.activeElement)) return;
      e.preventDefault();
      e.clipboardData.setData('text/plain', this.model.text());
    });
  }
}
