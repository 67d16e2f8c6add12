'use strict';
// A CommonJS host on Windows, run by the Windows Node (under Wine in the
// package check): the packages installed for win32-x64 find the agent
// without a path, start it and get its answers, and morvane loads.
const assert = require('node:assert/strict');
const { findAgent, platformPackage, startAgent } = require('@tondrel/client');
const { morvane, available } = require('@tondrel/morvane');

async function main() {
  assert.equal(platformPackage(), '@tondrel/win32-x64');
  assert.match(findAgent(), /[\\/]@tondrel[\\/]win32-x64[\\/]tondrel\.exe$/);
  assert.deepEqual([available, morvane(Buffer.alloc(8))], [true, false]);
  const agent = startAgent();
  assert.deepEqual(await agent.ready, { perProcess: true });
  // Wine has no automation client: untrusted, as on a system without one.
  assert.deepEqual(await agent.pageUrls({ bundleIds: ['chrome.exe'] }), { trusted: false, urls: [] });
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
  console.log('ok: CommonJS host on win32-x64');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
