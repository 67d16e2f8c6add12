'use strict';

// The build places morvane.node beside this file, as does an install, so
// this folder is the whole package wherever it is copied.
module.exports = require('./morvane.node');
