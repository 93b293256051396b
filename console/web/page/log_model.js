// The message log as the page holds it: the server's text split into lines, the time each
// line was added, and the rules for following the server's increments. Pure: no DOM.
//
// `epoch` and `end` are the server's (logEpoch, logEnd): the log epoch and the offset of the
// log's end within it, counted in the server's bytes. A full window carries messageLog and
// logTimes (one time per line); a stream event may carry log = {epoch, offset, append, times}
// instead, times being those of the lines that begin in `append`.

export class LogModel {
  constructor() {
    this.reset();
  }

  reset() {
    this.epoch = null;
    this.end = 0;
    this.synced = false;  // epoch and end are known to match the server's
    this.lines = [];      // complete lines, without their line end
    this.times = [];      // Unix ms per line (lines, then the tail), null where unknown
    this.tail = '';       // text after the last line end
    this.maxLen = 0;
  }

  lineCount() {
    return this.lines.length + (this.tail !== '' ? 1 : 0);
  }

  line(i) {
    if (i < this.lines.length) return this.lines[i];
    const t = this.tail;
    return t.endsWith('\r') ? t.slice(0, -1) : t;
  }

  time(i) {
    const t = this.times[i];
    return typeof t === 'number' && t > 0 ? t : null;
  }

  // The whole log with CR LF line ends, as the server holds it.
  text() {
    const body = this.lines.length ? this.lines.join('\r\n') + '\r\n' : '';
    return body + this.tail;
  }

  // The indices, from line `from` on, of the lines that contain query (case-insensitive);
  // every line when the query is empty.
  matching(query, from = 0) {
    const n = this.lineCount();
    const out = [];
    const q = query.toLowerCase();
    for (let i = from; i < n; i++) if (!q || this.line(i).toLowerCase().includes(q)) out.push(i);
    return out;
  }

  replace(text, times, epoch, end) {
    this.reset();
    this.epoch = epoch === undefined ? null : epoch;
    this.end = typeof end === 'number' ? end : text.length;
    this.synced = epoch !== undefined;
    this.split(text, Array.isArray(times) ? times : []);
  }

  split(text, times) {
    const startsLine = this.tail === '';
    const parts = (this.tail + text).split('\n');
    this.tail = parts.pop();
    // The first line of text continues the tail unless the tail was empty.
    let t = 0;
    const fresh = this.lines.length + (startsLine ? 0 : 1);
    let max = this.maxLen;
    for (let p of parts) {
      if (p.endsWith('\r')) p = p.slice(0, -1);
      this.lines.push(p);
      if (p.length > max) max = p.length;
    }
    for (let i = fresh; i < this.lineCount(); i++) this.times[i] = t < times.length ? times[t++] : null;
    this.times.length = this.lineCount();
    if (this.tail.length > max) max = this.tail.length;
    this.maxLen = max;
  }

  // A stream event. Returns 'replaced', 'appended', 'unchanged' or 'refetch' (the increment
  // does not fit what is held: take the whole window afresh).
  applyEvent(w) {
    if (typeof w.messageLog === 'string') {
      this.replace(w.messageLog, w.logTimes, epochOf(w), w.logEnd);
      return 'replaced';
    }
    const inc = w.log;
    if (!inc || typeof inc.append !== 'string' || typeof inc.offset !== 'number') return 'unchanged';
    const times = Array.isArray(inc.times) ? inc.times : [];
    const incEnd = typeof w.logEnd === 'number' ? w.logEnd : inc.offset + inc.append.length;
    if (!this.synced && inc.offset === this.end) {
      // After a snapshot that did not say its epoch: its end is where this increment starts.
      this.epoch = inc.epoch;
      this.synced = true;
    }
    if (inc.epoch !== this.epoch || inc.offset > this.end) return 'refetch';
    if (incEnd <= this.end) return 'unchanged';  // shown already (a snapshot overtook the stream)
    if (inc.offset === this.end) {
      this.end = incEnd;
      this.split(inc.append, times);
      return 'appended';
    }
    // Partly shown already (a snapshot overtook the stream mid-increment): the times of the
    // lines cannot be matched to what is held, so take the whole window.
    return 'refetch';
  }

  // A snapshot (GET /api/window or a command's answer). Returns whether it replaced the log.
  applySnapshot(w) {
    if (typeof w.messageLog !== 'string') return false;
    const epoch = epochOf(w);
    if (epoch !== undefined && this.synced && epoch === this.epoch && w.logEnd === this.end) return false;
    if (epoch === undefined && w.messageLog === this.text()) return false;
    this.replace(w.messageLog, w.logTimes, epoch, w.logEnd);
    return true;
  }
}

function epochOf(w) {
  if (w.log && w.log.epoch !== undefined) return w.log.epoch;
  return w.logEpoch;
}
