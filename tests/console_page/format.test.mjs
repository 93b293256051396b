// What the console page says about times, life signs, routes, guarded actions and metrics.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  duration, guardText, lifeLevel, messageBoxEntry, parseMetrics, routeState, Series,
} from '../../console/web/page/format.js';

test('durations and the life-sign levels at their boundaries', () => {
  assert.deepEqual([0, 59999, 60000, 3599999, 3600000, 86400000 + 3600000].map(duration),
    ['0 s', '59 s', '1 min 00 s', '59 min 59 s', '1 h 00 min', '1 d 1 h']);
  assert.deepEqual([10000, 10001, 20000, 20001].map(lifeLevel), ['ok', 'amber', 'amber', 'red']);
  assert.deepEqual([{ txOnline: true, rxOnline: true }, { txOnline: false, rxOnline: true },
    { txOnline: false, rxOnline: false }].map(routeState), ['live', 'half', 'stale']);
});

test('guarded actions name what they lose, and ask nothing when nothing is at stake', () => {
  const w = {
    remoteDevices: ['a', 'b', 'c', 'd'],
    forwardRoutes: [[], []],
    status: { relayRunning: true, relayBoundPort: 7002, selectedDevice: 'Stage Right (10.77.0.12)' },
  };
  assert.equal(guardText('select-device', w, { name: 'Stage Left' }).text,
    '2 active routes on Stage Right will be cleared.');
  assert.equal(guardText('clear-clients', w).text, '4 remote devices (a, b, c and 1 more) will be ' +
    'forgotten and 2 active routes cleared; their keep-alives are then dropped until they log in again.');
  assert.match(guardText('exit', w).text, /^This stops the relay server on UDP port 7002, drops 4 /);
  const idle = { remoteDevices: [], forwardRoutes: [], status: {} };
  assert.equal(guardText('select-device', idle), null);
  assert.equal(guardText('clear-clients', idle), null);
  assert.equal(guardText('close', idle).title, 'Close Halvyn?', 'ending the program always asks');
});

test('message box entries may be merged with a count', () => {
  assert.deepEqual(messageBoxEntry('bind() failed 98\n'), { text: 'bind() failed 98\n', count: 1 });
  assert.deepEqual(messageBoxEntry({ text: 'JoinGroup failed', count: 3 }), { text: 'JoinGroup failed', count: 3 });
});

test('metrics are summed over labels; counter rates per second', () => {
  const m = parseMetrics('# HELP x\nhalvyn_relay_datagrams_received_total{command="e"} 3\n' +
    'halvyn_relay_datagrams_received_total{command="k"} 4\nhalvyn_relay_clients_online 2\n');
  assert.deepEqual(m, { halvyn_relay_datagrams_received_total: 7, halvyn_relay_clients_online: 2 });
  assert.deepEqual(Series.rates([{ t: 0, v: 10 }, { t: 2000, v: 30 }, { t: 4000, v: 5 }]),
    [{ t: 2000, v: 10 }, { t: 4000, v: 0 }]);
});
