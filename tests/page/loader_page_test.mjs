// The launcher page in real Chromium at its own origin, with the host's half of the bridge
// played by the test.
import assert from 'node:assert/strict';
import { mkdir } from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, openPage, ORIGIN, serveState, UI_FOLDER, view } from './host.mjs';

const SCREENSHOTS = path.resolve(UI_FOLDER, '../../../build/page-screenshots');
const MIB = 1048576;

const base = { phase: 'idle', message: 'Check for the latest verified Muvra release.', latestVersion: '',
  progress: 0, downloaded: 0, total: 0, canLaunch: false, busy: false };

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser.close(); });

async function opened(options) {
  const opened = await openPage(browser, options);
  return opened;
}

// A fake clock that stands still until the test runs it, so real time spent loading counts for nothing.
async function stoppedClock(page) {
  await page.clock.install({ time: 0 });
  await page.clock.pauseAt(1000);
}

async function until(page, predicate, argument) {
  await page.waitForFunction(predicate, argument, { timeout: 10000 });
}

async function drawn(page, title) {
  await until(page, (t) => document.getElementById('loaderTitle').textContent === t, title);
  return view(page);
}

describe('before the first answer', () => {
  test('shows the initial texts and keeps one state request outstanding', async () => {
    const { context, page } = await opened({ before: stoppedClock });
    await page.clock.runFor(2000);
    const shown = await view(page);
    assert.deepEqual(
      [shown.title, shown.message, shown.release, shown.installation, shown.badge, shown.badgeState],
      ['Getting things ready', 'Connecting to the desktop\u2026', 'Not checked', 'Not verified',
        'Launcher', 'connecting']);
    assert.equal(shown.launchDisabled, true);
    assert.equal(shown.cancelHidden, true);
    assert.equal(shown.areaHidden, true);
    assert.equal(shown.progressMax, 100);
    assert.equal(shown.version, 'v2.5');
    const requests = await page.evaluate(() => window.__requests);
    assert.deepEqual(requests, [{ id: 1, method: 'get_loader_state', params: [] }]);
    await context.close();
  });

  test('a request without reply times out after 15 s and the page says so', async () => {
    const { context, page } = await opened({ before: stoppedClock });
    await page.clock.runFor(14900);
    assert.equal((await view(page)).message, 'Connecting to the desktop\u2026');
    await page.clock.runFor(200);
    assert.equal((await view(page)).message, 'The desktop request timed out.');
    await page.clock.runFor(400);
    const ids = await page.evaluate(() => window.__requests.map((r) => r.id));
    assert.deepEqual(ids, [1, 2], 'the next refresh runs once the first has given up');
    await context.close();
  });

  test('outside the browser view every refresh says where to open it', async () => {
    const { context, page } = await opened({ bridge: false });
    const shown = await view(page);
    assert.equal(shown.message, 'Open the Muvra desktop app to use these controls.');
    assert.equal(shown.title, 'Getting things ready');
    await context.close();
  });
});

describe('a state that cannot be drawn', () => {
  for (const [name, reply] of [['a result that is not an object', { result: null }],
    ['an error reply without text', { error: '' }]]) {
    test(`${name} does not stop the polling`, async () => {
      const { context, page } = await opened({ before: stoppedClock });
      await page.evaluate((r) => {
        window.__host.handle = (message) => Object.assign({ id: message.id }, r);
        for (const message of window.__requests) window.__deliver(window.__host.handle(message));
      }, reply);
      await page.clock.runFor(1100);
      const polls = await page.evaluate(() => window.__requests.length);
      assert.ok(polls >= 3, `${polls} state requests in 1.1 s`);
      await serveState(page, { ...base, phase: 'ready', canLaunch: true });
      await page.clock.runFor(400);
      await drawn(page, 'Ready when you are');
      await context.close();
    });
  }
});

