// The window reaches the page two ways, as stream events and as the answers to
// requests, over different connections: one may overtake the other. Each carries
// the window's change count (version), and what is older than the window already
// shown must not be drawn over it (a dismissed message box would come back).
// Pure: no DOM.
export class WindowOrder {
  constructor() {
    this.shown = -1;
  }

  // True when w is not older than what is shown; it then counts as shown.
  take(w) {
    const version = typeof w?.version === 'number' ? w.version : -1;
    if (version < this.shown) return false;
    this.shown = version;
    return true;
  }

  // After a lost connection: the server may have restarted, counting from 0 again.
  reset() {
    this.shown = -1;
  }
}
