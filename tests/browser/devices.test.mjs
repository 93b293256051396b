// LAN devices in the page: simulated devices announce themselves on loopback inside the
// tests' private network, the LAN device list shows them, and a double-click on a row
// selects that device, which then receives its set-up from halvyn's device socket.
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { after, afterEach, before, describe, test } from 'node:test';
import {
  Devsim, eventually, Halvyn, HALVYN_DEVSIM_BIN, launchBrowser, openConsole, sleep,
} from './harness.mjs';

const rowsOf = (page) => page.locator('#lan-devices tbody tr').evaluateAll(
  (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));

describe('LAN devices through the page', { skip: !existsSync(HALVYN_DEVSIM_BIN) &&
  `no halvyn-devsim at ${HALVYN_DEVSIM_BIN}` }, () => {
  let browser;
  let halvyn;
  let page;
  const devices = [];

  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser.close(); });
  afterEach(async () => {
    await page?.close();
    while (devices.length) await devices.pop().stop();
    await halvyn?.stop();
    assert.deepEqual(browser.errors.splice(0), [], 'the page logged no errors');
  });

  test('announced devices are listed; a double-click selects the device of that row', async () => {
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
    const commands = [];
    page.on('request', (r) => {
      if (r.method() === 'POST') commands.push(JSON.parse(r.postData()));
    });

    devices.push(await Devsim.start({ address: '127.0.0.1', id: 'DEV-A1', name: 'Stage rack A' }));
    await eventually(async () => assert.deepEqual(await rowsOf(page),
      [['1', 'DEV-A1', 'Stage rack A', '127.0.0.1', '0123', '']]));
    devices.push(await Devsim.start({ address: '127.0.0.2', id: 'DEV-B2', name: 'Booth B' }));
    await eventually(async () => assert.deepEqual(await rowsOf(page), [
      ['1', 'DEV-A1', 'Stage rack A', '127.0.0.1', '0123', ''],
      ['2', 'DEV-B2', 'Booth B', '127.0.0.2', '0123', ''],
    ]));
    const [a, b] = devices;
    assert.equal(a.received().length + b.received().length, 0, 'nothing is sent before a selection');

    await page.locator('#lan-devices tbody tr').nth(1).dblclick();
    await eventually(async () => assert.equal((await rowsOf(page))[1][5], 'O'), { timeout: 10000 });
    assert.equal((await rowsOf(page))[0][5], '');
    assert.deepEqual(commands.map((c) => [c.command, c.row]), [['select-device', 1]]);
    await eventually(() => b.received().length > 0);
    assert.match(b.received()[0], /^rx 127\.0\.0\.1:19002 setup /, 'the set-up comes from the device socket');
    assert.equal(a.received().length, 0, 'the other device is left alone');
    assert.equal(await page.getAttribute('#lan-devices tbody tr >> nth=1', 'aria-selected'), 'true');

    assert.equal(await page.textContent('#st-device'), 'Booth B (127.0.0.2)');

    // From the keyboard: the arrows move the selection, Enter selects the device (and does
    // not press Start).
    await page.focus('#lan-devices');
    await page.keyboard.press('ArrowUp');
    await page.keyboard.press('Enter');
    await eventually(async () => assert.deepEqual((await rowsOf(page)).map((r) => r[5]), ['O', '']),
      { timeout: 10000 });
    await eventually(() => a.received().length > 0);
    assert.equal((await halvyn.window()).startStop, 'Start');
    assert.deepEqual(commands.map((c) => [c.command, c.row]), [['select-device', 1], ['select-device', 0]]);
    assert.match((await halvyn.window()).activity.at(-1).text,
      /^Select device: Stage rack A \(127\.0\.0\.1\); 0 routes cleared$/);

    // On a phone the list's rows become readable records with the selection mark in view.
    await page.setViewportSize({ width: 390, height: 844 });
    const status = page.locator('#lan-devices tbody tr >> nth=0').locator('td').nth(5);
    await status.scrollIntoViewIfNeeded();
    const box = await status.boundingBox();
    assert.ok(box.x >= 0 && box.x + box.width <= 390, 'the Status column is on screen');
    assert.equal(await status.textContent(), 'O');
    assert.ok(await status.isVisible());
    await sleep(100);
  });
});
