// Test harness for the console's browser tests: runs a real halvyn with its console on a free
// loopback port in its own working directory, launches Debian's Chromium through
// playwright-core, and plays remote devices with UDP sockets on loopback.
import { spawn } from 'node:child_process';
import dgram from 'node:dgram';
import { mkdtemp, mkdir, rm } from 'node:fs/promises';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));

export const HALVYN_BIN = process.env.HALVYN_BIN ||
  path.resolve(here, '../../build/default/app/halvyn');
export const HALVYN_DEVSIM_BIN = process.env.HALVYN_DEVSIM_BIN ||
  path.resolve(here, '../../build/default/tools/devsim/halvyn-devsim');
export const HALVYN_CLIENT_BIN = process.env.HALVYN_CLIENT_BIN ||
  path.resolve(path.dirname(HALVYN_BIN), '../tools/client/halvyn-client');
export const CHROMIUM = process.env.CHROMIUM_BIN || '/usr/bin/chromium';
// run.sh sets this once the tests run in a network namespace of their own.
export const PRIVATE_NETWORK = process.env.HALVYN_PRIVATE_NETWORK === '1';
export const ARTIFACT_DIR = process.env.ARTIFACT_DIR || path.join(here, 'artifacts');

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Retries check() until it returns without throwing (and not false) or the time is up; then
// rethrows its last failure. Assertions inside check() are retried.
export async function eventually(check, { timeout = 8000, interval = 40 } = {}) {
  const deadline = Date.now() + timeout;
  for (;;) {
    let failure;
    try {
      const result = await check();
      if (result !== false) return result;
      failure = new Error('condition still false after ' + timeout + ' ms');
    } catch (e) {
      failure = e;
    }
    if (Date.now() > deadline) throw failure;
    await sleep(interval);
  }
}

export async function freeTcpPort(host = '127.0.0.1') {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, host, () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export async function freeUdpPort() {
  const s = dgram.createSocket('udp4');
  await new Promise((resolve, reject) => {
    s.once('error', reject);
    s.bind(0, '127.0.0.1', resolve);
  });
  const { port } = s.address();
  await new Promise((r) => s.close(r));
  return port;
}

// A UDP socket that holds a port, so that the relay server's bind fails.
export async function holdUdpPort() {
  const s = dgram.createSocket({ type: 'udp4', reuseAddr: false });
  await new Promise((resolve, reject) => {
    s.once('error', reject);
    s.bind(0, '127.0.0.1', resolve);
  });
  s.unref();  // a failed test must not keep the test process alive
  return { port: s.address().port, close: () => new Promise((r) => s.close(r)) };
}

// One halvyn process with its console.
export class Halvyn {
  // consoleAddress: where the console listens; urlHost: the address the page and the API
  // use (the console address unless that is 0.0.0.0). Without a token on an address other
  // than loopback, halvyn prints the token it made, and the harness uses it for the API.
  static async start({ consolePort, token, cwd, args = [], consoleAddress = '127.0.0.1',
    urlHost } = {}) {
    if (!PRIVATE_NETWORK) {
      // halvyn's network start-up joins multicast groups and asks for the gateway's MAC.
      throw new Error('run the browser tests through run.sh, which gives them a private network');
    }
    const h = new Halvyn();
    h.consolePort = consolePort || await freeTcpPort();
    h.token = token || '';
    h.ownCwd = !cwd;
    h.cwd = cwd || await mkdtemp(path.join(os.tmpdir(), 'halvyn-console-'));
    h.url = `http://${urlHost || consoleAddress}:${h.consolePort}/`;
    h.stdout = '';
    h.stderr = '';
    const argv = ['--console', `${consoleAddress}:${h.consolePort}`, ...args];
    if (token) argv.push('--token', token);
    h.proc = spawn(HALVYN_BIN, argv, { cwd: h.cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    h.exited = new Promise((resolve) => {
      h.proc.once('exit', (code, signal) => resolve({ code, signal }));
      h.proc.once('error', (error) => resolve({ code: null, signal: null, error }));
    });
    h.proc.stdout.setEncoding('latin1').on('data', (d) => { h.stdout += d; });
    h.proc.stderr.setEncoding('latin1').on('data', (d) => { h.stderr += d; });
    await h.waitForConsole();
    // Start-up may queue message boxes of its own (network start-up on a machine without a
    // LAN); each test begins with none.
    for (let i = 0; i < 10; i++) {
      const w = await h.window();
      if (!w.messageBoxes.length) break;
      await h.command('dismiss-message');
    }
    return h;
  }

  async waitForConsole(timeout = 20000) {
    const deadline = Date.now() + timeout;
    for (;;) {
      const early = await Promise.race([this.exited, sleep(0).then(() => null)]);
      if (early) {
        throw new Error(`halvyn ended during start-up (${JSON.stringify(early)}): ${this.stderr}`);
      }
      const printed = /^Console token: (\S+)$/m.exec(this.stdout);
      if (!this.token && printed) this.token = printed[1];
      try {
        const res = await this.api('/api/window');
        if (res.ok) return;
      } catch {
        // not listening yet
      }
      if (Date.now() > deadline) throw new Error('halvyn console did not come up: ' + this.stderr);
      await sleep(50);
    }
  }

  api(pathname, init = {}) {
    const headers = new Headers(init.headers || {});
    if (this.token) headers.set('Authorization', 'Bearer ' + this.token);
    return fetch(new URL(pathname, this.url), { ...init, headers });
  }

  async window() {
    const res = await this.api('/api/window');
    if (!res.ok) throw new Error('GET /api/window: HTTP ' + res.status);
    return res.json();
  }

  async command(command, extra = {}) {
    const res = await this.api('/api/command', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ command, ...extra }),
    });
    if (!res.ok) throw new Error(`POST ${command}: HTTP ${res.status}`);
    return res.json();
  }

  async running() {
    return (await Promise.race([this.exited, sleep(0).then(() => null)])) === null;
  }

  // Ends the process by the close command's signal; kills it if it does not end.
  async stop() {
    if (await this.running()) {
      this.proc.kill('SIGTERM');
      const ended = await Promise.race([this.exited, sleep(5000).then(() => null)]);
      if (!ended) {
        this.proc.kill('SIGKILL');
        await this.exited;
      }
    }
    if (this.ownCwd) await rm(this.cwd, { recursive: true, force: true });
  }
}

