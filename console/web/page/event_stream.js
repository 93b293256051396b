// Parses text/event-stream incrementally: push() the decoded chunks as they come, and
// dispatch(type, data) is called once per complete event. Comment lines (the server's
// heartbeats) are skipped. Pure: no DOM.
export class EventStreamParser {
  constructor(dispatch) {
    this.dispatch = dispatch;
    this.rest = '';   // an unfinished line
    this.cr = false;  // the last chunk ended in CR; a LF may follow
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
    if (line.startsWith(':')) return;
    const colon = line.indexOf(':');
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? '' : line.slice(colon + 1);
    if (value.startsWith(' ')) value = value.slice(1);
    if (field === 'event') this.type = value;
    else if (field === 'data') this.data.push(value);
  }
}
