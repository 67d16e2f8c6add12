'use strict';

// Run before a platform package is packed (its prepack script), in the
// package's folder: every binary the table lists for it must be there, a
// regular file, built for the package's os with a slice for every cpu it
// declares (and no other), a program or a loadable module as its name says,
// runnable where it is a program, and signed in every arm64 Mach-O slice
// (Apple silicon runs no unsigned code), with every signature still matching
// the code it covers. A tarball without its binaries
// would install cleanly and fail only on a host's machine, so packing one
// is refused here.

const fs = require('fs');
const path = require('path');
const { describeBinary } = require('./binaries.cjs');
const { packages } = require('./platforms.cjs');

const manifest = JSON.parse(fs.readFileSync('package.json', 'utf8'));
const entry = packages[manifest.name];
if (!entry) {
  console.error(`${manifest.name} is not a platform package`);
  process.exit(1);
}
const programs = new Set(['tondrel', 'tondrel-sim', 'tondrel.exe', 'tondrel-sim.exe']);

function problemsOf(name) {
  let stat;
  try {
    stat = fs.statSync(name);
  } catch {
    return [`${name}: missing`];
  }
  if (!stat.isFile() || stat.size === 0) return [`${name}: not a regular, non-empty file`];
  const kind = describeBinary(name);
  if (kind.error) return [`${name}: ${kind.error}`];
  const cpus = kind.slices.map((slice) => slice.cpu);
  const problems = [];
  const same = cpus.length === entry.cpu.length && entry.cpu.every((cpu) => cpus.includes(cpu));
  if (kind.os !== entry.os || !same) {
    problems.push(`${name}: built for ${kind.os}-${cpus.join('+')}, the package is for ${entry.os}-${entry.cpu.join('+')}`);
    return problems;
  }
  for (const slice of kind.slices) {
    if (programs.has(name) && !slice.program) problems.push(`${name} (${slice.cpu}): not an executable`);
    if (name.endsWith('.node') && !slice.library) problems.push(`${name} (${slice.cpu}): not a loadable module`);
    if (kind.format === 'macho' && slice.cpu === 'arm64' && !slice.signed) {
      problems.push(`${name} (arm64): not signed; link it with ad hoc signing`);
    }
    if (kind.format === 'macho' && slice.signed && !slice.intact) {
      problems.push(`${name} (${slice.cpu}): changed after it was signed; its signature no longer matches`);
    }
  }
  if (programs.has(name) && (stat.mode & 0o111) === 0) {
    problems.push(`${name}: not executable (mode ${(stat.mode & 0o777).toString(8)})`);
  }
  return problems;
}

const problems = entry.files.flatMap(problemsOf);
if (problems.length > 0) {
  console.error(`${manifest.name} cannot be packed from ${path.resolve('.')}:`);
  for (const problem of problems) console.error(`  ${problem}`);
  console.error('Assemble it from a build first: scripts/assemble-packages');
  process.exit(1);
}
