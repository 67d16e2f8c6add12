// The package's ES module entry: the objects of the CommonJS one.
export {
  TondrelClient, TondrelError, startAgent, attachAgent, maxLineLength, maxAbandoned,
  findAgent, platformPackage, version, TondrelSupervisor, superviseAgent, MicActivity,
  waitForTrust, knownBrowsers, browserIds, checkApp,
} from './index.cjs';
