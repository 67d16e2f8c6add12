'use strict';

// What a binary file is, read from its headers: ELF, Mach-O or PE, the
// architecture of each slice (a universal Mach-O file holds several), whether
// a slice is a program or a loadable module, and whether a Mach-O slice
// carries a code signature (Apple silicon runs no unsigned code; the linker
// signs ad hoc) and whether the code it covers is still what was signed.
// Used to check packages before they are packed and applications after they
// are packaged, on any system, without Apple's tools.

const crypto = require('node:crypto');
const fs = require('node:fs');

const elfMachines = { 0x3e: 'x64', 0xb7: 'arm64' };
const machCpus = { 0x0100000c: 'arm64', 0x01000007: 'x64' };
const LC_CODE_SIGNATURE = 0x1d;
const hashNames = { 1: 'sha1', 2: 'sha256' };

// Whether the pages that a signature's code directory covers still hash to
// what it lists. A file changed after it was signed (stripped, patched,
// another copied over part of it) fails here as it fails on a Mac, where the
// system kills the program or refuses the module.
function signatureIntact(fd, offset, dataoff, datasize) {
  const blob = readAt(fd, offset + dataoff, Math.min(datasize, 1024 * 1024));
  if (blob.length < 12 || blob.readUInt32BE(0) !== 0xfade0cc0) return false;
  let directory = null;
  for (let i = 0, count = blob.readUInt32BE(8); i < count && 20 + 8 * i <= blob.length; i += 1) {
    const type = blob.readUInt32BE(12 + 8 * i);
    const at = blob.readUInt32BE(16 + 8 * i);
    if (type === 0 && at + 44 <= blob.length && blob.readUInt32BE(at) === 0xfade0c02) directory = blob.subarray(at);
  }
  if (!directory) return false;
  const hashOffset = directory.readUInt32BE(16);
  const slots = directory.readUInt32BE(28);
  const codeLimit = directory.readUInt32BE(32);
  const hashSize = directory[36];
  const hash = hashNames[directory[37]];
  const pageSize = directory[39] ? 2 ** directory[39] : codeLimit;
  if (!hash || slots !== Math.ceil(codeLimit / pageSize) || hashOffset + slots * hashSize > directory.length) return false;
  const code = readAt(fd, offset, codeLimit);
  if (code.length < codeLimit) return false;
  for (let i = 0; i < slots; i += 1) {
    const page = code.subarray(i * pageSize, Math.min((i + 1) * pageSize, codeLimit));
    const listed = directory.subarray(hashOffset + i * hashSize, hashOffset + (i + 1) * hashSize);
    if (!crypto.createHash(hash).update(page).digest().subarray(0, hashSize).equals(listed)) return false;
  }
  return true;
}

function readAt(fd, offset, length) {
  const bytes = Buffer.alloc(length);
  const got = fs.readSync(fd, bytes, 0, length, offset);
  return bytes.subarray(0, got);
}

function elf(bytes) {
  if (bytes.length < 20) return { error: 'a truncated ELF file' };
  if (bytes[4] !== 2 || bytes[5] !== 1) return { error: 'not a 64-bit little-endian ELF file' };
  const type = bytes.readUInt16LE(16);
  const machine = bytes.readUInt16LE(18);
  return {
    format: 'elf', os: 'linux',
    slices: [{ cpu: elfMachines[machine] ?? `machine ${machine}`, program: type === 2 || type === 3, library: type === 3 }],
  };
}

