// The console page's log model: the server's text and line times, full and in increments.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { LogModel } from '../../console/web/page/log_model.js';

const full = (text, times, epoch = 1) => ({ messageLog: text, logTimes: times, logEpoch: epoch,
  logEnd: text.length });
const inc = (offset, append, times, epoch = 1) => ({ log: { epoch, offset, append, times },
  logEnd: offset + append.length });

test('lines keep their times through a full window and increments, a continued line its first', () => {
  const m = new LogModel();
  assert.equal(m.applyEvent(full('a\r\nb', [100, 200])), 'replaced');
  assert.deepEqual([m.lineCount(), m.line(0), m.line(1), m.time(0), m.time(1)], [2, 'a', 'b', 100, 200]);
  // "b" continues; "c" begins in the increment: one time for it.
  assert.equal(m.applyEvent(inc(4, 'b\r\nc\r\n', [300])), 'appended');
  assert.deepEqual([m.lineCount(), m.line(1), m.line(2), m.time(1), m.time(2)], [3, 'bb', 'c', 200, 300]);
  assert.equal(m.text(), 'a\r\nbb\r\nc\r\n');
  assert.deepEqual(m.matching('B'), [1]);
  assert.deepEqual(m.matching(''), [0, 1, 2]);
  assert.deepEqual(m.matching('c', 2), [2]);
});

test('increments that do not fit ask for the whole window; ones already shown change nothing', () => {
  const m = new LogModel();
  m.applyEvent(full('x\r\n', [1]));
  assert.equal(m.applyEvent(inc(0, 'x\r\n', [1])), 'unchanged', 'a snapshot overtook the stream');
  assert.equal(m.applyEvent(inc(9, 'gap\r\n', [2])), 'refetch', 'bytes missing');
  assert.equal(m.applyEvent(inc(3, 'y\r\n', [2], 2)), 'refetch', 'the log was cleared meanwhile');
  assert.equal(m.applyEvent(inc(1, '\r\ny\r\n', [2])), 'refetch', 'partly shown');
  assert.equal(m.applySnapshot(full('x\r\n', [1])), false, 'the same log is not redrawn');
  assert.equal(m.applySnapshot(full('', [], 2)), true);
  assert.equal(m.lineCount(), 0);
});
