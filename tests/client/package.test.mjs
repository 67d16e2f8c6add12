// The client as a package: one set of objects for require and import, one
// version everywhere, and finding the agent of the platform package (also
// from inside an Electron archive, where the runnable copy is the unpacked
// one), of the right version, or saying why not; morvane loading the same
// way and never throwing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath, pathToFileURL } from 'node:url';

import * as esm from '../../client/index.js';
import { fake } from './helpers.mjs';

const require = createRequire(import.meta.url);
const source = (dir) => fileURLToPath(new URL(`../../${dir}/`, import.meta.url));
const clientDir = source('client');
const addonDir = source('addon');
const simDir = source('packages/sim');
const { packages } = require('../../client/platforms.cjs');
const readJson = (file) => JSON.parse(fs.readFileSync(file, 'utf8'));

test('require and import give the same objects', () => {
  const cjs = require('../../client/index.cjs');
  assert.deepEqual(Object.keys(esm).sort(), Object.keys(cjs).sort());
  for (const [name, value] of Object.entries(cjs)) assert.equal(esm[name], value, name);
});

test('one version everywhere, and every platform package of the table depended on at exactly it', () => {
  const cmake = fs.readFileSync(new URL('../../CMakeLists.txt', import.meta.url), 'utf8');
  const manifests = {
    '@tondrel/client': readJson(path.join(clientDir, 'package.json')),
    '@tondrel/morvane': readJson(path.join(addonDir, 'package.json')),
    '@tondrel/sim': readJson(path.join(simDir, 'package.json')),
  };
  const { version } = manifests['@tondrel/client'];
  assert.equal(/project\(tondrel VERSION ([0-9.]+)/.exec(cmake)?.[1], version, 'the CMake project version');
  assert.equal(esm.version, version);
  for (const [name, manifest] of Object.entries(manifests)) {
    assert.equal(manifest.name, name);
    assert.equal(manifest.version, version, name);
    // morvane loads from the client's platform packages.
    const user = name === '@tondrel/morvane' ? '@tondrel/client' : name;
    const expected = Object.fromEntries(Object.keys(packages).filter((p) => packages[p].for === user)
      .sort().map((p) => [p, version]));
    assert.deepEqual(manifest.optionalDependencies ?? {}, expected, `${name}'s optional dependencies`);
  }
});

test('the platform package of each system, from the table', () => {
  const cases = [
    ['darwin', 'arm64', '@tondrel/darwin'], ['darwin', 'x64', '@tondrel/darwin'],
    ['linux', 'x64', '@tondrel/linux-x64'], ['linux', 'arm64', '@tondrel/linux-arm64'],
    ['win32', 'x64', '@tondrel/win32-x64'], ['win32', 'arm64', null],
    ['linux', 'ia32', null], ['freebsd', 'x64', null],
  ];
  for (const [platform, arch, expected] of cases) {
    assert.equal(esm.platformPackage(platform, arch), expected, `${platform}-${arch}`);
  }
  // Every name is in the one scope, and each os-cpu pair is served by one package per user.
  const served = new Set();
  for (const [name, entry] of Object.entries(packages)) {
    assert.match(name, /^@tondrel\/[a-z0-9-]+$/);
    for (const cpu of entry.cpu) {
      const key = `${entry.for} ${entry.os}-${cpu}`;
      assert.ok(!served.has(key), `${key} twice`);
      served.add(key);
    }
  }
});

// A host's folder: the client, morvane and the scenario runner's package,
// and the platform packages, in node_modules (or, for an Electron
// application, inside app.asar with the binaries unpacked beside).
const unpackedDir = (dir) => dir.replace(`${path.sep}app.asar${path.sep}`, `${path.sep}app.asar.unpacked${path.sep}`);
const shared = ['locate.cjs', 'platforms.cjs'];

function copy(from, to, files) {
  fs.mkdirSync(to, { recursive: true });
  for (const file of files) fs.copyFileSync(path.join(from, file), path.join(to, file));
}

function host(t, { archive = false, agent = true, pkg: withPackage = true, version = esm.version } = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-host-'));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const app = path.join(root, archive ? 'app.asar' : 'app');
  const modules = path.join(app, 'node_modules');
  const client = path.join(modules, '@tondrel', 'client');
  copy(clientDir, client, fs.readdirSync(clientDir).filter((file) => /\.(c?js|json)$/.test(file)));
  const morvane = path.join(modules, '@tondrel', 'morvane');
  copy(addonDir, morvane, ['index.js', 'index.mjs', 'package.json']);
  copy(clientDir, morvane, shared);
  const sim = path.join(modules, '@tondrel', 'sim');
  copy(simDir, sim, ['index.js', 'package.json']);
  copy(clientDir, sim, shared);
  const name = esm.platformPackage();
  const pkg = path.join(modules, name);
  const simPkg = path.join(modules, '@tondrel', `sim-${process.platform}-${process.arch}`);
  if (!withPackage) return { root, client, morvane, pkg };
  const script = `#!/bin/sh\nexec "${process.execPath}" "${fake}" '{"lines":["{\\"event\\":\\"where\\",\\"dir\\":\\"'"$(dirname "$0")"'\\"}"]}'\n`;
  for (const [dir, packageName, program] of [[pkg, name, 'tondrel'], [simPkg, path.relative(modules, simPkg), 'tondrel-sim']]) {
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'package.json'), JSON.stringify({ name: packageName, version }));
    if (agent) {
      const at = archive ? unpackedDir(dir) : dir;
      fs.mkdirSync(at, { recursive: true });
      fs.writeFileSync(path.join(at, program), script, { mode: 0o755 });
    }
  }
  return { root, client, morvane, pkg, simPkg };
}

