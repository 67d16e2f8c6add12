// Real browsers in a test session: Firefox ESR and Chromium, each with a
// private profile in the session folder, started and stopped by pid. Pages are
// files in the session folder or come from a server on 127.0.0.1 that the test
// runs; nothing is fetched from the network.
import { mkdirSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { endOf } from './session.mjs';

let profiles = 0;

// Writes one small page per title and answers [{ title, url }].
export function writePages(session, titles) {
  const folder = path.join(session.dir, 'pages');
  mkdirSync(folder, { recursive: true });
  return titles.map((title) => {
    const file = path.join(folder, `${slug(title)}.html`);
    writeFileSync(file, `<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title>`
      + `</head><body><h1>${title}</h1><p>A page for the tests.</p>`
      + '<ul><li>one</li><li>two</li></ul><button>press</button></body></html>\n');
    return { title, url: pathToFileURL(file).href };
  });
}

const slug = (title) => title.replace(/[^A-Za-z0-9]+/g, '-').toLowerCase();

// Serves one small page per title from 127.0.0.1 and notes which pages have
// loaded: each asks for an image once the browser builds it, which is the
// only sign of a page in a tab that is not shown. Answers
// { pages: [{ title, url }], loaded(page), close() }.
export async function servePages(titles) {
  const loaded = new Set();
  const waiters = [];
  const server = http.createServer((request, response) => {
    const name = request.url.replace(/^\//, '');
    if (name.startsWith('loaded/')) {
      loaded.add(name.slice('loaded/'.length));
      for (const wake of waiters.splice(0)) wake();
      response.writeHead(204).end();
      return;
    }
    const title = titles.find((t) => `${slug(t)}.html` === name);
    if (!title) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
    response.end(`<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title></head>`
      + `<body><h1>${title}</h1><p>A page for the tests.</p><ul><li>one</li><li>two</li></ul>`
      + `<img alt="" src="/loaded/${slug(title)}"></body></html>\n`);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    pages: titles.map((title) => ({ title, url: `http://127.0.0.1:${port}/${slug(title)}.html` })),
    // Resolves once the page has loaded in some tab; rejects after a minute.
    loaded(page) {
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error(`${page.title} did not load`)), 60000);
        const check = () => {
          if (loaded.has(slug(page.title))) {
            clearTimeout(timer);
            resolve();
          } else {
            waiters.push(check);
          }
        };
        check();
      });
    },
    close() {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(() => resolve()));
    },
  };
}

