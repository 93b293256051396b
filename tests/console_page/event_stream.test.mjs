// The event-stream parser of the console page, fed the way a network delivers text.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EventStreamParser } from '../../console/web/page/event_stream.js';

function parse(chunks) {
  const events = [];
  const parser = new EventStreamParser((type, data) => events.push([type, data]));
  for (const c of chunks) parser.push(c);
  return events;
}

test('events split anywhere, CR LF split between chunks, heartbeats and multi-line data', () => {
  const stream = ': heartbeat\n\nevent: window\ndata: {"a":1}\r\n\r\ndata: x\ndata: y\n\nevent: window\ndata:{"b":2}\n\n';
  const whole = parse([stream]);
  assert.deepEqual(whole, [['window', '{"a":1}'], ['message', 'x\ny'], ['window', '{"b":2}']]);
  // Every split point, including between the CR and the LF of a line end, gives the same.
  for (let i = 1; i < stream.length; i++) {
    assert.deepEqual(parse([stream.slice(0, i), stream.slice(i)]), whole, 'split at ' + i);
  }
});

test('an event is dispatched only at its blank line', () => {
  assert.deepEqual(parse(['event: window\ndata: {}\n']), []);
});
