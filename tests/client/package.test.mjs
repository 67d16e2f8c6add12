// The client as a package: one set of objects for require and import, its
// version, and finding the agent of the platform package, also from inside
// an Electron archive, where the runnable copy is the unpacked one.
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
const clientDir = fileURLToPath(new URL('../../client/', import.meta.url));

test('require and import give the same objects, and the version is the package\'s', () => {
  const cjs = require('../../client/index.cjs');
  assert.deepEqual(Object.keys(esm).sort(), Object.keys(cjs).sort());
  for (const [name, value] of Object.entries(cjs)) assert.equal(esm[name], value, name);
  const manifest = JSON.parse(fs.readFileSync(path.join(clientDir, 'package.json'), 'utf8'));
  assert.equal(esm.version, manifest.version);
  // Every platform package the client may find is one it depends on, at its own version.
  for (const key of ['darwin-arm64', 'darwin-x64', 'linux-x64']) {
    const [platform, arch] = key.split('-');
    assert.equal(manifest.optionalDependencies[esm.platformPackage(platform, arch)], manifest.version);
  }
  assert.deepEqual([esm.platformPackage('win32', 'x64'), esm.platformPackage('linux', 'arm64')], [null, null]);
});

// A host's folder: the client and a platform package in node_modules (or, for
// an Electron application, inside app.asar with the binaries unpacked beside).
const unpackedDir = (dir) => dir.replace(`${path.sep}app.asar${path.sep}`, `${path.sep}app.asar.unpacked${path.sep}`);

function host(t, { archive = false, agent = true, pkg: withPackage = true } = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-host-'));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const app = path.join(root, archive ? 'app.asar' : 'app');
  const client = path.join(app, 'node_modules', 'tondrel-client');
  fs.mkdirSync(client, { recursive: true });
  for (const file of fs.readdirSync(clientDir)) {
    if (/\.(c?js|json)$/.test(file)) fs.copyFileSync(path.join(clientDir, file), path.join(client, file));
  }
  const name = esm.platformPackage();
  const pkg = path.join(app, 'node_modules', name);
  if (!withPackage) return { root, client, pkg };
  fs.mkdirSync(pkg, { recursive: true });
  fs.writeFileSync(path.join(pkg, 'package.json'), JSON.stringify({ name, version: esm.version }));
  const script = `#!/bin/sh\nexec "${process.execPath}" "${fake}" '{"lines":["{\\"event\\":\\"where\\",\\"dir\\":\\"'"$(dirname "$0")"'\\"}"]}'\n`;
  if (agent) {
    const dir = archive ? unpackedDir(pkg) : pkg;
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'tondrel'), script, { mode: 0o755 });
  }
  return { root, client, pkg };
}

const load = (client) => import(pathToFileURL(path.join(client, 'index.js')).href);

test('without a path, the agent of the platform package is started', { skip: !esm.platformPackage() && 'no platform package for this system' }, async (t) => {
  const cases = [
    ['from node_modules', {}, (h) => h.pkg],
    ['from a packaged Electron application: the unpacked copy', { archive: true }, (h) => unpackedDir(h.pkg)],
  ];
  for (const [name, layout, expectedDir] of cases) {
    await t.test(name, async (t) => {
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

test('an explicit path wins over the platform package', { skip: !esm.platformPackage() && 'no platform package for this system' }, async (t) => {
  const h = host(t);
  const client = await load(h.client);
  const agent = client.startAgent(process.execPath, { args: [fake, '{"ready":false}'] });
  assert.deepEqual(await agent.ready, { perProcess: false });
  await agent.close();
});

test('a missing platform package or binary is a failed start, saying what is missing', { skip: !esm.platformPackage() && 'no platform package for this system' }, async (t) => {
  const empty = await load(host(t, { agent: false }).client);
  assert.throws(() => empty.findAgent(), (error) => error.code === 'ERR_TONDREL_NOT_FOUND' &&
    error.message.includes(`holds no tondrel`));
  assert.throws(() => empty.findAgent('sh'), TypeError);
  const client = await load(host(t, { pkg: false }).client);
  assert.throws(() => client.findAgent(), (error) => error.code === 'ERR_TONDREL_NOT_FOUND' &&
    error.message.includes(`${esm.platformPackage()} is not installed`));
  const agent = client.startAgent();
  const error = await agent.ready.catch((e) => e);
  assert.deepEqual([error.code, error.cause?.code], ['ERR_TONDREL_SPAWN', 'ERR_TONDREL_NOT_FOUND']);
  assert.deepEqual(await agent.exited, { code: null, signal: null });
});

test('morvane loads the module of the platform package, the unpacked copy in an archive, or one beside it', { skip: !esm.platformPackage() && 'no platform package for this system' }, async (t) => {
  // The files are not real modules: which one the loader opened shows in the
  // loader's error, which names the file.
  const addonDir = fileURLToPath(new URL('../../addon/', import.meta.url));
  const morvaneIn = (h) => {
    const dir = path.join(path.dirname(h.client), 'morvane');
    fs.mkdirSync(dir, { recursive: true });
    fs.copyFileSync(path.join(addonDir, 'index.js'), path.join(dir, 'index.js'));
    return dir;
  };
  const opened = (dir) => {
    try {
      require(path.join(dir, 'index.js'));
    } catch (error) {
      return error;
    }
    assert.fail('a file that is not a module loaded');
  };
  const junk = (dir) => {
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'morvane.node'), 'not a module');
    return path.join(dir, 'morvane.node');
  };

  const plain = host(t);
  const plainDir = morvaneIn(plain);
  assert.equal(opened(plainDir).code, 'ERR_MORVANE_NOT_FOUND');
  const fromPackage = junk(plain.pkg);
  assert.ok(opened(plainDir).message.includes(fromPackage));
  const beside = junk(plainDir);
  assert.ok(opened(plainDir).message.includes(beside), 'one beside index.js comes first');

  const archived = host(t, { archive: true });
  const archivedDir = morvaneIn(archived);
  junk(archived.pkg);
  const unpacked = junk(unpackedDir(archived.pkg));
  assert.ok(opened(archivedDir).message.includes(unpacked));

  const none = host(t, { pkg: false });
  const error = opened(morvaneIn(none));
  assert.equal(error.code, 'ERR_MORVANE_NOT_FOUND');
  assert.match(error.message, new RegExp(`${esm.platformPackage()} is not installed`));
});