// Waits for a visible top-level window whose title contains `title`. Browsers
// map and unmap short-lived windows while starting, so a search is repeated
// until it holds.
export async function waitForWindow(session, title, { timeoutMs = 60000 } = {}) {
  return session.waitFor(async () => {
    const { code, stdout } = await session.run('xdotool',
      ['search', '--onlyvisible', '--name', title.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')]);
    return code === 0 && stdout.trim() ? stdout.trim().split('\n')[0] : null;
  }, { timeoutMs, intervalMs: 100, what: `a window titled "${title}"` });
}

// Runs a short-lived command of the browser (one that hands a URL to the
// running instance and exits), tracked like any other process.
async function handOver(session, command, args, env, what) {
  const child = session.spawn(command, args, { env, name: what });
  const timer = setTimeout(() => session.stopProcess(child), 30000);
  await endOf(child);
  clearTimeout(timer);
  await session.stopProcess(child);
  if (child.exitCode !== 0) {
    throw new Error(`${what} ended with ${child.exitCode ?? child.signalCode}: ${child.stderrTail}`);
  }
}

const firefoxPrefs = {
  'browser.shell.checkDefaultBrowser': false,
  'browser.startup.homepage_override.mstone': 'ignore',
  'browser.startup.page': 0,
  'browser.aboutwelcome.enabled': false,
  'browser.newtabpage.enabled': false,
  'browser.tabs.warnOnClose': false,
  'browser.sessionstore.resume_from_crash': false,
  'browser.safebrowsing.malware.enabled': false,
  'browser.safebrowsing.phishing.enabled': false,
  'browser.safebrowsing.downloads.enabled': false,
  'browser.search.update': false,
  'browser.region.update.enabled': false,
  'browser.translations.enable': false,
  'browser.tabs.loadDivertedInBackground': true,
  'app.update.auto': false,
  'app.normandy.enabled': false,
  'extensions.update.enabled': false,
  'extensions.getAddons.cache.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'datareporting.healthreport.uploadEnabled': false,
  'toolkit.telemetry.enabled': false,
  'toolkit.telemetry.reportingpolicy.firstRun': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'network.dns.disablePrefetch': true,
  'network.prefetch-next': false,
  'network.http.speculative-parallel-limit': 0,
  'services.settings.server': 'http://127.0.0.1:9/',
};

// Firefox ESR with one window per entry of `windows`: a page, or a list of
// pages of which the first is shown and the others wait in background tabs
// (give those with `loaded`, from servePages, to wait until they are built).
// Whether it exposes its accessibility tree follows the session's switch, as
// on a desktop. `prefs` adds to the profile's preferences. Answers { pid, stop }.
export async function startFirefox(session, { windows, env = {}, loaded, prefs = {} }) {
  const profile = path.join(session.dir, `firefox-${++profiles}`);
  mkdirSync(profile, { recursive: true });
  writeFileSync(path.join(profile, 'user.js'), Object.entries({ ...firefoxPrefs, ...prefs })
    .map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`)
    .join(''));
  const browserEnv = { ...session.env, MOZ_CRASHREPORTER_DISABLE: '1', ...env };
  const tabsOf = (entry) => (Array.isArray(entry) ? entry : [entry]);
  const [first, ...rest] = windows.map(tabsOf);
  const browser = session.spawn('firefox-esr', ['--profile', profile, '--new-instance',
    first[0].url], { env: browserEnv, name: 'firefox-esr' });
  try {
    await waitForWindow(session, first[0].title);
    const openTabs = async (tabs) => {
      // Handed over tabs open behind the one shown (loadDivertedInBackground).
      for (const page of tabs.slice(1)) {
        await handOver(session, 'firefox-esr', ['--profile', profile, '--new-tab', page.url],
          browserEnv, 'firefox-esr --new-tab');
        if (!loaded) throw new Error('background tabs need `loaded` to wait for them');
        await loaded(page);
      }
    };
    await openTabs(first);
    for (const tabs of rest) {
      await handOver(session, 'firefox-esr', ['--profile', profile, '--new-window', tabs[0].url],
        browserEnv, 'firefox-esr --new-window');
      await waitForWindow(session, tabs[0].title);
      await openTabs(tabs);
    }
  } catch (error) {
    await session.stopProcess(browser);
    throw error;
  }
  return { pid: browser.pid, process: browser, stop: () => session.stopProcess(browser) };
}

// Chromium with one window per list of pages (tabs; the first is the one
// shown). With `accessibility` it is started the way Chromium-based
// applications must be for their pages to be readable on Linux. `program`
// starts another build of it (its windows' titles end in `title`), with
// `flags` added.
export async function startChromium(session, {
  windows, accessibility = true, env = {}, program = 'chromium', flags: extra = [], title = 'Chromium',
}) {
  const profile = path.join(session.dir, `chromium-${++profiles}`);
  mkdirSync(profile, { recursive: true });
  const flags = [
    `--user-data-dir=${profile}`,
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--no-first-run', '--no-default-browser-check', '--password-store=basic', '--disable-gpu',
  ];
  if (process.getuid?.() === 0) flags.push('--no-sandbox');
  if (accessibility) flags.push('--force-renderer-accessibility');
  flags.push(...extra);
  const browserEnv = { ...session.env, ...env };
  if (accessibility) browserEnv.ACCESSIBILITY_ENABLED = '1';
  const [first, ...rest] = windows;
  const browser = session.spawn(program, [...flags, '--new-window', ...first.map((p) => p.url)],
    { env: browserEnv, name: path.basename(program) });
  try {
    await waitForWindow(session, `${first[0].title} - ${title}`);
    for (const tabs of rest) {
      await handOver(session, program, [...flags, '--new-window', ...tabs.map((p) => p.url)],
        browserEnv, `${path.basename(program)} --new-window`);
      await waitForWindow(session, `${tabs[0].title} - ${title}`);
    }
  } catch (error) {
    await session.stopProcess(browser);
    throw error;
  }
  return { pid: browser.pid, process: browser, stop: () => session.stopProcess(browser) };
}
