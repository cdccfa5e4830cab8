// The declarations against the JSON Schemas: schema-types.d.ts is what the generator makes of
// docs/schema now, and the package's version is the one CMakeLists.txt gives.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { generate, OUTPUT, SCHEMA_DIR } = require('../scripts/generate-types');

test('the shipped types are the ones the schemas give', () => {
  assert.equal(fs.readFileSync(OUTPUT, 'utf8'), generate(),
    'schema-types.d.ts is stale: run npm run generate');
});

test('a change to a schema changes the types', (t) => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tembra-schemas.'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  for (const name of fs.readdirSync(SCHEMA_DIR)) {
    fs.copyFileSync(path.join(SCHEMA_DIR, name), path.join(folder, name));
  }
  const file = path.join(folder, 'status.schema.json');
  const schema = JSON.parse(fs.readFileSync(file, 'utf8'));
  schema.properties.granted = { type: 'string' };
  fs.writeFileSync(file, JSON.stringify(schema));
  const changed = generate(folder);
  assert.notEqual(changed, generate());
  assert.match(changed, /export type StatusRecord = \{[^}]*granted: string;/s);
});

test('the package has the version CMakeLists.txt sets', () => {
  const cmake = fs.readFileSync(path.join(__dirname, '..', '..', '..', 'CMakeLists.txt'), 'utf8');
  const [, version] = cmake.match(/project\(tembra VERSION ([0-9.]+)/);
  assert.equal(require('../package.json').version, version);
});
