// Reading binaries' headers (which platform, which slices, program or module,
// signed or not) and checking a packaged macOS application with it, on
// hand-made files: thin and universal Mach-O, ELF, PE, and files that are none.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import crypto from 'node:crypto';

import { checkApp } from '../../client/index.js';

const require = createRequire(import.meta.url);
const { describeBinary } = require('../../client/binaries.cjs');

const cpuTypes = { arm64: 0x0100000c, x64: 0x01000007 };
const fileTypes = { program: 2, module: 8, object: 1 };

// A 64-bit Mach-O image of two 4 KiB pages of code: its header, one
// segment-like command, and when signed a code signature command pointing at
// a code directory that lists the pages' SHA-256 hashes. `changed` alters a
// byte of code after signing.
function macho(cpu, type, { signed = true, changed = false } = {}) {
  const codeLimit = 8000;
  const code = Buffer.alloc(codeLimit, 0x90);
  code.writeUInt32LE(0xfeedfacf, 0);
  code.writeUInt32LE(cpuTypes[cpu], 4);
  code.writeUInt32LE(fileTypes[type], 12);
  code.writeUInt32LE(signed ? 2 : 1, 16);
  code.writeUInt32LE(signed ? 88 : 72, 20);
  code.writeUInt32LE(0x19, 32);
  code.writeUInt32LE(72, 36);
  if (!signed) return code;
  const hashes = [0, 1].map((page) => crypto.createHash('sha256')
    .update(code.subarray(page * 4096, Math.min((page + 1) * 4096, codeLimit))).digest());
  const directory = Buffer.alloc(44);
  directory.writeUInt32BE(0xfade0c02, 0);
  directory.writeUInt32BE(44 + 64, 4);
  directory.writeUInt32BE(0x20400, 8);
  directory.writeUInt32BE(44, 16); // hashOffset
  directory.writeUInt32BE(2, 28); // code slots
  directory.writeUInt32BE(codeLimit, 32);
  Object.assign(directory, { 36: 32, 37: 2, 39: 12 }); // SHA-256 of 4 KiB pages
  const superBlob = Buffer.alloc(20);
  superBlob.writeUInt32BE(0xfade0cc0, 0);
  superBlob.writeUInt32BE(20 + 44 + 64, 4);
  superBlob.writeUInt32BE(1, 8);
  superBlob.writeUInt32BE(0, 12); // the code directory's slot
  superBlob.writeUInt32BE(20, 16);
  const signature = Buffer.concat([superBlob, directory, ...hashes]);
  code.writeUInt32LE(0x1d, 104);
  code.writeUInt32LE(16, 108);
  code.writeUInt32LE(codeLimit, 112);
  code.writeUInt32LE(signature.length, 116);
  // The command was written after hashing: hash again, as a linker would.
  const page0 = crypto.createHash('sha256').update(code.subarray(0, 4096)).digest();
  page0.copy(signature, 20 + 44);
  if (changed) code[5000] ^= 1;
  return Buffer.concat([code, signature]);
}

// A universal file holding the images at 4 KiB boundaries.
function universal(...images) {
  const header = Buffer.alloc(8 + 20 * images.length);
  header.writeUInt32BE(0xcafebabe, 0);
  header.writeUInt32BE(images.length, 4);
  const parts = [header];
  let offset = 4096;
  images.forEach((image, i) => {
    const cputype = image.readUInt32LE(4);
    header.writeUInt32BE(cputype, 8 + 20 * i);
    header.writeUInt32BE(offset, 8 + 20 * i + 8);
    header.writeUInt32BE(image.length, 8 + 20 * i + 12);
    header.writeUInt32BE(12, 8 + 20 * i + 16);
    const at = parts.reduce((n, b) => n + b.length, 0);
    parts.push(Buffer.alloc(offset - at), image);
    offset += Math.ceil(image.length / 4096) * 4096;
  });
  return Buffer.concat(parts);
}

function elf(machine, type) {
  const bytes = Buffer.alloc(64);
  bytes.writeUInt32BE(0x7f454c46, 0);
  bytes[4] = 2;
  bytes[5] = 1;
  bytes.writeUInt16LE(type, 16);
  bytes.writeUInt16LE(machine, 18);
  return bytes;
}

