'use strict';
// Run by an arm64 Node under qemu-user in a host installed for arm64: the
// module and the agent of @tondrel/linux-arm64, found by the packages
// themselves. The agent is started through TONDREL_UNDER_QEMU, a script
// that runs the same file under qemu, since this Node cannot start an arm64
// program directly here.
const assert = require('node:assert/strict');
const path = require('node:path');
const { findAgent, platformPackage, startAgent, version } = require('@tondrel/client');
const { morvane, available, loadError } = require('@tondrel/morvane');

async function main() {
  assert.deepEqual([process.platform, process.arch], ['linux', 'arm64']);
  assert.equal(platformPackage(), '@tondrel/linux-arm64');
  assert.deepEqual([available, loadError], [true, null], loadError?.message);
  // No X display here: a window id answers false, as does a handle of the wrong size.
  const env = { ...process.env };
  delete process.env.DISPLAY;
  assert.deepEqual([morvane(Buffer.alloc(4, 1)), morvane(Buffer.alloc(3))], [false, false]);
  Object.assign(process.env, env);
  const agent = findAgent();
  assert.equal(agent, path.join(__dirname, 'node_modules', '@tondrel', 'linux-arm64', 'tondrel'));
  assert.equal(findAgent('tondrel-sim'),
    path.join(__dirname, 'node_modules', '@tondrel', 'sim-linux-arm64', 'tondrel-sim'));
  const client = startAgent(process.env.TONDREL_UNDER_QEMU, { requestTimeoutMs: 60000 });
  client.on('error', (error) => assert.fail(error));
  assert.equal(typeof (await client.ready).perProcess, 'boolean');
  const { trusted, urls } = await client.pageUrls({ bundleIds: ['firefox-esr'] });
  assert.deepEqual([typeof trusted, urls], ['boolean', []]);
  assert.deepEqual(await client.close({ drain: true, timeout: 60000 }), { code: 0, signal: null });
  console.log(`ok: arm64 Node ${process.version}: morvane.node loaded, @tondrel/client ${version} ran ${agent}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
