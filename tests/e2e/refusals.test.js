'use strict';

// Scenario files and command lines that tondrel-sim refuses before the agent
// starts: status 2, one line on standard error that names the file, the place
// and what was expected, and nothing at all on standard output.

const { describe, test } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { examples, runSim, tempDir } = require('./agent');

const dir = tempDir();
let counter = 0;
function scenarioFile(content) {
  const file = path.join(dir, `case-${++counter}.json`);
  fs.writeFileSync(file, typeof content === 'string' || Buffer.isBuffer(content)
    ? content : JSON.stringify(content));
  return file;
}

function nested(depth) {
  let element = { role: 'AXWebArea', url: 'https://example.org/' };
  for (let i = 0; i < depth; i++) element = { role: 'AXGroup', children: [element] };
  return { accessibility: { applications: [{ pid: 5, windows: [element] }] } };
}

// [name, content, place, what the message says was expected]
const scenarios = [
  ['invalid JSON', '{"applications": [\n  {"pid": 1,}\n]}', 'invalid JSON at line 2, column 13',
    "unexpected '}'; expected string literal"],
  ['an empty file', '', 'invalid JSON at line 1, column 1', 'unexpected end of input'],
  ['ill-formed UTF-8 in a string', Buffer.from([0x7b, 0x22, 0xff, 0x22, 0x3a, 0x31, 0x7d]),
    'invalid JSON at line 1, column 3', 'ill-formed UTF-8'],
  ['a key with control characters, kept on one line', { 'a\nb\u0000c\u007f': 1 }, 'at /a\\nb\\u0000c\\u007f',
    'unknown key; expected one of "description"'],
  ['a top level that is no object', '[]', 'at the top level', 'expected an object, found an array'],
  ['an unknown top-level key', { application: [] }, 'at /application',
    'unknown key; expected one of "description", "osVersion"'],
  ['an unknown key deep in a tree',
    { accessibility: { applications: [{ pid: 5, windows: [{ role: 'AXWindow', children: [{ rol: 'AXGroup' }] }] }] } },
    'at /accessibility/applications/0/windows/0/children/0/rol', 'unknown key; expected one of "role"'],
  ['a key given twice', '{"applications": [{"pid": 1, "pid": 2}]}', 'at /applications/0/pid',
    'key given twice'],
  ['a key given twice, further down a list', '{"processes": [{"pid": 1}, {"pid": 2, "a/b": 1, "a/b": 1}]}',
    'at /processes/1/a~1b', 'key given twice; expected each key once per object'],
  ['a number beyond a double', '{"processes":[{"pid":1e400}]}', 'at /processes/0/pid',
    'expected a number within the range of a double, found 1e400'],
  ['a negative number beyond a double, in a list', '{"audio":{"timeline":[{"poll":2},{"poll":-1e309}]}}',
    'at /audio/timeline/1/poll', 'expected a number within the range of a double, found -1e309'],
  ['an integer of 10,000 digits, where anything goes', `{"description": ${'9'.repeat(10000)}}`,
    'at /description', `expected a number within the range of a double, found ${'9'.repeat(60)}...`],
  ['a number beyond a double as the whole file', '1e400', 'at the top level',
    'expected a number within the range of a double'],
  ['a wrong type: boolean', { responsibleFunction: 'yes' }, 'at /responsibleFunction',
    'expected true or false, found "yes"'],
  ['a wrong type: string', { applications: [{ pid: 1 }, { pid: 2, name: 5 }] },
    'at /applications/1/name', 'expected a string or null, found 5'],
  ['a wrong type: version', { osVersion: 14 }, 'at /osVersion',
    'expected a version such as "14.2.1", found 14'],
  ['a malformed version', { osVersion: '14..1' }, 'at /osVersion', 'expected a version'],
  ['a wrong type: input state', { audio: { processes: [{ id: 10, pid: 3, input: 'on' }] } },
    'at /audio/processes/0/input', 'expected true, false, "fails" or a whole number'],
  ['an unknown activation policy', { applications: [{ pid: 1, activationPolicy: 'Regular' }] },
    'at /applications/0/activationPolicy', 'expected "regular", "accessory" or "prohibited"'],
  ['a pid out of range', { applications: [{ pid: 1 }, { pid: 2 }, { pid: 0 }] },
    'at /applications/2/pid', 'expected a pid, a whole number from 1 to 2147483647, found 0'],
  ['a pid beyond 32 bits', { processes: [{ pid: 2147483648 }] }, 'at /processes/0/pid',
    'expected a pid, a whole number from 0 to 2147483647, found 2147483648'],
  ['a negative parent', { processes: [{ pid: 7, parent: -1 }] }, 'at /processes/0/parent',
    'from 0 to 2147483647, found -1'],
  ['a pid with a fraction', { accessibility: { applications: [{ pid: 5.5 }] } },
    'at /accessibility/applications/0/pid', 'expected a pid, a whole number from 1 to 2147483647, found 5.5'],
  ['a missing pid', { applications: [{ bundleId: 'org.example.x' }] }, 'at /applications/0/pid',
    'missing; expected a pid'],
  ['a pid given twice', { applications: [{ pid: 4 }, { pid: 4 }] }, 'at /applications/1/pid',
    'expected a pid not given to another application, found 4 (also at /applications/0/pid)'],
  ['the system object as a process object', { audio: { processes: [{ id: 1, pid: 3 }] } },
    'at /audio/processes/0/id', 'expected an audio object id, a whole number from 2 to 4294967295, found 1'],
  ['an object id beyond 32 bits', { audio: { devices: [{ id: 4294967296 }] } },
    'at /audio/devices/0/id', 'from 2 to 4294967295, found 4294967296'],
  ['an object id given twice', { audio: { timeline: [{ poll: 2, processes: [{ id: 9, pid: 3 }, { id: 9, pid: 4 }] }] } },
    'at /audio/timeline/0/processes/1/id', 'expected an id not used before in this list, found 9'],
  ['a default device beyond 32 bits', { audio: { defaultInputDevice: -1 } },
    'at /audio/defaultInputDevice', 'expected an audio object id (0 for none), a whole number from 0 to 4294967295, found -1'],
  ['a default device that is the audio system', { audio: { defaultInputDevice: 1 } },
    'at /audio/defaultInputDevice', "expected a device's id (0 for none); 1 is the audio system itself, found 1"],
  ['a default device of the wrong type', { audio: { defaultInputDevice: true } },
    'at /audio/defaultInputDevice', 'expected an audio object id (0 for none) or "fails", found true'],
  ['poll 0', { audio: { timeline: [{ poll: 0 }] } }, 'at /audio/timeline/0/poll',
    'expected a poll number, a whole number from 1 to'],
  ['polls out of order', { audio: { timeline: [{ poll: 3 }, { poll: 3 }] } },
    'at /audio/timeline/1/poll', 'expected a poll number after the step before, a whole number from 4'],
  ['a step without a poll', { audio: { timeline: [{ listFailure: 'read' }] } },
    'at /audio/timeline/0/poll', 'missing; expected a poll number'],
  ['too many extra bytes', { audio: { listExtraBytes: 4 } }, 'at /audio/listExtraBytes',
    'expected a number of bytes, a whole number from 0 to 3, found 4'],
  ['an unknown list failure', { audio: { listFailure: 'size' } }, 'at /audio/listFailure',
    'expected "none", "sizeQuery" or "read"'],
  ['walk 0', { accessibility: { applications: [{ pid: 5, windowsFromWalk: 0 }] } },
    'at /accessibility/applications/0/windowsFromWalk', 'expected a walk number, a whole number from 1'],
  ['an unknown error name', { accessibility: { applications: [{ pid: 5, windows: { fails: 'timeout' } }] } },
    'at /accessibility/applications/0/windows/fails', 'expected "failure", "illegalArgument"'],
  ['an attribute given twice', { accessibility: { applications: [{ pid: 5, windows: [{ role: 'AXWindow', attributes: { AXRole: 'AXGroup' } }] }] } },
    'at /accessibility/applications/0/windows/0/attributes/AXRole', 'expected AXRole only once'],
  ['a switch among the application\'s attributes', { accessibility: { applications: [{ pid: 5, attributes: { AXManualAccessibility: true } }] } },
    'at /accessibility/applications/0/attributes/AXManualAccessibility', 'give AXManualAccessibility with "manualAccessibility"'],
  ['a value of two kinds', { accessibility: { applications: [{ pid: 5, windows: [{ url: { url: 'a', string: 'b' } }] }] } },
    'at /accessibility/applications/0/windows/0/url', 'expected a value: an object with one of "string", "url"'],
  ['an unknown value form', { accessibility: { applications: [{ pid: 5, windows: { array: 1 } }] } },
    'at /accessibility/applications/0/windows/array', 'unknown key; expected one of "string", "url", "element", "elements"'],
  ['null inside an array value', { accessibility: { applications: [{ pid: 5, attributes: { AXTitle: ['a', null] } }] } },
    'at /accessibility/applications/0/attributes/AXTitle/1', 'expected a value, found null'],
  ['a tree nested too deep', nested(250), 'at /accessibility/applications/0/windows/0' + '/children/0'.repeat(200),
    'expected at most 200 levels of nesting'],
];

