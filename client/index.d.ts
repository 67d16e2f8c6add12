// The same declarations for ES modules as for CommonJS: index.js hands on
// the objects of index.cjs.
export * from './index.cjs';
