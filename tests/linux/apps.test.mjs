// Which application the real agent names for real programs started the way
// users start them, outside any systemd application scope (as from a
// terminal, or under XFCE, MATE, LXQt or a plain window manager): Debian's
// Chromium behind its wrapper script, a browser laid out as vendors ship
// them, one known only by its windows' class, a Python application against a
// bare script, Firefox ESR. For each, the application a mic event names and
// the processes a lookup by id finds must agree. (Hostile desktops:
// apps_hostile.test.mjs.)
import assert from 'node:assert/strict';
import {
  chmodSync, copyFileSync, linkSync, mkdirSync, readdirSync, readFileSync, symlinkSync, writeFileSync,
} from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { startAccessibilityBus } from '../support/services/a11y.mjs';
import { startAudio } from '../support/services/audio.mjs';
import { startChromium, startFirefox } from '../support/services/browsers.mjs';
import { startDisplay } from '../support/services/display.mjs';
import { startAgent } from '../support/services/page_requests.mjs';
import { startSession } from '../support/services/session.mjs';

// Under a desktop that puts its applications in cgroup scopes, everything
// this test starts already belongs to the application it runs in.
function inApplicationScope() {
  try {
    return /\/app-[^/]*\.(scope|service)$/m.test(readFileSync('/proc/self/cgroup', 'utf8'));
  } catch {
    return false;
  }
}

const sorted = (urls) => [...urls].sort();

// A page that asks for the microphone as soon as it loads; the browsers are
// told to grant it without asking.
async function serveMicPages() {
  const server = http.createServer((request, response) => {
    const title = decodeURIComponent(request.url.replace(/^\/|\.html$/g, ''));
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
    response.end(`<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title></head>`
      + `<body><h1>${title}</h1><script>navigator.mediaDevices.getUserMedia({ audio: true })`
      + '.then((s) => { window.stream = s; })</script></body></html>\n');
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    page: (title) => ({ title, url: `http://127.0.0.1:${port}/${encodeURIComponent(title)}.html` }),
    close() {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(() => resolve()));
    },
  };
}

// The first running mic event whose application is `appPid`'s, or, without
// one, any running mic event from a process below `root`.
function isProcessBelow(pid, root) {
  for (let current = pid, depth = 0; current > 1 && depth < 8; depth++) {
    if (current === root) return true;
    try {
      const stat = readFileSync(`/proc/${current}/stat`, 'utf8');
      current = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
    } catch {
      return false;
    }
  }
  return false;
}

function micFrom(root) {
  return (m) => m.event === 'mic' && m.running && (m.pid === root || isProcessBelow(m.pid, root));
}

// What the agent says of one browser: the application of its capture, and
// the pages a lookup by that application's pid and one by its id find.
async function attributionOf(agent, browser) {
  const event = await agent.waitFor(micFrom(browser.pid), { timeoutMs: 90000, what: 'the browser capturing' });
  const byPid = await agent.request({ pid: event.appPid ?? browser.pid });
  const byId = event.bundleId ? await agent.request({ bundleIds: [event.bundleId] }) : { urls: [] };
  return { event, byPid: sorted(byPid.urls), byId: sorted(byId.urls) };
}

async function desktopSession(name) {
  const session = await startSession({ name });
  try {
    await startDisplay(session);
    await startAccessibilityBus(session);
    await startAudio(session);
    return session;
  } catch (error) {
    await session.stop();
    throw error;
  }
}

const chromiumFlags = ['--use-fake-ui-for-media-stream'];

// A private folder holding Chromium's binary under another name (a copy, or
// a link to `from` where the file system allows one) and links to
// everything else it needs beside it. Answers the binary's path.
function layOutBrowser(folder, binary, from) {
  mkdirSync(folder, { recursive: true });
  for (const name of readdirSync('/usr/lib/chromium')) {
    if (name !== 'chromium') symlinkSync(path.join('/usr/lib/chromium', name), path.join(folder, name));
  }
  const target = path.join(folder, binary);
  try {
    if (!from) throw new Error('copy');
    linkSync(from, target);
  } catch {
    copyFileSync('/usr/lib/chromium/chromium', target);
    chmodSync(target, 0o755);
  }
  return target;
}