// Each case is its own process; they run side by side.
describe('bad scenarios', { concurrency: 8 }, () => {
  for (const [name, content, place, what] of scenarios) {
    test(`refused: ${name}`, async () => {
      const file = scenarioFile(content);
      const { code, stdout, stderr } = await runSim(['--speed', '10', file]);
      assert.equal(code, 2);
      assert.equal(stdout, '');
      assert.match(stderr, /^tondrel-sim: [^\n]*\n$/, 'one line on standard error');
      assert.ok(stderr.startsWith(`tondrel-sim: ${file}: ${place}: `), stderr);
      assert.ok(stderr.includes(what), `"${what}" in: ${stderr}`);
    });
  }
});

test('refused: a file that cannot be read', async () => {
  for (const file of [path.join(dir, 'no-such-file.json'), dir]) {
    const { code, stdout, stderr } = await runSim([file]);
    assert.equal(code, 2);
    assert.equal(stdout, '');
    assert.match(stderr, new RegExp(`^tondrel-sim: ${file.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}: cannot read the scenario: [^\n]+\n$`));
  }
});

test('refused: paths that are not regular files, and files over 64 MiB', async () => {
  const fifo = path.join(dir, 'fifo.json');
  execFileSync('mkfifo', [fifo]);
  // Sparse: neither takes space on the disk.
  const limit = 64 * 1024 * 1024;
  const big = path.join(dir, 'big.json');
  const largest = path.join(dir, 'largest.json');
  for (const [file, size] of [[big, limit + 1], [largest, limit]]) {
    fs.writeFileSync(file, '');
    fs.truncateSync(file, size);
  }
  const cases = [
    // Opening a FIFO for reading waits for a writer unless told not to.
    [fifo, 'cannot read the scenario: expected a regular file, found a FIFO'],
    // Endless: reading would never stop.
    ['/dev/zero', 'cannot read the scenario: expected a regular file, found a character device'],
    ['/dev/urandom', 'cannot read the scenario: expected a regular file, found a character device'],
    [dir, 'cannot read the scenario: expected a regular file, found a directory'],
    [big, `cannot read the scenario: expected at most 64 MiB (${limit} bytes), found ${limit + 1} bytes`],
    // At the limit it is read, and refused for what it holds.
    [largest, 'invalid JSON at line 1, column 1'],
  ];
  await Promise.all(cases.map(async ([file, what]) => {
    const { code, signal, stdout, stderr } = await runSim([file]);
    assert.deepEqual({ code, signal }, { code: 2, signal: null }, `${file}: ${stderr}`);
    assert.equal(stdout, '');
    assert.match(stderr, /^tondrel-sim: [^\n]*\n$/, 'one line on standard error');
    assert.ok(stderr.startsWith(`tondrel-sim: ${file}: ${what}`), stderr);
  }));
});

