// An ES module host on a platform without a build. Static imports of a
// CommonJS file that throws end the process before any code of this module
// could catch it; these must load, answer false and say why.
import './pretend-win32.mjs';
import assert from 'node:assert/strict';
import { morvane, available, loadError } from '@tondrel/morvane';
import morvaneModule from '@tondrel/morvane';
import { findAgent, platformPackage } from '@tondrel/client';

assert.equal(process.platform, 'win32');
assert.deepEqual([available, morvane(Buffer.alloc(8)), morvaneModule.available], [false, false, false]);
assert.equal(loadError.code, 'ERR_MORVANE_UNSUPPORTED_PLATFORM');
assert.equal(platformPackage(), null);
assert.throws(() => findAgent(), { code: 'ERR_TONDREL_UNSUPPORTED_PLATFORM' });
console.log(`ok: ES module host on win32: ${loadError.message}`);
