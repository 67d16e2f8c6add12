'use strict';

// The built module loaded into this Node the way a host loads it: through
// the package folder that the build lays out around morvane.node.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const binary = process.env.MORVANE_NODE;
assert.ok(binary, 'MORVANE_NODE must name the built morvane.node');
const pkg = require(path.dirname(binary));
const { morvane } = pkg;
const { answerOf } = require('./handles.js');

// Bytes that are not the address of any view. Only calls the module must
// reject before reading them may carry them, since on a Mac they would
// otherwise be treated as a view.
const bogus = () => Buffer.from([1, 2, 3, 4, 5, 6, 7, 8]);
const call = (...args) => answerOf(morvane, ...args);


test('the package exports the built function named morvane, and says it loaded', () => {
  assert.deepEqual(Object.keys(pkg), ['morvane', 'available', 'loadError']);
  assert.equal(typeof morvane, 'function');
  assert.equal(morvane.name, 'morvane');
  assert.equal(require(binary).morvane, morvane, 'the package main loads the built file');
  assert.deepEqual([pkg.available, pkg.loadError], [true, null]);
});

test('anything but one 8-byte Buffer answers false without throwing', () => {
  const revoked = Proxy.revocable({}, {});
  revoked.revoke();
  const cases = [
    ['no argument', []],
    ['two arguments, the first an 8-byte Buffer', [bogus(), bogus()]],
    ['an 8-byte Buffer and an explicit undefined', [bogus(), undefined]],
    ['an empty Buffer', [Buffer.alloc(0)]],
    ['a Buffer of 4 bytes', [bogus().subarray(0, 4)]],
    ['a Buffer of 7 bytes', [bogus().subarray(0, 7)]],
    ['a Buffer of 9 bytes', [Buffer.alloc(9, 1)]],
    ['a Buffer of 16 bytes', [Buffer.concat([bogus(), bogus()])]],
    ['a string of 8 characters', ['12345678']],
    ['a number', [0x0807060504030201]],
    ['a bigint', [0x0807060504030201n]],
    ['undefined', [undefined]],
    ['null', [null]],
    ['an object', [{ length: 8 }]],
    ['an array of 8 bytes', [[1, 2, 3, 4, 5, 6, 7, 8]]],
    ['a bare ArrayBuffer of 8 bytes', [new Uint8Array(bogus()).buffer]],
    ['a Uint16Array of 4 bytes', [new Uint16Array([1, 2])]],
    ['a Float64Array of 16 bytes', [new Float64Array([1, 2])]],
    // Node-API reads any 8-byte view as a Buffer, so these carry no address.
    ['a zero-filled Uint8Array of 8 bytes', [new Uint8Array(8)]],
    ['a zero-filled BigUint64Array of 8 bytes', [new BigUint64Array(1)]],
    ['a revoked proxy', [revoked.proxy]],
    ['a function', [morvane]],
  ];
  for (const [name, args] of cases) {
    assert.equal(call(...args), false, name);
  }
});

test('a null handle answers false', () => {
  assert.equal(call(Buffer.alloc(8)), false);
  assert.equal(call(Buffer.alloc(8)), false);
});

test('without AppKit an 8-byte handle answers false',
  { skip: process.platform === 'darwin' && 'AppKit needs a live view' }, () => {
    assert.equal(call(bogus()), false);
    assert.equal(call(Buffer.alloc(8, 0xff)), false);
  });
