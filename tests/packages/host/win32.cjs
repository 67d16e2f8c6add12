'use strict';
// A CommonJS host of an application shipped to every platform, on one the
// packages have no build for (process.platform and process.arch say Windows
// on Arm before they load): both load, morvane answers false and says why, and the client says
// ERR_TONDREL_UNSUPPORTED_PLATFORM instead of crashing.
Object.defineProperty(process, 'platform', { value: 'win32' });
Object.defineProperty(process, 'arch', { value: 'arm64' });
const assert = require('node:assert/strict');
const { morvane, available, loadError } = require('@tondrel/morvane');
const { findAgent, startAgent, superviseAgent } = require('@tondrel/client');

async function main() {
  assert.deepEqual([available, morvane(Buffer.alloc(8)), loadError.code],
    [false, false, 'ERR_MORVANE_UNSUPPORTED_PLATFORM']);
  assert.match(loadError.message, /no build for win32-arm64/);
  assert.throws(() => findAgent(), { code: 'ERR_TONDREL_UNSUPPORTED_PLATFORM' });
  const agent = startAgent();
  const error = await agent.ready.catch((e) => e);
  assert.deepEqual([error.code, error.cause?.code], ['ERR_TONDREL_SPAWN', 'ERR_TONDREL_UNSUPPORTED_PLATFORM']);
  const supervisor = superviseAgent();
  const stopped = await supervisor.ready.catch((e) => e);
  assert.equal(stopped.cause?.code, 'ERR_TONDREL_UNSUPPORTED_PLATFORM');
  assert.equal(supervisor.restarts, 0);
  console.log(`ok: CommonJS host on win32: ${loadError.message}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
