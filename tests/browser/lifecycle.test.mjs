// The program's life seen from the page: Exit and the close command end halvyn, the page
// says so and comes back by itself when halvyn is started again; a console with a token
// asks the operator for it once.
import assert from 'node:assert/strict';
import { after, afterEach, before, describe, test } from 'node:test';
import {
  confirmAction, eventually, freeUdpPort, Halvyn, launchBrowser, openConsole, pageLogLines,
  RemoteDevice, sleep, startStopWithPort } from './harness.mjs';

const EXIT_TIMEOUT_MS = 8000;

async function exitedWithin(halvyn, ms = EXIT_TIMEOUT_MS) {
  const result = await Promise.race([halvyn.exited, sleep(ms).then(() => null)]);
  assert.ok(result, 'halvyn ended');
  return result;
}

describe('program lifecycle through the page', () => {
  let browser;
  const started = [];

  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser.close(); });
  afterEach(async () => {
    while (started.length) await started.pop().stop();
    for (const p of browser.context.pages()) await p.close();
    // A page that lost its server logs failed fetches; those are expected here.
    browser.errors.splice(0);
  });

  async function start(options) {
    const h = await Halvyn.start(options);
    started.push(h);
    return h;
  }

  test('Exit stops a running server and ends the program; the page says so', async () => {
    const halvyn = await start();
    const page = await openConsole(browser, halvyn);
    await startStopWithPort(page, String(await freeUdpPort()));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));

    await page.click('#exit');
    assert.match(await confirmAction(page),
      /Exit Halvyn\?This stops the relay server on UDP port \d+ and ends the program/);
    assert.deepEqual(await exitedWithin(halvyn), { code: 0, signal: null });
    await page.locator('#link-state[data-state="exited"]').waitFor();
    assert.match(await page.textContent('#banner-text'), /Halvyn has exited/);
    assert.ok(await page.locator('#start-stop').isDisabled(), 'no command can be sent');
  });

  test('Esc, then Exit in the confirmation, ends the program', async () => {
    const halvyn = await start();
    const page = await openConsole(browser, halvyn);
    await page.focus('#relay-port');
    await page.keyboard.press('Escape');
    await confirmAction(page);
    assert.deepEqual(await exitedWithin(halvyn), { code: 0, signal: null });
  });

  test('the window close command ends the program: caption button and system menu', async () => {
    const first = await start();
    let page = await openConsole(browser, first);
    await page.click('#caption-close');
    assert.match(await confirmAction(page, false), /Close Halvyn\?/);
    await sleep(300);
    assert.ok(await first.running(), 'Cancel keeps halvyn running');
    await page.click('#caption-close');
    await confirmAction(page);
    assert.equal((await exitedWithin(first)).code, 0);
    await page.close();

    const second = await start();
    page = await openConsole(browser, second);
    await page.click('#sysmenu-button');
    await page.click('#menu-close');
    await confirmAction(page);
    assert.equal((await exitedWithin(second)).code, 0);
    assert.match(second.stderr, /Operator: Close\n/, 'the journal has the operator\'s close');
  });

  test('the page shows a lost server plainly and reconnects when it is back', async () => {
    const first = await start();
    const page = await openConsole(browser, first);
    const relayPort = await freeUdpPort();
    await startStopWithPort(page, String(relayPort));
    await eventually(async () => assert.equal(await page.textContent('#start-stop'), 'Stop'));
    const d = await RemoteDevice.open('before-restart', relayPort);
    try {
      await d.login();
      await eventually(async () => assert.deepEqual(await pageLogLines(page), [d.loginLine]));
    } finally {
      await d.close();
    }

    first.proc.kill('SIGKILL');  // gone without a word
    await first.exited;
    await page.locator('#link-state[data-state="offline"]').waitFor({ timeout: 10000 });
    assert.match(await page.textContent('#banner-text'), /Connection to halvyn lost/);
    assert.ok(await page.locator('#banner').isVisible());
    assert.ok(await page.locator('#clear-messages').isDisabled());
    assert.ok(await page.locator('#window').evaluate((w) => w.classList.contains('stale')));

    const second = await start({ consolePort: first.consolePort });
    await page.locator('#link-state[data-state="live"]').waitFor({ timeout: 10000 });
    assert.ok(await page.locator('#banner').isHidden());
    assert.equal(await page.textContent('#start-stop'), 'Start', 'the new process is stopped');
    assert.deepEqual(await pageLogLines(page), [], 'and has an empty log');
    assert.ok(await page.locator('#clear-messages').isEnabled());

    // Live again: a command goes through.
    await startStopWithPort(page, String(await freeUdpPort()));
    await eventually(async () => assert.equal((await second.window()).startStop, 'Stop'));
  });

  test('a console with a token asks for it once and sends it on every request', async (t) => {
    const token = 'tok-' + Math.random().toString(16).slice(2);
    const halvyn = await start({ token });
    const probe = await fetch(new URL('/api/window', halvyn.url));
    if (probe.status !== 401) {
      t.skip('this halvyn does not ask for a token on its API');
      return;
    }

    const page = await browser.newPage();
    const apiRequests = [];
    page.on('request', (r) => {
      if (new URL(r.url()).pathname.startsWith('/api/')) apiRequests.push(r);
    });
    await page.goto(halvyn.url);
    const dialog = page.locator('#token-dialog');
    await dialog.waitFor({ state: 'visible' });
    assert.ok(await page.locator('#token-error').isHidden(), 'no complaint before a first try');

    await page.fill('#token-input', 'wrong-token');
    await page.keyboard.press('Enter');
    await eventually(async () => assert.equal(await page.textContent('#token-error'),
      'The token was not accepted.'));
    assert.ok(await dialog.isVisible());

    await page.fill('#token-input', token);
    await page.click('#token-ok');
    await page.locator('#link-state[data-state="live"]').waitFor();
    assert.ok(await dialog.isHidden());
    assert.equal(await page.textContent('#title'), 'Corvex v1.93');

    await page.click('#clear-messages');
    await eventually(() => apiRequests.some((r) => r.method() === 'POST'));
    const post = apiRequests.find((r) => r.method() === 'POST');
    assert.equal(post.headers()['content-type'], 'application/json');
    assert.equal(JSON.parse(post.postData()).command, 'clear-messages');

    // Reloaded, the tab still knows the token: no prompt, every request carries it.
    apiRequests.length = 0;
    await page.reload();
    await page.locator('#link-state[data-state="live"]').waitFor();
    assert.ok(await dialog.isHidden());
    assert.ok(apiRequests.length > 0);
    for (const r of apiRequests) {
      assert.equal(r.headers().authorization, 'Bearer ' + token, r.url());
    }

    // Cancelling the prompt locks the page and says how to go on.
    const fresh = await browser.newPage();
    await fresh.goto(halvyn.url);
    await fresh.locator('#token-dialog').waitFor({ state: 'visible' });
    await fresh.click('#token-cancel');
    await fresh.locator('#banner-action').waitFor({ state: 'visible' });
    assert.match(await fresh.textContent('#banner-text'), /needs its access token/);
    await fresh.click('#banner-action');
    await fresh.fill('#token-input', token);
    await fresh.keyboard.press('Enter');
    await fresh.locator('#link-state[data-state="live"]').waitFor();
  });
});
