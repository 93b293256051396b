// Get Public IP from the page: the STUN server box's text goes with the command, the STUN
// answer (here from a responder on loopback inside the tests' private network) fills the
// public address box, and a name that does not resolve brings up "Invalid URL:".
import assert from 'node:assert/strict';
import dgram from 'node:dgram';
import { after, afterEach, before, describe, test } from 'node:test';
import {
  eventually, Halvyn, launchBrowser, messageBoxText, openConsole,
} from './harness.mjs';

const STUN_PORT = 3478;
const COOKIE = 0x2112a442;

// Answers each Binding Request with a Binding Success Response whose XOR-MAPPED-ADDRESS is
// the given address.
async function stunResponder(mapped) {
  const socket = dgram.createSocket('udp4');
  const requests = [];
  socket.on('message', (msg, from) => {
    requests.push({ msg, from });
    const answer = Buffer.alloc(32);
    answer.writeUInt16BE(0x0101, 0);
    answer.writeUInt16BE(12, 2);
    msg.copy(answer, 4, 4, 20);  // cookie and transaction ID
    answer.writeUInt16BE(0x0020, 20);
    answer.writeUInt16BE(8, 22);
    answer[25] = 0x01;
    answer.writeUInt16BE(from.port ^ 0x2112, 26);
    const address = mapped.split('.').reduce((value, octet) => value * 256 + Number(octet), 0);
    answer.writeUInt32BE((address ^ COOKIE) >>> 0, 28);
    socket.send(answer, from.port, from.address);
  });
  await new Promise((resolve, reject) => {
    socket.once('error', reject);
    socket.bind(STUN_PORT, '127.0.0.1', resolve);
  });
  return { requests, close: () => new Promise((r) => socket.close(r)) };
}

describe('Get Public IP through the page', () => {
  let browser;
  let halvyn;
  let page;
  const cleanups = [];

  before(async () => {
    browser = await launchBrowser();
    halvyn = await Halvyn.start();
    page = await openConsole(browser, halvyn);
  });
  after(async () => {
    await browser.close();
    await halvyn.stop();
  });
  afterEach(async () => {
    while (cleanups.length) await cleanups.pop()();
    assert.deepEqual(browser.errors.splice(0), [], 'the page logged no errors');
  });

  test('the typed server is asked and its answer fills the public address box', async () => {
    const stun = await stunResponder('203.0.113.77');
    cleanups.push(stun.close);
    await page.fill('#stun-server', '127.0.0.1');
    await page.click('#get-public-ip');

    await eventually(async () => assert.equal(await page.inputValue('#public-address'), '203.0.113.77'));
    assert.equal(stun.requests.length, 1);
    const { msg, from } = stun.requests[0];
    assert.equal(msg.length, 20);
    assert.equal(msg.readUInt16BE(0), 0x0001);
    assert.equal(msg.readUInt32BE(4), COOKIE);
    assert.equal(from.port, 19002, 'the request leaves from the device socket');
    assert.equal((await halvyn.window()).publicAddress, '203.0.113.77');
    assert.equal(await page.inputValue('#stun-server'), '127.0.0.1', 'the typed text stays');
  });

  test('with no answer after 3 s the page says so beside the box, once asked', async () => {
    await page.fill('#stun-server', '127.0.0.1');  // nothing answers there
    await page.click('#get-public-ip');
    assert.ok(await page.locator('#stun-hint').isHidden());
    await page.locator('#stun-hint').waitFor({ state: 'visible', timeout: 6000 });
    assert.match(await page.textContent('#stun-hint'),
      /^No answer from 127\.0\.0\.1 after [34] s\. The request is sent once; press Get Public IP to ask again\.$/);
    const stun = await stunResponder('203.0.113.78');
    cleanups.push(stun.close);
    await page.click('#get-public-ip');
    await eventually(async () => assert.equal(await page.inputValue('#public-address'), '203.0.113.78'));
    assert.ok(await page.locator('#stun-hint').isHidden(), 'an answer takes the hint away');
  });

  test('a server name that does not resolve gives "Invalid URL:" and the name', async () => {
    await page.fill('#stun-server', 'no-such-stun.invalid');
    await page.click('#get-public-ip');
    await page.locator('#message-box').waitFor({ state: 'visible', timeout: 20000 });
    assert.equal(await messageBoxText(page), 'Invalid URL:no-such-stun.invalid');
    await page.keyboard.press('Enter');
    await page.locator('#message-box').waitFor({ state: 'hidden' });
  });
});
