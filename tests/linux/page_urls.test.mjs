// Page URLs from real browsers over AT-SPI, read by the real agent in a
// private session: its own session bus, X display with a window manager,
// accessibility bus and browser profiles. Everything started here is stopped
// by pid, also when a test fails.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';

import { startAgent } from '../support/services/page_requests.mjs';
import {
  accessibilityEnabled, setAccessibilityEnabled, startAccessibilityBus, startBusWithoutServices,
} from '../support/services/a11y.mjs';
import { servePages, startChromium, startFirefox, writePages } from '../support/services/browsers.mjs';
import { startDisplay } from '../support/services/display.mjs';
import { startSession } from '../support/services/session.mjs';

// What a request may take when the application it reads does not answer at
// all: the call that goes unanswered (at most twice the messaging timeout of
// 1.0 s: libatspi may start its wait over once), the query's four waits of
// 0.3 s, and an allowance for the sanitizer build on a loaded machine.
// Without the bound every element read would wait, and a reply could take
// hours.
const hungReplyBoundMs = 6000;

const sorted = (urls) => [...urls].sort();

async function desktopSession(name) {
  const session = await startSession({ name });
  try {
    await startDisplay(session);
    const bus = await startAccessibilityBus(session);
    return { session, bus };
  } catch (error) {
    await session.stop();
    throw error;
  }
}

describe('Firefox ESR started with accessibility off', () => {
  let session;
  let server;
  let agent;
  let firefox;
  let pages;

  before(async () => {
    ({ session } = await desktopSession('firefox'));
    assert.equal(await accessibilityEnabled(session), false);
    server = await servePages(['First window', 'Second window', 'Behind the second']);
    const [first, second, behind] = server.pages;
    // The page in the background tab is in Firefox's tree too, as a document
    // that is not showing: it is no page of the reply.
    pages = [first, second];
    firefox = await startFirefox(session,
      { windows: [first, [second, behind]], loaded: (page) => server.loaded(page) });
    agent = await startAgent(session);
  });

  after(async () => {
    if (firefox) process.kill(firefox.pid, 'SIGCONT');
    await session?.stop();
    await server?.close();
  });

  test('a request by pid switches accessibility on, reads both windows and switches it off', async () => {
    const reply = await agent.request({ pid: firefox.pid });
    assert.equal(reply.trusted, true);
    assert.deepEqual(sorted(reply.urls), sorted(pages.map((p) => p.url)));
    assert.equal(await accessibilityEnabled(session), false, 'the switch is off again');
  });

  test('a switch that was on before the request stays on', async () => {
    await setAccessibilityEnabled(session, true);
    try {
      const reply = await agent.request({ pid: firefox.pid });
      assert.deepEqual(sorted(reply.urls), sorted(pages.map((p) => p.url)));
      assert.equal(await accessibilityEnabled(session), true, 'the switch is still on');
    } finally {
      await setAccessibilityEnabled(session, false);
    }
  });

  test('a request by the desktop id finds the browser', async () => {
    const reply = await agent.request({ bundleIds: ['firefox-esr'] });
    assert.deepEqual(sorted(reply.urls), sorted(pages.map((p) => p.url)));
    const none = await agent.request({ bundleIds: ['org.example.not-installed'] });
    assert.deepEqual(none.urls, []);
  });

  test('a browser stopped between requests costs a bounded wait, and the agent goes on', async (t) => {
    const before = await agent.request({ pid: firefox.pid });
    assert.equal(before.urls.length, 2);
    process.kill(firefox.pid, 'SIGSTOP');
    try {
      // Two requests while it is stopped: the second is not held up by the
      // first, and each gets its reply within the bound.
      const first = agent.send({ pid: firefox.pid });
      const second = agent.send({ pid: firefox.pid });
      const firstReply = await agent.answer(first.id);
      const secondReply = await agent.answer(second.id);
      const firstMs = firstReply.receivedAt - first.sentAt;
      const secondMs = secondReply.receivedAt - firstReply.receivedAt;
      t.diagnostic(`replies while stopped after ${firstMs.toFixed(0)} ms and ${secondMs.toFixed(0)} ms more`);
      for (const [reply, ms] of [[firstReply, firstMs], [secondReply, secondMs]]) {
        assert.equal(reply.trusted, true);
        assert.deepEqual(reply.urls, []);
        assert.ok(ms < hungReplyBoundMs, `reply after ${ms.toFixed(0)} ms`);
      }
      assert.equal(await accessibilityEnabled(session), false, 'the switch is off again');
      // With the switch on already the query makes fewer attempts.
      await setAccessibilityEnabled(session, true);
      const onAlready = await agent.request({ pid: firefox.pid });
      t.diagnostic(`reply while stopped, switch on already, after ${onAlready.tookMs.toFixed(0)} ms`);
      assert.deepEqual(onAlready.urls, []);
      assert.ok(onAlready.tookMs < hungReplyBoundMs, `reply after ${onAlready.tookMs.toFixed(0)} ms`);
      assert.equal(await accessibilityEnabled(session), true, 'the switch is still on');
    } finally {
      process.kill(firefox.pid, 'SIGCONT');
      await setAccessibilityEnabled(session, false);
    }
    const after = await agent.request({ pid: firefox.pid });
    assert.deepEqual(sorted(after.urls), sorted(pages.map((p) => p.url)));
  });
});

