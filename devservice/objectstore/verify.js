'use strict';
// Checks one request against the registered temporary credentials with the AWS
// Signature Version 4 signer: header-signed requests and presigned URLs, the security
// token, expiry, the payload hash and Content-MD5. What the store itself (s3rver)
// never checks.

const crypto = require('crypto');
const { SignatureV4 } = require('@smithy/signature-v4');
const { Hash } = require('@smithy/hash-node');

const ALGORITHM = 'AWS4-HMAC-SHA256';
const EMPTY_SHA256 = 'e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855';
const UNSIGNED_PAYLOAD = 'UNSIGNED-PAYLOAD';
const MAX_SKEW_MS = 15 * 60 * 1000;
const MAX_PRESIGNED_SECONDS = 7 * 24 * 3600;

class Sha256 extends Hash {
  constructor(secret) {
    super('sha256', secret);
  }
}

class Refusal extends Error {
  constructor(status, code, message) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

function refuse(status, code, message) {
  return new Refusal(status, code, message);
}

// "20240102T030405Z" -> Date, or null.
function parseAmzDate(text) {
  const m = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(text || '');
  if (!m) return null;
  const date = new Date(Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]));
  return Number.isNaN(date.getTime()) ? null : date;
}

// "AK/20240102/region/s3/aws4_request" -> parts, or null.
function parseCredentialScope(text) {
  const parts = (text || '').split('/');
  if (parts.length !== 5 || parts[4] !== 'aws4_request' || !/^\d{8}$/.test(parts[1])) return null;
  return { access: parts[0], day: parts[1], region: parts[2], service: parts[3] };
}

function parseAuthorization(header) {
  const pattern = new RegExp(
    '^AWS4-HMAC-SHA256 Credential=([^,\\s]+),\\s*SignedHeaders=([^,\\s]+),\\s*' +
      'Signature=([0-9a-f]{64})$',
  );
  const m = pattern.exec(header || '');
  if (!m) return null;
  const scope = parseCredentialScope(m[1]);
  if (!scope) return null;
  return { ...scope, signedHeaders: m[2].split(';'), signature: m[3] };
}

function sameText(a, b) {
  const x = Buffer.from(String(a));
  const y = Buffer.from(String(b));
  return x.length === y.length && crypto.timingSafeEqual(x, y);
}

function signerFor(credential, region, service) {
  return new SignatureV4({
    credentials: {
      accessKeyId: credential.access,
      secretAccessKey: credential.secret,
      sessionToken: credential.token,
    },
    region,
    service,
    sha256: Sha256,
    uriEscapePath: false, // S3 signs the path as sent, encoded once
    applyChecksum: false,
  });
}

function findCredential(credentials, access) {
  const credential = credentials.get(access);
  if (!credential) {
    throw refuse(
      403,
      'InvalidAccessKeyId',
      'The AWS Access Key Id you provided does not exist in our records.',
    );
  }
  return credential;
}

function checkToken(credential, token) {
  if (!token || !sameText(token, credential.token)) {
    throw refuse(403, 'InvalidToken', 'The provided token is malformed or otherwise invalid.');
  }
  if (Date.now() >= credential.expiresAtMs) {
    throw refuse(400, 'ExpiredToken', 'The provided token has expired.');
  }
}

function checkScope(credential, req) {
  if (
    credential.bucket !== req.bucket ||
    credential.key !== req.key ||
    !credential.methods.includes(req.method)
  ) {
    throw refuse(403, 'AccessDenied', 'Access Denied');
  }
}

function checkBody(req, claimedHash) {
  if (claimedHash === UNSIGNED_PAYLOAD) {
    if (req.body.length > 0) {
      throw refuse(400, 'InvalidRequest', 'The payload of an upload must be signed.');
    }
  } else if (!sameText(claimedHash, req.body.sha256)) {
    throw refuse(
      400,
      'XAmzContentSHA256Mismatch',
      "The provided 'x-amz-content-sha256' header does not match what was computed.",
    );
  }
  const md5 = req.headers['content-md5'];
  if (md5 === undefined) {
    if (req.method === 'PUT') {
      throw refuse(400, 'InvalidRequest', 'Missing required header for this request: Content-MD5');
    }
    return;
  }
  const digest = Buffer.from(md5, 'base64');
  if (digest.length !== 16 || digest.toString('base64') !== md5) {
    throw refuse(400, 'InvalidDigest', 'The Content-MD5 you specified is not valid.');
  }
  if (!sameText(md5, req.body.md5)) {
    throw refuse(400, 'BadDigest', 'The Content-MD5 you specified did not match what we received.');
  }
}

function pick(headers, names) {
  const out = {};
  for (const name of names) {
    if (headers[name] !== undefined) out[name] = headers[name];
  }
  return out;
}

