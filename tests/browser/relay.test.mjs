// The relay server run from the page: Start/Stop, remote devices logging in and out, the
// message log, the data exchange of the port box, and the message boxes.
import assert from 'node:assert/strict';
import { after, afterEach, before, beforeEach, describe, test } from 'node:test';
import {
  artifactPath, confirmAction, eventually, freeUdpPort, Halvyn, holdUdpPort, launchBrowser, messageBoxText,
  openConsole, pageLogLines, RemoteDevice, remoteDeviceNames, sleep, startStopWithPort,
} from './harness.mjs';

describe('the relay server through the page', () => {
  let browser;
  let halvyn;
  let page;
  const cleanups = [];

  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser.close(); });
  beforeEach(async () => {
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
  });
  afterEach(async () => {
    while (cleanups.length) await cleanups.pop()();
    await page.close();
    await halvyn.stop();
    assert.deepEqual(browser.errors.splice(0), [], 'the page logged no errors');
  });

  async function startRelay() {
    const port = await freeUdpPort();
    await startStopWithPort(page, String(port));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));
    return port;
  }

  async function device(name, port) {
    const d = await RemoteDevice.open(name, port);
    cleanups.push(() => d.close());
    return d;
  }

  test('Start and Stop toggle the caption and the server', async () => {
    const port = await startRelay();
    assert.equal((await halvyn.window()).startStop, 'Stop');
    assert.equal(await page.getAttribute('#start-stop', 'data-running'), 'true');
    assert.equal(await page.inputValue('#relay-port'), String(port));

    const probe = await device('probe', port);
    await probe.login();
    await eventually(async () => assert.deepEqual(await remoteDeviceNames(page), ['probe']));

    await page.click('#start-stop');
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Start'));
    assert.equal((await halvyn.window()).startStop, 'Start');
    assert.deepEqual(await remoteDeviceNames(page), ['probe'], 'Stop keeps the list');
  });

  test('logins list the devices sorted with their login lines; logout and Clear clients remove them', async () => {
    const port = await startRelay();
    const zeta = await device('zeta-rack', port);
    const alpha = await device('alpha-desk', port);
    const mid = await device('Mid', port);
    await zeta.login();
    await alpha.login();
    await mid.login();

    // Alphabetical as a sorted list box orders them, whatever the order of login.
    await eventually(async () => assert.deepEqual(await remoteDeviceNames(page),
      ['alpha-desk', 'Mid', 'zeta-rack']));
    assert.deepEqual((await halvyn.window()).remoteDevices, await remoteDeviceNames(page));
    await eventually(async () => assert.deepEqual(await pageLogLines(page),
      [zeta.loginLine, alpha.loginLine, mid.loginLine]));

    await zeta.logout();
    await eventually(async () => assert.deepEqual(await remoteDeviceNames(page), ['alpha-desk', 'Mid']));
    await eventually(async () => assert.deepEqual((await pageLogLines(page)).slice(-1), [zeta.logoutLine]));

    await page.click('#clear-clients');
    assert.match(await confirmAction(page),
      /2 remote devices \(alpha-desk, Mid\) will be forgotten; their keep-alives are then dropped/);
    await eventually(async () => assert.deepEqual(await remoteDeviceNames(page), []));
    assert.equal((await halvyn.window()).activity.at(-1).text,
      'Clear clients: 2 clients and 0 routes forgotten');
    assert.ok(!(await halvyn.window()).messageLog.includes('Clear clients'), 'not in the message log');
    assert.deepEqual((await halvyn.window()).remoteDevices, []);
    assert.equal(await page.locator('#remote-devices').getAttribute('data-empty'), 'No device logged in');
  });

  test('Clear Messages empties the log; the next line then stands alone', async () => {
    const port = await startRelay();
    const a = await device('first', port);
    await a.login();
    await eventually(async () => assert.deepEqual(await pageLogLines(page), [a.loginLine]));

    await page.click('#clear-messages');
    await eventually(async () => assert.deepEqual(await pageLogLines(page), []));
    assert.equal((await halvyn.window()).messageLog, '');

    const b = await device('second', port);
    await b.login();
    await eventually(async () => assert.deepEqual(await pageLogLines(page), [b.loginLine]));
    const scrolled = await page.locator('#log').evaluate((el) => el.scrollTop + el.clientHeight >= el.scrollHeight - 1);
    assert.ok(scrolled, 'the log shows its end');
  });

  test('the log scrolls to its last line after each append', async () => {
    const port = await startRelay();
    const d = await device('chatty', port);
    await d.login();
    for (let i = 1; i <= 60; i++) await d.info(40000 + i);
    await eventually(async () => assert.equal((await pageLogLines(page)).at(-1), 'chatty  p2p_port : 40060.'));
    const atEnd = await page.locator('#log').evaluate((el) => el.scrollTop + el.clientHeight >= el.scrollHeight - 1);
    assert.ok(atEnd, 'scrolled to the end');

    // Scrolled back to the top by the operator, the next line brings the end back.
    await page.locator('#log').evaluate((el) => { el.scrollTop = 0; });
    await eventually(async () => assert.equal((await pageLogLines(page))[0], d.loginLine));
    await d.info(50000);
    await eventually(async () => assert.equal((await pageLogLines(page)).at(-1), 'chatty  p2p_port : 50000.'));
  });

  test('a typed port that no command took is put back when an event is logged', async () => {
    const port = await startRelay();
    await page.fill('#relay-port', '9');
    await page.fill('#local-address', '10.1.2.3');
    const d = await device('late', port);
    await d.login();
    await eventually(async () => assert.deepEqual(await pageLogLines(page), [d.loginLine]));
    assert.equal(await page.inputValue('#relay-port'), String(port));
    assert.equal(await page.inputValue('#local-address'), (await halvyn.window()).localAddress);
  });

  test('typing in the port box takes digits only', async () => {
    await page.fill('#relay-port', '');
    await page.focus('#relay-port');
    await page.keyboard.type('12a3-4');
    assert.equal(await page.inputValue('#relay-port'), '1234');
  });

  test('a failed bind shows "bind() failed 98" in a message box; OK dismisses it', async () => {
    const held = await holdUdpPort();
    cleanups.push(held.close);
    await startStopWithPort(page, String(held.port));

    const box = page.locator('#message-box');
    await box.waitFor({ state: 'visible' });
    assert.equal(await messageBoxText(page), 'bind() failed 98\n');
    assert.equal(await page.textContent('#message-box-hint'), 'Error 98: Address already in use');
    assert.match(await page.textContent('#st-error'), /^bind\(\) failed 98 \(Address already in use\) at /);
    assert.equal(await page.textContent('#message-box-caption'), 'Halvyn');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'message-box-ok');
    assert.equal(await page.textContent('#start-stop'), 'Start');

    await box.getByRole('button', { name: 'OK' }).click();
    await box.waitFor({ state: 'hidden' });
    assert.deepEqual((await halvyn.window()).messageBoxes, []);
    assert.equal(await page.textContent('#start-stop'), 'Start');
  });

  test('a refused port and a failed bind queue up and are answered in order', async () => {
    const held = await holdUdpPort();
    cleanups.push(held.close);
    // The held port becomes the last accepted one; then an empty port box is refused.
    await startStopWithPort(page, String(held.port));
    await page.locator('#message-box').waitFor({ state: 'visible' });
    await page.keyboard.press('Enter');
    await page.locator('#message-box').waitFor({ state: 'hidden' });

    await startStopWithPort(page, '');
    await eventually(async () => assert.equal((await halvyn.window()).messageBoxes.length, 2));
    await eventually(async () => assert.equal(await messageBoxText(page), 'Enter a positive integer.'));
    assert.equal(await page.textContent('#message-box-more'), '1 more waiting');

    await page.keyboard.press('Enter');
    await eventually(async () => assert.equal(await messageBoxText(page), 'bind() failed 98\n'));
    assert.equal(await page.textContent('#message-box-more'), '');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'message-box-ok',
      'OK keeps the focus for the next box');
    await page.keyboard.press('Enter');
    await page.locator('#message-box').waitFor({ state: 'hidden' });
    assert.deepEqual((await halvyn.window()).messageBoxes, []);

    // Esc answers a message box like OK, and does not ask about exiting.
    await startStopWithPort(page, String(held.port));
    await page.locator('#message-box').waitFor({ state: 'visible' });
    await page.keyboard.press('Escape');
    await page.locator('#message-box').waitFor({ state: 'hidden' });
    assert.deepEqual((await halvyn.window()).messageBoxes, []);
    assert.equal(await page.locator('#confirm').evaluate((d) => d.open), false);
    assert.ok(await halvyn.running());
  });

  test('screenshot of the window with a few devices', async () => {
    await page.setViewportSize({ width: 1000, height: 900 });
    const port = await startRelay();
    const names = ['studio-b', 'alpha-stage', 'mix-desk-7', 'Rack12', 'field-unit', 'FOH-left'];
    const devices = [];
    for (const name of names) {
      const d = await device(name, port);
      devices.push(d);
      await d.login();
    }
    await devices[1].info(40001);
    await devices[3].logout();
    await eventually(async () => assert.equal((await remoteDeviceNames(page)).length, 5));
    await eventually(async () => assert.equal((await pageLogLines(page)).length, 8));
    await page.click('#remote-devices li >> nth=1');
    await sleep(100);
    const file = await artifactPath('console-window.png');
    await page.locator('#window').screenshot({ path: file });

    await page.setViewportSize({ width: 420, height: 1400 });
    await page.screenshot({ path: await artifactPath('console-narrow.png'), fullPage: true });
  });
});
