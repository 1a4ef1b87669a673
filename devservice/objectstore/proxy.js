'use strict';
// The verifying proxy in front of s3rver. Every object request is checked against the
// temporary credentials the local Talvora service registered (verify.js); what
// passes goes on to s3rver re-signed with s3rver's own key, what fails gets an S3
// error document. The body is spooled to a file while it is hashed, so nothing
// unchecked reaches the store and large archives never sit in memory.
//
// Control routes for the local service and the tests (never part of S3; bucket
// names cannot contain "_", so they cannot clash with an object path):
//   POST /_control/credentials  {access, secret, token, expiresAt (epoch seconds),
//                                bucket, key, methods: ["PUT", ...]}
//   POST /_control/expire       {access} or {} for every credential
//   POST /_control/fault        {dropAfter, damage, times}: the next `times` PUTs lose
//                               their connection after `dropAfter` body bytes, or have
//                               one byte changed on the way in (damage); times 0 clears

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const net = require('net');
const path = require('path');
const { SignatureV4 } = require('@smithy/signature-v4');
const { verifyRequest, Refusal, Sha256 } = require('./verify');

const UPSTREAM_ACCESS = 'S3RVER';
const UPSTREAM_SECRET = 'S3RVER';
const UPSTREAM_REGION = 'us-east-1';
const MAX_CONTROL_BODY = 64 * 1024;

// Headers that describe this hop or the client's signature; everything else goes on.
const NOT_FORWARDED = new Set([
  'host',
  'authorization',
  'connection',
  'keep-alive',
  'expect',
  'te',
  'trailer',
  'transfer-encoding',
  'upgrade',
  'x-amz-date',
  'x-amz-security-token',
  'x-amz-content-sha256',
  'content-length',
]);

function escapeXml(text) {
  return String(text).replace(/[<>&'"]/g, c => `&#${c.charCodeAt(0)};`);
}

// AWS URI encoding: everything but unreserved characters, upper-case hex.
function awsEncode(text, keepSlash) {
  let out = '';
  for (const byte of Buffer.from(text, 'utf8')) {
    const c = String.fromCharCode(byte);
    if (/[A-Za-z0-9\-._~]/.test(c) || (keepSlash && c === '/')) out += c;
    else out += '%' + byte.toString(16).toUpperCase().padStart(2, '0');
  }
  return out;
}

function sendError(req, res, status, code, message, resource) {
  res.statusCode = status;
  res.setHeader('x-amz-request-id', crypto.randomBytes(8).toString('hex').toUpperCase());
  if (req.method === 'HEAD') {
    res.end();
    return;
  }
  const body =
    '<?xml version="1.0" encoding="UTF-8"?>\n' +
    `<Error><Code>${escapeXml(code)}</Code><Message>${escapeXml(message)}</Message>` +
    `<Resource>${escapeXml(resource)}</Resource></Error>`;
  res.setHeader('Content-Type', 'application/xml');
  res.setHeader('Content-Length', Buffer.byteLength(body));
  res.end(body);
}

// "a=1&b=%20" -> {a: "1", b: " "}; repeated names become arrays. Throws on bad escapes.
function parseQuery(raw) {
  const query = {};
  if (!raw) return query;
  for (const part of raw.split('&')) {
    if (part === '') continue;
    const eq = part.indexOf('=');
    const name = decodeURIComponent(eq < 0 ? part : part.slice(0, eq));
    const value = eq < 0 ? '' : decodeURIComponent(part.slice(eq + 1));
    if (query[name] === undefined) query[name] = value;
    else if (Array.isArray(query[name])) query[name].push(value);
    else query[name] = [query[name], value];
  }
  return query;
}

// Bucket and key from the host (virtual-host style) or the path (path style).
function locate(host, rawPath) {
  const hostname = (host || '').replace(/:\d+$/, '').replace(/^\[|\]$/g, '');
  const segments = rawPath.slice(1).split('/');
  if (net.isIP(hostname) || hostname === 'localhost' || !hostname.includes('.')) {
    const bucket = decodeURIComponent(segments.shift() || '');
    return { bucket, key: decodeURIComponent(segments.join('/')) };
  }
  return {
    bucket: hostname.slice(0, hostname.indexOf('.')),
    key: decodeURIComponent(segments.join('/')),
  };
}

// The file store below s3rver maps keys to paths: refuse what could leave the bucket.
function safeKey(key) {
  return key.split('/').every(s => s !== '.' && s !== '..') && !key.includes('\0');
}

function readJson(req, limit) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    req.on('data', c => {
      size += c.length;
      if (size > limit) reject(new Error('body too large'));
      else chunks.push(c);
    });
    req.on('end', () => {
      try {
        resolve(JSON.parse(Buffer.concat(chunks).toString('utf8') || '{}'));
      } catch (e) {
        reject(e);
      }
    });
    req.on('error', reject);
  });
}

