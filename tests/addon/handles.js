'use strict';

// What the module's tests share: window handles as a host passes them, and
// calls that must answer rather than throw.
const assert = require('node:assert/strict');
const os = require('node:os');

// A Buffer of `size` bytes (8, or 4 for an X11 window id) holding `value` in
// host byte order, as a native window handle arrives from the host.
function nativeHandle(value, size = 8) {
  const bytes = Buffer.alloc(size);
  const little = os.endianness() === 'LE';
  if (size === 8) {
    if (little) bytes.writeBigUInt64LE(BigInt(value));
    else bytes.writeBigUInt64BE(BigInt(value));
  } else if (little) {
    bytes.writeUInt32LE(Number(value));
  } else {
    bytes.writeUInt32BE(Number(value));
  }
  return bytes;
}

// Calls `fn` with the arguments and hands back its answer; a throw fails the
// test.
function answerOf(fn, ...args) {
  let answer;
  assert.doesNotThrow(() => {
    answer = fn(...args);
  });
  return answer;
}

module.exports = { nativeHandle, answerOf };