function writeEntry(session, id, text) {
  const applications = path.join(session.env.XDG_DATA_HOME, 'applications');
  mkdirSync(applications, { recursive: true });
  writeFileSync(path.join(applications, `${id}.desktop`), `[Desktop Entry]\nType=Application\n${text}`);
}

describe('browsers as users start them', { skip: inApplicationScope() && 'this test process runs inside an application scope' }, () => {
  let session;
  let pages;
  let agent;
  let vendorBinary;
  before(async () => {
    session = await desktopSession('apps');
    pages = await serveMicPages();
    agent = await startAgent(session);
  });
  after(async () => {
    await session?.stop();
    await pages?.close();
  });

  test('Debian\'s Chromium behind its wrapper script is the application chromium', async (t) => {
    const page = pages.page('Chromium capture');
    const chromium = await startChromium(session, { windows: [[page]], flags: chromiumFlags });
    try {
      const { event, byPid, byId } = await attributionOf(agent, chromium);
      t.diagnostic(`capture by ${event.pid}: ${JSON.stringify(event)}`);
      assert.notEqual(event.pid, chromium.pid, 'the audio process captures, not the browser');
      assert.equal(event.appPid, chromium.pid);
      assert.equal(event.bundleId, 'chromium');
      assert.ok(event.appName, 'the entry\'s name');
      assert.deepEqual(byPid, [page.url]);
      assert.deepEqual(byId, byPid);
    } finally {
      await chromium.stop();
    }
  });

  test('a browser laid out as vendors ship it: a wrapper in its own folder execs a copied binary', async (t) => {
    // <data>/example-browser/{example-browser (wrapper), browser (binary),
    // everything else the binary needs}, a link to the wrapper in a folder
    // of programs, and an entry that runs the link and names the window
    // class the wrapper asks for.
    const folder = path.join(session.env.XDG_DATA_HOME, 'example-browser');
    vendorBinary = layOutBrowser(folder, 'browser');
    const wrapper = path.join(folder, 'example-browser');
    writeFileSync(wrapper, '#!/bin/bash\n# Started through a link: find the folder this script is in.\n'
      + 'HERE="`dirname "$(readlink -f "${BASH_SOURCE[0]}")"`"\n'
      + 'export CHROME_WRAPPER="`readlink -f "$0"`"\n'
      + 'exec -a "$0" "$HERE/browser" --class=Example-browser "$@"\n');
    chmodSync(wrapper, 0o755);
    const bin = path.join(session.dir, 'bin');
    mkdirSync(bin, { recursive: true });
    const link = path.join(bin, 'example-browser-stable');
    symlinkSync(wrapper, link);
    writeEntry(session, 'com.example.Browser',
      `Name=Example Browser\nExec=${link} %U\nStartupWMClass=Example-browser\n`);

    const page = pages.page('Vendor browser capture');
    const browser = await startChromium(session, { windows: [[page]], flags: chromiumFlags, program: link });
    try {
      const { event, byPid, byId } = await attributionOf(agent, browser);
      t.diagnostic(JSON.stringify(event));
      assert.equal(event.appPid, browser.pid);
      assert.equal(event.bundleId, 'com.example.Browser');
      assert.equal(event.appName, 'Example Browser');
      assert.deepEqual(byPid, [page.url]);
      assert.deepEqual(byId, byPid);
      // Debian's Chromium is not it.
      assert.deepEqual((await agent.request({ bundleIds: ['chromium'] })).urls, []);
    } finally {
      await browser.stop();
    }
  });

  test('a browser known only by the class of its windows', async (t) => {
    // No entry runs this binary: only its window's class, which the entry
    // names, tells which application it is. Its helper processes match no
    // entry; the capture is found through their parent, the browser.
    const binary = layOutBrowser(path.join(session.env.XDG_DATA_HOME, 'windowed'), 'windowed-browser',
      vendorBinary);
    writeEntry(session, 'com.example.Windowed',
      'Name=Windowed\nExec=/opt/example-nowhere/windowed %U\nStartupWMClass=Example-windowed\n');
    const page = pages.page('Windowed capture');
    const browser = await startChromium(session, { windows: [[page]], program: binary,
      flags: [...chromiumFlags, '--class=Example-windowed'] });
    try {
      const { event, byPid, byId } = await attributionOf(agent, browser);
      t.diagnostic(JSON.stringify(event));
      assert.equal(event.appPid, browser.pid);
      assert.equal(event.bundleId, 'com.example.Windowed');
      assert.equal(event.appName, 'Windowed');
      assert.deepEqual(byPid, [page.url]);
      assert.deepEqual(byId, byPid);
    } finally {
      await browser.stop();
    }
  });

  test('Firefox ESR is the application firefox-esr', async (t) => {
    const page = pages.page('Firefox capture');
    const firefox = await startFirefox(session, {
      windows: [page],
      prefs: { 'media.navigator.permission.disabled': true, 'permissions.default.microphone': 1 },
    });
    try {
      const { event, byPid, byId } = await attributionOf(agent, firefox);
      t.diagnostic(JSON.stringify(event));
      assert.equal(event.appPid, firefox.pid);
      assert.equal(event.bundleId, 'firefox-esr');
      assert.deepEqual(byPid, [page.url]);
      assert.deepEqual(byId, byPid);
    } finally {
      await firefox.stop();
    }
  });
});

