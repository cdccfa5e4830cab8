// The declarations against the JSON Schemas: schema-types.d.ts is what the generator makes of
// docs/schema now, and the package's version is the one CMakeLists.txt gives.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { generate, OUTPUT } = require('../scripts/generate-types');

test('the shipped types are the ones the schemas give', () => {
  assert.equal(fs.readFileSync(OUTPUT, 'utf8'), generate(),
    'schema-types.d.ts is stale: run npm run generate');
});

test('the package has the version CMakeLists.txt sets', () => {
  const cmake = fs.readFileSync(path.join(__dirname, '..', '..', '..', 'CMakeLists.txt'), 'utf8');
  const [, version] = cmake.match(/project\(tembra VERSION ([0-9.]+)/);
  assert.equal(require('../package.json').version, version);
});