// Writes the body to a file in `dir` while hashing it. Resolves to
// {file (null when empty), length, sha256 (hex), md5 (base64)}; a client that goes
// away first leaves no file behind.
function spoolBody(req, dir, fault) {
  return new Promise((resolve, reject) => {
    const sha256 = crypto.createHash('sha256');
    const md5 = crypto.createHash('md5');
    let length = 0;
    let file = null;
    let out = null;
    let ended = false;
    const fail = err => {
      if (ended) return;
      ended = true;
      if (out) out.destroy();
      if (file) fs.unlink(file, () => {});
      reject(err);
    };
    req.on('data', chunk => {
      if (ended) return;
      if (fault && fault.dropAfter >= 0 && length + chunk.length > fault.dropAfter) {
        req.socket.destroy();
        fail(new Error('connection dropped by the fault switch'));
        return;
      }
      if (fault && fault.damage && length === 0 && chunk.length > 0) {
        chunk = Buffer.from(chunk);
        chunk[0] ^= 0xff;
      }
      if (!out) {
        file = path.join(dir, crypto.randomBytes(12).toString('hex'));
        out = fs.createWriteStream(file);
        out.on('error', fail);
      }
      sha256.update(chunk);
      md5.update(chunk);
      length += chunk.length;
      if (!out.write(chunk)) {
        req.pause();
        out.once('drain', () => req.resume());
      }
    });
    req.on('error', fail);
    req.on('aborted', () => fail(new Error('the client went away')));
    req.on('end', () => {
      if (ended) return;
      ended = true;
      const done = () =>
        resolve({ file, length, sha256: sha256.digest('hex'), md5: md5.digest('base64') });
      if (out) out.end(done);
      else done();
    });
  });
}

class VerifyingProxy {
  // upstream: {host, port} of s3rver; spoolDir: folder for bodies being checked.
  constructor({ credentials, upstream, spoolDir, log }) {
    this.credentials = credentials;
    this.upstream = upstream;
    this.spoolDir = spoolDir;
    this.log = log || (() => {});
    this.signer = new SignatureV4({
      credentials: { accessKeyId: UPSTREAM_ACCESS, secretAccessKey: UPSTREAM_SECRET },
      region: UPSTREAM_REGION,
      service: 's3',
      sha256: Sha256,
      uriEscapePath: false,
      applyChecksum: false,
    });
    this.server = http.createServer((req, res) => {
      this.handle(req, res).catch(err => {
        this.log(`error ${req.method} ${req.url}: ${err.message}`);
        if (!res.headersSent)
          sendError(req, res, 500, 'InternalError', 'We encountered an internal error.', '');
        else res.destroy();
      });
    });
  }