// A Windows image: the DOS header pointing at a PE header with the machine,
// the characteristics and the optional header's magic (0x20b: 64-bit).
function pe(machine, characteristics, { magic = 0x20b, signature = 0x00004550 } = {}) {
  const bytes = Buffer.alloc(0x80 + 26);
  bytes.writeUInt16LE(0x5a4d, 0);
  bytes.writeUInt32LE(0x80, 0x3c);
  bytes.writeUInt32LE(signature, 0x80);
  bytes.writeUInt16LE(machine, 0x84);
  bytes.writeUInt16LE(characteristics, 0x80 + 22);
  bytes.writeUInt16LE(magic, 0x80 + 24);
  return bytes;
}

function scratch(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-binaries-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

test('what a file is, from its headers', async (t) => {
  const dir = scratch(t);
  const cases = [
    ['a signed arm64 program', macho('arm64', 'program'),
      { format: 'macho', os: 'darwin', slices: [{ cpu: 'arm64', program: true, library: false, signed: true, intact: true }] }],
    ['a signed program changed after signing', macho('arm64', 'program', { changed: true }),
      { format: 'macho', os: 'darwin', slices: [{ cpu: 'arm64', program: true, library: false, signed: true, intact: false }] }],
    ['an unsigned x86_64 module', macho('x64', 'module', { signed: false }),
      { format: 'macho', os: 'darwin', slices: [{ cpu: 'x64', program: false, library: true, signed: false, intact: null }] }],
    ['a universal program', universal(macho('arm64', 'program'), macho('x64', 'program', { signed: false })),
      { format: 'macho', os: 'darwin', slices: [
        { cpu: 'arm64', program: true, library: false, signed: true, intact: true },
        { cpu: 'x64', program: true, library: false, signed: false, intact: null }] }],
    ['an x86-64 ELF executable', elf(0x3e, 2),
      { format: 'elf', os: 'linux', slices: [{ cpu: 'x64', program: true, library: false }] }],
    ['an aarch64 ELF shared object', elf(0xb7, 3),
      { format: 'elf', os: 'linux', slices: [{ cpu: 'arm64', program: true, library: true }] }],
    ['an x86-64 Windows program', pe(0x8664, 0x0022),
      { format: 'pe', os: 'win32', slices: [{ cpu: 'x64', program: true, library: false }] }],
    ['an x86-64 Windows DLL (a .node file)', pe(0x8664, 0x2022),
      { format: 'pe', os: 'win32', slices: [{ cpu: 'x64', program: false, library: true }] }],
    ['an Arm64 Windows program', pe(0xaa64, 0x0022),
      { format: 'pe', os: 'win32', slices: [{ cpu: 'arm64', program: true, library: false }] }],
    ['a 32-bit Windows program', pe(0x014c, 0x0102, { magic: 0x10b }), { error: 'not a 64-bit (PE32+) image' }],
    ['an MS-DOS program (no PE header)', pe(0x8664, 0x0022, { signature: 0 }),
      { error: 'an MZ file without a PE header' }],
    ['a 32-bit ELF file', (() => { const b = elf(0x3e, 2); b[4] = 1; return b; })(),
      { error: 'not a 64-bit little-endian ELF file' }],
    ['a Java class file (the universal magic, a large second word)', Buffer.from('cafebabe00000034', 'hex'),
      { error: 'neither ELF, Mach-O nor PE' }],
    ['a universal file whose slice is cut off', universal(macho('arm64', 'program')).subarray(0, 4100),
      { error: 'universal file, slice 0: not a 64-bit Mach-O image' }],
    ['a shell script', Buffer.from('#!/bin/sh\nexit 0\n'), { error: 'neither ELF, Mach-O nor PE' }],
    ['an empty file', Buffer.alloc(0), { error: 'neither ELF, Mach-O nor PE' }],
  ];
  for (const [name, bytes, expected] of cases) {
    await t.test(name, () => {
      const file = path.join(dir, name.replace(/\W+/g, '-'));
      fs.writeFileSync(file, bytes);
      assert.deepEqual(describeBinary(file), expected);
    });
  }
});

// A packaged application: its main executable, Info.plist, and the platform
// package unpacked beside app.asar (or not).
function app(dir, { main, agent, module, unpacked = true, plist = true, mode = 0o755 }) {
  const contents = path.join(dir, `App-${Math.random().toString(36).slice(2)}.app`, 'Contents');
  fs.mkdirSync(path.join(contents, 'MacOS'), { recursive: true });
  fs.writeFileSync(path.join(contents, 'MacOS', 'Your App'), main, { mode: 0o755 });
  if (plist) {
    fs.writeFileSync(path.join(contents, 'Info.plist'),
      '<plist><dict><key>CFBundleName</key><string>Your App</string>\n' +
      '  <key>CFBundleExecutable</key>\n  <string>Your App</string></dict></plist>');
  }
  const resources = path.join(contents, 'Resources');
  fs.mkdirSync(resources, { recursive: true });
  fs.writeFileSync(path.join(resources, 'app.asar'), 'archive');
  if (unpacked) {
    const pkg = path.join(resources, 'app.asar.unpacked', 'node_modules', '@tondrel', 'darwin');
    fs.mkdirSync(pkg, { recursive: true });
    if (agent) fs.writeFileSync(path.join(pkg, 'tondrel'), agent, { mode });
    if (module) fs.writeFileSync(path.join(pkg, 'morvane.node'), module);
  }
  return path.dirname(contents);
}

test('a packaged application is checked for the agent and module of every architecture it runs on', async (t) => {
  const dir = scratch(t);
  const both = (type, options) => universal(macho('arm64', type, options), macho('x64', type, options));
  const cases = [
    ['a universal application with the universal package', { main: both('program'), agent: both('program'), module: both('module') },
      ['arm64', 'x64'], []],
    ['found without Info.plist, by the one executable', { main: both('program'), agent: both('program'), module: both('module'), plist: false },
      ['arm64', 'x64'], []],
    ['an arm64 application needs arm64 only', { main: macho('arm64', 'program'), agent: macho('arm64', 'program'), module: macho('arm64', 'module') },
      ['arm64'], []],
    ['a universal application with arm64-only binaries fails on Intel Macs',
      { main: both('program'), agent: macho('arm64', 'program'), module: both('module') }, ['arm64', 'x64'],
      ['tondrel: no x64 slice (it holds arm64), so it fails on x64 Macs']],
    ['an unsigned arm64 slice', { main: macho('arm64', 'program'), agent: macho('arm64', 'program', { signed: false }), module: macho('arm64', 'module') },
      ['arm64'], ['tondrel: its arm64 slice is not signed, and Apple silicon runs no unsigned code']],
    ['a module changed after it was signed', { main: macho('arm64', 'program'), agent: macho('arm64', 'program'), module: macho('arm64', 'module', { changed: true }) },
      ['arm64'], ['morvane.node: its arm64 slice was changed after it was signed; sign it again']],
    ['an agent without the execute bit', { main: macho('arm64', 'program'), agent: macho('arm64', 'program'), module: macho('arm64', 'module'), mode: 0o644 },
      ['arm64'], ['tondrel: not executable']],
    ['Linux binaries', { main: macho('arm64', 'program'), agent: elf(0x3e, 2), module: macho('arm64', 'module') },
      ['arm64'], ['tondrel: built for linux']],
    ['a missing module', { main: macho('arm64', 'program'), agent: macho('arm64', 'program') },
      ['arm64'], [/^morvane\.node: missing from /]],
    ['the package left inside app.asar', { main: macho('arm64', 'program'), unpacked: false },
      ['arm64'], [/^@tondrel\/darwin is not unpacked beside app\.asar/]],
  ];
  for (const [name, layout, archs, problems] of cases) {
    await t.test(name, () => {
      const result = checkApp(app(dir, layout));
      assert.deepEqual(result.archs, archs);
      assert.equal(result.problems.length, problems.length, result.problems.join('; '));
      problems.forEach((expected, i) => {
        if (expected instanceof RegExp) assert.match(result.problems[i], expected);
        else assert.equal(result.problems[i], expected);
      });
    });
  }
  assert.match(checkApp(dir).problems[0], /not an application bundle/);
});