// One 64-bit Mach-O image at `offset`.
function machSlice(fd, offset) {
  const header = readAt(fd, offset, 32);
  if (header.length < 32 || header.readUInt32LE(0) !== 0xfeedfacf) return { error: 'not a 64-bit Mach-O image' };
  const cputype = header.readUInt32LE(4);
  const filetype = header.readUInt32LE(12);
  const ncmds = header.readUInt32LE(16);
  const sizeofcmds = header.readUInt32LE(20);
  if (sizeofcmds > 16 * 1024 * 1024) return { error: 'load commands of implausible size' };
  const commands = readAt(fd, offset + 32, sizeofcmds);
  let signature = null;
  for (let at = 0, i = 0; i < ncmds && at + 8 <= commands.length; i += 1) {
    const cmd = commands.readUInt32LE(at);
    const size = commands.readUInt32LE(at + 4);
    if (cmd === LC_CODE_SIGNATURE && at + 16 <= commands.length) {
      signature = { dataoff: commands.readUInt32LE(at + 8), datasize: commands.readUInt32LE(at + 12) };
    }
    if (size < 8) break;
    at += size;
  }
  return {
    cpu: machCpus[cputype] ?? `cputype ${cputype}`, program: filetype === 2, library: filetype === 8,
    signed: signature !== null,
    intact: signature && signatureIntact(fd, offset, signature.dataoff, signature.datasize),
  };
}

const peMachines = { 0x8664: 'x64', 0xaa64: 'arm64' };
const IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002;
const IMAGE_FILE_DLL = 0x2000;

// A Windows image: the DOS header points at the PE header, whose file header
// says the machine and whether it is a program or a DLL (a .node file is one).
function pe(fd, head) {
  const at = head.readUInt32LE(0x3c);
  const header = readAt(fd, at, 26);
  if (header.length < 26 || header.readUInt32LE(0) !== 0x00004550) return { error: 'an MZ file without a PE header' };
  const machine = header.readUInt16LE(4);
  const characteristics = header.readUInt16LE(22);
  if (header.readUInt16LE(24) !== 0x20b) return { error: 'not a 64-bit (PE32+) image' };
  const library = (characteristics & IMAGE_FILE_DLL) !== 0;
  return {
    format: 'pe', os: 'win32',
    slices: [{
      cpu: peMachines[machine] ?? `machine ${machine}`,
      program: (characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) !== 0 && !library,
      library,
    }],
  };
}

/**
 * Describes the binary at `file`: { format, os, slices: [{ cpu, program,
 * library, signed?, intact? }] } (for Mach-O: signed, and intact: whether
 * the signed code is unchanged, null when unsigned), or { error } for a
 * file that is none of a 64-bit ELF, Mach-O or PE file. Throws only when
 * the file cannot be read.
 */
function describeBinary(file) {
  const fd = fs.openSync(file, 'r');
  try {
    const head = readAt(fd, 0, 64);
    if (head.length >= 4 && head.readUInt32BE(0) === 0x7f454c46) return elf(head);
    if (head.length >= 64 && head.readUInt16LE(0) === 0x5a4d) return pe(fd, head);
    if (head.length >= 4 && head.readUInt32LE(0) === 0xfeedfacf) {
      const slice = machSlice(fd, 0);
      return slice.error ? slice : { format: 'macho', os: 'darwin', slices: [slice] };
    }
    const magic = head.length >= 8 ? head.readUInt32BE(0) : 0;
    if (magic === 0xcafebabe || magic === 0xcafebabf) {
      const wide = magic === 0xcafebabf;
      const count = head.readUInt32BE(4);
      // Java class files share the magic; their second word is a version far above this.
      if (count === 0 || count > 16) return { error: 'neither ELF, Mach-O nor PE' };
      const entry = wide ? 32 : 20;
      const table = readAt(fd, 8, count * entry);
      const slices = [];
      for (let i = 0; i < count; i += 1) {
        const at = i * entry;
        if (at + entry > table.length) return { error: 'a truncated universal file' };
        const offset = wide ? Number(table.readBigUInt64BE(at + 8)) : table.readUInt32BE(at + 8);
        const slice = machSlice(fd, offset);
        if (slice.error) return { error: `universal file, slice ${i}: ${slice.error}` };
        slices.push(slice);
      }
      return { format: 'macho', os: 'darwin', slices };
    }
    return { error: 'neither ELF, Mach-O nor PE' };
  } finally {
    fs.closeSync(fd);
  }
}

module.exports = { describeBinary };