describe('Python programs', { skip: inApplicationScope() && 'this test process runs inside an application scope' }, () => {
  let session;
  let agent;
  let program;
  before(async () => {
    session = await startSession({ name: 'python' });
    await startAudio(session);
    agent = await startAgent(session);
    // A program that records through a tool it starts, as many do.
    program = '#!/usr/bin/python3\nimport subprocess, sys\nsubprocess.run(["pw-record", sys.argv[1]])\n';
  });
  after(async () => {
    await session?.stop();
  });

  test('a Python application with its own entry is that application; a bare script is none', async () => {
    const bin = path.join(session.dir, 'bin');
    mkdirSync(bin, { recursive: true });
    const notes = path.join(bin, 'tondrel-notes');
    writeFileSync(notes, program);
    chmodSync(notes, 0o755);
    const applications = path.join(session.env.XDG_DATA_HOME, 'applications');
    mkdirSync(applications, { recursive: true });
    writeFileSync(path.join(applications, 'org.example.Notes.desktop'),
      `[Desktop Entry]\nType=Application\nName=Notes\nExec=${notes} %f\n`);

    const app = session.spawn(notes, [path.join(session.dir, 'notes.wav')]);
    const event = await agent.waitFor(micFrom(app.pid), { what: 'the Python application capturing' });
    assert.notEqual(event.pid, app.pid, 'its recorder captures');
    assert.equal(event.appPid, app.pid);
    assert.equal(event.bundleId, 'org.example.Notes');
    assert.equal(event.appName, 'Notes');
    await session.stopProcess(app);

    // The same program as a script of no application, run by the
    // interpreter whose own entry (python3.11.desktop on Debian 12) starts
    // an interactive prompt.
    const script = path.join(session.dir, 'bare.py');
    writeFileSync(script, program);
    const bare = session.spawn('/usr/bin/python3', [script, path.join(session.dir, 'bare.wav')]);
    const bareEvent = await agent.waitFor(micFrom(bare.pid), { what: 'the bare script capturing' });
    assert.deepEqual({ ...bareEvent, receivedAt: undefined }, {
      event: 'mic', running: true, pid: bareEvent.pid, appPid: null, bundleId: null, appName: null,
      receivedAt: undefined,
    });
    await session.stopProcess(bare);
  });
});