// Chromium with a fresh profile, headless.
export async function launchBrowser({ width = 1100, height = 960 } = {}) {
  const profile = await mkdtemp(path.join(os.tmpdir(), 'halvyn-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width, height },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const errors = [];
  context.on('weberror', (e) => errors.push(String(e.error())));
  return {
    context,
    errors,
    async newPage() {
      const page = await context.newPage();
      page.on('pageerror', (e) => errors.push(String(e)));
      page.on('console', (m) => {
        if (m.type() === 'error') errors.push(m.text());
      });
      return page;
    },
    async close() {
      await context.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// Opens the console in a page and waits until it shows live state.
export async function openConsole(browser, halvyn) {
  const page = await browser.newPage();
  await page.goto(halvyn.url);
  await page.locator('#link-state[data-state="live"]').waitFor({ timeout: 10000 });
  return page;
}

// Types the port and clicks Start/Stop in one task of the page. The port box is bound to the
// stored port: an event arriving between a separate fill and click puts that back (as it
// does for the operator), and the click would then start on it.
export async function startStopWithPort(page, portText) {
  await page.waitForFunction(() => !document.getElementById('start-stop').disabled);
  await page.evaluate((text) => {
    document.getElementById('relay-port').value = text;
    document.getElementById('start-stop').click();
  }, portText);
}

// ---------------------------------------------------------------- relay protocol

// A 120-byte record-form packet: "pr", the letter, count 0, then a ClientRecord whose name
// is at record offset 0; ip (network order) at 48, port (little-endian) at 52, p2p_port at 60.
export function relayPacket(letter, name, { ip, port, p2pPort } = {}) {
  const b = Buffer.alloc(120);
  b.write('pr', 0, 'latin1');
  b[2] = letter.charCodeAt(0);
  b.write(name, 4, 'latin1');
  if (ip) ip.split('.').forEach((octet, i) => { b[4 + 48 + i] = Number(octet); });
  if (port !== undefined) b.writeUInt16LE(port, 4 + 52);
  if (p2pPort !== undefined) b.writeUInt16LE(p2pPort, 4 + 60);
  return b;
}

// A remote device on loopback talking to the relay port.
export class RemoteDevice {
  static async open(name, relayPort) {
    const d = new RemoteDevice();
    d.name = name;
    d.relayPort = relayPort;
    d.received = [];
    d.counts = {};  // datagrams received, by command letter
    d.socket = dgram.createSocket('udp4');
    d.socket.on('message', (msg) => {
      const letter = msg.length >= 3 ? String.fromCharCode(msg[2]) : '';
      d.counts[letter] = (d.counts[letter] || 0) + 1;
      if (d.keepReceived) d.received.push(msg);
    });
    await new Promise((resolve, reject) => {
      d.socket.once('error', reject);
      d.socket.bind(0, '127.0.0.1', resolve);
    });
    d.socket.unref();  // a failed test must not keep the test process alive
    d.port = d.socket.address().port;
    d.keepReceived = true;
    return d;
  }

  send(buffer) {
    return new Promise((resolve, reject) => {
      this.socket.send(buffer, this.relayPort, '127.0.0.1', (e) => (e ? reject(e) : resolve()));
    });
  }

  login() {
    return this.send(relayPacket('e', this.name));
  }

  // A logout carries the client's own idea of its address, which the log line shows.
  logout() {
    return this.send(relayPacket('f', this.name, { ip: '127.0.0.1', port: this.port }));
  }

  info(p2pPort) {
    return this.send(relayPacket('i', this.name, { p2pPort }));
  }

  get loginLine() {
    return `${this.name}(127.0.0.1:${this.port})login.`;
  }

  get logoutLine() {
    return `${this.name}(127.0.0.1:${this.port} ) logout.`;
  }

  close() {
    return new Promise((r) => this.socket.close(r));
  }
}

// A simulated LAN audio device (halvyn-devsim) announcing itself from a loopback address
// and recording every datagram on its register port there.
export class Devsim {
  static async start({ address, id, name }) {
    const d = new Devsim();
    d.lines = [];
    d.proc = spawn(HALVYN_DEVSIM_BIN, ['--interface', address, '--listen', `${address}:4440`,
      '--interval-ms', '200', '--id', id, '--name', name], { stdio: ['ignore', 'pipe', 'pipe'] });
    d.exited = new Promise((resolve) => d.proc.once('exit', resolve));
    let partial = '';
    d.proc.stdout.setEncoding('latin1').on('data', (chunk) => {
      const parts = (partial + chunk).split('\n');
      partial = parts.pop();
      d.lines.push(...parts);
    });
    await eventually(() => d.lines.some((l) => l.includes('listening on')), { timeout: 5000 });
    return d;
  }

  // The datagrams received: "rx SOURCE KIND register=0xRRRR length=N data=HEX".
  received() {
    return this.lines.filter((l) => l.startsWith('rx '));
  }

  async stop() {
    this.proc.kill('SIGTERM');
    await Promise.race([this.exited, sleep(3000)]);
    this.proc.kill('SIGKILL');
  }
}

export async function artifactPath(name) {
  await mkdir(ARTIFACT_DIR, { recursive: true });
  return path.join(ARTIFACT_DIR, name);
}

// ---------------------------------------------------------------- reading the page

// The log as the page holds it (the lines drawn are only those in view).
export function pageLogLines(page) {
  return page.evaluate(() => {
    const el = document.getElementById('log');
    return [...el.querySelectorAll('.log-lines div:not([hidden])')].map((d) => d.textContent);
  });
}

export function remoteDeviceNames(page) {
  return page.locator('#remote-devices li .rd-name').allTextContents();
}

// Answers the question a guarded action asks (Exit, close, Clear clients, a device selection
// that clears routes) and returns its text.
export async function confirmAction(page, yes = true) {
  const dialog = page.locator('#confirm');
  await dialog.waitFor({ state: 'visible' });
  const text = await dialog.locator('.dlg-body').textContent();
  await page.click(yes ? '#confirm-yes' : '#confirm-no');
  await dialog.waitFor({ state: 'hidden' });
  return text;
}

export async function messageBoxText(page) {
  const box = page.locator('#message-box');
  if (!(await box.evaluate((d) => d.open))) return null;
  return box.locator('#message-box-text').textContent();
}
