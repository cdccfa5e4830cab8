#!/usr/bin/env node
// Writes the TypeScript types of tembra's documents, schema-types.d.ts, from the JSON Schemas in
// docs/schema, so that the declarations cannot drift from them: `npm run generate` writes the
// file, and the tests fail while the file differs from what this makes.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const SCHEMA_DIR = path.join(__dirname, '..', '..', '..', 'docs', 'schema');
const OUTPUT = path.join(__dirname, '..', 'schema-types.d.ts');

// The type each schema file becomes; a file not listed takes its name in PascalCase.
const NAMES = {
  'alarm.schema.json': 'Alarm',
  'calendar.schema.json': 'CalendarRecord',
  'calendars.schema.json': 'CalendarList',
  'chosen-calendar.schema.json': 'ChosenCalendar',
  'create-input.schema.json': 'CreateInput',
  'date.schema.json': 'DateText',
  'deletion.schema.json': 'Deletion',
  'error.schema.json': 'ErrorRecord',
  'event-input.schema.json': 'EventInput',
  'event.schema.json': 'EventRecord',
  'events.schema.json': 'EventList',
  'saved-event.schema.json': 'SavedEvent',
  'status.schema.json': 'StatusRecord',
  'update-input.schema.json': 'UpdateInput',
};

function typeName(file) {
  return NAMES[file] ?? file.replace('.schema.json', '').replace(/(^|-)([a-z])/g,
    (_, __, letter) => letter.toUpperCase());
}

function comment(text, indent) {
  if (!text) return '';
  const lines = text.split('\n').map((line) => `${indent} * ${line.replace(/\*\//g, '*\\/')}`);
  return `${indent}/**\n${lines.join('\n')}\n${indent} */\n`;
}

// Follows a JSON pointer ("/properties/id") into a schema.
function pointer(schema, fragment) {
  return fragment.split('/').filter(Boolean).reduce((value, key) => value[key], schema);
}

class Generator {
  constructor(schemas) {
    this.schemas = schemas; // file name to schema
  }

  // The TypeScript type of a schema found in `file`, indented for nesting.
  type(schema, file, indent) {
    if (schema.$ref && Object.keys(schema).every((key) => ['$ref', 'description'].includes(key))) {
      return this.reference(schema.$ref, file, indent);
    }
    if (schema.$ref) {
      // A reference narrowed by keys it requires: the referenced type with those keys present.
      const base = this.reference(schema.$ref, file, indent);
      const required = (schema.required ?? []).map((key) => JSON.stringify(key)).join(' | ');
      return required ? `${base} & Required<Pick<${base}, ${required}>>` : base;
    }
    if (schema.const !== undefined) return JSON.stringify(schema.const);
    if (schema.enum) return schema.enum.map((value) => JSON.stringify(value)).join(' | ');
    if (schema.oneOf) return this.union(schema.oneOf, file, indent);
    if (schema.type === 'object' && schema.anyOf) {
      // Each alternative requires some keys of the object's own.
      return schema.anyOf
        .map((alternative) => this.object({ ...schema, anyOf: undefined,
          required: [...(schema.required ?? []), ...(alternative.required ?? [])] }, file, indent))
        .join(' | ');
    }
    switch (schema.type) {
      case 'object': return this.object(schema, file, indent);
      case 'array': return `Array<${this.type(schema.items, file, indent)}>`;
      case 'string': return 'string';
      case 'integer':
      case 'number': return 'number';
      case 'boolean': return 'boolean';
      default: throw new Error(`${file}: a schema this generator does not know: ${JSON.stringify(schema)}`);
    }
  }

  union(alternatives, file, indent) {
    return alternatives.map((alternative) => this.type(alternative, file, indent)).join(' | ');
  }

  reference(ref, file, indent) {
    const [target, fragment] = ref.split('#');
    if (target && !fragment) return typeName(target);
    const schema = this.schemas[target || file];
    if (!schema) throw new Error(`${file}: no schema ${target}`);
    return this.type(pointer(schema, fragment ?? ''), target || file, indent);
  }

  object(schema, file, indent) {
    const required = new Set(schema.required ?? []);
    const inner = `${indent}  `;
    const members = Object.entries(schema.properties ?? {}).map(([key, value]) =>
      `${comment(value.description, inner)}${inner}${key}${required.has(key) ? '' : '?'}: ` +
      `${this.type(value, file, inner)};`);
    return `{\n${members.join('\n')}\n${indent}}`;
  }

  declaration(file) {
    const schema = this.schemas[file];
    const description = [schema.title, schema.description].filter(Boolean).join(': ');
    return `${comment(`${description}\n(${file})`, '')}export type ${typeName(file)} = ` +
      `${this.type(schema, file, '')};\n`;
  }
}

function generate(schemaDir = SCHEMA_DIR) {
  const files = fs.readdirSync(schemaDir).filter((name) => name.endsWith('.schema.json')).sort();
  const schemas = Object.fromEntries(files.map((name) =>
    [name, JSON.parse(fs.readFileSync(path.join(schemaDir, name), 'utf8'))]));
  const generator = new Generator(schemas);
  return '// The documents tembra reads and writes, generated from its JSON Schemas\n' +
    '// (docs/schema) by scripts/generate-types.js: change the schemas, not this file.\n\n' +
    files.map((file) => generator.declaration(file)).join('\n');
}

module.exports = { generate, OUTPUT, SCHEMA_DIR };

if (require.main === module) {
  fs.writeFileSync(OUTPUT, generate());
  console.log(`wrote ${path.relative(process.cwd(), OUTPUT)}`);
}