const PHASES = [
  ['checking', { busy: true }, 'Checking for updates', 'Working', 'connecting', true, true, false, false, 'Working\u2026'],
  ['downloading', { busy: true, progress: 27, downloaded: 3670016, total: 12582912 }, 'Getting Muvra ready',
    'Working', 'connecting', true, true, false, false, '3.5 / 12.0 MB \u00b7 27%'],
  ['verifying', { busy: true, progress: 95, downloaded: 12 * MIB, total: 12 * MIB }, 'Verifying your update',
    'Working', 'connecting', true, true, false, false, '12.0 / 12.0 MB \u00b7 95%'],
  ['ready', { canLaunch: true, progress: 100, total: 12 * MIB }, 'Ready when you are', 'Ready', 'ready',
    false, false, true, false, '0.0 / 12.0 MB \u00b7 100%'],
  ['launching', { canLaunch: true, busy: true }, 'Opening Muvra', 'Working', 'ready', true, true, false, false,
    'Working\u2026'],
  ['launched', { canLaunch: true, progress: 100 }, 'Muvra is open', 'Ready', 'ready', false, false, true, false, ''],
  ['error', {}, 'Something needs attention', 'Launcher', 'error', true, false, true, true, ''],
  ['error', { canLaunch: true }, 'Something needs attention', 'Ready', 'error', false, false, true, true, ''],
  ['cancelled', {}, 'Update cancelled', 'Launcher', 'connecting', true, false, true, true, ''],
  ['idle', {}, 'Your next session starts here', 'Launcher', 'connecting', true, false, true, true, ''],
  ['mystery', {}, 'Muvra', 'Launcher', 'connecting', true, false, true, true, ''],
];

describe('each phase', () => {
  for (const [phase, change, title, badge, badgeState, launchDisabled, checkDisabled, cancelHidden,
    areaHidden, detail] of PHASES) {
    test(`${phase} ${JSON.stringify(change)}`, async () => {
      const { context, page } = await opened();
      await serveState(page, { ...base, ...change, phase, message: `In ${phase}.`, latestVersion: 'v15' });
      const shown = await drawn(page, title);
      assert.deepEqual(
        { badge: shown.badge, badgeState: shown.badgeState, launchDisabled: shown.launchDisabled,
          checkDisabled: shown.checkDisabled, cancelHidden: shown.cancelHidden, areaHidden: shown.areaHidden,
          detail: shown.detail, message: shown.message, release: shown.release },
        { badge, badgeState, launchDisabled, checkDisabled, cancelHidden, areaHidden, detail,
          message: `In ${phase}.`, release: 'v15' });
      assert.equal(shown.installation, change.canLaunch ? 'Verified' : 'Not verified');
      assert.equal(shown.progress, change.progress || 0);
      await context.close();
    });
  }
});

describe('buttons', () => {
  test('a refused action shows its sentence until the next refresh replaces it', async () => {
    const { context, page } = await opened();
    await serveState(page, { ...base, phase: 'ready', canLaunch: true, progress: 100, message: 'Ready.' },
      { check_update: { error: 'An operation is still running.' } });
    await drawn(page, 'Ready when you are');
    await page.evaluate(() => {
      window.__shown = [];
      new MutationObserver(() => window.__shown.push(document.getElementById('loaderMessage').textContent))
        .observe(document.getElementById('loaderMessage'), { childList: true, characterData: true, subtree: true });
    });
    await page.click('#checkBtn');
    await until(page, () => window.__shown.includes('An operation is still running.') &&
      document.getElementById('loaderMessage').textContent === 'Ready.');
    const methods = await page.evaluate(() => window.__requests.map((r) => r.method));
    assert.ok(methods.includes('check_update'));
    await context.close();
  });

  test('launch, cancel and the window controls call their methods', async () => {
    const { context, page } = await opened();
    await serveState(page, { ...base, phase: 'checking', busy: true });
    await drawn(page, 'Checking for updates');
    await page.click('#cancelBtn');
    await serveState(page, { ...base, phase: 'ready', canLaunch: true });
    await drawn(page, 'Ready when you are');
    await page.click('#launchBtn');
    await page.click('#minimizeBtn');
    await page.mouse.move(40, 20);
    await page.mouse.down();
    await page.mouse.up();
    await page.click('#closeBtn');
    const methods = await page.evaluate(() => window.__requests.map((r) => r.method)
      .filter((m) => m !== 'get_loader_state'));
    assert.deepEqual(methods, ['cancel_update', 'launch_app', 'minimize', 'drag_window', 'close']);
    await context.close();
  });

  test('a press on a header button does not drag the window', async () => {
    const { context, page } = await opened();
    await serveState(page, base);
    const box = await page.locator('#minimizeBtn').boundingBox();
    await page.mouse.move(box.x + 5, box.y + 5);
    await page.mouse.down();
    await page.mouse.up();
    const methods = await page.evaluate(() => window.__requests.map((r) => r.method));
    assert.ok(!methods.includes('drag_window'));
    assert.ok(methods.includes('minimize'));
    await context.close();
  });
});

