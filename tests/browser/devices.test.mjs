// LAN devices in the page: simulated devices announce themselves on loopback inside the
// tests' private network, the LAN device list shows them, and a double-click on a row
// selects that device, which then receives its set-up from halvyn's device socket.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { after, afterEach, before, describe, test } from 'node:test';
import {
  confirmAction, Devsim, eventually, freeUdpPort, Halvyn, HALVYN_CLIENT_BIN, HALVYN_DEVSIM_BIN,
  launchBrowser, openConsole, remoteDeviceNames, sleep, startStopWithPort } from './harness.mjs';

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

  test('selecting another device while routes exist asks first, naming what is lost', {
    skip: !existsSync(HALVYN_CLIENT_BIN) && `no halvyn-client at ${HALVYN_CLIENT_BIN}`,
  }, async () => {
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
    devices.push(await Devsim.start({ address: '127.0.0.1', id: 'DEV-A1', name: 'Stage Left' }));
    devices.push(await Devsim.start({ address: '127.0.0.2', id: 'DEV-B2', name: 'Stage Right' }));
    await eventually(async () => assert.equal((await rowsOf(page)).length, 2));
    await page.locator('#lan-devices tbody tr').nth(1).dblclick();  // no route yet: no question
    await eventually(async () => assert.equal((await rowsOf(page))[1][5], 'O'), { timeout: 10000 });
    const port = await freeUdpPort();
    await startStopWithPort(page, String(port));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));

    // One route: the Rx end probes the slot port its "v" names (the first slot, 14367).
    const client = (name, commands) => {
      const p = spawn(HALVYN_CLIENT_BIN, ['--server', `127.0.0.1:${port}`, '--name', name,
        '--keepalive-interval', '3000', ...commands], { stdio: 'ignore' });
      devices.push({ stop: async () => { p.kill('SIGTERM'); } });
    };
    client('rx-end', ['login', 'expect v 20', 'probe 14367', 'wait 60']);
    await eventually(async () => assert.deepEqual(await remoteDeviceNames(page), ['rx-end']));
    client('tx-end', ['login', 'wait 1', 'route tx-end - 2 rx-end - 2', 'wait 60']);
    await eventually(async () => assert.equal((await halvyn.window()).forwardRoutes.length, 1),
      { timeout: 10000 });
    // The page asks from what it shows: wait until its event stream has brought the route.
    await eventually(async () => assert.equal(await page.locator('#forward-routes tbody tr').count(), 1));

    await page.locator('#lan-devices tbody tr').nth(0).dblclick();
    assert.match(await confirmAction(page, false),
      /Select Stage Left\?1 active route on Stage Right will be cleared\./);
    await sleep(300);
    assert.equal((await halvyn.window()).forwardRoutes.length, 1, 'Cancel keeps the route');
    await page.locator('#lan-devices tbody tr').nth(0).dblclick();
    await confirmAction(page);
    await eventually(async () => assert.equal((await rowsOf(page))[0][5], 'O'), { timeout: 10000 });
    assert.deepEqual((await halvyn.window()).forwardRoutes, []);
  });
});
