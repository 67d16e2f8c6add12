'use strict';
// A CommonJS host: the client and morvane found through node_modules, the
// agent started without a path.
const assert = require('node:assert/strict');
const path = require('node:path');
const { startAgent, findAgent, version, TondrelError, platformPackage } = require('@tondrel/client');
const { morvane, available, loadError } = require('@tondrel/morvane');

async function main() {
  const where = findAgent();
  assert.equal(where, path.join(__dirname, 'node_modules', platformPackage(), 'tondrel'));
  const agent = startAgent();
  agent.on('error', (error) => assert.fail(error));
  assert.equal(typeof (await agent.ready).perProcess, 'boolean');
  const { trusted, urls } = await agent.pageUrls({ bundleIds: [] });
  assert.deepEqual([typeof trusted, urls], ['boolean', []]);
  assert.ok((await agent.pageUrls({ pid: 1.5 }).catch((e) => e)) instanceof RangeError);
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
  assert.equal(typeof TondrelError, 'function');
  // The module of the platform package is loaded here; a call that is not
  // one Buffer of a window handle's size answers false, never throws.
  assert.deepEqual([available, loadError], [true, null]);
  assert.equal(morvane(Buffer.alloc(3)), false);
  assert.equal(morvane.name, 'morvane');
  console.log(`ok: CommonJS host, @tondrel/client ${version}, agent ${where}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
