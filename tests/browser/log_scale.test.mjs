// The message log at scale: 100,000 lines logged by a real halvyn reach the page as
// increments; the page keeps every line reachable, draws only those in view, stays usable
// while the lines arrive, and follows the end.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import {
  eventually, freeUdpPort, Halvyn, launchBrowser, openConsole, pageLogLines, RemoteDevice,
  startStopWithPort } from './harness.mjs';

const LINES = Number(process.env.LOG_SCALE_LINES || 100000);
const IN_FLIGHT = 48;            // info packets sent but not yet echoed (well inside the socket buffers)
const FLOOD_LIMIT_MS = 180000;   // bound on the whole flood

const p2pPortOf = (k) => 1000 + (k % 60000);
const infoLine = (k) => `scale  p2p_port : ${p2pPortOf(k)}.`;

describe('the message log at scale', () => {
  let browser;
  let halvyn;
  let device;

  before(async () => {
    browser = await launchBrowser();
    halvyn = await Halvyn.start();
  });
  after(async () => {
    await device?.close();
    await browser.close();
    await halvyn.stop();
  });

  test(`${LINES} lines: all reachable, few drawn, the page usable throughout`, async (t) => {
    const page = await openConsole(browser, halvyn);
    const relayPort = await freeUdpPort();
    await startStopWithPort(page, String(relayPort));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));

    device = await RemoteDevice.open('scale', relayPort);
    await device.login();
    await eventually(async () => assert.deepEqual(await pageLogLines(page), [device.loginLine]));

    // Frame gaps in the page while the lines arrive (reported, not judged).
    const cdp = await browser.context.newCDPSession(page);
    await cdp.send('Performance.enable');
    const metrics = async () => Object.fromEntries(
      (await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
    const before = await metrics();
    await page.evaluate(() => {
      window.__gaps = { max: 0, last: performance.now(), on: true };
      const tick = (now) => {
        const g = window.__gaps;
        g.max = Math.max(g.max, now - g.last);
        g.last = now;
        if (g.on) requestAnimationFrame(tick);
      };
      requestAnimationFrame(tick);
    });

    // Every "i" of a known client is echoed to it by the server: the echoes pace the flood.
    device.keepReceived = false;
    const echoes = () => device.counts.i || 0;
    const started = Date.now();
    let usedTheWindow = false;
    for (let k = 1; k <= LINES; k++) {
      while (k - echoes() > IN_FLIGHT) {
        assert.ok(Date.now() - started < FLOOD_LIMIT_MS, 'the flood ends in bounded time');
        await new Promise((r) => setTimeout(r, 2));
      }
      await device.info(p2pPortOf(k));
      if (k === Math.floor(LINES / 2)) {
        // Midway, the operator uses the window: the About box opens and closes.
        await page.click('#sysmenu-button');
        await page.click('#menu-about');
        await page.click('#about-ok');
        usedTheWindow = true;
      }
    }
    assert.ok(usedTheWindow);
    const floodMs = Date.now() - started;

    await eventually(async () => assert.equal((await pageLogLines(page)).at(-1), infoLine(LINES)),
      { timeout: 30000 });
    const settledMs = Date.now() - started;
    const gaps = await page.evaluate(() => { window.__gaps.on = false; return window.__gaps.max; });
    const spent = await metrics();
    const ms = (name) => Math.round((spent[name] - before[name]) * 1000);
    t.diagnostic(`page main thread during the flood: tasks ${ms('TaskDuration')} ms, script ` +
      `${ms('ScriptDuration')} ms, layout ${ms('LayoutDuration')} ms, style ` +
      `${ms('RecalcStyleDuration')} ms; JS heap ${Math.round(spent.JSHeapUsedSize / 1e6)} MB`);
    t.diagnostic(`${LINES} lines sent in ${floodMs} ms, last shown after ${settledMs} ms; ` +
      `longest frame gap ${Math.round(gaps)} ms`);

    const server = await halvyn.window();
    const serverLines = server.messageLog.split('\r\n').filter((l) => l !== '');
    assert.equal(serverLines.length, LINES + 1);

    const view = await page.locator('#log').evaluate((el) => {
      const lh = parseFloat(getComputedStyle(el).lineHeight);
      return {
        drawn: el.querySelectorAll('.log-lines div').length,
        atEnd: el.scrollTop + el.clientHeight >= el.scrollHeight - 1,
        lines: Math.round((el.scrollHeight - 6) / lh),
      };
    });
    assert.ok(view.atEnd, 'the log shows its end');
    assert.ok(view.drawn < 100, `only the lines in view are drawn (${view.drawn})`);
    assert.equal(view.lines, LINES + 1, 'the log is as long as the server\'s');

    // Any line can be brought into view, and what is drawn there is the server's text.
    for (const index of [0, 1, Math.floor(LINES / 3), LINES - 1, LINES]) {
      await page.locator('#log').evaluate((el, i) => {
        const lh = parseFloat(getComputedStyle(el).lineHeight);
        el.scrollTop = 3 + i * lh;
      }, index);
      await eventually(async () => {
        const shown = await page.locator('#log').evaluate((el) => {
          const lh = parseFloat(getComputedStyle(el).lineHeight);
          return {
            first: Math.max(0, Math.floor((el.scrollTop - 3) / lh)),
            lines: [...el.querySelectorAll('.log-lines div:not([hidden])')].map((d) => d.textContent),
          };
        });
        assert.ok(shown.first <= index && index < shown.first + shown.lines.length, `line ${index} in view`);
        assert.deepEqual(shown.lines, serverLines.slice(shown.first, shown.first + shown.lines.length));
      });
    }

    // Clear Messages still answers at once and the next line stands alone.
    await page.click('#clear-messages');
    await eventually(async () => assert.deepEqual(await pageLogLines(page), []));
    await device.info(4242);
    await eventually(async () => assert.deepEqual(await pageLogLines(page), ['scale  p2p_port : 4242.']));
  });
});
