// What the tests share: the tembra under test (TEMBRA_BIN), temporary stores, and stand-ins for
// tembra that misbehave on purpose.
'use strict';

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { Tembra } = require('..');

const TEMBRA_BIN = process.env.TEMBRA_BIN;
if (!TEMBRA_BIN) {
  throw new Error('TEMBRA_BIN must name the tembra executable to test (e.g. ../../build/tembra)');
}
const TEMBRA_STORE_BIN = process.env.TEMBRA_STORE_BIN ??
  path.join(path.dirname(TEMBRA_BIN), 'tembra-store');

// A folder removed after the test.
function tempFolder(t) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tembra-node.'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

// A store folder of its own for the test (made on first use by tembra or tembra-store).
function tempStore(t) {
  return path.join(tempFolder(t), 'store');
}

function admin(store, ...args) {
  return execFileSync(TEMBRA_STORE_BIN, ['--store', store, ...args], { encoding: 'utf8' }).trim();
}

function client(store, options = {}) {
  return new Tembra({ executable: TEMBRA_BIN, store, backend: 'local', ...options });
}

// An executable shell script standing in for tembra.
function fakeTembra(t, script) {
  const file = path.join(tempFolder(t), 'tembra');
  fs.writeFileSync(file, `#!/bin/sh\n${script}\n`, { mode: 0o755 });
  return file;
}

module.exports = { TEMBRA_BIN, admin, client, fakeTembra, tempFolder, tempStore };
