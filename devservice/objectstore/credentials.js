'use strict';
// Temporary credentials the local Talvora service registered. Each one is good for
// one object: its bucket, its key and the methods listed, until it expires.

const KEEP_AFTER_EXPIRY_MS = 24 * 3600 * 1000;

class CredentialStore {
  constructor() {
    this.byAccess = new Map();
  }

  // entry: {access, secret, token, expiresAt (epoch seconds), bucket, key, methods}
  // Returns an error text, or null when the entry was taken.
  add(entry) {
    const texts = ['access', 'secret', 'token', 'bucket', 'key'];
    for (const name of texts) {
      if (typeof entry[name] !== 'string' || entry[name] === '') return `${name} missing`;
    }
    if (!Number.isFinite(entry.expiresAt)) return 'expiresAt missing';
    if (!Array.isArray(entry.methods) || entry.methods.length === 0) return 'methods missing';
    this.prune();
    this.byAccess.set(entry.access, {
      access: entry.access,
      secret: entry.secret,
      token: entry.token,
      expiresAtMs: entry.expiresAt * 1000,
      bucket: entry.bucket,
      key: entry.key,
      methods: entry.methods.map(m => String(m).toUpperCase()),
    });
    return null;
  }

  get(access) {
    return this.byAccess.get(access) || null;
  }

  // Makes one credential (or all of them) expire now.
  expire(access) {
    const now = Date.now();
    for (const c of this.byAccess.values()) {
      if (!access || c.access === access) c.expiresAtMs = Math.min(c.expiresAtMs, now - 1000);
    }
  }

  // Expired credentials are kept a while, so late requests hear "expired" rather
  // than "unknown key".
  prune() {
    const limit = Date.now() - KEEP_AFTER_EXPIRY_MS;
    for (const [access, c] of this.byAccess) {
      if (c.expiresAtMs < limit) this.byAccess.delete(access);
    }
  }
}

module.exports = { CredentialStore };
