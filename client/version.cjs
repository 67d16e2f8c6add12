'use strict';

// The version of this package; a test keeps it equal to package.json's.
exports.version = '0.3.0';
