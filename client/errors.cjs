'use strict';

/** Errors this client produces; `code` tells them apart. */
class TondrelError extends Error {
  constructor(message, code, details = undefined) {
    super(message, details?.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'TondrelError';
    this.code = code;
    if (details) {
      for (const [key, value] of Object.entries(details)) {
        if (key !== 'cause') this[key] = value;
      }
    }
  }
}

exports.TondrelError = TondrelError;
