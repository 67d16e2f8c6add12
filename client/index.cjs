'use strict';

// The package's CommonJS entry; index.js gives the same objects to ES
// modules, so a host mixing both sees one TondrelError class, not two.
// Nothing here throws at load, on any platform: a system without a build
// learns so from findAgent() and from the start of an agent.
const client = require('./client.cjs');
const { TondrelError } = require('./errors.cjs');
const { findAgent, platformPackage } = require('./find.cjs');
const { version } = require('./version.cjs');
const { TondrelSupervisor, superviseAgent } = require('./supervisor.cjs');
const { MicActivity } = require('./activity.cjs');
const { waitForTrust } = require('./trust.cjs');
const { knownBrowsers, browserIds } = require('./browsers.cjs');
const { checkApp } = require('./check-app.cjs');

exports.TondrelClient = client.TondrelClient;
exports.TondrelError = TondrelError;
exports.startAgent = client.startAgent;
exports.attachAgent = client.attachAgent;
exports.maxLineLength = client.maxLineLength;
exports.maxAbandoned = client.maxAbandoned;
exports.findAgent = findAgent;
exports.platformPackage = platformPackage;
exports.version = version;
exports.TondrelSupervisor = TondrelSupervisor;
exports.superviseAgent = superviseAgent;
exports.MicActivity = MicActivity;
exports.waitForTrust = waitForTrust;
exports.knownBrowsers = knownBrowsers;
exports.browserIds = browserIds;
exports.checkApp = checkApp;
