// Which window the page may draw when events and answers overtake each other.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { WindowOrder } from '../../console/web/page/window_order.js';

test('an older window is refused after a newer one, the same version is taken again', () => {
  const order = new WindowOrder();
  assert.deepEqual([7, 9, 8, 9, 12].map((version) => order.take({ version })),
    [true, true, false, true, true]);
});

test('after a reset a restarted server counting from 0 is taken; no version counts as oldest', () => {
  const order = new WindowOrder();
  assert.equal(order.take({ version: 40 }), true);
  assert.equal(order.take({}), false);
  order.reset();
  assert.equal(order.take({ version: 0 }), true);
});