const load = (client) => import(pathToFileURL(path.join(client, 'index.js')).href);
const supported = { skip: !esm.platformPackage() && 'no platform package for this system' };

test('without a path, the agent of the platform package is started', supported, async (t) => {
  const cases = [
    ['from node_modules', {}, (h) => h.pkg],
    ['from a packaged Electron application: the unpacked copy', { archive: true }, (h) => unpackedDir(h.pkg)],
  ];
  for (const [name, layout, expectedDir] of cases) {
    await t.test(name, async () => {
      const h = host(t, layout);
      const client = await load(h.client);
      assert.equal(client.findAgent(), path.join(expectedDir(h), 'tondrel'));
      const agent = client.startAgent({ stderr: 'inherit' });
      const [where] = await new Promise((resolve) => agent.once('unknown', (...args) => resolve(args)));
      assert.equal(where.dir, expectedDir(h));
      assert.deepEqual(await agent.close(), { code: 0, signal: null });
    });
  }
});

test('the scenario runner comes from @tondrel/sim', { skip: process.platform !== 'linux' && 'the runner is built for Linux' }, async (t) => {
  const h = host(t);
  const client = await load(h.client);
  assert.equal(client.findAgent('tondrel-sim'), path.join(h.simPkg, 'tondrel-sim'));
  assert.throws(() => client.findAgent('sh'), TypeError);
});

test('an explicit path wins over the platform package', supported, async (t) => {
  const h = host(t);
  const client = await load(h.client);
  const agent = client.startAgent(process.execPath, { args: [fake, '{"ready":false}'] });
  assert.deepEqual(await agent.ready, { perProcess: false });
  await agent.close();
});

test('a platform package that is missing, empty or of another version is a failed start, saying so', supported, async (t) => {
  const cases = [
    ['not installed', { pkg: false }, 'ERR_TONDREL_NOT_FOUND', `${esm.platformPackage()} is not installed`],
    ['without the agent', { agent: false }, 'ERR_TONDREL_NOT_FOUND', 'holds no tondrel'],
    ['of another version', { version: '0.0.1' }, 'ERR_TONDREL_VERSION_MISMATCH',
      `${esm.platformPackage()} 0.0.1 is installed, but @tondrel/client ${esm.version} needs`],
  ];
  for (const [name, layout, code, message] of cases) {
    await t.test(name, async () => {
      const client = await load(host(t, layout).client);
      assert.throws(() => client.findAgent(), (error) => error.code === code && error.message.includes(message));
      const agent = client.startAgent();
      const error = await agent.ready.catch((e) => e);
      assert.deepEqual([error.code, error.cause?.code], ['ERR_TONDREL_SPAWN', code]);
      assert.deepEqual(await agent.exited, { code: null, signal: null });
    });
  }
});

