// The page's surroundings in the tests: the interface origin served from src/launcher/ui exactly as
// the request filter answers, and a stand-in for window.chrome.webview played by the test.
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const UI_FOLDER = path.resolve(here, '../../src/launcher/ui');
export const ORIGIN = 'https://loader.muvra.invalid/';

const FILES = ['index.html', 'loader.html', 'styles.css', 'loader.css', 'app.js', 'loader.js',
  'version.js', 'images/mm2.png', 'images/bloom.png'];

function contentType(file) {
  if (file.includes('.png')) return 'image/png';
  if (file.includes('.css')) return 'text/css';
  if (file.includes('.js')) return 'application/javascript';
  return 'text/html';
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--no-first-run'],
  });
}

// Runs in the page before its scripts: posted requests go to window.__host.handle, whose answer
// (if any) comes back as a message event, after the handler's promise settles.
function standIn() {
  const listeners = [];
  window.__requests = [];
  window.__host = { handle: () => undefined };
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(message) {
      window.__requests.push(message);
      Promise.resolve(window.__host.handle(message)).then((reply) => {
        if (reply !== undefined) window.__deliver(reply);
      });
    },
    addEventListener(type, listener) {
      if (type === 'message') listeners.push(listener);
    },
  };
  window.__answered = new Set();
  window.__deliver = (reply) => {
    window.__answered.add(reply.id);
    for (const listener of listeners) listener({ data: reply });
  };
}

// A page at the interface origin. `requests` lists every address the page asked for.
export async function openPage(browser, { page: file = 'loader.html', bridge = true,
  viewport = { width: 540, height: 650 }, before } = {}) {
  const context = await browser.newContext({ viewport });
  const page = await context.newPage();
  const requests = [];
  await context.route('**/*', async (route) => {
    const url = route.request().url();
    requests.push(url);
    const name = url.startsWith(ORIGIN) ? url.slice(ORIGIN.length) : null;
    if (name === null || !FILES.includes(name)) {
      await route.fulfill({ status: 403, headers: { 'Content-Type': 'text/plain' }, body: '' });
      return;
    }
    await route.fulfill({
      status: 200,
      headers: {
        'Content-Type': `${contentType(name)}; charset=utf-8`,
        'Cache-Control': 'no-store',
        'X-Content-Type-Options': 'nosniff',
      },
      body: await readFile(path.join(UI_FOLDER, name)),
    });
  });
  if (bridge) await page.addInitScript(standIn);
  if (before) await before(page);
  await page.goto(ORIGIN + file);
  return { context, page, requests };
}

// Makes the stand-in answer "get_loader_state" with `state` and other methods by `others`.
export async function serveState(page, state, others = {}) {
  await page.evaluate(([s, o]) => {
    window.__state = s;
    window.__host.handle = (message) => {
      if (message.method === 'get_loader_state') {
        return { id: message.id, result: Object.assign({ loaderVersion: '2.5' }, window.__state) };
      }
      if (message.method in o) return Object.assign({ id: message.id }, o[message.method]);
      return { id: message.id, result: true };
    };
    // Requests that arrived before this host answered anything get their answer now.
    for (const message of window.__requests) {
      if (!window.__answered.has(message.id)) window.__deliver(window.__host.handle(message));
    }
  }, [state, others]);
}

export async function view(page) {
  return page.evaluate(() => {
    const byId = (id) => document.getElementById(id);
    return {
      title: byId('loaderTitle').textContent,
      message: byId('loaderMessage').textContent,
      release: byId('latestVersion').textContent,
      installation: byId('installedVersion').textContent,
      badge: byId('loaderBadge').textContent,
      badgeState: byId('loaderBadge').dataset.state,
      launchDisabled: byId('launchBtn').disabled,
      checkDisabled: byId('checkBtn').disabled,
      cancelHidden: byId('cancelBtn').hidden,
      areaHidden: byId('downloadArea').hidden,
      progress: byId('downloadProgress').value,
      progressMax: byId('downloadProgress').max,
      detail: byId('downloadDetail').textContent,
      version: document.querySelector('[data-version]').textContent,
    };
  });
}
