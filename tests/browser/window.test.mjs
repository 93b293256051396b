// The console page draws halvyn's main window: title, controls with their captions, the list
// columns, the arrangement, the About box and the window's keyboard.
import assert from 'node:assert/strict';
import { after, afterEach, before, beforeEach, describe, test } from 'node:test';
import {
  eventually, freeUdpPort, Halvyn, launchBrowser, openConsole, sleep,
} from './harness.mjs';

const LAN_COLUMNS = ['   No', '     Device ID       ', '     Device Name      ',
  '       IP       ', '  FPGA Ver  ', '  Status  '];
const LAN_WIDTHS = [40, 168, 176, 128, 96, 80];
const ROUTE_COLUMNS = ['   No ', '   Tx Device Name   ', '   Remote IP:Port   ',
  '   Rx Device Name   ', '   Rx Remote IP:Port   ', 'Forward chans '];
const ROUTE_WIDTHS = [42, 140, 140, 140, 161, 98];

// Dialog-unit rectangles (x, y, width, height) of the window's controls.
const LAYOUT = {
  '#start-stop': [34, 45, 55, 14],
  '#exit': [93, 44, 55, 14],
  '#local-address': [34, 23, 85, 15],
  '#remote-devices': [34, 138, 113, 79],
  '#log': [170, 20, 329, 196],
  '#clear-messages': [300, 226, 80, 14],
  '#relay-port': [122, 23, 29, 15],
  '#lan-devices': [21, 247, 481, 47],
  '#remote-label': [37, 126, 56, 9],
  '#clear-clients': [49, 226, 80, 14],
  '#forward-routes': [21, 314, 483, 125],
  '#routes-label': [187, 299, 70, 11],
  '#get-public-ip': [62, 106, 55, 14],
  '#stun-label': [37, 62, 80, 7],
  '#public-address': [35, 88, 111, 13],
};