  listen(port, host) {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, host, () => resolve(this.server.address()));
    });
  }

  close() {
    return new Promise(resolve => this.server.close(() => resolve()));
  }

  async handle(req, res) {
    const at = req.url.indexOf('?');
    const rawPath = at < 0 ? req.url : req.url.slice(0, at);
    if (rawPath.startsWith('/_control/')) return this.control(req, res, rawPath);

    let request;
    try {
      const query = parseQuery(at < 0 ? '' : req.url.slice(at + 1));
      const { bucket, key } = locate(req.headers.host, rawPath);
      // What S3 signs is the decoded path encoded again, so a client that sends "+"
      // or lower-case escapes as they are fails just as it would there.
      const canonicalPath = rawPath
        .split('/')
        .map(segment => awsEncode(decodeURIComponent(segment), false))
        .join('/');
      request = { method: req.method, canonicalPath, query, headers: req.headers, bucket, key };
    } catch (e) {
      req.resume();
      return sendError(req, res, 400, 'InvalidURI', 'Could not parse the specified URI.', rawPath);
    }
    const resource = `/${request.bucket}/${request.key}`;
    if (!safeKey(request.key)) {
      req.resume();
      return sendError(
        req,
        res,
        400,
        'InvalidArgument',
        'This object key is not supported.',
        resource,
      );
    }
    let fault = null;
    if (req.method === 'PUT' && this.fault && this.fault.times > 0) {
      fault = this.fault;
      if (--this.fault.times === 0) this.fault = null;
    }
    try {
      request.body = await spoolBody(req, this.spoolDir, fault);
    } catch (e) {
      this.log(`${req.method} ${resource}: ${e.message}`);
      res.destroy();
      return;
    }
    try {
      const { payloadHash } = await verifyRequest(request, this.credentials);
      await this.forward(request, payloadHash, res);
    } catch (e) {
      if (!(e instanceof Refusal)) throw e;
      this.log(`refused ${req.method} ${resource}: ${e.code}`);
      sendError(req, res, e.status, e.code, e.message, resource);
    } finally {
      if (request.body.file) fs.unlink(request.body.file, () => {});
    }
  }

  async forward(request, payloadHash, res) {
    const headers = {};
    for (const [name, value] of Object.entries(request.headers)) {
      if (!NOT_FORWARDED.has(name) && !name.startsWith('proxy-')) headers[name] = value;
    }
    const { host, port } = this.upstream;
    headers.host = `${host}:${port}`;
    headers['x-amz-content-sha256'] = payloadHash;
    if (request.body.length > 0 || request.method === 'PUT') {
      headers['content-length'] = String(request.body.length);
    }
    const query = {};
    for (const [name, value] of Object.entries(request.query)) {
      if (!name.toLowerCase().startsWith('x-amz-')) query[name] = value;
    }
    const upstreamPath = `/${awsEncode(request.bucket, false)}/${awsEncode(request.key, true)}`;
    const signed = await this.signer.sign({
      method: request.method,
      protocol: 'http:',
      hostname: host,
      port,
      path: upstreamPath,
      query,
      headers,
    });
    const search = Object.entries(query)
      .flatMap(([n, v]) => (Array.isArray(v) ? v : [v]).map(x => `${awsEncode(n)}=${awsEncode(x)}`))
      .join('&');
    await new Promise((resolve, reject) => {
      const up = http.request(
        {
          host,
          port,
          method: request.method,
          path: upstreamPath + (search ? `?${search}` : ''),
          headers: signed.headers,
        },
        upRes => {
          res.writeHead(upRes.statusCode, upRes.headers);
          upRes.pipe(res);
          upRes.on('end', resolve);
          upRes.on('error', reject);
        },
      );
      up.on('error', reject);
      if (request.body.file) {
        const body = fs.createReadStream(request.body.file);
        body.on('error', reject);
        body.pipe(up);
      } else {
        up.end();
      }
    });
  }

  async control(req, res, rawPath) {
    let body;
    try {
      body = await readJson(req, MAX_CONTROL_BODY);
    } catch (e) {
      return sendJson(res, 400, { error: 'a JSON object is needed' });
    }
    if (req.method === 'POST' && rawPath === '/_control/credentials') {
      const error = this.credentials.add(body);
      return error ? sendJson(res, 400, { error }) : sendJson(res, 200, { ok: true });
    }
    if (req.method === 'POST' && rawPath === '/_control/fault') {
      const times = Number.isInteger(body.times) ? body.times : 1;
      this.fault =
        times > 0
          ? {
              dropAfter: Number.isInteger(body.dropAfter) ? body.dropAfter : -1,
              damage: body.damage === true,
              times,
            }
          : null;
      return sendJson(res, 200, { ok: true });
    }
    if (req.method === 'POST' && rawPath === '/_control/expire') {
      this.credentials.expire(typeof body.access === 'string' ? body.access : '');
      return sendJson(res, 200, { ok: true });
    }
    return sendJson(res, 404, { error: 'unknown control path' });
  }
}

function sendJson(res, status, value) {
  const text = JSON.stringify(value);
  res.writeHead(status, {
    'Content-Type': 'application/json',
    'Content-Length': Buffer.byteLength(text),
  });
  res.end(text);
}

module.exports = { VerifyingProxy, awsEncode };
