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
    assert.equal(await page.locator('#confirm').evaluate((d) => d.open), false);

    await page.fill('#stun-server', 'stun.example.test');
    assert.equal(await page.inputValue('#stun-server'), 'stun.example.test');
  });

  test('the page fills the browser window; nothing is cut off at 1366 x 768', async () => {
    const measure = () => page.evaluate(() => {
      const box = (id) => document.getElementById(id).getBoundingClientRect();
      const table = (id) => document.querySelector('#' + id + ' table').getBoundingClientRect();
      return {
        view: [innerWidth, innerHeight],
        scroll: [document.documentElement.scrollWidth, document.documentElement.scrollHeight],
        log: box('log'), lan: box('lan-devices'), routes: box('forward-routes'),
        lanTable: table('lan-devices'), routesTable: table('forward-routes'),
        window: box('window'),
      };
    });
    const logHeights = {};
    for (const [width, height] of [[1366, 768], [1920, 1080]]) {
      await page.setViewportSize({ width, height });
      await sleep(100);
      const m = await measure();
      assert.deepEqual(m.scroll, m.view, `${width}: the page neither scrolls nor leaves space`);
      assert.equal(m.window.width, width);
      for (const part of ['log', 'lan', 'routes']) {
        assert.ok(m[part].bottom <= height && m[part].right <= width, `${width}: ${part} is inside`);
      }
      assert.ok(m.lanTable.width <= m.lan.width && m.routesTable.width <= m.routes.width,
        `${width}: every column of both list views is in view`);
      logHeights[width] = m.log.height;
    }
    assert.ok(logHeights[1920] > logHeights[1366] + 200, 'the log grows with the window');
  });

  test('the tab order follows the layout: the server box first, the route list last', async () => {
    const order = [];
    await page.focus('#local-address');
    for (let i = 0; i < 20; i++) {
      order.push(await page.evaluate(() => document.activeElement.id));
      await page.keyboard.press('Tab');
    }
    const expected = ['local-address', 'relay-port', 'start-stop', 'exit', 'stun-server',
      'public-address', 'get-public-ip', 'remote-devices', 'clear-clients', 'log',
      'clear-messages', 'lan-devices', 'forward-routes'];
    const at = expected.map((id) => order.indexOf(id));
    assert.ok(at.every((p, i) => p >= 0 && (i === 0 || p > at[i - 1])), order.join(' '));
  });

  test('reflows into one column on a phone', async () => {
    await page.setViewportSize({ width: 390, height: 844 });
    const layout = await page.evaluate(() => {
      const box = (id) => document.getElementById(id).getBoundingClientRect();
      return {
        scrollWidth: document.documentElement.scrollWidth,
        start: box('start-stop'), exit: box('exit'), log: box('log'),
        remote: box('remote-devices'), lan: box('lan-devices'), routes: box('forward-routes'),
      };
    });
    assert.ok(layout.scrollWidth <= 390, 'no sideways scrolling of the page');
    assert.ok(Math.abs(layout.start.top - layout.exit.top) < 1, 'Start and Exit share a row');
    assert.ok(layout.remote.bottom <= layout.log.top, 'the log follows the remote devices');
    assert.ok(layout.log.bottom <= layout.lan.top, 'the LAN devices follow the log');
    assert.ok(layout.lan.bottom <= layout.routes.top, 'the routes come after them');
    for (const r of [layout.log, layout.lan, layout.routes, layout.remote]) {
      assert.ok(r.left >= 0 && r.right <= 390, 'full width, inside the window');
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
    const confirm = page.locator('#confirm');
    await page.focus('#log');
    await page.keyboard.press('Escape');
    await confirm.waitFor({ state: 'visible' });
    assert.match(await confirm.textContent(), /Exit Halvyn\?/);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-no',
      'Cancel has the focus, so a second Esc or Enter does not exit');
    await page.keyboard.press('Enter');
    await confirm.waitFor({ state: 'hidden' });

    await page.keyboard.press('Escape');
    await confirm.waitFor({ state: 'visible' });
    await page.keyboard.press('Escape');
    await confirm.waitFor({ state: 'hidden' });
    await sleep(300);
    assert.ok(await halvyn.running(), 'halvyn still runs');
    assert.equal(await page.getAttribute('#link-state', 'data-state'), 'live');
  });
});