async function verifyHeaderSigned(req, credentials) {
  const auth = parseAuthorization(req.headers.authorization);
  if (!auth) {
    throw refuse(400, 'AuthorizationHeaderMalformed', 'The authorization header is malformed.');
  }
  const credential = findCredential(credentials, auth.access);
  checkToken(credential, req.headers['x-amz-security-token']);
  const date = parseAmzDate(req.headers['x-amz-date']);
  if (!date || req.headers['x-amz-date'].slice(0, 8) !== auth.day) {
    throw refuse(
      403,
      'AccessDenied',
      'x-amz-date is missing, malformed or outside the credential scope.',
    );
  }
  if (Math.abs(Date.now() - date.getTime()) > MAX_SKEW_MS) {
    throw refuse(
      403,
      'RequestTimeTooSkewed',
      'The difference between the request time and the current time is too large.',
    );
  }
  const claimedHash = req.headers['x-amz-content-sha256'];
  if (claimedHash === undefined) {
    throw refuse(
      400,
      'InvalidRequest',
      'Missing required header for this request: x-amz-content-sha256',
    );
  }
  for (const name of ['host', 'x-amz-content-sha256', 'x-amz-date', 'x-amz-security-token']) {
    if (!auth.signedHeaders.includes(name)) {
      throw refuse(403, 'AccessDenied', `The header ${name} must be signed.`);
    }
  }
  const signed = await signerFor(credential, auth.region, auth.service).sign(
    {
      method: req.method,
      protocol: 'http:',
      hostname: req.headers.host,
      path: req.canonicalPath,
      query: req.query,
      headers: pick(req.headers, auth.signedHeaders),
    },
    { signingDate: date, signableHeaders: new Set(auth.signedHeaders) },
  );
  const again = parseAuthorization(signed.headers.authorization);
  if (
    !again ||
    again.signedHeaders.join(';') !== auth.signedHeaders.join(';') ||
    !sameText(again.signature, auth.signature)
  ) {
    throw refuse(
      403,
      'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided.',
    );
  }
  checkScope(credential, req);
  checkBody(req, claimedHash);
  return { payloadHash: claimedHash === UNSIGNED_PAYLOAD ? EMPTY_SHA256 : claimedHash };
}

async function verifyPresigned(req, credentials) {
  const q = req.query;
  const text = name => (typeof q[name] === 'string' ? q[name] : '');
  if (text('X-Amz-Algorithm') !== ALGORITHM) {
    throw refuse(
      400,
      'AuthorizationQueryParametersError',
      'X-Amz-Algorithm only supports "AWS4-HMAC-SHA256".',
    );
  }
  const scope = parseCredentialScope(text('X-Amz-Credential'));
  const date = parseAmzDate(text('X-Amz-Date'));
  const expires = Number(text('X-Amz-Expires'));
  const signedHeaders = text('X-Amz-SignedHeaders').split(';');
  const signature = text('X-Amz-Signature');
  if (
    !scope ||
    !date ||
    text('X-Amz-Date').slice(0, 8) !== scope.day ||
    !Number.isInteger(expires) ||
    expires < 1 ||
    expires > MAX_PRESIGNED_SECONDS ||
    !/^[0-9a-f]{64}$/.test(signature) ||
    !signedHeaders.includes('host')
  ) {
    throw refuse(
      400,
      'AuthorizationQueryParametersError',
      'The presigned query parameters are malformed.',
    );
  }
  const credential = findCredential(credentials, scope.access);
  checkToken(credential, text('X-Amz-Security-Token'));
  const now = Date.now();
  if (date.getTime() - now > MAX_SKEW_MS) {
    throw refuse(403, 'RequestTimeTooSkewed', 'The request was signed in the future.');
  }
  if (now > date.getTime() + expires * 1000) {
    throw refuse(403, 'AccessDenied', 'Request has expired');
  }
  if (req.body.length > 0) {
    throw refuse(403, 'AccessDenied', 'Uploads through presigned addresses are not accepted.');
  }
  // The signer adds the authentication parameters again itself.
  const query = {};
  for (const [name, value] of Object.entries(q)) {
    if (
      !/^X-Amz-(Algorithm|Credential|Date|Expires|SignedHeaders|Signature|Security-Token)$/.test(
        name,
      )
    ) {
      query[name] = value;
    }
  }
  const contentHash = new Set(['x-amz-content-sha256']);
  const presigned = await signerFor(credential, scope.region, scope.service).presign(
    {
      method: req.method,
      protocol: 'http:',
      hostname: req.headers.host,
      path: req.canonicalPath,
      query,
      headers: { ...pick(req.headers, signedHeaders), 'x-amz-content-sha256': UNSIGNED_PAYLOAD },
    },
    {
      signingDate: date,
      expiresIn: expires,
      signableHeaders: new Set(signedHeaders),
      unsignableHeaders: contentHash,
      unhoistableHeaders: contentHash,
    },
  );
  if (
    presigned.query['X-Amz-SignedHeaders'] !== signedHeaders.join(';') ||
    !sameText(presigned.query['X-Amz-Signature'], signature)
  ) {
    throw refuse(
      403,
      'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided.',
    );
  }
  checkScope(credential, req);
  return { payloadHash: EMPTY_SHA256 };
}

// req: {method, canonicalPath (the path decoded and AWS-encoded again), query
// (decoded; repeated names as arrays), headers (lower-case names), bucket, key
// (decoded), body: {length, sha256 (hex), md5 (base64)}}. Resolves to {payloadHash}
// or rejects with a Refusal.
async function verifyRequest(req, credentials) {
  const headerSigned = req.headers.authorization !== undefined;
  const presigned = req.query['X-Amz-Algorithm'] !== undefined;
  if (headerSigned && presigned) {
    throw refuse(400, 'InvalidArgument', 'Only one auth mechanism allowed.');
  }
  if (headerSigned) return verifyHeaderSigned(req, credentials);
  if (presigned) return verifyPresigned(req, credentials);
  throw refuse(403, 'AccessDenied', 'Anonymous access is not allowed.');
}

module.exports = { verifyRequest, Refusal, Sha256, EMPTY_SHA256 };