describe('bridge', () => {
  test('replies are matched by id whatever their order; an empty error resolves', async () => {
    const { context, page } = await opened();
    const results = await page.evaluate(async () => {
      const held = [];
      window.__host.handle = (message) => {
        if (message.method === 'get_loader_state') return undefined;
        held.push(message);
        if (held.length === 3) {
          window.__deliver({ id: held[2].id, error: '' });
          window.__deliver({ id: held[1].id, error: 'second failed' });
          window.__deliver({ id: held[0].id, result: 'first' });
          window.__deliver({ id: held[0].id, result: 'late duplicate' });
          window.__deliver({ event: 'custom', value: 7 });
        }
        return undefined;
      };
      const events = [];
      window.addEventListener('muvra-custom', (event) => events.push(event.detail.value));
      const settled = await Promise.allSettled([
        window.muvra.call('one', 1), window.muvra.call('two'), window.muvra.call('three', true, 'x')]);
      return { settled: settled.map((s) => (s.status === 'fulfilled' ? ['ok', s.value ?? null] : ['error', s.reason.message])),
        params: held.map((m) => m.params), events };
    });
    assert.deepEqual(results.settled, [['ok', 'first'], ['error', 'second failed'], ['ok', null]]);
    assert.deepEqual(results.params, [[1], [], [true, 'x']]);
    assert.deepEqual(results.events, [7]);
    await context.close();
  });
});

describe('policy and origin', () => {
  test('nothing leaves the origin and inline script does not run', async () => {
    const { context, page, requests } = await opened();
    await serveState(page, base);
    await drawn(page, 'Your next session starts here');
    const outcome = await page.evaluate(async () => {
      const violations = [];
      document.addEventListener('securitypolicyviolation', (e) => violations.push(e.violatedDirective));
      const script = document.createElement('script');
      script.textContent = 'window.__inline = true;';
      document.body.appendChild(script);
      let fetched = 'no';
      try {
        await fetch('https://example.com/');
        fetched = 'yes';
      } catch (error) {
        fetched = 'refused';
      }
      const image = new Image();
      image.src = 'https://example.com/pixel.png';
      await new Promise((resolve) => { image.onerror = resolve; image.onload = resolve; });
      await new Promise((resolve) => setTimeout(resolve, 0));
      return { inline: window.__inline === true, fetched, violations };
    });
    assert.equal(outcome.inline, false);
    assert.equal(outcome.fetched, 'refused');
    assert.ok(outcome.violations.some((d) => d.startsWith('script-src')), outcome.violations.join());
    assert.ok(outcome.violations.some((d) => d.startsWith('connect-src')), outcome.violations.join());
    const foreign = requests.filter((url) => !url.startsWith(ORIGIN));
    assert.deepEqual(foreign, []);
    const images = await page.evaluate(() => [...document.images].map((i) => i.naturalWidth));
    assert.deepEqual(images, [152]);  // the decorative bloom, drawn 76 px wide
    await context.close();
  });

  test('the control-centre page loads its own interface', async () => {
    const { context, page, requests } = await opened({ page: 'index.html' });
    assert.equal(await page.title(), 'Muvra / Control center');
    await until(page, () => document.querySelectorAll('#settingsList .setting-row').length > 0);
    assert.equal(await page.evaluate(() => document.querySelector('[data-version]').textContent), 'v2.5');
    assert.deepEqual(requests.filter((url) => !url.startsWith(ORIGIN)), []);
    await context.close();
  });
});

describe('screenshots', () => {
  for (const [width, height] of [[540, 650], [430, 510]]) {
    test(`${width}x${height}`, async () => {
      const { context, page } = await opened({ viewport: { width, height } });
      await serveState(page, { ...base, phase: 'downloading', busy: true, progress: 27, downloaded: 3670016,
        total: 12582912, latestVersion: 'v15',
        message: 'Downloading your update. The previous installation is kept until verification.' });
      await drawn(page, 'Getting Muvra ready');
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth > window.innerWidth);
      assert.equal(overflow, false);
      await mkdir(SCREENSHOTS, { recursive: true });
      await page.screenshot({ path: path.join(SCREENSHOTS, `loader-${width}x${height}.png`) });
      await context.close();
    });
  }
});