const demo = path.join(examples, 'demo.json');
const usage = [
  ['no arguments', [], 'no scenario file given'],
  ['two scenario files', [demo, demo], 'one scenario file expected, got 2'],
  ['an unknown option', ['--fast', demo], 'unknown option --fast'],
  ['--speed without its value', [demo, '--speed'], '--speed needs a value'],
  ['--speed 0', ['--speed', '0', demo], '--speed expects a number greater than 0, got "0"'],
  ['--speed negative', ['--speed=-2', demo], 'got "-2"'],
  ['--speed not a number', ['--speed', 'fast', demo], 'got "fast"'],
  ['--speed infinite', ['--speed', 'inf', demo], 'got "inf"'],
  ['--speed with trailing text', ['--speed', '2x', demo], 'got "2x"'],
  ['--speed in hexadecimal', ['--speed', '0x10', demo], 'got "0x10"'],
  ['--speed not a number, in any case', ['--speed=NaN', demo], 'got "NaN"'],
  ['--speed with a leading blank', ['--speed', ' 2', demo], 'got " 2"'],
  ['--speed twice', ['--speed', '2', '--speed', '3', demo], '--speed given twice'],
  ['--trace without its value', [demo, '--trace'], '--trace needs a value'],
  ['--trace empty', ['--trace=', demo], '--trace expects a file name'],
  ['a trace file that cannot be opened', ['--trace', path.join(dir, 'missing', 'trace.jsonl'), demo],
    `cannot open the trace file ${path.join(dir, 'missing', 'trace.jsonl')}: No such file or directory`],
];

describe('bad command lines', { concurrency: 8 }, () => {
  for (const [name, args, message] of usage) {
    test(`usage refused: ${name}`, async () => {
      const { code, stdout, stderr } = await runSim(args);
      assert.equal(code, 2);
      assert.equal(stdout, '');
      assert.ok(stderr.startsWith('tondrel-sim: '), stderr);
      assert.ok(stderr.includes(message), `"${message}" in: ${stderr}`);
    });
  }
});

test('--help prints the usage and starts nothing', async () => {
  const { code, stdout, stderr } = await runSim(['--help']);
  assert.equal(code, 0);
  assert.match(stdout, /^usage: tondrel-sim \[--speed FACTOR\] \[--trace FILE\] SCENARIO\.json\n/);
  assert.equal(stderr, '');
});

test('a scenario after -- may start with a dash', async () => {
  const file = path.join(dir, '-odd.json');
  fs.writeFileSync(file, '{}');
  const { code, stdout } = await runSim(['--speed', '10', '--', file]);
  assert.equal(code, 0);
  assert.equal(stdout, '{"event":"ready","perProcess":true}\n');
});
