'use strict';

// Application ids of common web browsers, for page-urls requests by
// `bundleIds`: bundle identifiers on macOS, desktop application ids (the
// desktop entry's name without `.desktop`) on Linux. A browser missing here
// can still be asked for by its id; a listed one that is not running costs
// nothing. Channels (beta, nightly) and packaging (Flatpak, distribution
// builds) each have ids of their own, hence several per browser.

const darwin = [
  'com.apple.Safari',
  'com.apple.SafariTechnologyPreview',
  'com.google.Chrome',
  'com.google.Chrome.beta',
  'com.google.Chrome.dev',
  'com.google.Chrome.canary',
  'org.chromium.Chromium',
  'com.microsoft.edgemac',
  'com.microsoft.edgemac.Beta',
  'com.microsoft.edgemac.Dev',
  'com.microsoft.edgemac.Canary',
  'com.brave.Browser',
  'com.brave.Browser.beta',
  'com.brave.Browser.nightly',
  'com.vivaldi.Vivaldi',
  'com.operasoftware.Opera',
  'company.thebrowser.Browser',
  'org.mozilla.firefox',
  'org.mozilla.firefoxdeveloperedition',
  'org.mozilla.nightly',
];

const linux = [
  'firefox',
  'firefox-esr',
  'org.mozilla.firefox',
  'chromium',
  'chromium-browser',
  'org.chromium.Chromium',
  'google-chrome',
  'google-chrome-beta',
  'google-chrome-unstable',
  'com.google.Chrome',
  'microsoft-edge',
  'microsoft-edge-beta',
  'com.microsoft.Edge',
  'brave-browser',
  'com.brave.Browser',
  'vivaldi-stable',
  'com.vivaldi.Vivaldi',
  'opera',
  'com.opera.Opera',
];

const knownBrowsers = Object.freeze({ darwin: Object.freeze(darwin), linux: Object.freeze(linux) });

/** The known browsers' ids for a platform (default this one); [] for one without a list. */
function browserIds(platform = process.platform) {
  return Object.hasOwn(knownBrowsers, platform) ? knownBrowsers[platform] : Object.freeze([]);
}

module.exports = { knownBrowsers, browserIds };
