// The console in remote mode: halvyn listens on every address with the token it made, and
// the page opened at a non-loopback address of the machine (or at 127.0.0.1) asks for the
// token and then works; the API refuses whoever has no token, whatever the Host.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import {
  eventually, freeUdpPort, Halvyn, launchBrowser, pageLogLines, RemoteDevice, startStopWithPort,
} from './harness.mjs';

describe('remote console', () => {
  let browser;
  let halvyn;

  before(async () => {
    browser = await launchBrowser();
    halvyn = await Halvyn.start({ consoleAddress: '0.0.0.0', urlHost: '10.77.0.1' });
  });
  after(async () => {
    await halvyn?.stop();
    await browser.close();
  });

  test('the page at a non-loopback address asks for the printed token, then works', async () => {
    const token = /^Console token: ([0-9a-f]{32})$/m.exec(halvyn.stdout)?.[1];
    assert.ok(token, 'a token was made and printed: ' + halvyn.stdout);

    const page = await browser.newPage();
    const response = await page.goto(halvyn.url);
    assert.equal(response.status(), 200);
    await page.locator('#token-dialog').waitFor({ state: 'visible' });
    await page.fill('#token-input', token);
    await page.keyboard.press('Enter');
    await page.locator('#link-state[data-state="live"]').waitFor();

    // A login reaches the page through its event stream.
    const relayPort = await freeUdpPort();
    await startStopWithPort(page, String(relayPort));
    await eventually(async () => assert.equal((await halvyn.window()).startStop, 'Stop'));
    const device = await RemoteDevice.open('far', relayPort);
    await device.login();
    await eventually(async () => assert.ok(
      (await pageLogLines(page)).some((line) => line.startsWith('far(127.0.0.1:')), 'login shown'));
    device.close();
  });

  test('with a token any Host is accepted, and nothing without the token', async () => {
    for (const host of ['10.77.0.1', '127.0.0.1']) {
      const url = `http://${host}:${halvyn.consolePort}`;
      assert.equal((await fetch(url + '/')).status, 200, host);
      assert.equal((await fetch(url + '/api/window')).status, 401, host);
      const res = await fetch(url + '/api/window',
        { headers: { Authorization: 'Bearer ' + halvyn.token } });
      assert.equal(res.status, 200, host);
    }
  });
});
