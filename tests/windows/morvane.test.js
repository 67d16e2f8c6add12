'use strict';

// morvane.node built for Windows, loaded into the Windows Node under Wine the
// way a host loads it, acting on windows of its own process that the helper
// module makes, and on one window of another process.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { spawn } = require('node:child_process');

const binary = process.env.MORVANE_NODE;
const makerFile = process.env.WINDOW_MAKER;
const ownerExe = process.env.WINDOW_OWNER;
assert.ok(binary && makerFile && ownerExe, 'MORVANE_NODE, WINDOW_MAKER and WINDOW_OWNER must be set');
const { morvane } = require(path.dirname(binary));
const maker = require(makerFile);

const NOACTIVATE = 0x08000000;

function handleValue(handle) {
  return handle.readBigUInt64LE(0);
}

function withValue(value) {
  const bytes = Buffer.alloc(8);
  bytes.writeBigUInt64LE(BigInt.asUintN(64, value));
  return bytes;
}

function call(handle) {
  let answer;
  assert.doesNotThrow(() => {
    answer = morvane(handle);
  });
  return answer;
}

// A window of another process: the helper prints its handle and keeps the
// window until its standard input closes.
async function foreignWindow(t) {
  const owner = spawn(ownerExe, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  t.after(() => {
    owner.stdin.end();
    if (owner.exitCode === null) owner.kill();
  });
  let text = '';
  for await (const chunk of owner.stdout) {
    text += chunk;
    if (text.includes('\n')) break;
  }
  assert.match(text, /^\d+\r?\n/, 'the window owner prints its window handle');
  return withValue(BigInt(text.trim()));
}

test('the module exports morvane and takes Node-API from node.exe', () => {
  assert.equal(typeof morvane, 'function');
  assert.equal(morvane.name, 'morvane');
  assert.equal(process.platform, 'win32');
});

test('a top-level window of this thread gets WS_EX_NOACTIVATE, its other styles kept', () => {
  const window = maker.createWindow('top');
  assert.notEqual(handleValue(window), 0n, 'the helper made a window');
  const before = maker.exStyle(window);
  assert.equal(before & NOACTIVATE, 0);
  assert.equal(call(window), true);
  assert.equal(maker.exStyle(window), (before | NOACTIVATE) >>> 0);
  // Asked again, the window already has the style: still true, nothing else moves.
  assert.equal(call(window), true);
  assert.equal(maker.exStyle(window), (before | NOACTIVATE) >>> 0);
  // A copy of the handle in a Buffer at an offset of a larger allocation.
  const shared = Buffer.alloc(24);
  window.copy(shared, 8);
  assert.equal(call(shared.subarray(8, 16)), true);
  maker.destroyWindow(window);
});

test('windows that are not top-level windows of this thread answer false and are left alone', async (t) => {
  const own = maker.createWindow('top');
  const cases = [
    ['a child window', maker.createWindow('child')],
    ['a window of another thread of this process', maker.createWindow('thread')],
    ['a window of another process', await foreignWindow(t)],
    // The system reads only the low 32 bits of a handle: any other upper half
    // than the sign extension must not reach the window those bits name.
    ['an own window with bits set in the upper half', withValue(handleValue(own) | (1n << 32n))],
    ['an own window with the upper half inverted', withValue(handleValue(own) ^ 0xffffffff00000000n)],
  ];
  for (const [name, handle] of cases) {
    const window = withValue(handleValue(handle) & 0xffffffffn);
    const before = maker.exStyle(window);
    assert.ok(before >= 0, `${name}: the window exists`);
    assert.equal(call(handle), false, name);
    assert.equal(maker.exStyle(window), before, `${name}: style unchanged`);
  }
  assert.equal(maker.exStyle(own) & NOACTIVATE, 0, 'the own window was not touched');
  maker.destroyWindow(own);
});

test('handles of no window answer false', () => {
  const gone = maker.createWindow('top');
  assert.equal(maker.destroyWindow(gone), true);
  const cases = [
    ['a destroyed window', gone],
    ['zero', withValue(0n)],
    ['all bits set (-1)', withValue(-1n)],
    ['an unused small value', withValue(0x7ffen)],
    ['a short handle of 4 bytes', Buffer.alloc(4, 1)],
  ];
  for (const [name, handle] of cases) assert.equal(call(handle), false, name);
});