describe('the window', () => {
  let browser;
  let halvyn;
  let page;

  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser.close(); });
  beforeEach(async () => {
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
  });
  afterEach(async () => {
    await page.close();
    await halvyn.stop();
    assert.deepEqual(browser.errors.splice(0), [], 'the page logged no errors');
  });

  test('shows the title, the captions, the boxes and the list columns', async () => {
    assert.equal(await page.locator('#title').textContent(), 'Corvex v1.93');
    assert.equal(await page.title(), 'Corvex v1.93');
    for (const [id, caption] of [['#start-stop', 'Start'], ['#exit', 'Exit'],
      ['#clear-messages', 'Clear Messages'], ['#clear-clients', 'Clear clients'],
      ['#get-public-ip', 'Get Public IP'], ['#remote-label', 'Remote Devices'],
      ['#routes-label', 'Forward Route Info'], ['#stun-label', 'Select a STUN Server:']]) {
      assert.equal(await page.locator(id).textContent(), caption, id);
      assert.ok(await page.locator(id).isVisible(), id + ' is visible');
    }

    const w = await halvyn.window();
    assert.equal(await page.inputValue('#local-address'), w.localAddress);
    assert.match(await page.inputValue('#local-address'), /^\d+\.\d+\.\d+\.\d+$/);
    assert.equal(await page.inputValue('#relay-port'), '7002');
    assert.equal(await page.inputValue('#public-address'), '');
    assert.equal(await page.getAttribute('#public-address', 'readonly'), '');

    assert.deepEqual(await page.locator('#lan-devices th').allTextContents(), LAN_COLUMNS);
    assert.deepEqual(await page.locator('#forward-routes th').allTextContents(), ROUTE_COLUMNS);
    for (const [list, widths] of [['#lan-devices', LAN_WIDTHS], ['#forward-routes', ROUTE_WIDTHS]]) {
      const shown = await page.locator(list + ' th').evaluateAll(
        (ths) => ths.map((th) => th.getBoundingClientRect().width));
      const scale = shown[0] / widths[0];
      shown.forEach((px, i) => assert.ok(Math.abs(px - widths[i] * scale) < 1,
        `${list} column ${i}: ${px}px for ${widths[i]}`));
    }
  });

  test('the STUN server box is editable and offers two servers, the first selected', async () => {
    const w = await halvyn.window();
    assert.equal(w.stunServers.length, 2);
    assert.equal(await page.inputValue('#stun-server'), w.stunServers[0]);

    await page.click('#stun-drop');
    const options = page.locator('#stun-list [role="option"]');
    assert.deepEqual(await options.allTextContents(), w.stunServers);
    assert.equal(await options.nth(0).getAttribute('aria-selected'), 'true');
    await options.nth(1).click();
    assert.equal(await page.inputValue('#stun-server'), w.stunServers[1]);
    assert.ok(await page.locator('#stun-list').isHidden());

    // Arrow keys step through the entries; Esc closes an open list and nothing else.
    await page.focus('#stun-server');
    await page.keyboard.press('ArrowUp');
    assert.equal(await page.inputValue('#stun-server'), w.stunServers[0]);
    await page.keyboard.press('Alt+ArrowDown');
    assert.ok(await page.locator('#stun-list').isVisible());
    await page.keyboard.press('Escape');
    assert.ok(await page.locator('#stun-list').isHidden());
    assert.equal(await page.locator('#exit-confirm').evaluate((d) => d.open), false);

    await page.fill('#stun-server', 'stun.example.test');
    assert.equal(await page.inputValue('#stun-server'), 'stun.example.test');
  });

  test('controls sit at their dialog-unit positions on a wide screen', async () => {
    const rects = await page.evaluate((selectors) => {
      const client = document.getElementById('client').getBoundingClientRect();
      const out = { client: [client.width, client.height] };
      for (const s of selectors) {
        const r = document.querySelector(s).getBoundingClientRect();
        out[s] = [r.left - client.left, r.top - client.top, r.width, r.height];
      }
      return out;
    }, Object.keys(LAYOUT));
    const du = rects.client[0] / 525;
    assert.ok(Math.abs(rects.client[1] - 454 * du) < 1, 'client area is 525 x 454 units');
    assert.ok(du >= 1.5, 'a dialog unit is at least 1.5 px on a wide screen');
    for (const [selector, units] of Object.entries(LAYOUT)) {
      units.forEach((u, i) => assert.ok(Math.abs(rects[selector][i] - u * du) < 1.01,
        `${selector} [${i}] is ${rects[selector][i]}px, want ${u * du}px`));
    }
  });

  test('reflows into one column in a narrow window', async () => {
    await page.setViewportSize({ width: 420, height: 900 });
    const layout = await page.evaluate(() => {
      const box = (id) => document.getElementById(id).getBoundingClientRect();
      return {
        scrollWidth: document.documentElement.scrollWidth,
        start: box('start-stop'), exit: box('exit'), log: box('log'),
        remote: box('remote-devices'), lan: box('lan-devices'), routes: box('forward-routes'),
        ip: box('local-address'), port: box('relay-port'),
      };
    });
    assert.ok(layout.scrollWidth <= 420, 'no sideways scrolling of the page');
    assert.ok(Math.abs(layout.start.top - layout.exit.top) < 1, 'Start and Exit share a row');
    assert.ok(layout.remote.bottom <= layout.log.top, 'the log follows the remote devices');
    assert.ok(layout.log.bottom <= layout.lan.top, 'the LAN devices follow the log');
    assert.ok(layout.lan.bottom <= layout.routes.top, 'the routes come last');
    for (const r of [layout.log, layout.lan, layout.routes, layout.remote]) {
      assert.ok(r.left >= 0 && r.right <= 420, 'full width, inside the window');
    }
    assert.ok(await page.getByText('LAN Devices').isVisible(), 'the LAN list is labelled');
  });

  test('the About box opens from the system menu and closes with OK', async () => {
    await page.click('#sysmenu-button');
    const item = page.locator('#menu-about');
    assert.equal(await item.textContent(), 'About Halvyn...');
    assert.equal(await item.locator('u').textContent(), 'A', 'A is the access key');
    await item.click();
    const about = page.locator('#about-box');
    assert.ok(await about.isVisible());
    assert.equal(await about.locator('.dlg-caption').textContent(), 'About Halvyn');
    assert.equal(await page.locator('#about-text').textContent(), 'Halvyn, Version 1.7');
    await about.getByRole('button', { name: 'OK' }).click();
    assert.ok(await about.isHidden());

    // From the keyboard: Alt+Space opens the menu, A picks the item, Enter presses OK.
    await page.focus('#relay-port');
    await page.keyboard.press('Alt+Space');
    assert.ok(await page.locator('#sysmenu').isVisible());
    await page.keyboard.press('a');
    assert.ok(await about.isVisible());
    assert.equal(await page.evaluate(() => document.activeElement.id), 'about-ok');
    await page.keyboard.press('Enter');
    assert.ok(await about.isHidden());
    assert.equal(await page.evaluate(() => document.activeElement.id), 'relay-port',
      'the focus returns where it was');
    assert.equal((await halvyn.window()).startStop, 'Start', 'Enter in the About box only closed it');
  });

  test('Enter presses Start/Stop unless another button has the focus', async () => {
    await page.fill('#relay-port', String(await freeUdpPort()));
    await page.focus('#relay-port');
    await page.keyboard.press('Enter');
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));
    assert.equal((await halvyn.window()).startStop, 'Stop');

    await page.focus('#clear-messages');
    await page.keyboard.press('Enter');
    await sleep(300);
    assert.equal(await page.textContent('#start-stop'), 'Stop', 'Enter pressed Clear Messages');

    await page.focus('#remote-devices');
    await page.keyboard.press('Enter');
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Start'));
    assert.equal((await halvyn.window()).startStop, 'Start');
  });

  test('Esc asks before it exits; Cancel keeps the program running', async () => {
    const confirm = page.locator('#exit-confirm');
    await page.focus('#log');
    await page.keyboard.press('Escape');
    assert.ok(await confirm.isVisible());
    assert.match(await confirm.textContent(), /Exit Halvyn\?/);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'exit-confirm-no',
      'Cancel has the focus, so a second Esc or Enter does not exit');
    await page.keyboard.press('Enter');
    assert.ok(await confirm.isHidden());

    await page.keyboard.press('Escape');
    assert.ok(await confirm.isVisible());
    await page.keyboard.press('Escape');
    assert.ok(await confirm.isHidden());
    await sleep(300);
    assert.ok(await halvyn.running(), 'halvyn still runs');
    assert.equal(await page.getAttribute('#link-state', 'data-state'), 'live');
  });
});
