'use strict';

// The module's argument handling, seen through its test build: there the
// window step answers true for one known address only, so true means the
// call got through every check with that address intact.
const test = require('node:test');
const assert = require('node:assert/strict');

const binary = process.env.MORVANE_PROBE;
assert.ok(binary, 'MORVANE_PROBE must name the test build of the module');
const { morvane } = require(binary);
const { answerOf, nativeHandle } = require('./handles.js');

const VIEW = 0x0123456789abcdefn;
// A 32-bit value with its top bit set, so a sign-extending widening shows.
const SHORT = 0xfedcba98;
// Only Linux takes 4-byte handles (X11 window ids).
const takesShort = process.platform === 'linux';

const word = (value) => nativeHandle(value, 8);
const word32 = (value) => nativeHandle(value, 4);
const call = (...args) => answerOf(morvane, ...args);

test('one 8-byte Buffer reaches the window step as a word in host order', () => {
  assert.equal(call(word(VIEW)), true);
  assert.equal(call(word(VIEW)), true, 'a second call answers the same');
  assert.equal(call(Buffer.from(word(VIEW)).reverse()), false, 'byte order');
  assert.equal(call(word(VIEW ^ 0xffn)), false, 'lowest byte');
  assert.equal(call(word(VIEW ^ (0xffn << 56n))), false, 'highest byte');
});

test('a 4-byte Buffer reaches the step as a 32-bit word in host order, on Linux only', () => {
  assert.equal(call(word32(SHORT)), takesShort);
  assert.equal(call(word(BigInt(SHORT))), true, 'the same id in 8 bytes');
  assert.equal(call(Buffer.from(word32(SHORT)).reverse()), false, 'byte order');
  assert.equal(call(word32((SHORT ^ 0xff) >>> 0)), false, 'lowest byte');
  const storage = Buffer.alloc(4 + 5, 0xaa);
  word32(SHORT).copy(storage, 3);
  assert.equal(call(storage.subarray(3, 7)), takesShort, 'at an odd offset');
  for (const length of [2, 3, 5, 6]) {
    assert.equal(call(word(BigInt(SHORT)).subarray(0, length)), false, `${length} bytes`);
  }
});

test('the Buffer may sit at any offset of its memory', () => {
  for (const offset of [1, 3, 5]) {
    const storage = Buffer.alloc(offset + 8 + 3, 0xaa);
    word(VIEW).copy(storage, offset);
    assert.equal(call(storage.subarray(offset, offset + 8)), true, `offset ${offset}`);
  }
});

test('only a call with exactly one Buffer of a handle size reaches the step', () => {
  const longer = Buffer.concat([word(VIEW), Buffer.alloc(8)]);
  const cases = [
    ['no argument', []],
    ['two arguments, the first the handle', [word(VIEW), word(VIEW)]],
    ['the handle and an explicit undefined', [word(VIEW), undefined]],
    ['the first 7 bytes of the handle', [word(VIEW).subarray(0, 7)]],
    ['the first 4 bytes of the handle', [word(VIEW).subarray(0, 4)]],
    ['the handle followed by one byte', [Buffer.concat([word(VIEW), Buffer.alloc(1)])]],
    ['16 bytes starting with the handle', [longer]],
    ['the handle as a bigint', [VIEW]],
    ['the handle as a number', [Number(VIEW)]],
    ['the handle as a string', [word(VIEW).toString('latin1')]],
    ['the handle in a bare ArrayBuffer', [new Uint8Array(word(VIEW)).buffer]],
    ['an object holding the handle', [{ buffer: word(VIEW) }]],
    ['undefined', [undefined]],
    ['null', [null]],
  ];
  for (const [name, args] of cases) {
    assert.equal(call(...args), false, name);
  }
});
