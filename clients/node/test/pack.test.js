// `npm pack` makes a package that installs and works in another project, with the declarations.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { TEMBRA_BIN, tempFolder, tempStore } = require('./support');

test('the packed client works where it is installed', (t) => {
  const folder = tempFolder(t);
  const [packed] = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', folder],
    { cwd: path.join(__dirname, '..'), encoding: 'utf8' }));
  assert.deepEqual(packed.files.map((file) => file.path).sort(),
    ['README.md', 'index.d.ts', 'index.js', 'package.json', 'schema-types.d.ts']);

  const host = path.join(folder, 'host');
  fs.mkdirSync(host);
  fs.writeFileSync(path.join(host, 'package.json'), '{"name": "host", "private": true}\n');
  execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund',
    path.join(folder, packed.filename)], { cwd: host, stdio: 'ignore' });
  const script = "const { Tembra } = require('tembra');" +
    'new Tembra({ executable: process.argv[1], store: process.argv[2] }).calendars()' +
    '.then((calendars) => console.log(calendars.map((each) => each.title).join()));';
  const output = execFileSync(process.execPath, ['-e', script, TEMBRA_BIN, tempStore(t)],
    { cwd: host, encoding: 'utf8' });
  assert.equal(output, '日历\n');
  assert.ok(fs.existsSync(path.join(host, 'node_modules', 'tembra', 'schema-types.d.ts')));
});