describe('Chromium started with accessibility on', () => {
  let session;
  let agent;
  let chromium;
  let shown;

  before(async () => {
    ({ session } = await desktopSession('chromium'));
    const [first, hidden, second] = writePages(session, ['Shown first', 'Behind it', 'Shown second']);
    shown = [first, second];
    // The first window also holds a tab in the background: a document that
    // is not showing is not a page.
    chromium = await startChromium(session, { windows: [[first, hidden], [second]] });
    agent = await startAgent(session);
  });

  after(async () => {
    await session?.stop();
  });

  test('each window answers with the page it shows', async () => {
    const reply = await agent.request({ pid: chromium.pid });
    assert.equal(reply.trusted, true);
    assert.deepEqual(sorted(reply.urls), sorted(shown.map((p) => p.url)));
    assert.equal(await accessibilityEnabled(session), false);
  });

  test('started without accessibility it shows nothing, even with the switch turned on', async () => {
    const [page] = writePages(session, ['Not exposed']);
    const plain = await startChromium(session, { windows: [[page]], accessibility: false });
    try {
      const reply = await agent.request({ pid: plain.pid });
      assert.equal(reply.trusted, true);
      assert.deepEqual(reply.urls, []);
      // The one started with accessibility still answers beside it.
      const other = await agent.request({ pid: chromium.pid });
      assert.deepEqual(sorted(other.urls), sorted(shown.map((p) => p.url)));
    } finally {
      await plain.stop();
    }
  });
});

describe('without an accessibility bus', () => {
  let session;

  before(async () => {
    session = await startSession({ name: 'no-a11y' });
    await startDisplay(session, { windowManager: false });
  });

  after(async () => {
    await session?.stop();
  });

  test('requests are answered untrusted and empty until a bus appears', async () => {
    // A session bus that starts nothing on demand, as where the accessibility
    // packages are missing.
    const bare = await startBusWithoutServices(session);
    const env = { ...session.env, DBUS_SESSION_BUS_ADDRESS: bare.address };
    const agent = await startAgent(session, { env });
    for (const fields of [{ pid: bare.pid }, { pid: process.pid }, { bundleIds: ['firefox-esr'] }]) {
      const reply = await agent.request(fields);
      assert.equal(reply.trusted, false, JSON.stringify(fields));
      assert.deepEqual(reply.urls, []);
    }
    // The bus can come later; the agent notices without a restart.
    const launcher = session.spawn('/usr/libexec/at-spi-bus-launcher', ['--launch-immediately'],
      { env, name: 'at-spi-bus-launcher' });
    await session.waitFor(async () => {
      const reply = await agent.request({ pid: launcher.pid });
      return reply.trusted;
    }, { what: 'trusted once the accessibility bus runs' });
    assert.deepEqual((await agent.close()).code, 0);
  });
});