test('on a platform without a build, findAgent says so and importing does not fail', async (t) => {
  const h = host(t, { pkg: false });
  // Windows on Arm: no build yet.
  const real = Object.getOwnPropertyDescriptor(process, 'platform');
  const realArch = Object.getOwnPropertyDescriptor(process, 'arch');
  Object.defineProperty(process, 'platform', { value: 'win32' });
  Object.defineProperty(process, 'arch', { value: 'arm64' });
  try {
    const client = await load(h.client);
    assert.throws(() => client.findAgent(), (error) => error.code === 'ERR_TONDREL_UNSUPPORTED_PLATFORM' &&
      error.message.includes('no build for win32-arm64'));
    assert.equal(client.platformPackage(), null);
  } finally {
    Object.defineProperty(process, 'platform', real);
    Object.defineProperty(process, 'arch', realArch);
  }
});

test('morvane loads the module beside it, of the platform package, or the unpacked copy; otherwise answers false and says why', supported, async (t) => {
  // The files are not real modules: which one the loader opened shows in the
  // loader's error, which names the file.
  const junk = (dir) => {
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'morvane.node'), 'not a module');
    return path.join(dir, 'morvane.node');
  };
  // A fresh copy of the package for each load: a module is evaluated once.
  let loads = 0;
  const loaded = (dir) => {
    const copyDir = `${dir}-${(loads += 1)}`;
    fs.cpSync(dir, copyDir, { recursive: true });
    const module = require(path.join(copyDir, 'index.js'));
    assert.equal(module.morvane(Buffer.alloc(8)), false);
    assert.equal(module.available, false);
    return module.loadError;
  };
  const cases = [
    ['not installed', { pkg: false }, () => {}, 'ERR_MORVANE_NOT_FOUND', () => `${esm.platformPackage()} is not installed`],
    ['of another version', { version: '9.9.9' }, (h) => junk(h.pkg), 'ERR_MORVANE_VERSION_MISMATCH',
      () => `but @tondrel/morvane ${esm.version} needs`],
    ['from the platform package', {}, (h) => junk(h.pkg), 'ERR_MORVANE_LOAD_FAILED', (h) => path.join(h.pkg, 'morvane.node')],
    ['beside index.js first', {}, (h) => { junk(h.pkg); junk(h.morvane); }, 'ERR_MORVANE_LOAD_FAILED',
      (h) => `${h.morvane}-`],
    ['the unpacked copy in an archive', { archive: true }, (h) => { junk(h.pkg); junk(unpackedDir(h.pkg)); },
      'ERR_MORVANE_LOAD_FAILED', (h) => path.join(unpackedDir(h.pkg), 'morvane.node')],
  ];
  for (const [name, layout, prepare, code, names] of cases) {
    await t.test(name, () => {
      const h = host(t, layout);
      prepare(h);
      const error = loaded(h.morvane);
      assert.equal(error.code, code);
      assert.ok(error.message.includes(names(h)), error.message);
    });
  }
});

test('on Linux with another C library than glibc, no package is taken, and the error says why', { skip: (process.platform !== 'linux' || !esm.platformPackage()) && 'Linux with a build only' }, async () => {
  // A child whose process report says what a musl system's does: no glibc version.
  const script = `
    process.report.getReport = () => ({ header: {} });
    const { platformPackage, findAgent } = require(${JSON.stringify(path.join(clientDir, 'index.cjs'))});
    let error;
    try { findAgent(); } catch (e) { error = e; }
    console.log(JSON.stringify([platformPackage(), platformPackage('darwin', 'arm64'), error.code, error.message]));`;
  const { execFileSync } = await import('node:child_process');
  const [own, darwin, code, message] = JSON.parse(execFileSync(process.execPath, ['-e', script], { encoding: 'utf8' }));
  assert.deepEqual([own, darwin, code], [null, '@tondrel/darwin', 'ERR_TONDREL_UNSUPPORTED_PLATFORM']);
  assert.match(message, /has no build for linux-\w+ with this C library \(the builds need glibc\)$/);
});
