#!/usr/bin/env node
'use strict';
// The object store of the tests and of `make run`: s3rver on a free port of
// 127.0.0.1 with the verifying proxy in front of it. Clients and the local Talvora
// service talk only to the proxy.
//
//   node objectstore.js --data DIR [--port N] [--bucket NAME]...
//
//   --data DIR     folder for the stored objects (DIR/s3rver) and bodies being checked
//   --port N       port of the proxy; 0 (default) picks a free one
//   --bucket NAME  bucket to create at start (repeatable; default "talvora-backup")
//
// The first line on standard output is "listening 127.0.0.1:PORT" (the proxy) once
// both listen; SIGTERM or SIGINT stop both. Refused requests are logged on standard
// error.

const fs = require('fs');
const path = require('path');
const S3rver = require('s3rver');
const { CredentialStore } = require('./credentials');
const { VerifyingProxy } = require('./proxy');

const USAGE = 'usage: node objectstore.js --data DIR [--port N] [--bucket NAME]...\n';

function parseOptions(argv) {
  const options = { data: '', port: 0, buckets: [] };
  for (let i = 0; i < argv.length; i += 2) {
    const [name, value] = [argv[i], argv[i + 1]];
    if (name === '--help') return null;
    if (value === undefined) return null;
    if (name === '--data') options.data = value;
    else if (name === '--port') options.port = Number(value);
    else if (name === '--bucket') options.buckets.push(value);
    else return null;
  }
  if (
    !options.data ||
    !Number.isInteger(options.port) ||
    options.port < 0 ||
    options.port > 65535
  ) {
    return null;
  }
  if (options.buckets.length === 0) options.buckets.push('talvora-backup');
  return options;
}

async function main() {
  const options = parseOptions(process.argv.slice(2));
  if (!options) {
    process.stderr.write(USAGE);
    process.exit(2);
  }
  const storeDir = path.join(options.data, 's3rver');
  const spoolDir = path.join(options.data, 'incoming');
  fs.mkdirSync(storeDir, { recursive: true });
  fs.mkdirSync(spoolDir, { recursive: true });

  const store = new S3rver({
    address: '127.0.0.1',
    port: 0,
    directory: storeDir,
    silent: true,
    configureBuckets: options.buckets.map(name => ({ name })),
  });
  const upstream = await store.run();
  const proxy = new VerifyingProxy({
    credentials: new CredentialStore(),
    upstream: { host: '127.0.0.1', port: upstream.port },
    spoolDir,
    log: line => process.stderr.write(`${new Date().toISOString()} ${line}\n`),
  });
  const address = await proxy.listen(options.port, '127.0.0.1');
  process.stdout.write(`listening 127.0.0.1:${address.port}\n`);

  let stopping = false;
  const stop = async () => {
    if (stopping) return;
    stopping = true;
    const closed = Promise.all([proxy.close(), store.close()]);
    // Idle keep-alive connections would hold the servers open.
    for (const server of [proxy.server, store.httpServer]) server.closeAllConnections?.();
    await Promise.race([closed, new Promise(resolve => setTimeout(resolve, 2000))]);
    process.exit(0);
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

main().catch(err => {
  process.stderr.write(`object store failed to start: ${err.message}\n`);
  process.exit(1);
});
