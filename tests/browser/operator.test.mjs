// What the page adds around the window for an operator: the status strip, the remote
// devices' life signs, the log's times, filter, Follow and download, the operator's activity
// and the charts.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { after, afterEach, before, beforeEach, describe, test } from 'node:test';
import {
  eventually, freeUdpPort, Halvyn, launchBrowser, openConsole, pageLogLines, RemoteDevice,
  remoteDeviceNames, startStopWithPort } from './harness.mjs';

const TIME = /^\d\d:\d\d:\d\d$/;

describe('the operator console around the window', () => {
  let browser;
  let halvyn;
  let page;
  const devices = [];

  before(async () => { browser = await launchBrowser({ width: 1366, height: 768 }); });
  after(async () => { await browser.close(); });
  beforeEach(async () => {
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
  });
  afterEach(async () => {
    while (devices.length) await devices.pop().close();
    await page.close();
    await halvyn.stop();
    assert.deepEqual(browser.errors.splice(0), [], 'the page logged no errors');
  });

  async function loggedIn(names, port) {
    for (const name of names) {
      const d = await RemoteDevice.open(name, port);
      devices.push(d);
      await d.login();
    }
    await eventually(async () => assert.equal((await remoteDeviceNames(page)).length, names.length));
  }

  test('the status strip shows the port actually bound, clients, routes and uptime', async () => {
    assert.equal(await page.textContent('#link-state'), 'Console connected');
    assert.equal(await page.textContent('#st-relay'), 'stopped');
    // A port box of 99999 binds the port's low 16 bits, 34463: the strip says which.
    await startStopWithPort(page, '99999');
    await eventually(async () => assert.match(await page.textContent('#st-relay'),
      /^running on UDP 34463 for \d+ s$/));
    assert.equal(await page.inputValue('#relay-port'), '99999');
    assert.equal(await page.textContent('#port-hint'), 'bound to 34463');
    await loggedIn(['stage-left'], 34463);
    await eventually(async () => assert.equal(await page.textContent('#st-clients'), '1'));
    assert.equal(await page.textContent('#st-routes'), '0 of 32');
    assert.equal(await page.textContent('#st-device'), 'none selected');
    assert.match(await page.textContent('#st-uptime'), /^\d+ s$/);
    const w = await halvyn.window();
    assert.equal(w.status.relayBoundPort, 34463);
    // The LAN adapter chosen at start-up (none in this namespace of loopback only).
    assert.equal(await page.textContent('#st-lan'),
      w.lanInterface.name ? w.lanInterface.name + ' ' + w.lanInterface.address : 'none');
    assert.equal(w.activity.at(-1).text, 'Start: relay server on UDP port 34463');
    assert.match(halvyn.stderr, /Operator: Start: relay server on UDP port 34463\n/);
    assert.match(await page.textContent('#activity li:first-child'),
      /^\d\d:\d\d:\d\d Start: relay server on UDP port 34463$/);
    // The charts sample the server's counters.
    await eventually(async () => assert.equal(await page.textContent('#chart-clients-value'), '1'));
  });

  test('remote devices show address, p2p address, last heard and login; a count and a filter', async () => {
    const port = await freeUdpPort();
    await startStopWithPort(page, String(port));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));
    await loggedIn(['beta', 'alpha', 'gamma'], port);
    await devices[1].info(4242);
    const alpha = page.locator('#remote-devices li', { hasText: 'alpha' });
    await eventually(async () => assert.equal(await alpha.locator('.rd-p2p').textContent(), 'p2p 0.0.0.0:4242'));
    assert.equal(await alpha.locator('.rd-address').textContent(), `127.0.0.1:${devices[1].port}`);
    assert.match(await alpha.locator('.rd-heard').textContent(), /^heard \d+ s ago$/);
    assert.match(await alpha.locator('.rd-heard').getAttribute('data-login'), /^ · login \d+ s ago$/);
    assert.equal(await alpha.getAttribute('data-life'), 'ok');
    assert.equal(await page.textContent('#remote-count'), '3');

    await page.fill('#remote-filter', 'ga');
    assert.deepEqual(await page.locator('#remote-devices li:not([hidden]) .rd-name').allTextContents(), ['gamma']);
    assert.equal(await page.textContent('#remote-count'), '1 of 3');
    assert.deepEqual(await remoteDeviceNames(page), ['alpha', 'beta', 'gamma'], 'still sorted');
  });

  test('log lines carry their times; filter, Follow and download', async () => {
    const port = await freeUdpPort();
    await startStopWithPort(page, String(port));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));
    await loggedIn(['one', 'two'], port);
    await eventually(async () => assert.equal((await pageLogLines(page)).length, 2));
    const w = await halvyn.window();
    assert.equal(w.logTimes.length, 2);
    const stamps = await page.locator('#log-lines div:not([hidden])').evaluateAll(
      (divs) => divs.map((d) => d.dataset.time));
    stamps.forEach((s) => assert.match(s, TIME));

    await page.fill('#log-filter', 'two');
    await eventually(async () => assert.deepEqual(await pageLogLines(page), [devices[1].loginLine]));
    assert.equal(await page.textContent('#log-count'), '1 of 2 lines');
    await page.fill('#log-filter', '');

    // Follow off: new lines do not move the view.
    for (let i = 0; i < 80; i++) await devices[0].info(40000 + i);
    await eventually(async () => assert.equal((await pageLogLines(page)).at(-1), 'one  p2p_port : 40079.'));
    await page.uncheck('#log-follow');
    await page.locator('#log').evaluate((el) => { el.scrollTop = 0; });
    await devices[0].info(50000);
    await eventually(async () => assert.equal((await halvyn.window()).logTimes.length, 83));
    await page.waitForTimeout(300);
    assert.equal(await page.locator('#log').evaluate((el) => el.scrollTop), 0);
    assert.equal((await pageLogLines(page))[0], devices[0].loginLine);

    // The download is the log the page holds, which follows the server's a moment later.
    const lines = await eventually(async () => {
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#log-download')]);
      const text = (await readFile(await download.path(), 'latin1')).trimEnd().split('\n');
      assert.equal(text.length, 83);
      return text;
    });
    assert.match(lines[0], /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  one\(127\.0\.0\.1:\d+\)login\.$/);
    assert.ok(lines.at(-1).endsWith('  one  p2p_port : 50000.'));
  });
});
